// The program's fixed texts: usage texts, result texts and verdict lines against golden files,
// exit statuses, and which customization words the general usage lists.

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "testing/golden.h"
#include "updater/src/commands.h"
#include "updater/src/help.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/updater_support.h"

namespace {

using updater_test::GoldenPath;
using updater_test::Record;

std::string HelpOutput(const char* command, KvoDevicePlatformType platform) {
  platform_type = platform;
  updater_test::ConsoleCapture console;
  Help(command);
  platform_type = kKvoDevicePlatformTypeInvalid;
  return console.Text();
}

// Every word with a text of its own and two without (the lookup is exact); the transmitter words
// differ between the platforms.
const char kWords[] =
    "conf imsi imei iccid ledon ledoff rssi gps sendatcmd list-operator set-operator "
    "list-subdomain set-subdomain list-customization set-customization list-simlocks set-simlock "
    "verify-simlock list-networklist set-networklist fwupdate fwupdate-path sendassignment "
    "setcontinuoustx setstatictx setswitchedtx shutdowntx devinfo gethplmn set-receivemode "
    "get-receivemode nosuch IMEI fwupd";
const char* const kTransmitterWords[] = {"setcontinuoustx", "setstatictx", "setswitchedtx"};

TEST(HelpTextTest, EveryUsageTextIsItsGoldenText) {
  quarn_quiet = false;
  strcpy(quarn_filename, "prog");
  std::string all = Record("general", HelpOutput(nullptr, kKvoDevicePlatformTypeInvalid));
  for (const std::string& word : tarvik_test::SplitLines(kWords, " ")) {
    all += Record(word, HelpOutput(word.c_str(), kKvoDevicePlatformTypeInvalid));
  }
  for (KvoDevicePlatformType platform :
       {kKvoDevicePlatformTypeBrem, kKvoDevicePlatformTypeCalt, kKvoDevicePlatformTypeDovin}) {
    for (const char* word : kTransmitterWords) {
      all += Record(std::string(word) + " platform " + std::to_string(platform),
                    HelpOutput(word, platform));
    }
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(GoldenPath("help.txt"), all));

  quarn_quiet = true;
  EXPECT_EQ("", HelpOutput(nullptr, kKvoDevicePlatformTypeInvalid));
  EXPECT_EQ("", HelpOutput("rssi", kKvoDevicePlatformTypeCalt));
  quarn_quiet = false;
}

// The customization words are listed only while their list can be read from the customization
// container; every other word always. The general listing holds none of them, so it stays as it is.
TEST(HelpTextTest, CustomizationWordsFollowTheCustomizationContainer) {
  strcpy(quarn_filename, "prog");
  const std::string listing = HelpOutput(nullptr, kKvoDevicePlatformTypeInvalid);
  auto listed = [] {
    std::string words;
    for (const std::string& word : tarvik_test::SplitLines(kWords, " ")) {
      if (HelpCommandAvailable(word.c_str())) words += word + " ";
    }
    return words;
  };
  std::string all = Record("listed without a library", listed());
  // A container with SIM-lock and sub-domain assignments only.
  tarvik_test::TempDir work;
  std::filesystem::copy_file(TARVIK_LIB_DIR "/customization_container_variants/locks_only.dll",
                             work.File("libcustomization_container.dll"));
  char saved[4096];
  ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
  ASSERT_EQ(0, chdir(work.path().c_str()));
  const KvoResult started = KvoInitialize();
  ASSERT_EQ(0, chdir(saved));
  ASSERT_EQ(kKvoResultSuccess, started);
  all += Record("listed with SIM locks and sub-domains", listed());
  EXPECT_TRUE(tarvik_test::MatchesGolden(GoldenPath("help_listing.txt"), all));
  EXPECT_EQ(listing, HelpOutput(nullptr, kKvoDevicePlatformTypeInvalid));
  KvoTerminate();
}

// The verdict line of every front-end code, of success and of a few library results, and the
// bare text that the log gets.
TEST(ResultTextTest, VerdictLinesAreTheirGoldenTexts) {
  std::vector<int> codes = {0, 2, 201, 302, 999};
  for (int code = 1000; code <= 1015; ++code) codes.push_back(code);
  std::string all;
  for (int code : codes) {
    char line[300];
    char text[256];
    QuarnVerdictLine(code, line, sizeof line, text, sizeof text);
    all += Record(std::to_string(code), std::string(text) + "|" + line);
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(GoldenPath("results.txt"), all));
}

TEST(ResultTextTest, TextIsCutToItsBufferWhichIsClearedFirst) {
  const struct {
    int size;
    const char* text;
  } kRows[] = {{256, "1002 - Unable to open device"}, {8, "1002 - "}, {1, ""}};
  for (const auto& row : kRows) {
    std::vector<char> buffer(static_cast<size_t>(row.size) + 8, 'x');
    ConvertResult2String(buffer.data(), row.size, kQuarnUnableToOpenDevice);
    EXPECT_STREQ(row.text, buffer.data());
    EXPECT_EQ(0, buffer[static_cast<size_t>(row.size) - 1]) << "cleared to its end";
    EXPECT_EQ('x', buffer[static_cast<size_t>(row.size)]) << "nothing past the buffer";
  }
}

TEST(ExitStatusTest, ShellSeesTheLowByteAndNeverSuccessForAFailure) {
  const int kRows[][2] = {{0, 0},   {2, 2},   {302, 46}, {1000, 232}, {1003, 235},
                          {256, 1}, {512, 1}, {768, 1},  {1024, 1},   {-256, 1}};
  for (const auto& row : kRows) EXPECT_EQ(row[1], QuarnExitStatus(row[0])) << row[0];
}

TEST(CommandListTest, ListEndsAfterTheLastWord) {
  std::vector<QuarnCommands> list(16);
  memset(list.data(), 'x', list.size() * sizeof(QuarnCommands));
  GetQuarnCommands(list.data());
  EXPECT_STREQ("sendatcmd", list[8].command_name);
  EXPECT_EQ('\0', list[9].command_name[0]);
}

}  // namespace
