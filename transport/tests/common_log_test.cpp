#include <apr_time.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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

// Checks one line column by column: date padded to 35, sender to 20, tag to 10, message, CR LF.
void ExpectLine(const std::string& line, const std::set<std::string>& dates,
                const std::string& sender, const std::string& tag, const std::string& message) {
  ASSERT_GE(line.size(), 35u) << line;
  const std::string date_column = line.substr(0, 35);
  const std::string date = date_column.substr(0, date_column.find_last_not_of(' ') + 1);
  EXPECT_TRUE(dates.count(date)) << "date column: '" << date_column << "'";
  EXPECT_EQ(date_column, Pad(date, 35));
  size_t at = 35;
  const std::string sender_column = Pad(sender, 20);
  EXPECT_EQ(line.substr(at, sender_column.size()), sender_column) << line;
  at += sender_column.size();
  const std::string tag_column = Pad(tag, 10);
  EXPECT_EQ(line.substr(at, tag_column.size()), tag_column) << line;
  at += tag_column.size();
  EXPECT_EQ(line.substr(at), message + "\r\n");
}

class TlLogTest : public tl_test::LogFixture {
 protected:
  void Start() {
    ASSERT_EQ(TlInitialize(), kTlResultSuccess);
    ASSERT_EQ(TlIsInitialized(), kTlResultSuccess);
  }
};

TEST_F(TlLogTest, FileLinesFollowTheColumnLayout) {
  const std::string path = PathOf("layout.log");
  ASSERT_EQ(TlSetLogFile(path.c_str()), kTlResultSuccess);
  Start();
  TlSetLogTypesForFile(kTlLogTypeMaskAll);
  const apr_time_t before = apr_time_now();
  EXPECT_EQ(TlLogInfo("TL:Common", "value %d of %s", 42, "seven"), kTlResultSuccess);
  EXPECT_EQ(TlLogError("TL:Device", "port %s lost", "/dev/pts/3"), kTlResultSuccess);
  EXPECT_EQ(TlLogDebug("KVO:Update", "%s", ""), kTlResultSuccess);
  EXPECT_EQ(TlLogTrace("TL:At", "%5d|%-3s|", 7, "a"), kTlResultSuccess);
  EXPECT_EQ(LogRaw("Quarn", kTlLogTypeApplication, "OK"), kTlResultSuccess);
  // A sender longer than its column pushes the rest along; nothing is cut.
  EXPECT_EQ(TlLogInfo("AVeryLongSenderNameOverTwenty", "tail"), kTlResultSuccess);
  const auto dates = tl_test::DatesBetween(before, apr_time_now());

  const auto lines = SplitKeepingEnds(LinesAfterBanner(path));
  ASSERT_EQ(lines.size(), 6u);
  ExpectLine(lines[0], dates, "TL:Common", "INFO", "value 42 of seven");
  ExpectLine(lines[1], dates, "TL:Device", "ERROR", "port /dev/pts/3 lost");
  ExpectLine(lines[2], dates, "KVO:Update", "DEBUG", "");
  ExpectLine(lines[3], dates, "TL:At", "TRACE", "    7|a  |");
  ExpectLine(lines[4], dates, "Quarn", "APP", "OK");
  ExpectLine(lines[5], dates, "AVeryLongSenderNameOverTwenty", "INFO", "tail");
  EXPECT_EQ(lines[5].substr(35, 30), "AVeryLongSenderNameOverTwentyI");
}

TEST_F(TlLogTest, DefaultMasksSendApplicationToBothAndTraceNowhere) {
  const std::string path = PathOf("defaults.log");
  TlSetLogFile(path.c_str());
  Start();
  CaptureStdout();
  EXPECT_EQ(TlLogInfo("S", "info line"), kTlResultSuccess);
  EXPECT_EQ(LogRaw("S", kTlLogTypeApplication, "app line"), kTlResultSuccess);
  EXPECT_EQ(TlLogError("S", "error line"), kTlResultSuccess);
  EXPECT_EQ(TlLogDebug("S", "debug line"), kTlResultSuccess);
  EXPECT_EQ(TlLogTrace("S", "trace line"), kTlResultSuccess);
  const std::string screen = GetCapturedStdout();
  const std::string file = LinesAfterBanner(path);

  EXPECT_EQ(SplitKeepingEnds(screen).size(), 1u) << screen;
  EXPECT_EQ(CountOf(screen, "app line\r\n"), 1u);
  EXPECT_EQ(SplitKeepingEnds(file).size(), 4u) << file;
  for (const char* text : {"info line", "app line", "error line", "debug line"}) {
    EXPECT_EQ(CountOf(file, std::string(text) + "\r\n"), 1u) << text;
  }
  EXPECT_EQ(CountOf(file, "trace line"), 0u);
}

