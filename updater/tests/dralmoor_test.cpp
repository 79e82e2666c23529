// The program as the operator runs it: a separate process with its own command line, a device
// map, and a scripted service manager instead of the system's.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/module_map.h"
#include "testing/paths.h"
#include "testing/process.h"

namespace {

using tarvik_test::FileExists;
using tarvik_test::ModuleMap;
using tarvik_test::ProcessResult;
using tarvik_test::ReadFile;
using tarvik_test::RunProcess;
using tarvik_test::TempDir;
using tarvik_test::WriteFile;

const char kContainer[] = "libupdate_container.dll";
const char kBanner[] = "Welcome to the Tarvik Module Updater (ZNT 402 1188/01 R5E08)\r\n";
const char kEnterPrompt[] = "\r\n\nPress the enter key to close this window.\r\n";
const int kTimeoutSeconds = 120;
// An empty device map: the update command finds no module.
const char kNoDeviceVerdict[] = "\n\rERROR 1003 - Unable to find device\n\r";
const int kNoDeviceExitStatus = 1003 % 256;

class DralmoorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = files_.File("service.record");
    UseService("status 0 running\nstop-status 0 stopped\nstart-status 0 running\n");
  }

  void UseService(const std::string& script) {
    script_ = files_.File("service.script");
    WriteFile(script_, script + "record " + record_ + "\n");
  }

  ProcessResult Run(const std::vector<std::string>& words, const std::string& input = "\n") {
    std::vector<std::string> argv = {tarvik_test::kProgram};
    argv.insert(argv.end(), words.begin(), words.end());
    return RunProcess(argv,
                      {"TARVIK_DEVICE_MAP=" + map_.dir(), "TARVIK_SERVICE_SCRIPT=" + script_,
                       "TARVIK_WAIT_DIVISOR=50"},
                      work_.path(), input, kTimeoutSeconds);
  }

  // The requests the service got, in order: "stop" and "start" lines of its record.
  std::vector<std::string> ServiceRequests() const {
    std::vector<std::string> requests;
    for (const std::string& line : tarvik_test::SplitLines(ReadFile(record_), "\n")) {
      if (line == "stop" || line == "start") requests.push_back(line);
    }
    return requests;
  }
  bool ContainerOnDisk() const { return FileExists(work_.File(kContainer)); }

  TempDir files_;
  TempDir work_;
  ModuleMap map_;
  std::string script_;
  std::string record_;
};

TEST_F(DralmoorTest, UnknownWordIsRefusedAndLeavesServiceStoppedAndContainerOnDisk) {
  const ProcessResult outcome = Run({"-x"});
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.out, "\r\nIncorrect parameter(s)!\r\n");
  // The early return skips the clean-up.
  EXPECT_TRUE(ContainerOnDisk());
  EXPECT_EQ(ServiceRequests(), std::vector<std::string>{"stop"});
}

TEST_F(DralmoorTest, LogOptionWithoutFileNameIsRefused) {
  ProcessResult outcome = Run({"-d"});
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.out, "\r\nIncorrect parameter(s)!\r\n");

  outcome = Run({"-path", "-d"});
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.out, "\r\nIncorrect parameter(s)!\r\n");

  // Silent mode already read: the refusal is silent too.
  outcome = Run({"-s", "-x"});
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.out, "");
}

TEST_F(DralmoorTest, NormalRunEndsWithVerdictCleanUpAndEnterPrompt) {
  const ProcessResult outcome = Run({});
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_status, kNoDeviceExitStatus);
  EXPECT_EQ(outcome.out.rfind(kBanner, 0), 0u) << outcome.out;
  const std::string ending = std::string(kNoDeviceVerdict) + kEnterPrompt;
  ASSERT_GE(outcome.out.size(), ending.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - ending.size()), ending) << outcome.out;

  EXPECT_FALSE(ContainerOnDisk());
  EXPECT_EQ(ServiceRequests(), (std::vector<std::string>{"stop", "start"}));
}

TEST_F(DralmoorTest, SilentRunPrintsNothingWhileTheLogFileGetsItsLines) {
  const std::string log = files_.File("run.log");
  // No input at all: a silent run must not wait for the enter key.
  const ProcessResult outcome = Run({"-s", "-d", log}, "");
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.exit_status, kNoDeviceExitStatus);
  // The log file is named to the command interface, so its lines start there.
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("Serial device not specified, Searching..."), std::string::npos) << text;
  EXPECT_NE(text.find("No devices found."), std::string::npos) << text;
  // The verdict reaches the log, not the console.
  EXPECT_NE(text.find("ERROR     1003 - Unable to find device"), std::string::npos) << text;
  EXPECT_FALSE(ContainerOnDisk());
}

TEST_F(DralmoorTest, MissingServiceIsNeitherStoppedNorStarted) {
  UseService("open-error 2\n");
  const ProcessResult outcome = Run({});
  EXPECT_EQ(outcome.exit_status, kNoDeviceExitStatus);
  EXPECT_TRUE(ServiceRequests().empty());
  EXPECT_FALSE(ContainerOnDisk());
}

TEST_F(DralmoorTest, LogToStdoutShowsEveryLogTypeOnTheConsole) {
  const ProcessResult outcome = Run({"-d", "stdout"});
  EXPECT_EQ(outcome.exit_status, kNoDeviceExitStatus);
  // Every type of the front end's lines reaches the console, errors and the search alike.
  EXPECT_NE(outcome.out.find("Serial device not specified, Searching..."), std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("No devices found."), std::string::npos);
  EXPECT_NE(outcome.out.find(kNoDeviceVerdict), std::string::npos);
}

