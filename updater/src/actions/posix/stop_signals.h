#ifndef UPDATER_SRC_ACTIONS_POSIX_STOP_SIGNALS_H_
#define UPDATER_SRC_ACTIONS_POSIX_STOP_SIGNALS_H_

// Ctrl-C (SIGINT) and SIGTERM end a run only once what the run changed on the machine has been
// put back: from QuarnCatchStopSignals on, both are blocked in the calling thread and in every
// thread started later, and a watcher thread takes them, logs the signal, calls `finish` and ends
// the process with 128 + the signal number. Call it before the library starts threads. Calls
// after the first change nothing. False when they could not be caught; they then end the process
// at once, as they would anyway.
bool QuarnCatchStopSignals(void (*finish)(void));

#endif  // UPDATER_SRC_ACTIONS_POSIX_STOP_SIGNALS_H_
