// The transport's logger: the line layout, masks, the log file's life, formatting and its bounds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "transport/src/common/common.h"
#include "transport/tests/common_log_fixture.h"

namespace {

using tarvik_test::CountOf;
using tarvik_test::SplitKeepingEnds;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using tl_test::LogRaw;

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// One line column by column: date padded to 35, sender to 20, tag to 10, message, CR LF.
void ExpectLine(const std::string& line, const std::set<std::string>& dates,
                const std::string& sender, const std::string& tag, const std::string& message) {
  ASSERT_GE(line.size(), 35u) << line;
  const std::string date = line.substr(0, line.find_last_not_of(' ', 34) + 1);
  EXPECT_TRUE(dates.count(date)) << "date column: '" << line.substr(0, 35) << "'";
  EXPECT_EQ(Pad(date, 35) + Pad(sender, 20) + Pad(tag, 10) + message + "\r\n", line);
}

class TlLogTest : public tl_test::LogFixture {
 protected:
  void Start() { ASSERT_EQ(kTlResultSuccess, TlInitialize()); }
};

// Where a line of a type goes under the masks (set before start-up, as a program does), and its
// tag.
TEST_F(TlLogTest, Masks) {
  const TlLogTypeMask kScreen = kTlLogTypeMaskDefaultScreen, kFile = kTlLogTypeMaskDefaultFile;
  const struct {
    TlLogTypeMask screen, file;
    int type;
    const char* tag;
    bool on_screen, in_file;
  } rows[] = {
      {kScreen, kFile, kTlLogTypeApplication, "APP", true, true},
      {kScreen, kFile, kTlLogTypeInfo, "INFO", false, true},
      {kScreen, kFile, kTlLogTypeError, "ERROR", false, true},
      {kScreen, kFile, kTlLogTypeDebug, "DEBUG", false, true},
      {kScreen, kFile, kTlLogTypeTrace, "TRACE", false, false},
      {kScreen, kFile, kTlLogTypeApplication | kTlLogTypeInfo, "", true, true},
      {kScreen, kFile, 32, "", false, false},
      {kTlLogTypeMaskAll, kTlLogTypeMaskAll, kTlLogTypeTrace, "TRACE", true, true},
      {kTlLogTypeMaskAll, kTlLogTypeMaskAll, 32, "", true, true},
      {kTlLogTypeMaskAll, kTlLogTypeMaskAll, 65536, "", false, false},
      {kTlLogTypeMaskNone, kTlLogTypeMaskNone, kTlLogTypeApplication, "APP", false, false},
      {kTlLogTypeMaskNone, kTlLogTypeMaskNone, 65535, "", false, false},
      {kTlLogTypeMaskNone, kTlLogTypeTrace, kTlLogTypeInfo, "INFO", false, false},
      {kTlLogTypeMaskNone, kTlLogTypeTrace, kTlLogTypeTrace, "TRACE", false, true},
  };
  int index = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(index);
    const std::string path = PathOf(std::to_string(index++) + ".log");
    TlSetLogTypesForScreen(row.screen);
    TlSetLogTypesForFile(row.file);
    TlSetLogFile(path.c_str());
    Start();
    CaptureStdout();
    EXPECT_EQ(kTlResultSuccess, LogRaw("S", row.type, "line"));
    const std::string screen = GetCapturedStdout();
    const std::string expected = Pad(row.tag, 10) + "line\r\n";
    EXPECT_EQ(row.on_screen ? expected : "", screen.size() > 55 ? screen.substr(55) : screen);
    const std::string file = LinesAfterBanner(path);
    EXPECT_EQ(row.in_file ? expected : "", file.size() > 55 ? file.substr(55) : file);
    TlTerminate();
  }
}