TEST_F(DralmoorTest, ExistingFileOfTheContainersNameIsReplacedAndRemoved) {
  WriteFile(work_.File(kContainer), "stale");
  const ProcessResult outcome = Run({"-s"}, "");
  EXPECT_EQ(outcome.exit_status, kNoDeviceExitStatus);
  EXPECT_FALSE(ContainerOnDisk());
}

TEST_F(DralmoorTest, ListedDeviceThatDoesNotOpenGivesUnableToOpenDevice) {
  map_.AddDeadLink("usb-Broken_0001-if00-mdm");
  const ProcessResult outcome = Run({});
  EXPECT_EQ(outcome.exit_status, 1002 % 256);
  const std::string ending =
      std::string("\n\rERROR 1002 - Unable to open device\n\r") + kEnterPrompt;
  ASSERT_GE(outcome.out.size(), ending.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - ending.size()), ending) << outcome.out;
  EXPECT_FALSE(ContainerOnDisk());
}

TEST_F(DralmoorTest, UpdateRunsOnTheFirstListedDeviceThatOpens) {
  map_.AddDeadLink("usb-A_0001-if00-mdm");
  // Already on the container's target: the update command has nothing to do.
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.Set("Config. Set Revision", "R5E/1");
  tarvik_sim::Module* second = map_.Add(profile, "usb-B_0001-if00-mdm");
  ASSERT_NE(second, nullptr);
  tarvik_sim::Module* third = map_.Add(tarvik_sim::DefaultProfile(), "usb-C_0001-if00-mdm");
  ASSERT_NE(third, nullptr);

  const std::string log = files_.File("run.log");
  const ProcessResult outcome = Run({"-d", log});
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_status, 302 % 256);
  const std::string ending = std::string("\n\rINFO 302 - No update is needed.\n\r") + kEnterPrompt;
  ASSERT_GE(outcome.out.size(), ending.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - ending.size()), ending) << outcome.out;

  const std::string text = ReadFile(log);
  const size_t open0 = text.find("Opening device: " + map_.dir() + "/no-such-port (0)\n\r");
  const size_t fail0 = text.find("Unable to open device: " + map_.dir() + "/no-such-port (0)\n\r");
  const size_t open1 = text.find("Opening device: " + second->AtPortPath() + " (1)\n\r");
  ASSERT_NE(open0, std::string::npos) << text;
  ASSERT_NE(fail0, std::string::npos) << text;
  ASSERT_NE(open1, std::string::npos) << text;
  EXPECT_LT(open0, fail0);
  EXPECT_LT(fail0, open1);
  EXPECT_EQ(text.find("(2)\n\r"), std::string::npos);
  // The command ran on the second device and never touched the third.
  EXPECT_NE(text.find("Calling function: 4,fwupdate\n\r"), std::string::npos);
  EXPECT_TRUE(second->WaitForCommand("AT*EEVINFO=99", 1000));
  EXPECT_TRUE(third->Commands().empty());
  EXPECT_FALSE(ContainerOnDisk());
}

TEST_F(DralmoorTest, CompleteUpdateWithoutArgumentsEndsInOkAndCleansUp) {
  tarvik_sim::Module* module = map_.Add(tarvik_sim::DefaultProfile(), "usb-Tarvik_0001-if00-mdm");
  ASSERT_NE(module, nullptr);
  // One enter key for the start of the update, one for the end of the run.
  const ProcessResult outcome = Run({}, "\n\n");
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.out.rfind(kBanner, 0), 0u);
  EXPECT_NE(outcome.out.find("Starting the update."), std::string::npos);
  const std::string ending = std::string("\n\rOK\n\r") + kEnterPrompt;
  ASSERT_GE(outcome.out.size(), ending.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - ending.size()), ending);
  EXPECT_EQ(module->CurrentProfile().Get("Config. Set Revision"), "R5E/1");
  EXPECT_FALSE(ContainerOnDisk());
  EXPECT_EQ(ServiceRequests(), (std::vector<std::string>{"stop", "start"}));
}

TEST_F(DralmoorTest, LibraryThatDoesNotStartEndsTheRunBeforeAnythingIsPrepared) {
  // A customization container that cannot be loaded fails the library's start.
  WriteFile(work_.File("libcustomization_container.dll"), "not a library");
  const ProcessResult outcome = Run({});
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_status, 603 % 256);
  EXPECT_EQ(outcome.out, "");
  EXPECT_FALSE(ContainerOnDisk());
  EXPECT_TRUE(ServiceRequests().empty());
}

TEST_F(DralmoorTest, PathOptionListsTheUpdatePathsOfTheCarriedContainer) {
  tarvik_sim::Module* module = map_.Add(tarvik_sim::DefaultProfile(), "usb-Tarvik_0001-if00-mdm");
  ASSERT_NE(module, nullptr);
  const std::string log = files_.File("run.log");
  const ProcessResult outcome = Run({"-path", "-d", log});
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_NE(outcome.out.find("\n\rConfiguration sets:\n\r\n\rCurrent -> Target\n\r"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("  -> "), std::string::npos);
  const std::string ending = std::string("\n\rOK\n\r") + kEnterPrompt;
  ASSERT_GE(outcome.out.size(), ending.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - ending.size()), ending);
  EXPECT_NE(ReadFile(log).find("Calling function: 5,fwupdate-path\n\r"), std::string::npos);
  // Listing the paths changes nothing on the module.
  EXPECT_EQ(module->CurrentProfile().Get("Config. Set Revision"), "R3C01");
  EXPECT_FALSE(ContainerOnDisk());
}

}  // namespace
