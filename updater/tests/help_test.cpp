// The usage texts, compared byte for byte with the texts the operators' documentation quotes.

#include "updater/src/help.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/files.h"
#include "updater/src/commands.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/frontend_support.h"

namespace {

using frontend_test::ConsoleCapture;

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quarn_quiet = false;
    platform_type = kKvoDevicePlatformTypeInvalid;
    strcpy(quarn_filename, "quarnprog");
  }
  void TearDown() override {
    quarn_quiet = false;
    platform_type = kKvoDevicePlatformTypeInvalid;
  }

  static std::string HelpOutput(const char* command) {
    ConsoleCapture console;
    Help(command);
    return console.Text();
  }
};

TEST_F(HelpTest, GeneralUsageListsOptionsAndTheCommandWordsInTableOrder) {
  std::string expected =
      "\n\rUsage: quarnprog [options] cmd [cmd_params]\n\r\n\rOptions: [-h] [-t port] [-b baud] "
      "[-d file] [-l lvl] [-p pin] [-q] [-o file]\n\r  h,?: Displays help information\n\r  t  : "
      "Set serial port\n\r  b  : Set baud rate\n\r  d  : Set debug output file\n\r  l  : Set "
      "debug level [0..31]\n\r  p  : Set PIN\n\r  q  : Quiet mode\n\r  o  : Set log output "
      "file\r\n\r\nPossible commands:\n\r";
  for (const char* word : {"conf", "imsi", "imei", "iccid", "fwupdate", "fwupdate-path", "devinfo",
                           "gethplmn", "sendatcmd"}) {
    expected += std::string("  ") + word + "\n\r";
  }
  expected += "execute quarnprog cmd -h for help on a specific command\n\r";
  EXPECT_EQ(HelpOutput(nullptr), expected);
}

TEST_F(HelpTest, EachDispatchableWordHasItsExactText) {
  const std::vector<std::pair<const char*, const char*>> texts = {
      {"conf",
       "conf [-c imsi] [-t type] [-k]\n\r\n\rPrints out some general information from the "
       "module\n\rc: Compares imsi with SIM imsi\n\rt: Compares type with Module HW\n\rk: Only "
       "prints Module HW"},
      {"imsi",
       "imsi [-c imsi]\n\r\n\rPrints out the imsi value from the SIM\n\rc: Compares imsi "
       "with SIM imsi"},
      {"imei",
       "imei [-o file]\n\r\n\rPrints out the imei value from the module\n\ro: Prints imei "
       "value to file"},
      {"iccid", "iccid\n\r\n\rPrints out the iccid value from the SIM"},
      {"sendatcmd", "sendatcmd \"AT string\"\n\r\n\rSends AT command to the module"},
      {"fwupdate", "fwupdate filename\n\r\n\rPerforms firmware update process on the module"},
      {"fwupdate-path",
       "fwupdate-path filename\n\r\n\rList all the available update paths in the specified "
       "container."},
      {"devinfo", "devinfo\n\r\n\rPrints additional Module information"},
      {"gethplmn", "gethplmn\n\r\n\rPrints the detected USIM HPLMN number"},
  };
  for (const auto& [word, text] : texts) {
    EXPECT_EQ(HelpOutput(word), std::string("\n\rUsage: quarnprog ") + text + "\n\r") << word;
  }
}

TEST_F(HelpTest, UnknownWordHasNoHelpAndQuietModePrintsNothing) {
  EXPECT_EQ(HelpOutput("nosuch"), "\n\rUsage: quarnprog nosuch\n\r\n\rNo help available\n\r");
  // Lookup is exact: case and prefixes do not match.
  EXPECT_EQ(HelpOutput("IMEI"), "\n\rUsage: quarnprog IMEI\n\r\n\rNo help available\n\r");
  EXPECT_EQ(HelpOutput("fwupd"), "\n\rUsage: quarnprog fwupd\n\r\n\rNo help available\n\r");

  quarn_quiet = true;
  EXPECT_EQ(HelpOutput(nullptr), "");
  EXPECT_EQ(HelpOutput("imei"), "");
  EXPECT_EQ(HelpOutput("rssi"), "");
}

