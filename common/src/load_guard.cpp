#include "common/src/load_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

// The directory part of a path as given: "." for a bare name, "/" for a file in the root.
std::string DirectoryOf(const char* file_path) {
  const std::string path(file_path);
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

const char* CommonLoadGuardCheckFor(const char* file_path, uid_t user) {
  if (file_path == nullptr || file_path[0] == '\0') return "no file name was given";
  struct stat file;
  // lstat: a link is refused, since whoever owns the link decides what it points to.
  if (lstat(file_path, &file) != 0) return "the file cannot be examined";
  if (!S_ISREG(file.st_mode)) return "it is not a regular file";
  if (file.st_uid != user && file.st_uid != 0) return "it belongs to another user";
  if ((file.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "group or others may write to it";
  struct stat directory;
  if (stat(DirectoryOf(file_path).c_str(), &directory) != 0) {
    return "its directory cannot be examined";
  }
  // In a directory that others may write, the file can be swapped after this check unless the
  // sticky bit keeps others from renaming or removing what is not theirs.
  if ((directory.st_mode & S_IWOTH) != 0 && (directory.st_mode & S_ISVTX) == 0) {
    return "others may write to its directory, which has no sticky bit";
  }
  return nullptr;
}

const char* CommonLoadGuardCheck(const char* file_path) {
  return CommonLoadGuardCheckFor(file_path, geteuid());
}
