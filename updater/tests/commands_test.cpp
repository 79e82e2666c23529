// The command interface driven with argument vectors against simulated modules: options, device
// search, dispatch, the handlers' console output and results, and the test report.

#include "updater/src/commands.h"

#include <apr_getopt.h>
#include <apr_pools.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "kvo.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"
#include "testing/module_map.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/frontend_support.h"

namespace {

using frontend_test::ConsoleCapture;
using tarvik_test::FileExists;
using tarvik_test::ModuleMap;
using tarvik_test::ReadFile;
using tarvik_test::TempDir;
using tarvik_test::WriteFile;

const char kBanner[] = "Welcome to the Tarvik Module Updater (ZNT 402 1188/01 R5E08)\r\n";
const char kGeneralUsageStart[] = "\n\rUsage: prog [options] cmd [cmd_params]\n\r";
// No handle the library hands out.
const KvoDeviceHandle kNoHandle = 1000;

struct Outcome {
  int result = -1;
  std::string console;
};

// A Calt module with the values the tests expect set explicitly.
tarvik_sim::Profile TestProfile() {
  tarvik_sim::Profile profile = tarvik_sim::CaltProfile();
  profile.Set("Model", "Tarvik Module T3");
  profile.Set("IMEI Data", "353456789012345");
  profile.Set("Product Number", "ZRB 207 43/1");
  profile.Set("FW Version", "R3C01");
  profile.Set("Network Customization", "TRV_GENERIC;3");
  profile.sim = tarvik_sim::SimState::kReady;
  profile.imsi = "240991234567890";
  profile.iccid = "89460123456789012345";
  return profile;
}

int TableIndex(const std::string& word) {
  for (int i = 0; functions[i].command_name != nullptr; ++i) {
    if (word == functions[i].command_name) return i;
  }
  return -1;
}

class CommandInterfaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("TARVIK_WAIT_DIVISOR", "50", 1); }

  void SetUp() override {
    setenv("TARVIK_DEVICE_MAP", map_.dir().c_str(), 1);
    if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
    ASSERT_EQ(KvoInitialize(), kKvoResultSuccess);
    log_path_ = files_.File("log.txt");
  }

  void TearDown() override {
    KvoTerminate();
    // The logger keeps its file name and masks across a restart of the library.
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
    quarn_quiet = false;
    platform_type = kKvoDevicePlatformTypeInvalid;
  }

  tarvik_sim::Module* AddModule(const tarvik_sim::Profile& profile,
                                const std::string& link = "usb-Tarvik_Module_0001-if00-mdm") {
    return map_.Add(profile, link);
  }

  // Runs the command interface over "prog" followed by `words`. A device left open by a
  // successful command is closed again so that the next run starts afresh.
  Outcome Run(const std::vector<std::string>& words) {
    std::vector<std::string> all = {"prog"};
    all.insert(all.end(), words.begin(), words.end());
    std::vector<const char*> argv;
    for (const std::string& word : all) argv.push_back(word.c_str());
    argv.push_back(nullptr);

    quarn_quiet = false;
    platform_type = kKvoDevicePlatformTypeInvalid;
    strcpy(model, "Unknown");
    memset(&device_open_parameters, 0, sizeof(device_open_parameters));
    handle = kNoHandle;

    apr_getopt_t* options = nullptr;
    apr_getopt_init(&options, quarn_pool, static_cast<int>(all.size()), argv.data());
    Outcome outcome;
    {
      ConsoleCapture console;
      outcome.result = CommandInterface(options);
      outcome.console = console.Text();
    }
    if (handle != kNoHandle) KvoDeviceClose(handle);
    return outcome;
  }

  // Runs a command on the module with the log going to log_path_.
  Outcome RunLogged(const std::vector<std::string>& words) {
    std::vector<std::string> all = {"-d", log_path_};
    all.insert(all.end(), words.begin(), words.end());
    return Run(all);
  }

  std::string Log() const { return ReadFile(log_path_); }

  TempDir files_;
  ModuleMap map_;
  std::string log_path_;
};

// --- options and dispatch ---------------------------------------------------------------------

