// dralmoor as the operator runs it, against tarvik-sim: the whole update, its refusals and the
// modules found half-way through an update.

#include <gtest/gtest.h>

#include <string>

#include "testing/files.h"
#include "testing/process.h"
#include "updater/tests/fwupdate_support.h"

namespace fwupdate_test {
namespace {

constexpr char kOk[] = "\n\rOK\n\r";

TEST_F(FwUpdateTest, WholeUpdateWaitsForTheEnterKeyAndShowsEveryStep) {
  StartModule({});
  const tarvik_test::ProcessResult run = Run({}, "\n\n");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(0, run.exit_status) << run.out;
  const std::string& out = run.out;
  const std::string steps[] = {
      "Welcome to the Tarvik Module Updater (ZNT 402 1188/01 R5E08)\r\n",
      "\r\nAn update is available for your Tarvik device:\r\n\r\n",
      "Current Configuration: ZNT4028813/1 R3C01\r\n",
      "Target Configuration : ZNT4028813/1 R5E/1\r\n\r\n\r\n",
      "Press the enter key to start the update...\r\n\r\n",
      "Starting the update.\r\n\r\n",
      "The update files are being downloaded to your device.\r\n",
      "Progress (100%)...",
      "\r\nThe device has received update packages. Please wait...\r\n",
      "The update has finished and was successfully completed.\r\n",
      kOk,
      "\r\n\nPress the enter key to close this window.\r\n",
  };
  size_t at = 0;
  for (const std::string& step : steps) {
    const size_t found = out.find(step, at);
    ASSERT_NE(std::string::npos, found) << "missing in order: " << step << "\n" << out;
    at = found + step.size();
  }
  // Each progress text is taken back with as many backspaces as it has characters.
  const std::string last = "Progress (100%)...";
  EXPECT_NE(std::string::npos, out.find(last + std::string(last.size(), '\b')));
  EXPECT_NE(std::string::npos, ModuleState().find("config_set_revision = R5E/1"));
  EXPECT_FALSE(ContainerLeftBehind());
}

TEST_F(FwUpdateTest, SilentUpdatePrintsNothingAndNeedsNoKey) {
  StartModule({});
  const tarvik_test::ProcessResult run = Run({"-s"});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(0, run.exit_status);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, ModuleState().find("config_set_revision = R5E/1"));
  EXPECT_NE(std::string::npos, ModuleState().find("upgrade_state = 1"));
  EXPECT_FALSE(ContainerLeftBehind());
}

TEST_F(FwUpdateTest, PathOptionListsTheSevenPaths) {
  StartModule({});
  const tarvik_test::ProcessResult run = Run({"-path"}, "\n");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(0, run.exit_status);
  EXPECT_NE(std::string::npos,
            run.out.find("\n\rConfiguration sets:\n\r\n\rCurrent -> Target\n\r"
                         " P*  -> R5E/1\n\r R1*  -> R5E/1\n\r R2*  -> R5E/1\n\r R3*  -> R5E/1\n\r"
                         " R4*  -> R5E/1\n\r R5A/1  -> R5E/1\n\r R5C/1  -> R5E/1\n\r" +
                         std::string(kOk)))
      << run.out;
  EXPECT_EQ(7u, tarvik_test::CountOf(run.out, "-> R5E/1"));
  // The module is not touched by a listing.
  EXPECT_EQ(std::string::npos, ModuleState().find("upgrade_state = 2"));
}

struct Refusal {
  const char* name;
  std::vector<std::string> settings;
  int result;
  const char* verdict;
};

class FwUpdateRefusalTest : public FwUpdateTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(FwUpdateRefusalTest, EndsWithTheLibraryVerdictAndLeavesTheModuleAlone) {
  StartModule(GetParam().settings);
  const tarvik_test::ProcessResult run = Run({}, "\n");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(GetParam().result % 256, run.exit_status);
  EXPECT_NE(std::string::npos, run.out.find(std::string("\n\r") + GetParam().verdict + "\n\r"))
      << run.out;
  EXPECT_EQ(std::string::npos, run.out.find("Starting the update."));
  EXPECT_EQ(std::string::npos, ModuleState().find("upgrade_state = 2"));
  EXPECT_FALSE(ContainerLeftBehind());
}

INSTANTIATE_TEST_SUITE_P(
    Modules, FwUpdateRefusalTest,
    ::testing::Values(Refusal{"AlreadyOnTarget",
                              {"--set", "config_set_revision=R5E/1"},
                              302,
                              "INFO 302 - No update is needed."},
                      Refusal{
                          "Brem",
                          {"--preset", "brem"},
                          8,
                          "ERROR 8 - The requested operation is not supported for your device."},
                      Refusal{"DovinNotInTheContainer",
                              {"--preset", "dovin", "--set", "product_number=ZRB 207 48/1"},
                              303,
                              "INFO 303 - The update package is not valid for your device."}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(FwUpdateTest, ModuleLeftInStateTwoResumes) {
  StartModule({"--set", "upgrade_state=2", "--set", "config_set_revision=R5E/1", "--set",
               "target_revision=R5E/1"});
  const tarvik_test::ProcessResult run = Run({}, "\n\n");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(0, run.exit_status) << run.out;
  EXPECT_NE(std::string::npos,
            run.out.find("A previously started update of your device will be resumed.\r\n"));
  EXPECT_EQ(std::string::npos, run.out.find("Current Configuration:"));
  EXPECT_NE(std::string::npos,
            run.out.find("The update has finished and was successfully completed.\r\n"));
  EXPECT_NE(std::string::npos, ModuleState().find("upgrade_state = 1"));
}

struct FoundState {
  int state;
  const char* line;
};

class FwUpdateFoundStateTest : public FwUpdateTest,
                               public ::testing::WithParamInterface<FoundState> {};

TEST_P(FwUpdateFoundStateTest, GetsTheOneStepOfItsStateAndEndsOk) {
  StartModule(
      {"--set", "upgrade_state=" + std::to_string(GetParam().state), "--set", "install_ms=600000"});
  const tarvik_test::ProcessResult run = Run({}, "\n");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(0, run.exit_status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(GetParam().line)) << run.out;
  EXPECT_EQ(std::string::npos, run.out.find("An update is available"));
  EXPECT_NE(std::string::npos, run.out.find(kOk));
}

INSTANTIATE_TEST_SUITE_P(
    States, FwUpdateFoundStateTest,
    ::testing::Values(
        FoundState{3, "The update of the device has started and will complete within one minute."},
        FoundState{4, "\r\nPlease wait while your device is restarting.\r\n\r\n"},
        FoundState{5, "\r\nPlease wait while your device is restarting.\r\n\r\n"}),
    [](const ::testing::TestParamInfo<FoundState>& info) {
      return "State" + std::to_string(info.param.state);
    });

TEST_F(FwUpdateTest, ModuleUnpluggedInTheMiddleOfAPackageFailsThenTheNextRunFinishes) {
  StartModule({"--fault", "tc_unplug_after_payload_bytes=200000"});
  const tarvik_test::ProcessResult broken = Run({}, "\n\n");
  ASSERT_TRUE(broken.exited);
  EXPECT_EQ(208, broken.exit_status) << broken.out;
  EXPECT_NE(std::string::npos,
            broken.out.find("\n\rERROR 208 - Operation failed due to an error during file "
                            "transmission.\n\r"));
  EXPECT_NE(std::string::npos, ModuleState().find("upgrade_state = 2"));
  EXPECT_FALSE(ContainerLeftBehind());

  // Plugged in again, the module is picked up where it stood.
  ASSERT_TRUE(WaitForModule());
  const tarvik_test::ProcessResult resumed = Run({}, "\n\n");
  ASSERT_TRUE(resumed.exited);
  EXPECT_EQ(0, resumed.exit_status) << resumed.out;
  EXPECT_NE(std::string::npos,
            resumed.out.find("A previously started update of your device will be resumed."));
  EXPECT_NE(std::string::npos, ModuleState().find("config_set_revision = R5E/1"));
}

}  // namespace
}  // namespace fwupdate_test
