#include "updater/src/quarn.h"

#include <apr_general.h>
#include <apr_getopt.h>
#include <apr_strings.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/src/wait_seam.h"
#include "kvo.h"
#include "updater/src/actions/posix/service_manager.h"
#include "updater/src/commands.h"

namespace {

const char kSender[] = "Quarn";
const unsigned int kApiMajor = 3;
const unsigned int kApiMinor = 0;
// Results from here on are the front end's own codes.
const int kFirstFrontEndCode = 1000;

apr_getopt_t* command_arguments;
void (*post_run_actions)(void) = nullptr;

}  // namespace

bool quarn_quiet;
apr_file_t* quarn_stdout;
apr_pool_t* quarn_pool;
QuarnApplicationArguments quarn_args;

int QuarnExitStatus(int result) {
  // Only the low 8 bits reach the shell; a failure whose low byte is 0 would read as success.
  if (result != 0 && (result & 0xFF) == 0) return 1;
  return result & 0xFF;
}

void QuarnVerdictLine(int result, char* line, size_t line_size, char* text, size_t text_size) {
  memset(text, 0, text_size);
  if (result >= kFirstFrontEndCode) {
    ConvertResult2String(text, static_cast<int>(text_size), result);
    apr_snprintf(line, line_size, "\n\rERROR %s\n\r", text);
  } else if (result != 0) {
    KvoResultDescription description;
    memset(description, 0, sizeof(description));
    KvoGetResultDescription(static_cast<KvoResult>(result), &description);
    apr_cpystrn(text, description, text_size);
    apr_snprintf(line, line_size, "\n\r%s\n\r", text);
  } else {
    apr_cpystrn(line, "\n\rOK\n\r", line_size);
  }
}

void Quit(int result) {
  char line[300];
  char text[256];
  QuarnVerdictLine(result, line, sizeof(line), text, sizeof(text));
  QuarnPrint("%s", line);
  if (result != 0) KvoLogError(kSender, "%s", text);

  KvoTerminate();
  if (post_run_actions != nullptr) {
    post_run_actions();
  } else {
    QuarnExecutePostRunActions();
  }
  if (quarn_args.argv != nullptr) QuarnExecuteReleaseArguments(&quarn_args);

  fflush(stdout);
  if (quarn_stdout != nullptr) apr_file_close(quarn_stdout);
  quarn_stdout = nullptr;
  if (quarn_pool != nullptr) apr_pool_destroy(quarn_pool);
  quarn_pool = nullptr;
  apr_terminate();
  exit(QuarnExitStatus(result));
}

void QuarnSetPostRun(void (*post_run)(void)) {
  post_run_actions = post_run;
}

void QuarnWarnAboutTestSeams(void) {
  const int divisor = CommonWaitDivisor();
  if (divisor > 1) {
    QuarnPrint(
        "\r\nWarning! TARVIK_WAIT_DIVISOR is set: every fixed wait is %d times shorter. "
        "It is meant for tests only.\r\n",
        divisor);
    KvoLogError(kSender, "TARVIK_WAIT_DIVISOR is set: every fixed wait is %d times shorter.",
                divisor);
  }
  const char* script = ServiceScriptPath();
  if (script != nullptr) {
    QuarnPrint(
        "\r\nWarning! TARVIK_SERVICE_SCRIPT is set: the service control follows %s, not "
        "the system. It is meant for tests only.\r\n",
        script);
    KvoLogError(kSender, "TARVIK_SERVICE_SCRIPT is set: the service control follows %s.", script);
  }
}

int QuarnStartLibrary(bool quiet) {
  if (apr_initialize() != APR_SUCCESS) {
    printf("Could not initialize APR\n\r");
    return 1;
  }

  KvoVersion version;
  memset(&version, 0, sizeof(version));
  KvoGetApiVersion(&version);
  if (version.major != kApiMajor) {
    printf("KVO API version mismatch, API is %d.%d but library is %u.%u.",
           static_cast<int>(kApiMajor), static_cast<int>(kApiMinor), version.major, version.minor);
    return 1;
  }

  const KvoResult initialized = KvoInitialize();
  if (initialized != kKvoResultSuccess) {
    // The library's description line, as the verdict shows it: the log file is not open yet.
    if (!quiet) {
      KvoResultDescription description;
      memset(description, 0, sizeof(description));
      KvoGetResultDescription(initialized, &description);
      printf("\n\r%s\n\r", description);
    }
    KvoLogErrorCode(kSender, initialized);
    return QuarnExitStatus(initialized);
  }

  if (apr_pool_create_ex(&quarn_pool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
    KvoLogError(kSender, "Could not create APR pool");
    return 1;
  }
  if (apr_file_open_stdout(&quarn_stdout, quarn_pool) != APR_SUCCESS) {
    KvoLogError(kSender, "Could not create stdout handle.");
    return 1;
  }
  return 0;
}

int QuarnMain(int argc, const char** argv) {
  // -s anywhere silences the whole run, a failing start included; with -d stdout the reason of a
  // failing start shows on the console.
  quarn_quiet = QuarnSilentRequested(argc, argv);
  const char* log = QuarnLogRequested(argc, argv);
  if (log != nullptr && strcmp(log, "stdout") == 0) KvoSetLogTypesForScreen(kKvoLogTypeMaskAll);

  const int not_started = QuarnStartLibrary(quarn_quiet);
  if (not_started != 0) return not_started;

  quarn_args.argc = argc;
  quarn_args.argv = nullptr;
  switch (QuarnExecutePreRunActions(argc, argv, &quarn_args)) {
    case kQuarnActionResultOk:
      break;
    case kQuarnActionResultErrorParameters:
      QuarnPrint("\r\nIncorrect parameter(s)!\r\n");
      return 1;
    default:
      QuarnPrint("\r\nFailed to initialize the application.\r\n");
      return 1;
  }

  if (quarn_args.argv != nullptr) {
    apr_getopt_init(&command_arguments, quarn_pool, quarn_args.argc, quarn_args.argv);
  } else {
    apr_getopt_init(&command_arguments, quarn_pool, argc, argv);
  }
  Quit(CommandInterface(command_arguments));
}