TEST_F(CommandInterfaceTest, HelpOptionsPrintTheGeneralUsageWithoutTouchingTheDevice) {
  tarvik_sim::Module* module = AddModule(TestProfile());
  ASSERT_NE(module, nullptr);
  for (const char* option : {"-h", "-?"}) {
    const Outcome outcome = Run({option, "devinfo"});
    EXPECT_EQ(outcome.result, 0) << option;
    // The banner comes after the options, so help stands alone.
    EXPECT_EQ(outcome.console.rfind(kGeneralUsageStart, 0), 0u) << outcome.console;
    EXPECT_EQ(outcome.console.find("Welcome"), std::string::npos);
  }
  EXPECT_TRUE(module->Commands().empty());
}

TEST_F(CommandInterfaceTest, MissingOrUnknownCommandWordEndsInHelpBeforeTheDeviceIsOpened) {
  tarvik_sim::Module* module = AddModule(TestProfile());
  ASSERT_NE(module, nullptr);

  Outcome outcome = Run({});
  EXPECT_EQ(outcome.result, kQuarnParameterError);
  EXPECT_EQ(outcome.console.rfind(std::string(kBanner) + kGeneralUsageStart, 0), 0u);

  outcome = Run({"-b", "9600"});
  EXPECT_EQ(outcome.result, kQuarnParameterError);

  outcome = Run({"nosuch"});
  EXPECT_EQ(outcome.result, kKvoResultGeneralErrorInvalidParameter);
  EXPECT_EQ(outcome.console.rfind(std::string(kBanner) + kGeneralUsageStart, 0), 0u);

  // Exact, case-sensitive lookup.
  EXPECT_EQ(Run({"DEVINFO"}).result, kKvoResultGeneralErrorInvalidParameter);

  // An unknown option ends parsing; the word at the counted place is then the option itself.
  EXPECT_EQ(Run({"-x", "devinfo"}).result, kKvoResultGeneralErrorInvalidParameter);
  // A value option without its value: the option itself is then taken as the command word.
  EXPECT_EQ(Run({"-t"}).result, kKvoResultGeneralErrorInvalidParameter);

  EXPECT_TRUE(module->Commands().empty());
}

TEST_F(CommandInterfaceTest, OptionValuesMustStandAsSeparateWords) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  // "-b115200" counts as two words, so the command word is looked for one place too far.
  EXPECT_EQ(Run({"-b115200", "devinfo"}).result, kQuarnParameterError);
  EXPECT_EQ(Run({"-b115200", "devinfo", "imei"}).result, kQuarnResultSuccess);
  EXPECT_EQ(Run({"-b115200", "devinfo", "nosuch"}).result, kKvoResultGeneralErrorInvalidParameter);
  EXPECT_EQ(Run({"-b", "115200", "devinfo"}).result, kQuarnResultSuccess);
}

TEST_F(CommandInterfaceTest, QuietOptionSilencesBannerHelpAndHandlers) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{"-q", "devinfo"},
                                             {"-q", "imei"},
                                             {"-q", "conf", "-c", "1"},
                                             {"-q", "nosuch"},
                                             {"-q"},
                                             {"-q", "sendatcmd", "AT+CGMR"}}) {
    const Outcome outcome = Run(words);
    EXPECT_EQ(outcome.console, "") << words.back();
  }
  EXPECT_EQ(Run({"-q", "conf", "-c", "1"}).result, kQuarnCompareError);
  EXPECT_EQ(Run({"-q", "nosuch"}).result, kKvoResultGeneralErrorInvalidParameter);
  EXPECT_EQ(Run({"-q"}).result, kQuarnParameterError);
}

TEST_F(CommandInterfaceTest, PortOptionOpensTheNamedDeviceAndPrefixesComPorts) {
  tarvik_sim::Module* module = AddModule(TestProfile());
  ASSERT_NE(module, nullptr);

  Outcome outcome = RunLogged({"-t", "COM3", "imei"});
  EXPECT_EQ(outcome.result, kQuarnUnableToOpenDevice);
  EXPECT_STREQ(device_open_parameters.device_name, "\\\\.\\COM3");
  EXPECT_NE(Log().find("Serial device specified (\\\\.\\COM3)"), std::string::npos);

  // "COM" is looked for anywhere in the value, case-sensitively.
  Run({"-t", "/dev/ttyCOM7", "imei"});
  EXPECT_STREQ(device_open_parameters.device_name, "\\\\.\\/dev/ttyCOM7");
  Run({"-t", "/dev/com7", "imei"});
  EXPECT_STREQ(device_open_parameters.device_name, "/dev/com7");

  const std::string port = module->AtPortPath();
  outcome = Run({"-t", port, "imei"});
  EXPECT_EQ(outcome.result, kQuarnResultSuccess);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set imei=353456789012345");
  EXPECT_EQ(std::string(device_open_parameters.device_name), port);
  EXPECT_EQ(device_open_parameters.baud, 115200u);
}

