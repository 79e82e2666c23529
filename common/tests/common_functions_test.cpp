#include "common/src/common_functions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "testing/files.h"

namespace {

TEST(CommonTrimStringTest, EveryRow) {
  const struct {
    const char* source;
    const char* list;
    size_t size;
    const char* trimmed;
  } rows[] = {
      {"\r\nabc\r\n", "\r\n", 64, "abc"},
      {"\r\n\r\n", "\r\n", 64, ""},
      {"", "\r\n", 64, ""},
      {"a\r\nb", "\r\n", 64, "a\r\nb"},  // inner characters stay
      {"\n\r\n  a \r b\n\r ", "\r\n", 64, "  a \r b\n\r "},
      {"  abc  ", "", 64, "  abc  "},
      {" \t\"OK\"\t ", "\" \t", 64, "OK"},   // the list is a set: order does not matter
      {"\r\nabcdef\r\n", "\r\n", 4, "abc"},  // cut to size - 1
      {"abcdef", "\r\n", 7, "abcdef"},
      {"abcdef", "\r\n", 6, "abcde"},
      {"abcdef", "\r\n", 1, ""},
  };
  for (const auto& row : rows) {
    char destination[8 + 64];
    memset(destination, 'X', sizeof destination);
    EXPECT_TRUE(CommonTrimString(destination, row.source, row.list, row.size)) << row.source;
    EXPECT_STREQ(row.trimmed, destination) << row.source;
    // Nothing written beyond size.
    EXPECT_EQ(std::string(sizeof destination - row.size, 'X'),
              std::string(destination + row.size, sizeof destination - row.size));
  }
  char text[] = "\r\n\r\nvalue\r\n";
  EXPECT_TRUE(CommonTrimString(text, text, "\r\n", sizeof text));  // in place
  EXPECT_STREQ("value", text);
  char untouched[4] = "zz";
  EXPECT_FALSE(CommonTrimString(untouched, "abc", "\n", 0));
  EXPECT_STREQ("zz", untouched);
  EXPECT_FALSE(CommonTrimString(nullptr, "abc", "\n", 4));
  EXPECT_FALSE(CommonTrimString(untouched, nullptr, "\n", 4));
  EXPECT_FALSE(CommonTrimString(untouched, "abc", nullptr, 4));
}

TEST(CommonFileTest, ReadAppendAndTellFilesFromDirectories) {
  tarvik_test::TempDir dir;
  const std::string data = dir.File("data.bin");
  tarvik_test::WriteFile(data, std::string("ab\0cd", 5));
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  ASSERT_TRUE(CommonGetFileContents(data.c_str(), buffer, sizeof buffer));
  // Not zero-terminated: the rest of the buffer is as it was; at most size bytes.
  EXPECT_EQ(std::string("ab\0cd###########", 16), std::string(buffer, 16));
  memset(buffer, '#', sizeof buffer);
  ASSERT_TRUE(CommonGetFileContents(data.c_str(), buffer, 2));
  EXPECT_EQ("ab#", std::string(buffer, 3));
  tarvik_test::WriteFile(dir.File("empty"), "");
  for (const std::string& path : {dir.File("empty"), dir.File("missing"), dir.path()}) {
    EXPECT_FALSE(CommonGetFileContents(path.c_str(), buffer, sizeof buffer)) << path;
  }
  EXPECT_FALSE(CommonGetFileContents(data.c_str(), buffer, 0));
  EXPECT_FALSE(CommonGetFileContents(data.c_str(), nullptr, sizeof buffer));
  EXPECT_FALSE(CommonGetFileContents(nullptr, buffer, sizeof buffer));

  const std::string report = dir.File("report.txt");
  ASSERT_TRUE(CommonAppendToFile(report.c_str(), "Pass"));
  ASSERT_TRUE(CommonAppendToFile(report.c_str(), "\r\nFail"));
  ASSERT_TRUE(CommonAppendToFile(report.c_str(), ""));
  EXPECT_EQ("Pass\r\nFail", tarvik_test::ReadFile(report));
  EXPECT_FALSE(CommonAppendToFile(dir.File("no/such/dir/file").c_str(), "x"));
  EXPECT_FALSE(CommonAppendToFile(dir.path().c_str(), "x"));
  EXPECT_FALSE(CommonAppendToFile(nullptr, "x"));
  EXPECT_FALSE(CommonAppendToFile(dir.File("f").c_str(), nullptr));
  EXPECT_FALSE(tarvik_test::FileExists(dir.File("f")));

  mkdir(dir.File("sub").c_str(), 0700);
  symlink(data.c_str(), dir.File("link_to_file").c_str());
  symlink(dir.File("sub").c_str(), dir.File("link_to_dir").c_str());
  symlink(dir.File("gone").c_str(), dir.File("dangling").c_str());
  const struct {
    std::string path;
    bool directory, file;
  } rows[] = {{dir.path(), true, false},
              {dir.File("sub"), true, false},
              {data, false, true},
              {dir.File("link_to_file"), false, true},
              {dir.File("link_to_dir"), true, false},
              {dir.File("dangling"), false, false},
              {dir.File("missing"), false, false}};
  for (const auto& row : rows) {
    EXPECT_EQ(row.directory, CommonIsDirectory(row.path.c_str())) << row.path;
    EXPECT_EQ(row.file, CommonFileExist(row.path.c_str())) << row.path;
  }
  EXPECT_FALSE(CommonIsDirectory(nullptr));
  EXPECT_FALSE(CommonFileExist(nullptr));
}

}  // namespace
