#ifndef TRANSPORT_TESTS_COMMON_LOG_FIXTURE_H_
#define TRANSPORT_TESTS_COMMON_LOG_FIXTURE_H_

// Shared by the transport core's logging tests: a scratch directory, the logger put back to its
// defaults around every test, and the file's text after its banner.

#include <apr_time.h>
#include <gtest/gtest.h>
#include <stdarg.h>

#include <set>
#include <string>

#include "testing/files.h"
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

class LogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ResetLogger();
  }

  void TearDown() override {
    // Also cleans up after a failed start-up, which leaves its pool and lock behind.
    TlTerminate();
    ResetLogger();
  }

  static void ResetLogger() {
    TlSetLogFile("");
    TlSetLogTypesForFile(kTlLogTypeMaskDefaultFile);
    TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
  }

  std::string PathOf(const std::string& name) const { return dir_.File(name); }

  static std::string ReadFile(const std::string& path) { return tarvik_test::ReadFile(path); }

  // The file's text after the banner that must open it.
  static std::string LinesAfterBanner(const std::string& path) {
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.compare(0, sizeof(kBanner) - 1, kBanner), 0) << text;
    return text.size() < sizeof(kBanner) - 1 ? std::string() : text.substr(sizeof(kBanner) - 1);
  }

  tarvik_test::TempDir dir_;
};

}  // namespace tl_test

#endif  // TRANSPORT_TESTS_COMMON_LOG_FIXTURE_H_