TEST_F(CommandInterfaceTest, LogOptionsChooseFileAndTypes) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  EXPECT_EQ(RunLogged({"devinfo"}).result, 0);
  const std::string calling =
      "Calling function: " + std::to_string(TableIndex("devinfo")) + ",devinfo\n\r";
  EXPECT_NE(Log().find(calling), std::string::npos) << Log();
  EXPECT_NE(Log().find("Quarn"), std::string::npos);

  // With no type for the file, nothing more of the front end reaches it.
  const std::string quiet_log = files_.File("quiet.txt");
  EXPECT_EQ(Run({"-d", quiet_log, "-l", "0", "devinfo"}).result, 0);
  EXPECT_EQ(ReadFile(quiet_log).find("Calling function"), std::string::npos);
}

// --- device search ----------------------------------------------------------------------------

TEST_F(CommandInterfaceTest, EmptyDeviceMapGivesUnableToFindDevice) {
  const Outcome outcome = RunLogged({"imei"});
  EXPECT_EQ(outcome.result, kQuarnUnableToFindDevice);
  EXPECT_EQ(outcome.console, kBanner);
  EXPECT_NE(Log().find("Serial device not specified, Searching..."), std::string::npos);
  EXPECT_NE(Log().find("No devices found."), std::string::npos);
}

TEST_F(CommandInterfaceTest, ListedDeviceThatDoesNotOpenGivesUnableToOpenDevice) {
  map_.AddDeadLink("usb-Broken_0001-if00-mdm");
  const Outcome outcome = RunLogged({"imei"});
  EXPECT_EQ(outcome.result, kQuarnUnableToOpenDevice);
  EXPECT_NE(Log().find("Unable to open device: "), std::string::npos);
  EXPECT_NE(Log().find("Unable to open any devices found."), std::string::npos);
}

TEST_F(CommandInterfaceTest, SearchTriesListedDevicesInOrderAndUsesTheFirstThatOpens) {
  map_.AddDeadLink("usb-A_0001-if00-mdm");
  tarvik_sim::Profile second = TestProfile();
  second.Set("IMEI Data", "490154203237518");
  tarvik_sim::Module* module = AddModule(second, "usb-B_0001-if00-mdm");
  ASSERT_NE(module, nullptr);
  map_.AddDeadLink("usb-C_0001-if00-mdm");

  const Outcome outcome = RunLogged({"imei"});
  EXPECT_EQ(outcome.result, kQuarnResultSuccess);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set imei=490154203237518");

  const std::string log = Log();
  const size_t open0 = log.find("Opening device: " + map_.dir() + "/no-such-port (0)\n\r");
  const size_t fail0 = log.find("Unable to open device: " + map_.dir() + "/no-such-port (0)\n\r");
  const size_t open1 = log.find("Opening device: " + module->AtPortPath() + " (1)\n\r");
  ASSERT_NE(open0, std::string::npos) << log;
  ASSERT_NE(fail0, std::string::npos) << log;
  ASSERT_NE(open1, std::string::npos) << log;
  EXPECT_LT(open0, fail0);
  EXPECT_LT(fail0, open1);
  EXPECT_EQ(log.find("(2)\n\r"), std::string::npos);
  EXPECT_EQ(log.find("Unable to open device: " + module->AtPortPath()), std::string::npos);
}

// --- devinfo ----------------------------------------------------------------------------------

std::string DevInfoLine(const char* label, const std::string& value) {
  std::string line = label;
  line.resize(24, ' ');
  return line + ": " + value + "\n\r";
}

