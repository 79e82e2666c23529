#ifndef TRANSPORT_TESTS_COMMON_LOG_FIXTURE_H_
#define TRANSPORT_TESTS_COMMON_LOG_FIXTURE_H_

// Shared by the transport core's logging tests: a scratch directory, the logger put back to its
// defaults around every test, and readers for what landed in a file or on the screen.

#include <apr_time.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "transport/src/common/common.h"

namespace tl_test {

constexpr char kBanner[] = "** Log file opened successfully **\n";

// Calls the logging primitive with an arbitrary type value.
inline TlResult LogRaw(const char* sender, int type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
inline TlResult LogRaw(const char* sender, int type, const char* format, ...) {
  va_list list;
  va_start(list, format);
  const TlResult result = TlLogRaw(sender, static_cast<TlLogType>(type), format, list);
  va_end(list);
  return result;
}

// Every RFC 822 date from `from` to `to`, one per second: a line's date must be one of them.
inline std::set<std::string> DatesBetween(apr_time_t from, apr_time_t to) {
  std::set<std::string> dates;
  for (apr_time_t t = apr_time_from_sec(apr_time_sec(from)); t <= to + apr_time_from_sec(1);
       t += apr_time_from_sec(1)) {
    char date[APR_RFC822_DATE_LEN];
    apr_rfc822_date(date, t);
    dates.insert(date);
  }
  return dates;
}

// Splits after every "\r\n"; a tail without one is returned as the last element.
inline std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end + 2 - start));
    start = end + 2;
  }
  return lines;
}

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tl_log_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ResetLogger();
  }

  void TearDown() override {
    // Also cleans up after a failed start-up, which leaves its pool and lock behind.
    TlTerminate();
    ResetLogger();
    std::filesystem::remove_all(dir_);
  }

  static void ResetLogger() {
    TlSetLogFile("");
    TlSetLogTypesForFile(kTlLogTypeMaskDefaultFile);
    TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
  }

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  static std::string ReadFile(const std::string& path) { return ReadWholeFile(path); }

  // The file's text after the banner that must open it.
  static std::string LinesAfterBanner(const std::string& path) {
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.compare(0, sizeof(kBanner) - 1, kBanner), 0) << text;
    return text.size() < sizeof(kBanner) - 1 ? std::string() : text.substr(sizeof(kBanner) - 1);
  }

  std::filesystem::path dir_;
};

}  // namespace tl_test

#endif  // TRANSPORT_TESTS_COMMON_LOG_FIXTURE_H_
