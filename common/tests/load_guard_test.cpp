#include "common/src/load_guard.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "testing/files.h"

namespace {

class LoadGuardTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }

  std::string MakeFile(const std::string& name, mode_t mode) {
    const std::string path = temp_.File(name);
    tarvik_test::WriteFile(path, "library");
    EXPECT_EQ(0, chmod(path.c_str(), mode));
    return path;
  }

  tarvik_test::TempDir temp_;
  const std::string& dir_ = temp_.path();
};

TEST_F(LoadGuardTest, OwnFileInPrivateDirectoryMayBeLoaded) {
  EXPECT_EQ(nullptr, CommonLoadGuardCheck(MakeFile("owner_only", 0600).c_str()));
  EXPECT_EQ(nullptr, CommonLoadGuardCheck(MakeFile("readable", 0755).c_str()));
  EXPECT_EQ(nullptr, CommonLoadGuardCheck(MakeFile("read_only", 0444).c_str()));
}

TEST_F(LoadGuardTest, WhatIsNotAFileIsRefused) {
  EXPECT_STREQ("no file name was given", CommonLoadGuardCheck(nullptr));
  EXPECT_STREQ("no file name was given", CommonLoadGuardCheck(""));
  EXPECT_STREQ("the file cannot be examined", CommonLoadGuardCheck((dir_ + "/absent").c_str()));

  EXPECT_STREQ("it is not a regular file", CommonLoadGuardCheck(dir_.c_str()));
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_STREQ("it is not a regular file", CommonLoadGuardCheck(fifo.c_str()));

  // A link is refused even when it points at a file that would pass: whoever owns the link
  // chooses the target.
  const std::string good = MakeFile("good", 0600);
  const std::string link = dir_ + "/link";
  ASSERT_EQ(0, symlink(good.c_str(), link.c_str()));
  EXPECT_EQ(nullptr, CommonLoadGuardCheck(good.c_str()));
  EXPECT_STREQ("it is not a regular file", CommonLoadGuardCheck(link.c_str()));
}

TEST_F(LoadGuardTest, FileOfAnotherUserIsRefusedButRootsIsNot) {
  const std::string path = MakeFile("foreign", 0644);
  const uid_t me = geteuid();
  if (me == 0) {
    // Root may hand the file to anybody; then it is foreign to root...
    ASSERT_EQ(0, chown(path.c_str(), 4242, static_cast<gid_t>(-1)));
    EXPECT_STREQ("it belongs to another user", CommonLoadGuardCheckFor(path.c_str(), 0));
    EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), 4242));
    // ...and a file of root's may be loaded by every user.
    ASSERT_EQ(0, chown(path.c_str(), 0, static_cast<gid_t>(-1)));
    EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), 4242));
  } else {
    EXPECT_STREQ("it belongs to another user", CommonLoadGuardCheckFor(path.c_str(), me + 1));
    EXPECT_EQ(nullptr, CommonLoadGuardCheckFor(path.c_str(), me));
  }
}

TEST_F(LoadGuardTest, FileThatGroupOrOthersMayWriteIsRefused) {
  for (mode_t mode : {0664, 0646, 0620, 0602, 0777}) {
    SCOPED_TRACE(mode);
    EXPECT_STREQ("group or others may write to it",
                 CommonLoadGuardCheck(MakeFile("writable", mode).c_str()));
  }
}

TEST_F(LoadGuardTest, DirectoryThatOthersMayWriteNeedsTheStickyBit) {
  const std::string path = MakeFile("container", 0600);

  ASSERT_EQ(0, chmod(dir_.c_str(), 0777));
  EXPECT_STREQ("others may write to its directory, which has no sticky bit",
               CommonLoadGuardCheck(path.c_str()));
  ASSERT_EQ(0, chmod(dir_.c_str(), 0773));
  EXPECT_STREQ("others may write to its directory, which has no sticky bit",
               CommonLoadGuardCheck(path.c_str()));

  // As in /tmp: others may add files but may not rename or remove ours.
  ASSERT_EQ(0, chmod(dir_.c_str(), 01777));
  EXPECT_EQ(nullptr, CommonLoadGuardCheck(path.c_str()));
  // A directory shared only with the group is accepted.
  ASSERT_EQ(0, chmod(dir_.c_str(), 0775));
  EXPECT_EQ(nullptr, CommonLoadGuardCheck(path.c_str()));
}

TEST_F(LoadGuardTest, RelativeNamesAreJudgedByTheirOwnDirectory) {
  ASSERT_EQ(0, mkdir((dir_ + "/open").c_str(), 0700));
  ASSERT_EQ(0, chmod((dir_ + "/open").c_str(), 0777));
  MakeFile("open/container", 0600);
  MakeFile("container", 0600);

  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(0, chdir(dir_.c_str()));
  const char* bare = CommonLoadGuardCheck("container");
  const char* dotted = CommonLoadGuardCheck("./container");
  const char* nested = CommonLoadGuardCheck("open/container");
  ASSERT_EQ(0, chmod(dir_.c_str(), 0777));
  const char* bare_in_open = CommonLoadGuardCheck("container");
  ASSERT_EQ(0, chdir(previous));

  EXPECT_EQ(nullptr, bare);
  EXPECT_EQ(nullptr, dotted);
  EXPECT_STREQ("others may write to its directory, which has no sticky bit", nested);
  EXPECT_STREQ("others may write to its directory, which has no sticky bit", bare_in_open);
}

}  // namespace
