#include "common/src/common_functions.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "testing/files.h"

namespace {

namespace fs = std::filesystem;

std::string Trim(const std::string& source, const char* list, size_t size = 64) {
  char destination[256];
  memset(destination, 'X', sizeof(destination));
  EXPECT_TRUE(CommonTrimString(destination, source.c_str(), list, size));
  return destination;
}

TEST(CommonTrimStringTest, RemovesListedCharactersFromBothEndsOnly) {
  EXPECT_EQ(Trim("\r\nabc\r\n", "\r\n"), "abc");
  EXPECT_EQ(Trim("abc", "\r\n"), "abc");
  EXPECT_EQ(Trim("\r\n\r\n", "\r\n"), "");
  EXPECT_EQ(Trim("", "\r\n"), "");
  EXPECT_EQ(Trim("a\r\nb", "\r\n"), "a\r\nb");
  EXPECT_EQ(Trim("\n\r\n  a \r b\n\r ", "\r\n"), "  a \r b\n\r ");
  EXPECT_EQ(Trim("x", "\r\n"), "x");
  EXPECT_EQ(Trim("\rx", "\r\n"), "x");
  EXPECT_EQ(Trim("x\n", "\r\n"), "x");
  EXPECT_EQ(Trim("  abc  ", ""), "  abc  ");
}

TEST(CommonTrimStringTest, ListIsASetWhoseOrderDoesNotMatter) {
  EXPECT_EQ(Trim(" \t\"OK\"\t ", "\" \t"), "OK");
  EXPECT_EQ(Trim(" \t\"OK\"\t ", "\t\" "), "OK");
}

TEST(CommonTrimStringTest, CutsToSizeMinusOne) {
  EXPECT_EQ(Trim("\r\nabcdef\r\n", "\r\n", 4), "abc");
  EXPECT_EQ(Trim("abcdef", "\r\n", 7), "abcdef");
  EXPECT_EQ(Trim("abcdef", "\r\n", 6), "abcde");
  EXPECT_EQ(Trim("abcdef", "\r\n", 1), "");
}

TEST(CommonTrimStringTest, DoesNotWriteBeyondSize) {
  char destination[8];
  memset(destination, 'X', sizeof(destination));
  EXPECT_TRUE(CommonTrimString(destination, "\nabcdefghijkl\n", "\n", 4));
  EXPECT_STREQ(destination, "abc");
  for (size_t i = 4; i < sizeof(destination); ++i) EXPECT_EQ(destination[i], 'X') << i;
}

TEST(CommonTrimStringTest, TrimsInPlace) {
  char text[] = "\r\n\r\nvalue\r\n";
  EXPECT_TRUE(CommonTrimString(text, text, "\r\n", sizeof(text)));
  EXPECT_STREQ(text, "value");
}

TEST(CommonTrimStringTest, RefusesMissingArgumentsAndZeroSize) {
  char destination[4] = "zz";
  EXPECT_FALSE(CommonTrimString(destination, "abc", "\n", 0));
  EXPECT_STREQ(destination, "zz");
  EXPECT_FALSE(CommonTrimString(nullptr, "abc", "\n", 4));
  EXPECT_FALSE(CommonTrimString(destination, nullptr, "\n", 4));
  EXPECT_FALSE(CommonTrimString(destination, "abc", nullptr, 4));
}

class CommonFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  std::string PathOf(const std::string& name) const { return dir_.File(name); }

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string path = PathOf(name);
    tarvik_test::WriteFile(path, content);
    return path;
  }

  tarvik_test::TempDir dir_;
};

