// Scratch directories, whole files and the line splitting that tests of console and log text need.
#ifndef TESTING_FILES_H_
#define TESTING_FILES_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace tarvik_test {

// A fresh directory under the system's temporary directory, removed with everything in it when the
// object goes. With kEnter it is also the working directory meanwhile.
class TempDir {
 public:
  enum Mode { kStay, kEnter };

  explicit TempDir(Mode mode = kStay);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // False when no directory could be made (path() is then empty).
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string previous_;  // working directory to go back to (kEnter)
};

// The file's bytes as they are; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Creates or truncates the file; false when it cannot be written.
bool WriteFile(const std::string& path, const std::string& content);
// True for anything under the name, a dangling link included.
bool FileExists(const std::string& path);

// The lines of `text` cut at `end` (which is not kept); a last line without `end` is kept too, and
// text that ends in `end` gives no empty last line. With keep_empty false, empty lines are left
// out.
std::vector<std::string> SplitLines(const std::string& text, const std::string& end = "\r\n",
                                    bool keep_empty = true);
// As SplitLines, but each line keeps its `end`, for checks that a line is terminated.
std::vector<std::string> SplitKeepingEnds(const std::string& text, const std::string& end = "\r\n");
// How often `part` occurs in `text`, overlapping occurrences counted.
size_t CountOf(const std::string& text, const std::string& part);

}  // namespace tarvik_test

#endif  // TESTING_FILES_H_
