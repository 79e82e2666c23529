#include "testing/files.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarvik_test {

namespace fs = std::filesystem;

TempDir::TempDir(Mode mode) {
  std::error_code error;
  std::string pattern = (fs::temp_directory_path(error) / "tarvik-test-XXXXXX").string();
  if (error || mkdtemp(pattern.data()) == nullptr) return;
  path_ = pattern;
  if (mode == kEnter) {
    previous_ = fs::current_path(error).string();
    fs::current_path(path_, error);
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!previous_.empty()) fs::current_path(previous_, ignored);
  if (path_.empty()) return;
  // A test may have taken the owner's rights away to see a refusal.
  chmod(path_.c_str(), 0700);
  fs::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& end, bool keep_end,
                               bool keep_empty) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t stop = text.find(end, start);
    const bool ended = stop != std::string::npos;
    if (!ended) stop = text.size();
    if (keep_empty || stop > start) {
      lines.push_back(text.substr(start, stop - start + (keep_end && ended ? end.size() : 0)));
    }
    start = stop + end.size();
  }
  return lines;
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text, const std::string& end,
                                    bool keep_empty) {
  return Split(text, end, false, keep_empty);
}

std::vector<std::string> SplitKeepingEnds(const std::string& text, const std::string& end) {
  return Split(text, end, true, true);
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace tarvik_test
