#ifndef TARVIK_COMMON_COMMON_FUNCTIONS_H_
#define TARVIK_COMMON_COMMON_FUNCTIONS_H_

// Small file and text helpers shared by the libraries. They keep no state; each file function
// uses a pool of its own for the length of the call, so APR must have been initialised. Every
// function returns true for success.

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Reads the file once into buffer, at most size bytes. The buffer is not zero-terminated and the
// count read is not reported. An empty or unreadable file gives false.
bool CommonGetFileContents(const char* file_path, char* buffer, size_t size);

// Appends the text (without its terminating zero, no line end added), creating the file if
// missing.
bool CommonAppendToFile(const char* file_path, const char* buffer);

// True only for an existing directory.
bool CommonIsDirectory(const char* path);

// True for an existing regular file (links are followed); false for directories and missing
// paths.
bool CommonFileExist(const char* file_path);

// Copies source without the leading and trailing characters that occur in char_list into
// destination, cut to size - 1 characters and zero-terminated. Inner listed characters stay.
// destination may be source. False only for missing arguments or a size of 0.
bool CommonTrimString(char* destination, const char* source, const char* char_list, size_t size);

#ifdef __cplusplus
}
#endif

#endif  // TARVIK_COMMON_COMMON_FUNCTIONS_H_