TEST_F(TlLogTest, MaskAllShowsEverythingAndMaskNoneNothing) {
  const std::string path = PathOf("masks.log");
  TlSetLogFile(path.c_str());
  Start();
  EXPECT_EQ(TlSetLogTypesForScreen(kTlLogTypeMaskAll), kTlResultSuccess);
  EXPECT_EQ(TlSetLogTypesForFile(kTlLogTypeMaskAll), kTlResultSuccess);
  CaptureStdout();
  TlLogTrace("S", "trace shown");
  TlLogInfo("S", "info shown");
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  TlSetLogTypesForFile(kTlLogTypeMaskNone);
  for (int type : {1, 2, 4, 8, 16, 3, 32, 65535}) {
    EXPECT_EQ(LogRaw("S", type, "hidden %d", type), kTlResultSuccess) << type;
  }
  const std::string screen = GetCapturedStdout();
  const std::string file = LinesAfterBanner(path);
  for (const std::string& out : {screen, file}) {
    EXPECT_EQ(CountOf(out, "TRACE     trace shown\r\n"), 1u) << out;
    EXPECT_EQ(CountOf(out, "INFO      info shown\r\n"), 1u) << out;
    EXPECT_EQ(CountOf(out, "hidden"), 0u) << out;
  }
}

TEST_F(TlLogTest, CombinedOrUnknownTypesGetAnEmptyTagWhenTheyMeetAMask) {
  const std::string path = PathOf("types.log");
  TlSetLogFile(path.c_str());
  Start();
  CaptureStdout();
  // Application|info meets both default masks.
  EXPECT_EQ(LogRaw("S", kTlLogTypeApplication | kTlLogTypeInfo, "combined"), kTlResultSuccess);
  // Bit 32 meets neither default mask, trace|32 neither.
  EXPECT_EQ(LogRaw("S", 32, "unknown default"), kTlResultSuccess);
  EXPECT_EQ(LogRaw("S", kTlLogTypeTrace | 32, "trace-ish"), kTlResultSuccess);
  TlSetLogTypesForFile(kTlLogTypeMaskAll);
  EXPECT_EQ(LogRaw("S", 32, "unknown all"), kTlResultSuccess);
  // Beyond the widest mask.
  EXPECT_EQ(LogRaw("S", 65536, "too high"), kTlResultSuccess);
  const std::string screen = GetCapturedStdout();
  const std::string file = LinesAfterBanner(path);

  const std::string empty_tag(10, ' ');
  EXPECT_EQ(CountOf(screen, empty_tag + "combined\r\n"), 1u) << screen;
  EXPECT_EQ(SplitKeepingEnds(screen).size(), 1u) << screen;
  const auto lines = SplitKeepingEnds(file);
  ASSERT_EQ(lines.size(), 2u) << file;
  EXPECT_EQ(lines[0].substr(55), empty_tag + "combined\r\n");
  EXPECT_EQ(lines[1].substr(55), empty_tag + "unknown all\r\n");
}

TEST_F(TlLogTest, MasksSetBeforeStartUpHold) {
  const std::string path = PathOf("early.log");
  TlSetLogTypesForFile(kTlLogTypeTrace);
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  TlSetLogFile(path.c_str());
  Start();
  CaptureStdout();
  TlLogInfo("S", "info");
  LogRaw("S", kTlLogTypeApplication, "app");
  TlLogTrace("S", "trace");
  EXPECT_EQ(GetCapturedStdout(), "");
  const auto lines = SplitKeepingEnds(LinesAfterBanner(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(55), "TRACE     trace\r\n");
}

TEST_F(TlLogTest, EveryOpenAppendsABannerAndTheOldFileIsLeftAlone) {
  const std::string first = PathOf("first.log");
  const std::string second = PathOf("second.log");
  TlSetLogFile(first.c_str());
  Start();
  TlLogInfo("S", "one");
  EXPECT_EQ(TlSetLogFile(first.c_str()), kTlResultSuccess);
  TlLogInfo("S", "two");
  EXPECT_EQ(TlSetLogFile(second.c_str()), kTlResultSuccess);
  TlLogInfo("S", "three");

  const std::string first_text = ReadFile(first);
  EXPECT_EQ(CountOf(first_text, tl_test::kBanner), 2u);
  const size_t second_banner = first_text.find(tl_test::kBanner, 1);
  EXPECT_LT(first_text.find("one\r\n"), second_banner);
  EXPECT_GT(first_text.find("two\r\n"), second_banner);
  EXPECT_EQ(CountOf(first_text, "three"), 0u);
  const auto lines = SplitKeepingEnds(LinesAfterBanner(second));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(65), "three\r\n");

  // One file collects the runs one after the other.
  ASSERT_EQ(TlTerminate(), kTlResultSuccess);
  TlSetLogFile(second.c_str());
  Start();
  TlLogInfo("S", "four");
  const std::string second_text = ReadFile(second);
  EXPECT_EQ(CountOf(second_text, tl_test::kBanner), 2u);
  EXPECT_LT(second_text.find("three"), second_text.find("four"));
}