TEST_F(HelpTest, CustomizationAndRadioWordsHaveTheirUsageAndDescription) {
  struct Expect {
    const char* word;
    const char* start;
  };
  const Expect expectations[] = {
      {"ledon", "ledon\n\r\n\rTurn on the WWAN led"},
      {"ledoff", "ledoff\n\r\n\rTurn off the WWAN led"},
      {"rssi",
       "rssi -m mode -c start channel[:end channel] [-a] [-p path] [-s stepsize] [-n number of "
       "samples] [-t target] [-w window] [-d delta] [-g gain]\n\r\n\rMeasure the rssi values\n\r"},
      {"gps",
       "gps  -m mode [-i SVN] [-s signal strength target] [-w signal strength window] [-n SNR "
       "target] [-a SNR window]\n\r\n\r"},
      {"list-operator", "list-operator\n\r\n\rList available operators"},
      {"set-operator",
       "set-operator -s operator\n\r\n\rSets the network domain to a specific "
       "operator"},
      {"list-subdomain", "list-subdomain\n\r\n\rList available subdomains"},
      {"set-subdomain", "set-subdomain -s subdomain\n\r\n\rSets the subdomain"},
      {"list-customization", "list-customization\n\r\n\rList available module customizations"},
      {"set-customization",
       "set-customization -c customization-id\n\r\n\rSets the module customization"},
      {"list-simlocks", "list-simlocks\n\r\n\rList available SIMLocks"},
      {"set-simlock", "set-simlock -i lock-id | -d lock-description\n\r\n\rSets the SIMLock"},
      {"verify-simlock",
       "verify-simlock [-i lock-id | -d lock description]\n\r\n\rWithout parameters: Verify if "
       "the module is locked\n\rWith parameters:    Compare SIMLock activated in module with "
       "supplied lock in container"},
      {"list-networklist", "list-networklist\n\r\n\rList available Network list configurations"},
      {"set-networklist", "set-networklist -i <network list id>\n\r\n\rSets the network list"},
      {"sendassignment",
       "sendassignment [-s] -f filename\n\r\n\rs: Strips the assignment header\n\rSends "
       "Assignment file to the module"},
      {"setcontinuoustx",
       "setcontinuoustx -m mode -c channel [-o modulation] [-p powerPosition]\n\r\n\rTurn "
       "Continuous TX on\n\r"},
      {"shutdowntx", "shutdowntx\n\r\n\rTurn Continuous TX off"},
      {"set-receivemode", "set-receivemode\n\r\n\rSet the antenna configuration\n\r"},
      {"get-receivemode",
       "get-receivemode\n\r\n\rGet the antenna configuration\n\rReturns the receive mode.\n\r"},
  };
  for (const Expect& expect : expectations) {
    const std::string text = HelpOutput(expect.word);
    const std::string head = std::string("\n\rUsage: quarnprog ") + expect.start;
    EXPECT_EQ(text.substr(0, head.size()), head) << expect.word;
    EXPECT_EQ(text.substr(text.size() - 2), "\n\r") << expect.word;
  }
}

// Lines of the value lists: three blanks, the value, the colon in column 29.
TEST_F(HelpTest, ValueListsAlignTheirColonsInColumn29) {
  const char* const kWords[] = {"rssi",           "gps",           "setcontinuoustx",
                                "setstatictx",    "setswitchedtx", "set-receivemode",
                                "get-receivemode"};
  const KvoDevicePlatformType kPlatforms[] = {
      kKvoDevicePlatformTypeInvalid, kKvoDevicePlatformTypeBrem, kKvoDevicePlatformTypeCalt,
      kKvoDevicePlatformTypeDovin};
  for (const char* word : kWords) {
    for (KvoDevicePlatformType platform : kPlatforms) {
      const char* text = HelpText(word, platform);
      ASSERT_NE(text, nullptr) << word;
      size_t value_lines = 0;
      for (const std::string& line : tarvik_test::SplitLines(text, "\n\r")) {
        if (line.rfind("   ", 0) == 0 && line.size() > 3 && line[3] != ' ' &&
            line.find(':') != std::string::npos) {
          ++value_lines;
          EXPECT_EQ(line.find(':'), 28u) << word << ": \"" << line << "\"";
          EXPECT_EQ(line.substr(28, 2), ": ") << word;
        }
      }
      EXPECT_GE(value_lines, 2u) << word;
    }
  }
  // The mode lists name every band, GSM and WCDMA alike.
  const std::string rssi = HelpText("rssi", kKvoDevicePlatformTypeInvalid);
  EXPECT_NE(rssi.find("   0                        : GSM  900 MHz\n\r"), std::string::npos);
  EXPECT_NE(rssi.find("   12                       : Operating band IX (1800 MHz)\n\r"),
            std::string::npos);
  EXPECT_NE(rssi.find("RX 10562...10838"), std::string::npos);
  EXPECT_NE(rssi.find("0...124, 975...1023"), std::string::npos);
  const std::string tx = HelpText("setcontinuoustx", kKvoDevicePlatformTypeInvalid);
  EXPECT_NE(tx.find("TX 9612...9888"), std::string::npos);
  // Continuous TX is a WCDMA test: modes 4 to 12 only.
  EXPECT_EQ(tx.find("GSM  900 MHz"), std::string::npos);
}