TEST_F(TlLogTest, EveryOpenAppendsABannerToItsFile) {
  const std::string first = PathOf("first.log");
  const std::string second = PathOf("second.log");
  Start();
  TlLogInfo("S", "before");
  EXPECT_FALSE(tarvik_test::FileExists(first));
  // Named after start-up, the file opens at once.
  EXPECT_EQ(kTlResultSuccess, TlSetLogFile(first.c_str()));
  EXPECT_EQ(tl_test::kBanner, ReadFile(first));
  TlLogInfo("S", "one");
  EXPECT_EQ(kTlResultSuccess, TlSetLogFile(first.c_str()));
  TlLogInfo("S", "two");
  EXPECT_EQ(kTlResultSuccess, TlSetLogFile(second.c_str()));
  TlLogInfo("S", "three");
  const std::string text = ReadFile(first);
  ASSERT_EQ(2u, CountOf(text, tl_test::kBanner));
  EXPECT_LT(text.find("one\r\n"), text.find(tl_test::kBanner, 1));
  EXPECT_GT(text.find("two\r\n"), text.find(tl_test::kBanner, 1));
  EXPECT_EQ(0u, CountOf(text, "three") + CountOf(text, "before"));
  // One file collects the runs one after the other.
  ASSERT_EQ(kTlResultSuccess, TlTerminate());
  Start();
  TlLogInfo("S", "four");
  EXPECT_EQ(2u, CountOf(ReadFile(second), tl_test::kBanner));
  EXPECT_LT(ReadFile(second).find("three"), ReadFile(second).find("four"));
  // An empty name stops file logging.
  EXPECT_EQ(kTlResultSuccess, TlSetLogFile(""));
  TlLogInfo("S", "unwritten");
  EXPECT_EQ(0u, CountOf(ReadFile(second), "unwritten"));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlSetLogFile(nullptr));
}

TEST_F(TlLogTest, FilesThatCannotBeOpenedOrWritten) {
  TlSetLogFile(PathOf("no/such/dir/x.log").c_str());
  EXPECT_EQ(kTlResultGeneralErrorCouldNotOpenLogFile, TlInitialize());
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlIsInitialized());
  CaptureStdout();
  EXPECT_EQ(kTlResultSuccess, LogRaw("S", kTlLogTypeApplication, "still here"));
  EXPECT_EQ(1u, CountOf(GetCapturedStdout(), "still here\r\n"));
  const std::string good = PathOf("good.log");
  TlSetLogFile(good.c_str());
  Start();
  // Started, a file that cannot be opened is refused and the library runs on without one.
  EXPECT_EQ(kTlResultGeneralErrorCouldNotOpenLogFile,
            TlSetLogFile(PathOf("missing/x.log").c_str()));
  EXPECT_EQ(kTlResultSuccess, TlIsInitialized());
  EXPECT_EQ(kTlResultSuccess, TlLogInfo("S", "goes nowhere"));
  EXPECT_EQ(tl_test::kBanner, ReadFile(good));
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  // The banner cannot be written: the file stays open, every line is tried again and the
  // failure shown on the screen.
  EXPECT_EQ(kTlResultGeneralErrorCouldNotWriteLogFile, TlSetLogFile("/dev/full"));
  const apr_time_t before = apr_time_now();
  CaptureStdout();
  EXPECT_EQ(kTlResultGeneralErrorCouldNotWriteLogFile, TlLogInfo("KVO:Device", "lost"));
  EXPECT_EQ(kTlResultGeneralErrorCouldNotWriteLogFile, TlLogDebug("KVO:Device", "lost too"));
  EXPECT_EQ(kTlResultSuccess, TlLogTrace("KVO:Device", "masked out"));
  const auto lines = SplitKeepingEnds(GetCapturedStdout());
  ASSERT_EQ(2u, lines.size());
  for (const auto& line : lines) {
    ExpectLine(line, tl_test::DatesBetween(before, apr_time_now()), "TL:Common", "ERROR",
               "Could not write to log file.");
  }
}