TEST_F(TlLogTest, LogFileNamedAfterStartUpOpensAtOnce) {
  Start();
  const std::string path = PathOf("late.log");
  TlLogInfo("S", "before");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(TlSetLogFile(path.c_str()), kTlResultSuccess);
  EXPECT_EQ(ReadFile(path), tl_test::kBanner);
  TlLogInfo("S", "after");
  const auto lines = SplitKeepingEnds(LinesAfterBanner(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(65), "after\r\n");
}

TEST_F(TlLogTest, UnopenableLogFileStopsStartUpAndALaterStartUpSucceeds) {
  const std::string bad = PathOf("no/such/dir/x.log");
  TlSetLogFile(bad.c_str());
  EXPECT_EQ(TlInitialize(), kTlResultGeneralErrorCouldNotOpenLogFile);
  EXPECT_EQ(TlIsInitialized(), kTlResultGeneralErrorNotInitialized);
  // Logging after the failed start still works (screen only).
  CaptureStdout();
  EXPECT_EQ(LogRaw("S", kTlLogTypeApplication, "still here"), kTlResultSuccess);
  EXPECT_EQ(CountOf(GetCapturedStdout(), "still here\r\n"), 1u);

  const std::string good = PathOf("good.log");
  TlSetLogFile(good.c_str());
  Start();
  TlLogInfo("S", "running");
  EXPECT_EQ(CountOf(LinesAfterBanner(good), "running\r\n"), 1u);
}

TEST_F(TlLogTest, UnopenableLogFileAfterStartUpKeepsTheLibraryRunning) {
  const std::string path = PathOf("old.log");
  TlSetLogFile(path.c_str());
  Start();
  EXPECT_EQ(TlSetLogFile(PathOf("missing/x.log").c_str()),
            kTlResultGeneralErrorCouldNotOpenLogFile);
  EXPECT_EQ(TlIsInitialized(), kTlResultSuccess);
  EXPECT_EQ(TlLogInfo("S", "goes nowhere"), kTlResultSuccess);
  EXPECT_EQ(ReadFile(path), tl_test::kBanner);
}

TEST_F(TlLogTest, FailedWritesAreReportedOnTheScreenAndRetried) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Start();
  // The banner cannot be written: the file stays open and every line is tried again.
  EXPECT_EQ(TlSetLogFile("/dev/full"), kTlResultGeneralErrorCouldNotWriteLogFile);
  const apr_time_t before = apr_time_now();
  CaptureStdout();
  EXPECT_EQ(TlLogInfo("KVO:Device", "lost"), kTlResultGeneralErrorCouldNotWriteLogFile);
  EXPECT_EQ(TlLogDebug("KVO:Device", "lost too"), kTlResultGeneralErrorCouldNotWriteLogFile);
  EXPECT_EQ(TlLogTrace("KVO:Device", "masked out"), kTlResultSuccess);
  const std::string screen = GetCapturedStdout();
  const auto lines = SplitKeepingEnds(screen);
  ASSERT_EQ(lines.size(), 2u) << screen;
  const auto dates = tl_test::DatesBetween(before, apr_time_now());
  for (const auto& line : lines) {
    ExpectLine(line, dates, "TL:Common", "ERROR", "Could not write to log file.");
  }

  const std::string path = PathOf("recovered.log");
  EXPECT_EQ(TlSetLogFile(path.c_str()), kTlResultSuccess);
  EXPECT_EQ(TlLogInfo("S", "fine"), kTlResultSuccess);
  EXPECT_EQ(CountOf(LinesAfterBanner(path), "fine\r\n"), 1u);
}

