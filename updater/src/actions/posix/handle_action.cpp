#include "updater/src/actions/posix/handle_action.h"

#include <apr_strings.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kvo.h"
#include "updater/src/actions/posix/handle_resources.h"
#include "updater/src/actions/posix/handle_services.h"
#include "updater/src/quarn.h"

namespace {

const char kSender[] = "Quarn";
const char kContainerFileName[] = "libupdate_container.dll";

// The vector the command interface gets, before the user's words are read into it.
struct argv_override_type {
  char app_name[20];
  char log_args[128];
  char command[20];
  char container[512];
};

argv_override_type argv_internal;

// The hang-up disposition in force before the run, restored afterwards.
struct sigaction saved_hangup_action;
bool hangup_ignored = false;

void ResetArgvInternal() {
  memset(&argv_internal, 0, sizeof(argv_internal));
  apr_cpystrn(argv_internal.app_name, "dralmoor.exe", sizeof(argv_internal.app_name));
  apr_cpystrn(argv_internal.command, "fwupdate", sizeof(argv_internal.command));
}

// A closed terminal sends SIGHUP; ignoring it keeps a half-done update from being killed.
void IgnoreHangup() {
  // Already ignored by an earlier preparation: keep the disposition saved then.
  if (hangup_ignored) return;
  struct sigaction ignore;
  memset(&ignore, 0, sizeof(ignore));
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGHUP, &ignore, &saved_hangup_action) == 0) hangup_ignored = true;
}

void RestoreHangup() {
  if (!hangup_ignored) return;
  sigaction(SIGHUP, &saved_hangup_action, nullptr);
  hangup_ignored = false;
}

bool Append(QuarnApplicationArguments* arguments, const char* text) {
  return AddArgumentToArgv(arguments->argv, &arguments->argc, text, strlen(text));
}

}  // namespace

const char* QuarnContainerFileName(void) {
  return argv_internal.container;
}

bool AddArgumentToArgv(char** argv, int* argc, const char* data, size_t size) {
  // The strings live in the process pool, which outlives the vector.
  char* copy = static_cast<char*>(apr_pcalloc(quarn_pool, size + 2));
  if (copy == nullptr) return false;
  apr_cpystrn(copy, data, size + 1);
  argv[*argc] = copy;
  ++*argc;
  return true;
}

QuarnActionResult QuarnExecuteReleaseArguments(QuarnApplicationArguments* arguments) {
  free(arguments->argv);
  arguments->argv = nullptr;
  arguments->argc = 0;
  return kQuarnActionResultOk;
}

QuarnActionResult QuarnExecutePreRunActions(int argc, const char** argv,
                                            QuarnApplicationArguments* arguments) {
  ResetArgvInternal();

  if (arguments->argc > 0 && CheckVestriStatus() == kVestriStatusRunning) {
    KvoLogInfo(kSender, "Stopping Vestri service before executing Quarn command");
    VestriControl(kStopVestri);
    if (CheckVestriStatus() == kVestriStatusStopped) {
      KvoLogInfo(kSender, "Vestri service was successfully stopped.");
    } else {
      KvoLogInfo(kSender, "Failed to stop Vestri service");
    }
  } else {
    KvoLogInfo(kSender, "The Vestri service is not running, no need to stop it.");
  }

  // A bare name: the container lands in the working directory, where the engine loads it from.
  apr_cpystrn(argv_internal.container, kContainerFileName, sizeof(argv_internal.container));
  KvoLogInfo(kSender, "Will install lib in: %s", argv_internal.container);
  if (!ExtractResource(argv_internal.container)) {
    KvoLogInfo(kSender, "Failed to extract update container. Abort");
    return kQuarnActionResultError;
  }

  arguments->argc = 0;
  int slots = 3;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const char* word = argv[i];
    if (strcmp(word, "-d") == 0 && i + 1 < argc && argv[i + 1] != nullptr) {
      apr_cpystrn(argv_internal.log_args, argv[i + 1], sizeof(argv_internal.log_args));
      slots += 2;
      ++i;
    } else if (strcmp(word, "-path") == 0) {
      apr_cpystrn(argv_internal.command, "fwupdate-path", sizeof(argv_internal.command));
      KvoLogDebug(kSender, "-path given, will print update paths.");
    } else if (strcmp(word, "-s") == 0) {
      quarn_quiet = true;
      KvoLogDebug(kSender, "Silent mode - disabling screen printouts.");
    } else {
      KvoLogDebug(kSender, "Erroneous argument %s.", word);
      return kQuarnActionResultErrorParameters;
    }
  }

  arguments->argv = static_cast<char**>(calloc(static_cast<size_t>(slots), sizeof(char*)));
  if (arguments->argv == nullptr) return kQuarnActionResultError;

  bool appended = Append(arguments, argv_internal.app_name);
  if (appended && argv_internal.log_args[0] != '\0') {
    appended = Append(arguments, "-d") && Append(arguments, argv_internal.log_args);
  }
  appended = appended && Append(arguments, argv_internal.command) &&
             Append(arguments, argv_internal.container);
  if (!appended) {
    QuarnExecuteReleaseArguments(arguments);
    return kQuarnActionResultError;
  }

  IgnoreHangup();
  return kQuarnActionResultOk;
}

QuarnActionResult QuarnExecutePostRunActions(void) {
  // Started whenever it is found stopped, whether or not this run stopped it.
  if (CheckVestriStatus() == kVestriStatusStopped) {
    VestriControl(kStartVestri);
    if (CheckVestriStatus() == kVestriStatusRunning) {
      KvoLogInfo(kSender, "Vestri service was successfully started.");
    } else {
      KvoLogInfo(kSender, "Failed to start Vestri service");
    }
  }

  if (argv_internal.container[0] != '\0') DeleteResource(argv_internal.container);

  RestoreHangup();

  if (!quarn_quiet) {
    printf("\r\n\nPress the enter key to close this window.\r\n");
    fflush(stdout);
    getchar();
  }
  return kQuarnActionResultOk;
}
