#include "updater/src/actions/posix/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "kvo.h"

namespace {

sigset_t stop_signals;
void (*finish_run)(void) = nullptr;
bool caught = false;

void* WatchStopSignals(void*) {
  int signal_number = 0;
  if (sigwait(&stop_signals, &signal_number) != 0) return nullptr;
  KvoLogInfo("Quarn", "Ended by signal %d.", signal_number);
  finish_run();
  _exit(128 + signal_number);
}

}  // namespace

bool QuarnCatchStopSignals(void (*finish)(void)) {
  if (caught) return true;
  finish_run = finish;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr) != 0) return false;
  pthread_t watcher;
  if (pthread_create(&watcher, nullptr, WatchStopSignals, nullptr) != 0) {
    pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
    return false;
  }
  pthread_detach(watcher);
  caught = true;
  return true;
}
