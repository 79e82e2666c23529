#include "common/src/load_guard.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

// Links followed before the guard gives up on a path.
constexpr int kMaxLinks = 8;

// The directory part of a path as given: "." for a bare name, "/" for a file in the root.
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool OwnedByUserOrRoot(const struct stat& status, uid_t user) {
  return status.st_uid == user || status.st_uid == 0;
}

// In a directory that others may write, an entry can be swapped after the check unless the sticky
// bit keeps others from renaming or removing what is not theirs.
const char* CheckDirectory(const std::string& path) {
  struct stat directory;
  if (stat(DirectoryOf(path).c_str(), &directory) != 0) return "its directory cannot be examined";
  if ((directory.st_mode & S_IWOTH) != 0 && (directory.st_mode & S_ISVTX) == 0) {
    return "others may write to its directory, which has no sticky bit";
  }
  return nullptr;
}

// True when a user other than `owner` belongs to group `gid`, as a listed member or through the
// group being the user's own; also when the group cannot be looked up.
bool GroupHasOtherMembers(gid_t gid, uid_t owner) {
  std::vector<char> buffer(16384);
  struct passwd owner_entry;
  struct passwd* found_owner = nullptr;
  getpwuid_r(owner, &owner_entry, buffer.data(), buffer.size() / 2, &found_owner);
  const std::string owner_name = found_owner != nullptr ? found_owner->pw_name : "";
  struct group group_entry;
  struct group* found_group = nullptr;
  if (getgrgid_r(gid, &group_entry, buffer.data() + buffer.size() / 2, buffer.size() / 2,
                 &found_group) != 0 ||
      found_group == nullptr) {
    return true;
  }
  for (char** member = found_group->gr_mem; *member != nullptr; ++member) {
    if (owner_name != *member) return true;
  }
  // The user database is walked with one cursor for the whole process.
  static std::mutex walk;
  std::lock_guard<std::mutex> lock(walk);
  bool others = false;
  setpwent();
  while (const struct passwd* user = getpwent()) {
    if (user->pw_gid == gid && user->pw_uid != owner) {
      others = true;
      break;
    }
  }
  endpwent();
  return others;
}

}  // namespace

const char* CommonLoadGuardCheckFor(const char* file_path, uid_t user) {
  if (file_path == nullptr || file_path[0] == '\0') return "no file name was given";
  std::string path = file_path;
  struct stat file;
  for (int links = 0;; ++links) {
    // lstat: a link is judged itself (its owner decides where it points, its directory who may
    // swap it), and then its target is.
    if (lstat(path.c_str(), &file) != 0) return "the file cannot be examined";
    if (!S_ISLNK(file.st_mode)) break;
    if (links == kMaxLinks) return "it leads through too many symbolic links";
    if (!OwnedByUserOrRoot(file, user)) return "it belongs to another user";
    if (const char* refused = CheckDirectory(path)) return refused;
    std::vector<char> target(4096);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size() - 1);
    if (length <= 0) return "the file cannot be examined";
    const std::string next(target.data(), static_cast<size_t>(length));
    path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  if (!S_ISREG(file.st_mode)) return "it is not a regular file";
  if (!OwnedByUserOrRoot(file, user)) return "it belongs to another user";
  // A group that is the owner's alone (a user-private group) may write to it.
  if ((file.st_mode & S_IWOTH) != 0 ||
      ((file.st_mode & S_IWGRP) != 0 && GroupHasOtherMembers(file.st_gid, file.st_uid))) {
    return "group or others may write to it";
  }
  return CheckDirectory(path);
}

const char* CommonLoadGuardCheck(const char* file_path) {
  return CommonLoadGuardCheckFor(file_path, geteuid());
}
