// The library's logging functions: each line's sender, type and layout, the masks, the start line,
// and transport failures turned into results.

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "kvo.h"
#include "testing/files.h"

namespace {

using tarvik_test::CountOf;
using tarvik_test::ReadFile;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

class KvoLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  void TearDown() override {
    KvoTerminate();
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  }
  std::string Start(const char* name) {
    const std::string path = dir_.File(name);
    EXPECT_EQ(kKvoResultSuccess, KvoSetLogFile(path.c_str()));
    EXPECT_EQ(kKvoResultSuccess, KvoInitialize());
    return path;
  }
  tarvik_test::TempDir dir_;
};

struct LogRow {
  std::function<KvoResult()> log;
  const char* line;  // as written to the file, after the date
};

const LogRow kLogRows[] = {
    {[] { return KvoLog("Quarn", "app %d", 1); }, "Quarn               APP       app 1\r\n"},
    {[] { return KvoLogInfo("KVO:Device", "info %s", "two"); },
     "KVO:Device          INFO      info two\r\n"},
    {[] { return KvoLogError("KVO:Update", "error %c", '3'); },
     "KVO:Update          ERROR     error 3\r\n"},
    {[] { return KvoLogDebug("KVO:Custom", "debug %u", 4u); },
     "KVO:Custom          DEBUG     debug 4\r\n"},
    {[] { return KvoLogTrace("KVO:Radio", "trace %x", 0x5); },
     "KVO:Radio           TRACE     trace 5\r\n"},
    {[] { return KvoLogErrorCode("KVO:Device", kKvoResultDeviceErrorInvalidHandle); },
     "KVO:Device          ERROR     ERROR 201 - The supplied handle was invalid.\r\n"},
    {[] { return KvoLogErrorCode("KVO:Device", static_cast<KvoResult>(1000)); },
     "KVO:Device          ERROR     1000 - \"Unknown result code, no description found\".\r\n"},
};

// Each line once with every type let through; nothing anywhere, and still success, with none.
TEST_F(KvoLogTest, EachFunctionWithAllTypesAndWithNone) {
  KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
  const std::string path = Start("types.log");
  for (const LogRow& row : kLogRows) {
    EXPECT_EQ(kKvoResultSuccess, row.log());
    EXPECT_EQ(1u, CountOf(ReadFile(path), row.line)) << row.line;
  }
  KvoSetLogTypesForFile(kKvoLogTypeMaskNone);
  KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
  const size_t size = ReadFile(path).size();
  CaptureStdout();
  for (const LogRow& row : kLogRows) EXPECT_EQ(kKvoResultSuccess, row.log()) << row.line;
  EXPECT_EQ("", GetCapturedStdout());
  EXPECT_EQ(size, ReadFile(path).size());
}

TEST_F(KvoLogTest, StartWritesItsLineOnceAndNothingIsLoggedAfterTheStop) {
  const std::string path = Start("start.log");
  EXPECT_EQ(1u, CountOf(ReadFile(path),
                        "KVO:Common          INFO      KVO library initialized, revision P1AXX, "
                        "API version major is 3, API version minor is 0,\r\n"));
  EXPECT_EQ(kKvoResultSuccess, KvoTerminate());
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoTerminate());
  KvoLogError("KVO:Common", "after the end");
  EXPECT_EQ(0u, CountOf(ReadFile(path), "after the end"));
}

TEST_F(KvoLogTest, TransportFailuresBecome99) {
  KvoSetLogFile(dir_.File("missing/dir/x.log").c_str());
  KvoSetLogTypesForScreen(kKvoLogTypeMaskAll);
  CaptureStdout();
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoInitialize());
  std::string screen = GetCapturedStdout();
  EXPECT_EQ(1u, CountOf(screen, "KVO:Common          ERROR     9 - Could not open log file.\r\n"));
  EXPECT_EQ(0u, CountOf(screen, "KVO library initialized"));

  Start("first.log");
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoSetLogFile(nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoSetLogFile(dir_.File("missing/x.log").c_str()));
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoSetLogFile("/dev/full"));
    CaptureStdout();
    EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoLogInfo("S", "cannot be written"));
    EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoLogErrorCode("S", kKvoResultSuccess));
    screen = GetCapturedStdout();
    EXPECT_EQ(2u,
              CountOf(screen, "TL:Common           ERROR     Could not write to log file.\r\n"));
  }
  EXPECT_EQ(kKvoResultSuccess, KvoSetLogFile(dir_.File("second.log").c_str()));
  EXPECT_EQ(kKvoResultSuccess, KvoLogInfo("S", "written again"));
  EXPECT_EQ(1u, CountOf(ReadFile(dir_.File("second.log")), "written again\r\n"));
}

}  // namespace
