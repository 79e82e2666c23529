// tarvik: the command interface on the real command line, for service staff and scripts. Only
// the update words touch the connection-manager service, and nothing waits for the enter key, so
// that the program can run from scripts and service units.
#include <apr_general.h>
#include <apr_getopt.h>
#include <apr_pools.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include "kvo.h"
#include "updater/src/actions/posix/handle_services.h"
#include "updater/src/actions/posix/stop_signals.h"
#include "updater/src/commands.h"
#include "updater/src/quarn.h"

namespace {

const char kSender[] = "Quarn";
// The option string of the command interface.
const char kOptions[] = "h?b:d:l:t:o:p:q";

// Updates that run side by side on one PC share the connection-manager service. Each holds a lock
// shared for its run; at the end only the one that can take it alone, the last one, starts the
// service again, so that the service cannot grab a port whose update is still running. Updates
// that reach another service manager (another system bus) share another lock.
const char kUpdateLockDirectory[] = "/run/lock";
// A run that finds the lock held alone (someone is starting the service) waits this long for it.
const int kUpdateLockWaitMs = 60000;

// What the command interface will find on the command line, read ahead of it.
struct CommandLine {
  const char* word = nullptr;  // null: help asked for, bad options, or no command word
  const char* log_file = nullptr;
  bool quiet = false;
};

// Reads the options as the command interface does (a value option counts two words, -q one),
// silently: its own reading prints any complaint.
CommandLine ReadCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  apr_getopt_t* options = nullptr;
  if (apr_getopt_init(&options, quarn_pool, argc, argv) != APR_SUCCESS) return line;
  options->errfn = nullptr;
  int index = 1;
  char option = 0;
  const char* value = nullptr;
  while (apr_getopt(options, kOptions, &option, &value) == APR_SUCCESS) {
    if (option == 'h' || option == '?') return line;
    if (option == 'q') {
      line.quiet = true;
      index += 1;
      continue;
    }
    if (option == 'd') line.log_file = value;
    index += 2;
  }
  if (argc > index && argc >= 2) line.word = argv[index];
  return line;
}

bool IsUpdateWord(const char* word) {
  return word != nullptr && (strcmp(word, "fwupdate") == 0 || strcmp(word, "fwupdate-path") == 0);
}

// The lock of the updates that share this run's system bus: tarvik-update.lock for the
// machine's own, tarvik-update-<FNV-1a hash of the address>.lock for one named in the environment.
std::string UpdateLockPath() {
  const char* address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  std::string path = std::string(kUpdateLockDirectory) + "/tarvik-update";
  if (address != nullptr && address[0] != '\0') {
    uint64_t hash = 14695981039346656037ull;
    for (const char* c = address; *c != '\0'; ++c) {
      hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    }
    char text[17];
    snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
    path += std::string("-") + text;
  }
  return path + ".lock";
}

// Takes the update lock shared; -1 when there is no lock to be had, and the run then behaves as
// if it were alone.
int TakeUpdateLock() {
  const std::string path = UpdateLockPath();
  const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    KvoLogDebug(kSender, "No update lock %s (%s).", path.c_str(), strerror(errno));
    return -1;
  }
  for (int waited = 0; waited < kUpdateLockWaitMs; waited += 100) {
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) return fd;
    usleep(100 * 1000);
  }
  KvoLogInfo(kSender, "The update lock stayed taken; going on without it.");
  close(fd);
  return -1;
}

// True when no other update holds the lock: this run is the last and may start the service.
bool LastUpdate(int fd) {
  if (fd < 0) return true;
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void StopServiceForUpdate() {
  if (CheckVestriStatus() == kVestriStatusRunning) {
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
}

void StartServiceAfterUpdate() {
  if (CheckVestriStatus() == kVestriStatusStopped) {
    VestriControl(kStartVestri);
    if (CheckVestriStatus() == kVestriStatusRunning) {
      KvoLogInfo(kSender, "Vestri service was successfully started.");
    } else {
      KvoLogInfo(kSender, "Failed to start Vestri service");
    }
  }
}

// The update lock of this run, -1 without one.
int update_lock = -1;
std::mutex finish_mutex;
bool finished = false;

// After an update word, once: the last update to end starts the service again.
void FinishUpdate() {
  std::lock_guard<std::mutex> lock(finish_mutex);
  if (finished) return;
  finished = true;
  if (LastUpdate(update_lock)) StartServiceAfterUpdate();
  if (update_lock >= 0) close(update_lock);
  update_lock = -1;
}

// A run that is not an update changed nothing to put back.
void NothingToPutBack() {}

}  // namespace

int main(int argc, char** argv) {
  quarn_quiet = false;
  // tarvik knows -q only once the command interface reads its options, after the start.
  const int not_started = QuarnStartLibrary(false);
  if (not_started != 0) return not_started;

  const char* const* arguments = argv;
  const CommandLine line = ReadCommandLine(argc, arguments);
  const bool update = IsUpdateWord(line.word);
  if (update) {
    // The service handling comes before the command interface reads -d: open the log now, so
    // that it holds the whole run.
    if (line.log_file != nullptr) QuarnSetLog(line.log_file);
  }
  quarn_quiet = line.quiet;
  QuarnWarnAboutTestSeams();
  // A run ended from inside the command (a silent update of a container that needs confirmation)
  // ends as this program's own runs do: no enter-key wait, the service started under the lock.
  QuarnSetPostRun(update ? FinishUpdate : NothingToPutBack);
  if (update) {
    // A closed terminal or output pipe must not kill an update half-way.
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    // Ctrl-C and SIGTERM still end an update, but only after the service has been started again.
    QuarnCatchStopSignals(FinishUpdate);
    // A signal meanwhile waits until the stop has ended, then starts the service again.
    std::lock_guard<std::mutex> lock(finish_mutex);
    update_lock = TakeUpdateLock();
    StopServiceForUpdate();
  }

  apr_getopt_t* parser = nullptr;
  apr_getopt_init(&parser, quarn_pool, argc, arguments);
  const int result = CommandInterface(parser);

  char verdict[300];
  char text[256];
  QuarnVerdictLine(result, verdict, sizeof(verdict), text, sizeof(text));
  QuarnPrint("%s", verdict);
  if (result != 0) KvoLogError(kSender, "%s", text);
  KvoTerminate();

  if (update) FinishUpdate();
  fflush(stdout);
  apr_file_close(quarn_stdout);
  quarn_stdout = nullptr;
  apr_pool_destroy(quarn_pool);
  quarn_pool = nullptr;
  apr_terminate();
  return QuarnExitStatus(result);
}