TEST_F(HelpTest, TransmitterTextsFollowThePlatformOfTheOpenDevice) {
  for (KvoDevicePlatformType platform :
       {kKvoDevicePlatformTypeInvalid, kKvoDevicePlatformTypeBrem}) {
    platform_type = platform;
    const std::string statictx = HelpOutput("setstatictx");
    EXPECT_NE(statictx.find("setstatictx -m mode -c channel\n\r\n\rTurn Static TX on\n\r"),
              std::string::npos);
    EXPECT_EQ(statictx.find("EDGE"), std::string::npos);
    const std::string switched = HelpOutput("setswitchedtx");
    EXPECT_NE(switched.find("setswitchedtx -m mode -c channel\n\r\n\rTurn Switched TX on\n\r"),
              std::string::npos);
    const std::string continuous = HelpOutput("setcontinuoustx");
    EXPECT_NE(continuous.find(": Sinus modulation"), std::string::npos);
    EXPECT_EQ(continuous.find("dBm"), std::string::npos);
  }
  for (KvoDevicePlatformType platform : {kKvoDevicePlatformTypeCalt, kKvoDevicePlatformTypeDovin}) {
    platform_type = platform;
    const std::string statictx = HelpOutput("setstatictx");
    EXPECT_NE(
        statictx.find("setstatictx -m mode -c channel [-o modulation].\n\r\n\rTurn Static TX on"),
        std::string::npos);
    EXPECT_NE(statictx.find(": EDGE"), std::string::npos);
    const std::string switched = HelpOutput("setswitchedtx");
    EXPECT_NE(switched.find("setswitchedtx -m mode -c channel [-o modulation] [-t swtx "
                            "mode]\n\r\n\rTurn switched tx on\n\r"),
              std::string::npos);
    const std::string continuous = HelpOutput("setcontinuoustx");
    EXPECT_NE(continuous.find(": Square wave modulation"), std::string::npos);
    EXPECT_NE(continuous.find("0..23 dBm (default 23)"), std::string::npos);
  }
}

TEST_F(HelpTest, CustomizationWordsNeedTheirListWhileOtherWordsAreAlwaysShown) {
  // Without a started library (and so without a customization container) no list can be read.
  for (const char* word :
       {"list-operator", "set-operator", "list-simlocks", "set-simlock", "verify-simlock",
        "list-customization", "set-customization", "list-subdomain", "set-subdomain",
        "set-receivemode", "get-receivemode"}) {
    EXPECT_FALSE(HelpCommandAvailable(word)) << word;
  }
  for (const char* word : {"conf", "imei", "fwupdate", "rssi", "list-networklist"}) {
    EXPECT_TRUE(HelpCommandAvailable(word)) << word;
  }
}

TEST_F(HelpTest, CustomizationWordsFollowWhatTheContainerHolds) {
  // A container with SIM-lock and sub-domain assignments only.
  tarvik_test::TempDir work;
  std::filesystem::copy_file(TARVIK_LIB_DIR "/customization_container_variants/locks_only.dll",
                             work.File("libcustomization_container.dll"));
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  const KvoResult started = KvoInitialize();
  ASSERT_EQ(chdir(saved), 0);
  ASSERT_EQ(started, kKvoResultSuccess);

  for (const char* word :
       {"list-simlocks", "set-simlock", "verify-simlock", "list-subdomain", "set-subdomain"}) {
    EXPECT_TRUE(HelpCommandAvailable(word)) << word;
  }
  for (const char* word : {"list-operator", "set-operator", "list-customization",
                           "set-customization", "set-receivemode", "get-receivemode"}) {
    EXPECT_FALSE(HelpCommandAvailable(word)) << word;
  }
  // The command table holds none of them, so the listing is unchanged.
  const std::string listing = HelpOutput(nullptr);
  EXPECT_EQ(listing.find("simlock"), std::string::npos);
  EXPECT_NE(listing.find("  sendatcmd\n\r"), std::string::npos);
  KvoTerminate();
}

}  // namespace