// printf formats; messages cut at 8191 characters and file names at 127, line ends kept.
TEST_F(TlLogTest, FormatsAndBounds) {
  std::string path = PathOf("");
  path += std::string(200 - path.size(), 'n');
  TlSetLogFile(path.c_str());
  Start();
  TlSetLogTypesForScreen(kTlLogTypeMaskAll);
  int object = 0;
  char expected[256];
  snprintf(expected, sizeof expected, "%zu|%lld|%hhu|%p|%5.1f|%%", size_t{4096}, -5LL,
           static_cast<unsigned char>(200), static_cast<void*>(&object), 2.25);
  CaptureStdout();
  TlLogInfo("S", "%zu|%lld|%hhu|%p|%5.1f|%%", size_t{4096}, -5LL, static_cast<unsigned char>(200),
            static_cast<void*>(&object), 2.25);
  TlLogInfo("S", "%s", std::string(8191, 'e').c_str());
  TlLogInfo("S", "%s", std::string(10000, 'x').c_str());
  TlLogInfo("S", "next");
  const std::string screen = GetCapturedStdout();
  EXPECT_FALSE(tarvik_test::FileExists(path));
  const std::vector<std::string> messages = {expected, std::string(8191, 'e'),
                                             std::string(8191, 'x'), "next"};
  for (const std::string& out : {screen, LinesAfterBanner(path.substr(0, 127))}) {
    const auto lines = SplitKeepingEnds(out);
    ASSERT_EQ(4u, lines.size());
    for (size_t index = 0; index < 4; ++index)
      EXPECT_EQ(messages[index] + "\r\n", lines[index].substr(65));
  }
}

TEST_F(TlLogTest, StartStopAndBadArguments) {
  // Never started: the AT channel reports it, and so does the transport.
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlTerminate());
  const std::string path = PathOf("states.log");
  TlSetLogFile(path.c_str());
  const apr_time_t before = apr_time_now();
  Start();
  // A second start while running changes nothing: no second banner, still one stop needed.
  EXPECT_EQ(kTlResultSuccess, TlInitialize());
  EXPECT_EQ(1u, CountOf(ReadFile(path), tl_test::kBanner));
  EXPECT_EQ(kTlResultSuccess,
            TlLogErrorCode("TL:Device", kTlResultDeviceErrorCouldNotWriteToDevice));
  EXPECT_EQ(kTlResultSuccess, TlLogErrorCode("TL:TC", static_cast<TlResult>(908)));
  EXPECT_EQ(kTlResultSuccess, TlLogInfo(nullptr, "no sender"));
  // A sender longer than its column pushes the rest along; nothing is cut.
  EXPECT_EQ(kTlResultSuccess, TlLogInfo("AVeryLongSenderNameOverTwenty", "tail"));
  va_list none{};
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlLogRaw("S", kTlLogTypeInfo, nullptr, none));
  EXPECT_EQ(kTlResultSuccess, TlTerminate());
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlIsInitialized());
  // Stopped: the file is closed, the screen still works.
  CaptureStdout();
  EXPECT_EQ(kTlResultSuccess, LogRaw("S", kTlLogTypeApplication, "screen after stop"));
  EXPECT_EQ(1u, CountOf(GetCapturedStdout(), "screen after stop\r\n"));
  const auto dates = tl_test::DatesBetween(before, apr_time_now());
  const auto lines = SplitKeepingEnds(LinesAfterBanner(path));
  ASSERT_EQ(4u, lines.size());
  ExpectLine(lines[0], dates, "TL:Device", "ERROR", "204 - Could not write to device.");
  ExpectLine(lines[1], dates, "TL:TC", "ERROR",
             "908 - \"Unknown error code, no description found\".");
  ExpectLine(lines[2], dates, "", "INFO", "no sender");
  ExpectLine(lines[3], dates, "AVeryLongSenderNameOverTwenty", "INFO", "tail");
}

}  // namespace