std::string CommonHead(const tarvik_sim::Profile& p) {
  return DevInfoLine("Model", p.Get("Model")) + DevInfoLine("IMEI Data", p.Get("IMEI Data")) +
         DevInfoLine("SVN", p.Get("SVN")) + DevInfoLine("Serial Number", p.Get("Serial Number")) +
         DevInfoLine("Product Number", p.Get("Product Number")) +
         DevInfoLine("Revision", p.Get("Revision")) +
         DevInfoLine("FW Product", p.Get("FW Product")) +
         DevInfoLine("FW Version", p.Get("FW Version")) +
         DevInfoLine("FW Build Date/Time", p.Get("FW Build Date/Time")) +
         DevInfoLine("Cust. Product", p.Get("Cust. Product")) +
         DevInfoLine("Cust. Version", p.Get("Cust. Version"));
}

std::string CommonTail(const tarvik_sim::Profile& p) {
  return DevInfoLine("Network List Product", p.Get("Network List Product")) +
         DevInfoLine("Network List Version", p.Get("Network List Revision"));
}

TEST_F(CommandInterfaceTest, DevInfoReportFollowsThePlatform) {
  const tarvik_sim::Profile brem = tarvik_sim::BremProfile();
  tarvik_sim::Module* module = AddModule(brem);
  ASSERT_NE(module, nullptr);
  Outcome outcome = Run({"devinfo"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console,
            kBanner + CommonHead(brem) +
                DevInfoLine("Network Cust. Product", brem.Get("Network Cust. Product")) +
                DevInfoLine("Network Cust. Version", brem.Get("Network Cust. Version")) +
                CommonTail(brem));

  for (tarvik_sim::Profile profile : {tarvik_sim::CaltProfile(), tarvik_sim::DovinProfile()}) {
    profile.Set("Network Customization", "TRV_GENERIC;3");
    module->SetProfile(profile);
    outcome = Run({"devinfo"});
    EXPECT_EQ(outcome.result, 0);
    // The network setting comes from the network customization value "name;setting".
    EXPECT_EQ(outcome.console,
              kBanner + CommonHead(profile) +
                  DevInfoLine("Conf. Set Product", profile.Get("Config. Set Product")) +
                  DevInfoLine("Conf. Set Version", profile.Get("Config. Set Revision")) +
                  DevInfoLine("Current Network Setting", "3") + CommonTail(profile));
  }
}

TEST_F(CommandInterfaceTest, DevInfoOnAnUnknownPlatformShowsNeitherPlatformGroup) {
  const tarvik_sim::Profile calt = TestProfile();
  tarvik_sim::Module* module = AddModule(calt);
  ASSERT_NE(module, nullptr);
  KvoDeviceOpenParameters parameters =
      tarvik_test::OpenParameters<KvoDeviceOpenParameters>(module->AtPortPath());
  KvoDeviceHandle opened = kNoHandle;
  ASSERT_EQ(KvoDeviceOpen(&parameters, &opened), kKvoResultSuccess);

  const char* words[] = {"devinfo"};
  CommandParameters command = {1, opened, words};
  platform_type = kKvoDevicePlatformTypeInvalid;
  ConsoleCapture console;
  EXPECT_EQ(QuarnCommandDevInfo(&command), 0);
  EXPECT_EQ(console.Text(), CommonHead(calt) + CommonTail(calt));
  KvoDeviceClose(opened);
}

TEST_F(CommandInterfaceTest, DevInfoWithoutAnyAnswerPrintsNothingAndStillSucceeds) {
  // A handle with no open device behind it: every getter fails.
  const char* words[] = {"devinfo"};
  CommandParameters command = {1, 7, words};
  for (KvoDevicePlatformType platform :
       {kKvoDevicePlatformTypeBrem, kKvoDevicePlatformTypeCalt, kKvoDevicePlatformTypeDovin}) {
    platform_type = platform;
    ConsoleCapture console;
    EXPECT_EQ(QuarnCommandDevInfo(&command), 0);
    EXPECT_EQ(console.Text(), "");
    // The last getter's failure is what a test report would judge.
    EXPECT_NE(result, kKvoResultSuccess);
  }
}

TEST_F(CommandInterfaceTest, HandlerHelpOptionsShowTheWordsOwnHelp) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  for (const char* word : {"devinfo", "imei", "imsi", "iccid", "gethplmn", "sendatcmd", "conf"}) {
    for (const char* option : {"-h", "-?"}) {
      const Outcome outcome = Run({word, option});
      EXPECT_EQ(outcome.result, 0) << word;
      EXPECT_EQ(outcome.console.rfind(std::string(kBanner) + "\n\rUsage: prog " + word, 0), 0u)
          << word << ": " << outcome.console;
      EXPECT_EQ(outcome.console.substr(outcome.console.size() - 2), "\n\r");
    }
  }
  // The three handlers without value options look at the first option only.
  Outcome outcome = Run({"devinfo", "-x", "-h"});
  EXPECT_EQ(outcome.console.find("Usage"), std::string::npos);
  EXPECT_NE(outcome.console.find("Model"), std::string::npos);
  // The handlers with value options read on to the help option.
  outcome = Run({"imei", "-o", files_.File("imei.txt"), "-h"});
  EXPECT_NE(outcome.console.find("Usage: prog imei [-o file]"), std::string::npos);
  EXPECT_FALSE(FileExists(files_.File("imei.txt")));
}

