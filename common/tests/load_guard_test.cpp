#include "common/src/load_guard.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "testing/files.h"

namespace {

constexpr const char* kWritable = "group or others may write to it";
constexpr const char* kOpenDirectory = "others may write to its directory, which has no sticky bit";
constexpr const char* kNotAFile = "it is not a regular file";

// A file "library" with `mode` in a directory with `directory_mode`; returns its path.
std::string Place(const std::string& dir, mode_t mode, mode_t directory_mode = 0700) {
  const std::string path = dir + "/library";
  tarvik_test::WriteFile(path, "library");
  chmod(path.c_str(), mode);
  chmod(dir.c_str(), directory_mode);
  return path;
}

// A link "link" in `dir` to `target`; returns its path.
std::string Link(const std::string& dir, const std::string& target) {
  symlink(target.c_str(), (dir + "/link").c_str());
  return dir + "/link";
}

// A subdirectory "sub" of `dir` with `mode`.
std::string Sub(const std::string& dir, mode_t mode) {
  mkdir((dir + "/sub").c_str(), 0700);
  chmod((dir + "/sub").c_str(), mode);
  return dir + "/sub";
}

struct GuardRow {
  const char* name;
  std::function<std::string(const std::string& dir)> prepare;  // gives the path to judge
  const char* reason;                                          // nullptr: may be loaded
};

const GuardRow kGuardRows[] = {
    {"owner only", [](const std::string& d) { return Place(d, 0600); }, nullptr},
    {"readable by all", [](const std::string& d) { return Place(d, 0755); }, nullptr},
    {"others may write", [](const std::string& d) { return Place(d, 0646); }, kWritable},
    {"directory open to all", [](const std::string& d) { return Place(d, 0600, 0777); },
     kOpenDirectory},
    // As in /tmp: others may add files but may not rename or remove ours.
    {"sticky open directory", [](const std::string& d) { return Place(d, 0600, 01777); }, nullptr},
    {"directory shared with the group", [](const std::string& d) { return Place(d, 0600, 0775); },
     nullptr},
    {"no name", [](const std::string&) { return std::string(); }, "no file name was given"},
    {"missing", [](const std::string& d) { return d + "/absent"; }, "the file cannot be examined"},
    {"directory", [](const std::string& d) { return d; }, kNotAFile},
    {"fifo",
     [](const std::string& d) {
       mkfifo((d + "/fifo").c_str(), 0600);
       return d + "/fifo";
     },
     kNotAFile},
    // A link is followed: its target and the target's directory are judged.
    {"link to a good file", [](const std::string& d) { return Link(d, Place(d, 0600)); }, nullptr},
    {"link to a file others may write",
     [](const std::string& d) { return Link(d, Place(d, 0646)); }, kWritable},
    {"link into a directory open to all",
     [](const std::string& d) { return Link(d, Place(Sub(d, 0777), 0600, 0777)); }, kOpenDirectory},
    {"link in a directory open to all",
     [](const std::string& d) { return Link(Sub(d, 0777), Place(d, 0600)); }, kOpenDirectory},
    {"relative link", [](const std::string& d) { return Link(d, (Place(d, 0600), "library")); },
     nullptr},
    {"dangling link", [](const std::string& d) { return Link(d, d + "/absent"); },
     "the file cannot be examined"},
    {"link to itself", [](const std::string& d) { return Link(d, d + "/link"); },
     "it leads through too many symbolic links"},
};

TEST(LoadGuardTest, EveryRow) {
  for (const GuardRow& row : kGuardRows) {
    tarvik_test::TempDir temp;
    const std::string path = row.prepare(temp.path());
    const char* reason = CommonLoadGuardCheck(path.empty() ? nullptr : path.c_str());
    EXPECT_STREQ(row.reason, reason) << row.name;
    chmod(temp.path().c_str(), 0700);
  }
  EXPECT_STREQ("no file name was given", CommonLoadGuardCheck(""));
}

// A file of another user is refused; root's may be loaded by everybody. A file its group may write
// is refused while the group has a member besides the file's owner.
TEST(LoadGuardTest, OwnersAndGroups) {
  tarvik_test::TempDir temp;
  const std::string path = Place(temp.path(), 0644);
  const uid_t me = geteuid();
  EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), me));
  if (me != 0) {
    EXPECT_STREQ("it belongs to another user", CommonLoadGuardCheckFor(path.c_str(), me + 1));
    return;
  }
  ASSERT_EQ(0, chown(path.c_str(), 4242, static_cast<gid_t>(-1)));
  EXPECT_STREQ("it belongs to another user", CommonLoadGuardCheckFor(path.c_str(), 0));
  EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), 4242));
  ASSERT_EQ(0, chown(path.c_str(), 0, static_cast<gid_t>(-1)));
  EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), 4242));
  const struct passwd* daemon_user = getpwnam("daemon");  // the only member of its own group
  ASSERT_NE(nullptr, daemon_user);
  chmod(path.c_str(), 0664);
  ASSERT_EQ(0, chown(path.c_str(), daemon_user->pw_uid, daemon_user->pw_gid));
  EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), daemon_user->pw_uid));
  ASSERT_EQ(0, chown(path.c_str(), 0, daemon_user->pw_gid));
  EXPECT_STREQ(kWritable, CommonLoadGuardCheckFor(path.c_str(), 0));
}

// A relative name is judged by its own directory, not the working directory's.
TEST(LoadGuardTest, RelativeNames) {
  tarvik_test::TempDir temp(tarvik_test::TempDir::kEnter);
  mkdir("open", 0700);
  Place(temp.File("open"), 0600, 0777);
  Place(temp.path(), 0600);
  EXPECT_EQ(nullptr, CommonLoadGuardCheck("library"));
  EXPECT_EQ(nullptr, CommonLoadGuardCheck("./library"));
  EXPECT_STREQ(kOpenDirectory, CommonLoadGuardCheck("open/library"));
  chmod(temp.path().c_str(), 0777);
  EXPECT_STREQ(kOpenDirectory, CommonLoadGuardCheck("library"));
  chmod(temp.path().c_str(), 0700);
}

}  // namespace
