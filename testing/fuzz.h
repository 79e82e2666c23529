// Small helpers the fuzz targets share: checks that stop the run, a scratch directory for the
// whole run, and cutting an input into pieces. Header only, so that a target needs no GoogleTest.
#ifndef TESTING_FUZZ_H_
#define TESTING_FUZZ_H_

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik_fuzz {

// A failed check is a finding: it aborts, which the fuzzer reports with the input.
inline void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

// A fixed-size text must stay terminated inside its array.
template <size_t N>
void CheckTerminated(const char (&text)[N], const char* what) {
  Check(memchr(text, '\0', N) != nullptr, what);
}

// Removes what is in `dir` except the entry named `keep` (links themselves, never their targets).
inline void ClearDir(const std::string& dir, const std::string& keep = std::string()) {
  std::error_code error;
  std::vector<std::filesystem::path> doomed;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.path().filename() != keep) doomed.push_back(entry.path());
  }
  for (const auto& path : doomed) std::filesystem::remove_all(path, error);
}

namespace internal {
inline std::vector<std::string>& ScratchDirs() {
  static std::vector<std::string> dirs;
  return dirs;
}
inline void RemoveScratchDirs() {
  std::error_code error;
  for (const std::string& dir : ScratchDirs()) std::filesystem::remove_all(dir, error);
}
}  // namespace internal

// A fresh directory /tmp/<name>.XXXXXX for the whole run, removed with its contents when the
// process exits normally. Aborts when none can be made.
inline std::string ScratchDir(const char* name) {
  std::string pattern = std::string("/tmp/") + name + ".XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  if (internal::ScratchDirs().empty()) atexit(internal::RemoveScratchDirs);
  internal::ScratchDirs().push_back(pattern);
  return pattern;
}

// The pieces of `text` between the `separator` bytes, empty ones included: n separators give n + 1
// pieces.
inline std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    pieces.push_back(text.substr(start, end - start));
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace tarvik_fuzz

#endif  // TESTING_FUZZ_H_
