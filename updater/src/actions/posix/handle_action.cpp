#include "updater/src/actions/posix/handle_action.h"

#include <apr_strings.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "kvo.h"
#include "updater/src/actions/posix/handle_resources.h"
#include "updater/src/actions/posix/handle_services.h"
#include "updater/src/actions/posix/stop_signals.h"
#include "updater/src/commands.h"
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

void ResetArgvInternal() {
  memset(&argv_internal, 0, sizeof(argv_internal));
  apr_cpystrn(argv_internal.app_name, "dralmoor.exe", sizeof(argv_internal.app_name));
  apr_cpystrn(argv_internal.command, "fwupdate", sizeof(argv_internal.command));
}

// A closed terminal sends SIGHUP, a closed output pipe SIGPIPE: neither may kill a half-done
// update. Both are ignored from the end of the preparation to the post-run actions; the
// dispositions in force before are restored afterwards.
const int kCloseSignals[] = {SIGHUP, SIGPIPE};
struct sigaction saved_close_actions[2];
bool close_signals_ignored = false;

void IgnoreCloseSignals() {
  // Already ignored by an earlier preparation: keep the dispositions saved then.
  if (close_signals_ignored) return;
  struct sigaction ignore;
  memset(&ignore, 0, sizeof(ignore));
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int i = 0; i < 2; ++i) sigaction(kCloseSignals[i], &ignore, &saved_close_actions[i]);
  close_signals_ignored = true;
}

void RestoreCloseSignals() {
  if (!close_signals_ignored) return;
  for (int i = 0; i < 2; ++i) sigaction(kCloseSignals[i], &saved_close_actions[i], nullptr);
  close_signals_ignored = false;
}

// What the run changed on the machine is put back once: by the post-run actions, or by Ctrl-C or
// SIGTERM, whichever comes first.
std::mutex run_mutex;
bool service_stopped_by_run = false;
bool run_put_back = false;

void StartServiceIfStopped() {
  if (CheckVestriStatus() != kVestriStatusStopped) return;
  VestriControl(kStartVestri);
  if (CheckVestriStatus() == kVestriStatusRunning) {
    KvoLogInfo(kSender, "Vestri service was successfully started.");
  } else {
    KvoLogInfo(kSender, "Failed to start Vestri service");
  }
}

// A run that ends early, by a signal or because the container could not be written: the service
// is started again if this run stopped it, and the container file removed.
void PutBackEarly() {
  std::lock_guard<std::mutex> lock(run_mutex);
  if (run_put_back) return;
  run_put_back = true;
  if (service_stopped_by_run) StartServiceIfStopped();
  if (argv_internal.container[0] != '\0') DeleteResource(argv_internal.container);
}

bool Append(QuarnApplicationArguments* arguments, const char* text) {
  return AddArgumentToArgv(arguments->argv, &arguments->argc, text, strlen(text));
}

}  // namespace

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

bool QuarnSilentRequested(int argc, const char** argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (strcmp(argv[i], "-d") == 0) {
      ++i;  // a log file name, whatever it reads
    } else if (strcmp(argv[i], "-s") == 0) {
      return true;
    }
  }
  return false;
}

const char* QuarnLogRequested(int argc, const char** argv) {
  const char* log = nullptr;
  for (int i = 1; i + 1 < argc && argv[i] != nullptr; ++i) {
    if (strcmp(argv[i], "-d") == 0) log = argv[++i];
  }
  return log;
}

QuarnActionResult QuarnExecutePreRunActions(int argc, const char** argv,
                                            QuarnApplicationArguments* arguments) {
  ResetArgvInternal();
  const bool service_to_check = arguments->argc > 0;

  // The user's words are read and checked before anything on the machine is changed, so that a
  // typo or a request for help leaves the service and the working directory as they were.
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

  // The log holds the whole run, the service handling included.
  if (argv_internal.log_args[0] != '\0') QuarnSetLog(argv_internal.log_args);
  QuarnWarnAboutTestSeams();
  QuarnCatchStopSignals(PutBackEarly);

  {
    // A stop signal meanwhile waits until the service and the container are in a known state.
    std::lock_guard<std::mutex> lock(run_mutex);
    service_stopped_by_run = false;
    run_put_back = false;
    if (service_to_check && CheckVestriStatus() == kVestriStatusRunning) {
      KvoLogInfo(kSender, "Stopping Vestri service before executing Quarn command");
      VestriControl(kStopVestri);
      if (CheckVestriStatus() == kVestriStatusStopped) {
        service_stopped_by_run = true;
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
  }
  if (!ExtractResource(argv_internal.container)) {
    KvoLogInfo(kSender, "Failed to extract update container. Abort");
    // Nothing of the run will follow: the service is not left stopped for it.
    PutBackEarly();
    return kQuarnActionResultError;
  }

  arguments->argv = static_cast<char**>(calloc(static_cast<size_t>(slots), sizeof(char*)));
  if (arguments->argv == nullptr) {
    PutBackEarly();
    return kQuarnActionResultError;
  }

  bool appended = Append(arguments, argv_internal.app_name);
  if (appended && argv_internal.log_args[0] != '\0') {
    appended = Append(arguments, "-d") && Append(arguments, argv_internal.log_args);
  }
  appended = appended && Append(arguments, argv_internal.command) &&
             Append(arguments, argv_internal.container);
  if (!appended) {
    QuarnExecuteReleaseArguments(arguments);
    PutBackEarly();
    return kQuarnActionResultError;
  }

  IgnoreCloseSignals();
  return kQuarnActionResultOk;
}

QuarnActionResult QuarnExecutePostRunActions(void) {
  {
    std::lock_guard<std::mutex> lock(run_mutex);
    if (!run_put_back) {
      run_put_back = true;
      // Started whenever it is found stopped, whether or not this run stopped it.
      StartServiceIfStopped();
      if (argv_internal.container[0] != '\0') DeleteResource(argv_internal.container);
    }
  }

  // A stop signal during this wait ends the process at once: nothing is left to put back.
  if (!quarn_quiet) {
    printf("\r\n\nPress the enter key to close this window.\r\n");
    fflush(stdout);
    getchar();
  }
  // Only now: the prompt may go to a terminal or pipe that is gone.
  RestoreCloseSignals();
  return kQuarnActionResultOk;
}
