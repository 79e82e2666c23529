#ifndef TARVIK_COMMON_LOAD_GUARD_H_
#define TARVIK_COMMON_LOAD_GUARD_H_

// Checks a library file before it is loaded into the process. Both containers are looked for in
// the working directory, which on a factory line may be shared: a file that another user could
// write, or replace between our check and the load, would run that user's code with our rights.

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// NULL when `file_path` may be loaded by the user running the program, otherwise a short reason
// (a constant text, for the log). Refused are: a path that is not a regular file, a file owned by
// anybody but the effective user or root, a file that others may write, a file that its group may
// write when that group has members other than the file's owner (a user-private group is fine),
// and a file whose directory others may write unless that directory has the sticky bit. A symbolic
// link is followed: each link must belong to the user or root and lie in such a directory, and
// its target is judged as above.
const char* CommonLoadGuardCheck(const char* file_path);

// The same check on behalf of the user `user`.
const char* CommonLoadGuardCheckFor(const char* file_path, uid_t user);

#ifdef __cplusplus
}
#endif

#endif  // TARVIK_COMMON_LOAD_GUARD_H_