// --- imei -------------------------------------------------------------------------------------

TEST_F(CommandInterfaceTest, ImeiPrintsTheValueAndWritesItOverTheStartOfAFile) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  Outcome outcome = Run({"imei"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set imei=353456789012345");

  const std::string target = files_.File("imei.txt");
  WriteFile(target, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  outcome = Run({"imei", "-o", files_.File("ignored.txt"), "-o", target});
  EXPECT_EQ(outcome.result, 0);
  // Written from the start, not truncated: the longer file's tail stays.
  EXPECT_EQ(ReadFile(target), "353456789012345PQRSTUVWXYZ0123456789");
  // The last -o wins.
  EXPECT_FALSE(FileExists(files_.File("ignored.txt")));

  const std::string fresh = files_.File("fresh.txt");
  EXPECT_EQ(Run({"imei", "-o", fresh}).result, 0);
  EXPECT_EQ(ReadFile(fresh), "353456789012345");
}

TEST_F(CommandInterfaceTest, ImeiFileThatCannotBeOpenedGivesUnableToOpenFile) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  const std::string bad = files_.File("no/such/dir/imei.txt");
  const Outcome outcome = RunLogged({"imei", "-o", bad});
  EXPECT_EQ(outcome.result, kQuarnUnableToOpenFile);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set imei=353456789012345");
  EXPECT_NE(Log().find("Unable to open output log file (" + bad + ")"), std::string::npos);
}

// --- imsi, iccid and the SIM lock text ---------------------------------------------------------

TEST_F(CommandInterfaceTest, ImsiCompareTextIsAPrefix) {
  tarvik_sim::Profile profile = TestProfile();
  profile.imsi = "240081234567890";
  ASSERT_NE(AddModule(profile), nullptr);

  Outcome outcome = Run({"imsi"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "IMSI:     240081234567890");

  outcome = Run({"imsi", "-c", "24008"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "IMSI:     240081234567890");

  EXPECT_EQ(Run({"imsi", "-c", "240081234567890"}).result, 0);

  outcome = Run({"imsi", "-c", "240081234567891"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_EQ(outcome.console,
            std::string(kBanner) + "IMSI:     240081234567890  does not match: 240081234567891");

  // A longer text than the IMSI cannot match.
  EXPECT_EQ(Run({"imsi", "-c", "2400812345678901"}).result, kQuarnCompareError);
}

TEST_F(CommandInterfaceTest, WithoutSimTheLockTextStandsInForTheValue) {
  tarvik_sim::Profile profile = TestProfile();
  profile.sim = tarvik_sim::SimState::kAbsent;
  ASSERT_NE(AddModule(profile), nullptr);

  Outcome outcome = Run({"iccid"});
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set iccid=No SIM Detected");
  EXPECT_EQ(outcome.result, kKvoResultGeneralErrorAtError);

  outcome = Run({"imsi"});
  EXPECT_EQ(outcome.console, std::string(kBanner) + "IMSI:     No SIM Detected");
  EXPECT_EQ(outcome.result, kKvoResultGeneralErrorAtError);

  // An IMSI that could not be read never matches, not even an empty-looking prefix.
  outcome = Run({"imsi", "-c", "2"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "IMSI:     No SIM Detected  does not match: 2");
}

TEST_F(CommandInterfaceTest, IccidIsReadFromTheSim) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  const Outcome outcome = Run({"iccid"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set iccid=89460123456789012345");
}

TEST_F(CommandInterfaceTest, PinOptionUnlocksTheSimOrReportsTheFailure) {
  tarvik_sim::Profile profile = TestProfile();
  profile.sim = tarvik_sim::SimState::kPinLocked;
  profile.pin = "1234";
  profile.pin_tries_left = 10;
  tarvik_sim::Module* module = AddModule(profile);
  ASSERT_NE(module, nullptr);

  // Locked and no PIN: the IMSI line shows the state.
  Outcome outcome = Run({"imsi"});
  EXPECT_EQ(outcome.console, std::string(kBanner) + "IMSI:     SIM PIN Locked");
  EXPECT_NE(outcome.result, 0);

  // A wrong PIN cannot be confirmed.
  outcome = Run({"-p", "9999", "iccid"});
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set iccid=Could not confirm SIM unlock");
  EXPECT_NE(outcome.result, 0);

  // The PIN is cut to four characters, so 123456 enters 1234.
  outcome = Run({"-p", "123456", "imsi"});
  EXPECT_STREQ(pin_code, "1234");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "IMSI:     240991234567890");
  EXPECT_TRUE(module->WaitForCommand("AT+CPIN=\"1234\"", 1000));
}

TEST_F(CommandInterfaceTest, LockTextFollowsEveryPinState) {
  tarvik_sim::Module* module = AddModule(TestProfile());
  ASSERT_NE(module, nullptr);
  KvoDeviceOpenParameters parameters =
      tarvik_test::OpenParameters<KvoDeviceOpenParameters>(module->AtPortPath());
  ASSERT_EQ(KvoDeviceOpen(&parameters, &handle), kKvoResultSuccess);
  memset(pin_code, 0, sizeof(pin_code));

  const std::pair<tarvik_sim::SimState, const char*> kStates[] = {
      {tarvik_sim::SimState::kReady, "SIM Unlocked"},
      {tarvik_sim::SimState::kPinLocked, "SIM PIN Locked"},
      {tarvik_sim::SimState::kPukLocked, "SIM PUK Locked"},
      {tarvik_sim::SimState::kPhNetLocked, "PH-NET Locked"},
      {tarvik_sim::SimState::kPhNetSubLocked, "PH-NETSUB Locked"},
      {tarvik_sim::SimState::kPhSpLocked, "PH-SP Locked"},
      {tarvik_sim::SimState::kPhCorpLocked, "PH-CORP Locked"},
      {tarvik_sim::SimState::kPhSimLocked, "PH-SIM Locked"},
      {tarvik_sim::SimState::kPhEslLocked, "PH-ESL Locked"},
  };
  for (const auto& [state, text] : kStates) {
    tarvik_sim::Profile profile = module->CurrentProfile();
    profile.sim = state;
    module->SetProfile(profile);
    char lock_text[80];
    memset(lock_text, 'x', sizeof(lock_text));
    EXPECT_EQ(HandleLocks(lock_text, sizeof(lock_text)), kKvoResultSuccess) << text;
    EXPECT_STREQ(lock_text, text);
  }

  // The text is cut to the buffer.
  char small[8];
  HandleLocks(small, sizeof(small));
  EXPECT_STREQ(small, "PH-ESL ");

  tarvik_sim::Profile profile = module->CurrentProfile();
  profile.sim = tarvik_sim::SimState::kAbsent;
  module->SetProfile(profile);
  char lock_text[80];
  EXPECT_NE(HandleLocks(lock_text, sizeof(lock_text)), kKvoResultSuccess);
  EXPECT_STREQ(lock_text, "No SIM Detected");
  KvoDeviceClose(handle);
}

// --- gethplmn and sendatcmd -------------------------------------------------------------------

TEST_F(CommandInterfaceTest, GetHplmnPrintsTheNetworkSetting) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  const Outcome outcome = Run({"gethplmn"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "HPlmn = 3\n\r");
}

TEST_F(CommandInterfaceTest, SendAtCmdTakesExactlyOneCommandText) {
  tarvik_sim::Module* module = AddModule(TestProfile());
  ASSERT_NE(module, nullptr);

  Outcome outcome = Run({"sendatcmd"});
  EXPECT_EQ(outcome.result, kQuarnParameterError);
  EXPECT_EQ(outcome.console, kBanner);
  // With an option the word count is wrong too.
  EXPECT_EQ(Run({"sendatcmd", "-t", "5", "AT+CGMR"}).result, kQuarnParameterError);
  EXPECT_EQ(Run({"sendatcmd", "AT+CGMR", "AT+CGMI"}).result, kQuarnParameterError);
  module->ClearTranscript();

  outcome = Run({"sendatcmd", "ATI"});
  EXPECT_EQ(outcome.result, 0);
  // The whole response as the transport collected it, then a line end.
  EXPECT_EQ(outcome.console.rfind(kBanner, 0), 0u);
  EXPECT_NE(outcome.console.find("Tarvik Module T3"), std::string::npos) << outcome.console;
  EXPECT_EQ(outcome.console.substr(outcome.console.size() - 2), "\n\r");
  EXPECT_TRUE(module->WaitForCommand("ATI", 1000));
}

TEST_F(CommandInterfaceTest, SendAtCmdSucceedsWhenTheModuleAnswersError) {
  tarvik_sim::Module* module = AddModule(TestProfile());
  ASSERT_NE(module, nullptr);
  tarvik_sim::Faults faults;
  faults.error_commands = {"AT+CGMR"};
  module->SetFaults(faults);
  const Outcome outcome = Run({"sendatcmd", "AT+CGMR"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_NE(outcome.console.find("ERROR"), std::string::npos) << outcome.console;
  EXPECT_EQ(outcome.console.find("R3C01"), std::string::npos);
}

// --- conf -------------------------------------------------------------------------------------

class ConfTest : public CommandInterfaceTest {
 protected:
  void SetUp() override {
    CommandInterfaceTest::SetUp();
    profile_ = TestProfile();
    profile_.imsi = "240081234567890";
    ASSERT_NE(AddModule(profile_), nullptr);
  }

  std::string Report(const std::string& imsi_note = "", const std::string& hw_note = "") {
    return std::string(kBanner) + "Model:    Tarvik Module T3\n\rFW Level: R3C01\n\rIMEI:     " +
           "353456789012345\n\rIMSI:     240081234567890" + imsi_note +
           "\n\rHW Level: ZRB 207 43/1" + hw_note;
  }

  tarvik_sim::Profile profile_;
};

TEST_F(ConfTest, ReportsTheConfiguration) {
  const Outcome outcome = Run({"conf"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, Report());
  EXPECT_STREQ(model, "Tarvik Module T3");
}

TEST_F(ConfTest, ImsiAndTypeAreComparedAsPrefixes) {
  EXPECT_EQ(Run({"conf", "-c", "24008"}).result, 0);
  Outcome outcome = Run({"conf", "-c", "24007"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_EQ(outcome.console, Report("  does not match: 24007"));

  EXPECT_EQ(Run({"conf", "-t", "ZRB 207"}).result, 0);
  EXPECT_EQ(Run({"conf", "-t", "ZRB 207 43/1"}).result, 0);
  outcome = Run({"conf", "-t", "ZRB 207 43/12"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_EQ(outcome.console, Report("", "  does not match: ZRB 207 43/12"));

  // Both comparisons are made and reported; the last -c and -t win.
  outcome = Run({"conf", "-c", "24008", "-t", "ZRB", "-c", "1", "-t", "X"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_EQ(outcome.console, Report("  does not match: 1", "  does not match: X"));
}

TEST_F(ConfTest, HardwareOnlyOptionIgnoresTheComparisons) {
  const Outcome outcome = Run({"conf", "-k", "-c", "999", "-t", "XYZ"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "ZRB 207 43/1");
}

TEST_F(ConfTest, QuietMismatchPrintsNothingAndStillFails) {
  const Outcome outcome = Run({"-q", "conf", "-c", "24007"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_EQ(outcome.console, "");
}

TEST_F(ConfTest, ExpectedTextsAreCutTo79Characters) {
  const std::string long_text = "24008" + std::string(95, '1');
  const Outcome outcome = Run({"conf", "-c", long_text, "-t", long_text});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  const std::string cut = long_text.substr(0, 79);
  EXPECT_EQ(outcome.console, Report("  does not match: " + cut, "  does not match: " + cut));
}

TEST_F(CommandInterfaceTest, ConfWithALockedSimShowsTheStateAndSucceedsWithoutCompare) {
  tarvik_sim::Profile profile = TestProfile();
  profile.sim = tarvik_sim::SimState::kPinLocked;
  ASSERT_NE(AddModule(profile), nullptr);
  Outcome outcome = Run({"conf"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_NE(outcome.console.find("\n\rIMSI:     SIM PIN Locked\n\rHW Level: ZRB 207 43/1"),
            std::string::npos)
      << outcome.console;
  outcome = Run({"conf", "-c", "24099"});
  EXPECT_EQ(outcome.result, kQuarnCompareError);
  EXPECT_NE(outcome.console.find("SIM PIN Locked  does not match: 24099"), std::string::npos);
}

// --- test report ------------------------------------------------------------------------------

// The report's lines end in "\n\r", as the console's do.
std::vector<std::string> ReportLines(const std::string& text) {
  return tarvik_test::SplitLines(text, "\n\r");
}

TEST_F(CommandInterfaceTest, TestReportIsAppendedAfterEachRun) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  const std::string report = files_.File("report.txt");
  EXPECT_EQ(Run({"-o", report, "devinfo"}).result, 0);
  std::vector<std::string> lines = ReportLines(ReadFile(report));
  ASSERT_EQ(lines.size(), 13u) << ReadFile(report);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Orvane Tarvik Module");
  EXPECT_EQ(lines[3], "Pass");
  EXPECT_EQ(lines[4], "OS: WIN ver=0400");
  EXPECT_EQ(lines[5], "KVO: P1AXX");
  EXPECT_EQ(lines[6], "Source: Orvane");
  EXPECT_EQ(lines[7], "Unit Under Test: 3G MODEM");
  EXPECT_EQ(lines[8], "Module: Tarvik Module T3");
  EXPECT_EQ(lines[9], "Revision: ZNT 402 1188/01 R5E08");
  EXPECT_EQ(lines[10], "Test Name: devinfo");
  EXPECT_EQ(lines[11], "Error #: 0");
  EXPECT_EQ(lines[12].rfind("Time Stamp: ", 0), 0u);
  EXPECT_GT(lines[12].size(), 20u);

  EXPECT_EQ(Run({"-o", report, "imei"}).result, 0);
  lines = ReportLines(ReadFile(report));
  ASSERT_EQ(lines.size(), 26u);
  EXPECT_EQ(lines[23], "Test Name: imei");
}

TEST_F(CommandInterfaceTest, TestReportJudgesTheLastLibraryResultNotTheCommandResult) {
  tarvik_sim::Profile profile = TestProfile();
  tarvik_sim::Module* module = AddModule(profile);
  ASSERT_NE(module, nullptr);

  // conf with a failed comparison: every library call succeeded, so the report passes while
  // the command fails.
  const std::string pass = files_.File("pass.txt");
  EXPECT_EQ(Run({"-o", pass, "conf", "-c", "999"}).result, kQuarnCompareError);
  std::vector<std::string> lines = ReportLines(ReadFile(pass));
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[3], "Pass");
  EXPECT_EQ(lines[11], "Error #: 0");

  // A failed library call fails the report with its code.
  profile.sim = tarvik_sim::SimState::kAbsent;
  module->SetProfile(profile);
  const std::string fail = files_.File("fail.txt");
  EXPECT_EQ(Run({"-o", fail, "iccid"}).result, kKvoResultGeneralErrorAtError);
  lines = ReportLines(ReadFile(fail));
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[3], "Fail");
  EXPECT_EQ(lines[11], "Error #: " + std::to_string(kKvoResultGeneralErrorAtError));
}

TEST_F(CommandInterfaceTest, TestReportThatCannotBeWrittenIsSkipped) {
  ASSERT_NE(AddModule(TestProfile()), nullptr);
  const Outcome outcome = Run({"-o", files_.File("no/such/dir/report.txt"), "imei"});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, std::string(kBanner) + "set imei=353456789012345");
}

}  // namespace
