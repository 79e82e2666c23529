#ifndef UPDATER_SRC_ACTIONS_POSIX_HANDLE_ACTION_H_
#define UPDATER_SRC_ACTIONS_POSIX_HANDLE_ACTION_H_

// What the program does around a command: before it, the connection-manager service is stopped,
// the carried update container is written to the working directory, the user's command line is
// rebuilt into a vector for the command interface and a closing terminal is kept from killing
// the run; after it, all of that is undone.

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
// other word.
QuarnActionResult QuarnExecutePreRunActions(int argc, const char** argv,
                                            QuarnApplicationArguments* arguments);

// Starts the service again if it is found stopped, deletes the container file, restores the
// hang-up signal and, unless quiet, waits for the enter key. Always kQuarnActionResultOk.
QuarnActionResult QuarnExecutePostRunActions(void);

// Frees the pointer array (the strings live in the process pool) and empties `arguments`.
QuarnActionResult QuarnExecuteReleaseArguments(QuarnApplicationArguments* arguments);

// Appends a copy of the first `size` characters of `data` at argv[*argc]; false when no memory.
bool AddArgumentToArgv(char** argv, int* argc, const char* data, size_t size);

// The file name of the written update container ("libupdate_container.dll" in the working
// directory); empty before the pre-run actions.
const char* QuarnContainerFileName(void);

#endif  // UPDATER_SRC_ACTIONS_POSIX_HANDLE_ACTION_H_
