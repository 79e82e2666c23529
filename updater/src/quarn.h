#ifndef UPDATER_SRC_QUARN_H_
#define UPDATER_SRC_QUARN_H_

// The life of the program: start-up, the pre-run actions, the command interface, the verdict
// line, tear-down and exit.

#include <apr_file_io.h>
#include <apr_pools.h>

#include "updater/src/actions/posix/handle_action.h"

// While set, nothing at all is written to quarn_stdout (set by -q and by the user's -s).
extern bool quarn_quiet;
// The console stream: every user-visible line goes through it.
extern apr_file_t* quarn_stdout;
// The process pool; every front-end APR object lives in it.
extern apr_pool_t* quarn_pool;
// The rebuilt argument vector handed to the command interface.
extern QuarnApplicationArguments quarn_args;

// The body of main: returns the exit code on its early failure paths, otherwise ends the
// process in Quit.
int QuarnMain(int argc, const char** argv);
// Starts APR and the library and opens the console: 0 when all went well, else the exit status
// (the library's description line printed unless quiet).
int QuarnStartLibrary(bool quiet);

// Prints the verdict line for `result`, terminates the library, runs the post-run actions and
// ends the process with `result` as its exit code. Never returns.
[[noreturn]] void Quit(int result);

// Replaces the post-run actions that Quit runs (dralmoor's, with their enter-key wait) by
// `post_run`: tarvik ends an update its own way and never waits for a key.
void QuarnSetPostRun(void (*post_run)(void));

// Prints (unless quiet) and logs a warning line for each test seam that is active: a divided wait
// or a scripted service manager changes what a real update does.
void QuarnWarnAboutTestSeams(void);

// The process exit status for a result: the shell sees it modulo 256, and a failure must never
// read as success there.
int QuarnExitStatus(int result);

// The verdict line as Quit prints it, without the printing: "\n\rOK\n\r", "\n\rERROR <text>\n\r"
// for front-end codes, "\n\r<library description>\n\r" otherwise. `text` gets the bare
// description that Quit logs.
void QuarnVerdictLine(int result, char* line, size_t line_size, char* text, size_t text_size);

#endif  // UPDATER_SRC_QUARN_H_