TEST_F(TlLogTest, MessagesAreFormattedAsPrintfFormats) {
  const std::string path = PathOf("formats.log");
  TlSetLogFile(path.c_str());
  Start();
  const size_t size = 4096;
  const long long negative = -5;
  const unsigned char small = 200;
  int object = 0;
  EXPECT_EQ(TlLogInfo("S", "%zu|%lld|%hhu|%p|%s|%5.1f|%%", size, negative, small,
                      static_cast<void*>(&object), "end", 2.25),
            kTlResultSuccess);
  char expected[256];
  snprintf(expected, sizeof(expected), "%zu|%lld|%hhu|%p|%s|%5.1f|%%", size, negative, small,
           static_cast<void*>(&object), "end", 2.25);
  const auto lines = SplitKeepingEnds(LinesAfterBanner(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(65), std::string(expected) + "\r\n");
}

TEST_F(TlLogTest, LongMessagesAreCutAt8191CharactersAndKeepTheirLineEnd) {
  const std::string path = PathOf("long.log");
  TlSetLogFile(path.c_str());
  Start();
  TlSetLogTypesForScreen(kTlLogTypeMaskAll);
  const std::string exact(8191, 'e');
  const std::string longer(10000, 'x');
  CaptureStdout();
  EXPECT_EQ(TlLogInfo("S", "%s", exact.c_str()), kTlResultSuccess);
  EXPECT_EQ(TlLogInfo("S", "%s", longer.c_str()), kTlResultSuccess);
  EXPECT_EQ(TlLogInfo("S", "next"), kTlResultSuccess);
  const std::string screen = GetCapturedStdout();

  for (const std::string& out : {screen, LinesAfterBanner(path)}) {
    const auto lines = SplitKeepingEnds(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(65), exact + "\r\n");
    EXPECT_EQ(lines[1].substr(65), std::string(8191, 'x') + "\r\n");
    EXPECT_EQ(lines[2].substr(65), "next\r\n");
  }
}

TEST_F(TlLogTest, LogFileNameIsCutAt127Characters) {
  std::string path = PathOf("");
  path += std::string(200 - path.size(), 'n');
  const std::string cut = path.substr(0, 127);
  TlSetLogFile(path.c_str());
  Start();
  TlLogInfo("S", "where");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(CountOf(LinesAfterBanner(cut), "where\r\n"), 1u);
}

TEST_F(TlLogTest, EmptyLogFileNameStopsFileLogging) {
  const std::string path = PathOf("stop.log");
  TlSetLogFile(path.c_str());
  Start();
  EXPECT_EQ(TlSetLogFile(""), kTlResultSuccess);
  TlLogInfo("S", "unwritten");
  EXPECT_EQ(ReadFile(path), tl_test::kBanner);
  EXPECT_EQ(TlSetLogFile(nullptr), kTlResultGeneralErrorInvalidParameter);
}

TEST_F(TlLogTest, StartAndStopStates) {
  EXPECT_EQ(TlIsInitialized(), kTlResultGeneralErrorNotInitialized);
  // Never started: the AT channel reports it, and so does the transport.
  EXPECT_EQ(TlTerminate(), kTlResultGeneralErrorNotInitialized);

  const std::string path = PathOf("states.log");
  TlSetLogFile(path.c_str());
  Start();
  // A second start while running changes nothing: no second banner, still one stop needed.
  EXPECT_EQ(TlInitialize(), kTlResultSuccess);
  EXPECT_EQ(TlIsInitialized(), kTlResultSuccess);
  EXPECT_EQ(CountOf(ReadFile(path), tl_test::kBanner), 1u);
  EXPECT_EQ(TlTerminate(), kTlResultSuccess);
  EXPECT_EQ(TlIsInitialized(), kTlResultGeneralErrorNotInitialized);

  // Stopped: the file is closed, the screen still works.
  CaptureStdout();
  EXPECT_EQ(TlLogInfo("S", "after stop"), kTlResultSuccess);
  EXPECT_EQ(LogRaw("S", kTlLogTypeApplication, "screen after stop"), kTlResultSuccess);
  EXPECT_EQ(CountOf(GetCapturedStdout(), "screen after stop\r\n"), 1u);
  EXPECT_EQ(CountOf(ReadFile(path), "after stop"), 0u);
}

TEST_F(TlLogTest, ErrorCodesAndBadArguments) {
  const std::string path = PathOf("codes.log");
  TlSetLogFile(path.c_str());
  Start();
  EXPECT_EQ(TlLogErrorCode("TL:Device", kTlResultDeviceErrorCouldNotWriteToDevice),
            kTlResultSuccess);
  EXPECT_EQ(TlLogErrorCode("TL:TC", static_cast<TlResult>(908)), kTlResultSuccess);
  EXPECT_EQ(TlLogInfo(nullptr, "no sender"), kTlResultSuccess);
  va_list none{};
  EXPECT_EQ(TlLogRaw("S", kTlLogTypeInfo, nullptr, none), kTlResultGeneralErrorInvalidParameter);

  const auto lines = SplitKeepingEnds(LinesAfterBanner(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(35),
            "TL:Device           ERROR     204 - Could not write to device.\r\n");
  EXPECT_EQ(
      lines[1].substr(35),
      "TL:TC               ERROR     908 - \"Unknown error code, no description found\".\r\n");
  EXPECT_EQ(lines[2].substr(35), std::string(20, ' ') + "INFO      no sender\r\n");
}

}  // namespace
