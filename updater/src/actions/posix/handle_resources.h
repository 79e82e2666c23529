#ifndef UPDATER_SRC_ACTIONS_POSIX_HANDLE_RESOURCES_H_
#define UPDATER_SRC_ACTIONS_POSIX_HANDLE_RESOURCES_H_

// The update container that the program carries in its own data, written out to a file for the
// update engine to load, and removed again at the end of the run.

// True when something exists under `filename` (a file, a directory, a link).
bool ResourceExist(const char* filename);

// Removes the file `filename`; false when it cannot be removed (also for a directory).
bool DeleteResource(const char* filename);

// Writes the carried container byte for byte to `filename`, replacing a file of that name.
// False when the file cannot be created or completely written; a partly written file is
// removed again.
bool ExtractResource(const char* filename);

#endif  // UPDATER_SRC_ACTIONS_POSIX_HANDLE_RESOURCES_H_