TEST_F(CommonFileTest, GetFileContentsReadsUpToSizeAndTouchesNothingElse) {
  const std::string path = Write("data.bin", std::string("ab\0cd", 5));
  char buffer[16];
  memset(buffer, '#', sizeof(buffer));
  ASSERT_TRUE(CommonGetFileContents(path.c_str(), buffer, sizeof(buffer)));
  EXPECT_EQ(std::string(buffer, 5), std::string("ab\0cd", 5));
  // Not zero-terminated: the rest of the buffer is as it was.
  for (size_t i = 5; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], '#') << i;

  char small[3];
  memset(small, '#', sizeof(small));
  ASSERT_TRUE(CommonGetFileContents(path.c_str(), small, 2));
  EXPECT_EQ(std::string(small, 3), "ab#");
}

TEST_F(CommonFileTest, GetFileContentsFailsForEmptyMissingAndDirectory) {
  char buffer[8];
  EXPECT_FALSE(CommonGetFileContents(Write("empty", "").c_str(), buffer, sizeof(buffer)));
  EXPECT_FALSE(CommonGetFileContents(PathOf("missing").c_str(), buffer, sizeof(buffer)));
  EXPECT_FALSE(CommonGetFileContents(dir_.path().c_str(), buffer, sizeof(buffer)));
  const std::string path = Write("data", "abc");
  EXPECT_FALSE(CommonGetFileContents(path.c_str(), buffer, 0));
  EXPECT_FALSE(CommonGetFileContents(path.c_str(), nullptr, sizeof(buffer)));
  EXPECT_FALSE(CommonGetFileContents(nullptr, buffer, sizeof(buffer)));
}

TEST_F(CommonFileTest, AppendCreatesAndAppendsWithoutLineEnds) {
  const std::string path = PathOf("report.txt");
  ASSERT_FALSE(fs::exists(path));
  ASSERT_TRUE(CommonAppendToFile(path.c_str(), "Pass"));
  EXPECT_EQ(tarvik_test::ReadFile(path), "Pass");
  ASSERT_TRUE(CommonAppendToFile(path.c_str(), "\r\nFail"));
  ASSERT_TRUE(CommonAppendToFile(path.c_str(), ""));
  EXPECT_EQ(tarvik_test::ReadFile(path), "Pass\r\nFail");
}

TEST_F(CommonFileTest, AppendFailsWhereNoFileCanBeMade) {
  EXPECT_FALSE(CommonAppendToFile(PathOf("no/such/dir/file").c_str(), "x"));
  EXPECT_FALSE(CommonAppendToFile(dir_.path().c_str(), "x"));
  EXPECT_FALSE(CommonAppendToFile(nullptr, "x"));
  EXPECT_FALSE(CommonAppendToFile(PathOf("f").c_str(), nullptr));
  EXPECT_FALSE(fs::exists(PathOf("f")));
}

TEST_F(CommonFileTest, DirectoryAndFileTellTheTypesApart) {
  const std::string file = Write("file", "x");
  fs::create_directory(PathOf("sub"));
  fs::create_symlink(file, PathOf("link_to_file"));
  fs::create_symlink(PathOf("sub"), PathOf("link_to_dir"));
  fs::create_symlink(PathOf("gone"), PathOf("dangling"));

  EXPECT_TRUE(CommonIsDirectory(dir_.path().c_str()));
  EXPECT_TRUE(CommonIsDirectory(PathOf("sub").c_str()));
  EXPECT_FALSE(CommonIsDirectory(file.c_str()));
  EXPECT_FALSE(CommonIsDirectory(PathOf("missing").c_str()));
  EXPECT_FALSE(CommonIsDirectory(nullptr));

  EXPECT_TRUE(CommonFileExist(file.c_str()));
  EXPECT_TRUE(CommonFileExist(PathOf("link_to_file").c_str()));
  EXPECT_FALSE(CommonFileExist(PathOf("link_to_dir").c_str()));
  EXPECT_FALSE(CommonFileExist(PathOf("dangling").c_str()));
  EXPECT_FALSE(CommonFileExist(PathOf("sub").c_str()));
  EXPECT_FALSE(CommonFileExist(PathOf("missing").c_str()));
  EXPECT_FALSE(CommonFileExist(nullptr));
}

}  // namespace
