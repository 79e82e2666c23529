#ifndef UPDATER_SRC_ACTIONS_POSIX_HANDLE_ACTION_H_
#define UPDATER_SRC_ACTIONS_POSIX_HANDLE_ACTION_H_

// What the program does around a command: before it, the user's command line is checked and
// rebuilt into a vector for the command interface, the connection-manager service is stopped, the
// carried update container is written to the working directory, and a closing terminal or output
// pipe is kept from killing the run; after it, all of that is undone, also when Ctrl-C or SIGTERM
// end the run.

#include <stddef.h>

typedef enum QuarnActionResult {
  kQuarnActionResultOk = 0,
  kQuarnActionResultError = 1,
  kQuarnActionResultErrorParameters = 2
} QuarnActionResult;

// The vector handed to the command interface. It has no null end entry: argc alone bounds it.
typedef struct QuarnApplicationArguments {
  int argc;
  char** argv;
} QuarnApplicationArguments;

// Reads the user's own arguments (-d file, -path, -s; nothing else) and fills `arguments` with
// "<app> [-d file] fwupdate|fwupdate-path <container>". kQuarnActionResultErrorParameters for any
// other word, before anything is changed. Otherwise opens the log, warns of active test seams,
// lets Ctrl-C and SIGTERM put back what the run changed before they end it, stops the service,
// writes the container and ignores the signals of a closing terminal or output pipe.
// kQuarnActionResultError when the container or the vector cannot be made; the service is then
// started again if this call stopped it.
QuarnActionResult QuarnExecutePreRunActions(int argc, const char** argv,
                                            QuarnApplicationArguments* arguments);

// Starts the service again if it is found stopped, deletes the container file, restores the
// closing-terminal signals and, unless quiet, waits for the enter key. Always
// kQuarnActionResultOk.
QuarnActionResult QuarnExecutePostRunActions(void);

// Whether the user's words hold -s anywhere (not as the file name after -d): such a run is silent
// from its start, before the words are checked.
bool QuarnSilentRequested(int argc, const char** argv);

// The value of the user's last -d, or null: read ahead of the words' check, for a start that
// fails before it.
const char* QuarnLogRequested(int argc, const char** argv);

// Frees the pointer array (the strings live in the process pool) and empties `arguments`.
QuarnActionResult QuarnExecuteReleaseArguments(QuarnApplicationArguments* arguments);

// Appends a copy of the first `size` characters of `data` at argv[*argc]; false when no memory.
bool AddArgumentToArgv(char** argv, int* argc, const char* data, size_t size);

#endif  // UPDATER_SRC_ACTIONS_POSIX_HANDLE_ACTION_H_
