#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kvo.h"
#include "testing/files.h"
#include "transport/tests/common_log_fixture.h"

namespace {

using tarvik_test::CountOf;
using tarvik_test::SplitKeepingEnds;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr char kStartLine[] =
    "KVO:Common          INFO      KVO library initialized, revision P1AXX, API version major is "
    "3, API version minor is 0,\r\n";

class KvoLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    Reset();
  }
  void TearDown() override {
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
    KvoTerminate();
    Reset();
  }
  static void Reset() {
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  }
  std::string PathOf(const std::string& name) const { return dir_.File(name); }
  static std::string ReadFile(const std::string& path) { return tarvik_test::ReadFile(path); }

  // Starts the library with a fresh log file and returns its path.
  std::string StartWithLogFile(const char* name) {
    const std::string path = PathOf(name);
    EXPECT_EQ(KvoSetLogFile(path.c_str()), kKvoResultSuccess);
    EXPECT_EQ(KvoInitialize(), kKvoResultSuccess);
    return path;
  }

  tarvik_test::TempDir dir_;
};

TEST_F(KvoLogTest, StartWritesItsLineAndStopEndsTheLogFile) {
  const std::string path = StartWithLogFile("start.log");
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind(tl_test::kBanner, 0), 0u);
  ASSERT_EQ(CountOf(text, kStartLine), 1u) << text;
  for (const std::string& line : SplitKeepingEnds(text.substr(sizeof(tl_test::kBanner) - 1))) {
    if (line.find("KVO library initialized") != std::string::npos) {
      EXPECT_EQ(line.substr(35), kStartLine);
    }
  }
  EXPECT_EQ(KvoTerminate(), kKvoResultSuccess);
  KvoLogError("KVO:Common", "after the end");
  EXPECT_EQ(CountOf(ReadFile(path), "after the end"), 0u);
}

TEST_F(KvoLogTest, TransportStartFailureIsLoggedAndGives99) {
  KvoSetLogFile(PathOf("missing/dir/x.log").c_str());
  KvoSetLogTypesForScreen(kKvoLogTypeMaskAll);
  CaptureStdout();
  const KvoResult result = KvoInitialize();
  const std::string screen = GetCapturedStdout();
  EXPECT_EQ(result, kKvoResultGeneralErrorUnknown);
  EXPECT_EQ(CountOf(screen, "KVO:Common          ERROR     9 - Could not open log file.\r\n"), 1u)
      << screen;
  EXPECT_EQ(CountOf(screen, "KVO library initialized"), 0u);
}

TEST_F(KvoLogTest, StopWithoutStartGives99) {
  EXPECT_EQ(KvoTerminate(), kKvoResultGeneralErrorUnknown);
}

TEST_F(KvoLogTest, EachFunctionLogsWithItsTypeAndSender) {
  KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
  const std::string path = StartWithLogFile("types.log");
  EXPECT_EQ(KvoLog("Quarn", "app %d", 1), kKvoResultSuccess);
  EXPECT_EQ(KvoLogInfo("KVO:Device", "info %s", "two"), kKvoResultSuccess);
  EXPECT_EQ(KvoLogError("KVO:Update", "error %c", '3'), kKvoResultSuccess);
  EXPECT_EQ(KvoLogDebug("KVO:Custom", "debug %u", 4u), kKvoResultSuccess);
  EXPECT_EQ(KvoLogTrace("KVO:Radio", "trace %x", 0x5), kKvoResultSuccess);
  EXPECT_EQ(KvoLogErrorCode("KVO:Device", kKvoResultDeviceErrorInvalidHandle), kKvoResultSuccess);
  EXPECT_EQ(KvoLogErrorCode("KVO:Device", static_cast<KvoResult>(1000)), kKvoResultSuccess);

  const std::string text = ReadFile(path);
  for (const char* line : {
           "Quarn               APP       app 1\r\n",
           "KVO:Device          INFO      info two\r\n",
           "KVO:Update          ERROR     error 3\r\n",
           "KVO:Custom          DEBUG     debug 4\r\n",
           "KVO:Radio           TRACE     trace 5\r\n",
           "KVO:Device          ERROR     ERROR 201 - The supplied handle was invalid.\r\n",
           "KVO:Device          ERROR     1000 - \"Unknown result code, no description "
           "found\".\r\n",
       }) {
    EXPECT_EQ(CountOf(text, line), 1u) << line << text;
  }
}

TEST_F(KvoLogTest, MaskedOutEverywhereStillSucceeds) {
  const std::string path = StartWithLogFile("masked.log");
  const size_t size_before = ReadFile(path).size();
  EXPECT_EQ(KvoSetLogTypesForFile(kKvoLogTypeMaskNone), kKvoResultSuccess);
  EXPECT_EQ(KvoSetLogTypesForScreen(kKvoLogTypeMaskNone), kKvoResultSuccess);
  CaptureStdout();
  EXPECT_EQ(KvoLog("S", "a"), kKvoResultSuccess);
  EXPECT_EQ(KvoLogInfo("S", "b"), kKvoResultSuccess);
  EXPECT_EQ(KvoLogError("S", "c"), kKvoResultSuccess);
  EXPECT_EQ(KvoLogDebug("S", "d"), kKvoResultSuccess);
  EXPECT_EQ(KvoLogTrace("S", "e"), kKvoResultSuccess);
  EXPECT_EQ(KvoLogErrorCode("S", kKvoResultGeneralErrorUnknown), kKvoResultSuccess);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(ReadFile(path).size(), size_before);
}

TEST_F(KvoLogTest, TransportFailuresBecome99) {
  StartWithLogFile("first.log");
  EXPECT_EQ(KvoSetLogFile(nullptr), kKvoResultGeneralErrorUnknown);
  EXPECT_EQ(KvoSetLogFile(PathOf("missing/x.log").c_str()), kKvoResultGeneralErrorUnknown);
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(KvoSetLogFile("/dev/full"), kKvoResultGeneralErrorUnknown);
    CaptureStdout();
    EXPECT_EQ(KvoLogInfo("S", "cannot be written"), kKvoResultGeneralErrorUnknown);
    EXPECT_EQ(KvoLogErrorCode("S", kKvoResultSuccess), kKvoResultGeneralErrorUnknown);
    const std::string screen = GetCapturedStdout();
    EXPECT_EQ(CountOf(screen, "TL:Common           ERROR     Could not write to log file.\r\n"), 2u)
        << screen;
  }
  EXPECT_EQ(KvoSetLogFile(PathOf("second.log").c_str()), kKvoResultSuccess);
  EXPECT_EQ(KvoLogInfo("S", "written again"), kKvoResultSuccess);
  EXPECT_EQ(CountOf(ReadFile(PathOf("second.log")), "written again\r\n"), 1u);
}

}  // namespace
