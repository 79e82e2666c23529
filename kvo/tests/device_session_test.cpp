// Device sessions against the simulated module: reset and reopen, cache refresh, LED, radio mode,
// CID type, upgrade state and the AT/ITP mode of the port.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device_sim_fixture.h"
#include "kvo/src/device/device.h"

namespace {

using kvo_test::LibraryTest;
using tarvik_sim::Profile;

bool Sent(const std::vector<std::string>& commands, const std::string& command) {
  return std::find(commands.begin(), commands.end(), command) != commands.end();
}

TEST_F(LibraryTest, ResetReopensTheModuleUnderItsNewPort) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  const std::string old_port = module_.AtPortPath();
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceReset(handle));
  EXPECT_EQ(1, module_.RestartCount());
  EXPECT_NE(old_port, module_.AtPortPath());

  // Identified again, and later exchanges reach the module on its new port.
  module_.ClearTranscript();
  KvoTemperature temperature = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetTemperature(handle, &temperature));
  EXPECT_TRUE(Sent(module_.Commands(), "AT*E2OTR?"));
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoDevicePlatformTypeCalt, type);
}

TEST_F(LibraryTest, ResetRefusedByTheModule) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  tarvik_sim::Faults faults;
  faults.error_commands = {"AT*E2RESET"};
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultDeviceErrorFailedToReset, KvoDeviceReset(handle));
  EXPECT_EQ(0, module_.RestartCount());
}

TEST_F(LibraryTest, ReopenAfterARestartAndAModuleThatNeverReturns) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  module_.Restart();
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceReopen(handle, 30));
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoDevicePlatformTypeBrem, type);

  module_.Unplug(false);
  EXPECT_EQ(kKvoResultGeneralErrorOperationTimedOut, KvoDeviceReopen(handle, 2));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetType(handle, &type));
}

TEST_F(LibraryTest, CacheRefreshReadsTheReportAgain) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  Profile live = module_.CurrentProfile();
  live.Set("Config. Set Revision", "R5E/1");
  module_.SetProfile(live);

  KvoRevision revision;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetConfigurationSetRevision(handle, &revision));
  EXPECT_STREQ("R3C01", revision) << "the getter reads the stored report";
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceForceCacheRefresh(handle));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetConfigurationSetRevision(handle, &revision));
  EXPECT_STREQ("R5E/1", revision);
}

TEST_F(LibraryTest, UpgradeStateLiveAndCached) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  module_.SetUpgradeState(2);
  DeviceUpgradeState state = 99;
  ASSERT_EQ(kKvoResultSuccess, DeviceGetUpgradeState(handle, &state));
  EXPECT_EQ(2u, state);
  ASSERT_EQ(kKvoResultSuccess, DeviceGetCachedUpgradeState(handle, &state));
  EXPECT_EQ(1u, state) << "the state of the last identification";
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceForceCacheRefresh(handle));
  ASSERT_EQ(kKvoResultSuccess, DeviceGetCachedUpgradeState(handle, &state));
  EXPECT_EQ(2u, state);

  tarvik_sim::Faults faults;
  faults.error_commands = {"AT*EEUSTATE?"};
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultGeneralErrorAtError, DeviceGetUpgradeState(handle, &state));
}

class LedTest : public LibraryTest, public ::testing::WithParamInterface<kvo_test::NamedProfile> {};

TEST_P(LedTest, CaltAndDovinSwitchTheLedWithAnAtCommand) {
  KvoDeviceHandle handle = StartAndOpen(GetParam().make());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOn));
  EXPECT_TRUE(module_.CurrentProfile().led_on);
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOff));
  EXPECT_FALSE(module_.CurrentProfile().led_on);
  std::vector<std::string> commands = module_.Commands();
  EXPECT_TRUE(Sent(commands, "AT*EEMLED=1"));
  EXPECT_TRUE(Sent(commands, "AT*EEMLED=0"));

  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoDeviceSetLedState(handle, static_cast<KvoDeviceLedState>(7)));
}

INSTANTIATE_TEST_SUITE_P(Platforms, LedTest,
                         ::testing::Values(kvo_test::NamedProfile{"Calt", tarvik_sim::CaltProfile,
                                                                  kKvoDevicePlatformTypeCalt},
                                           kvo_test::NamedProfile{"Dovin", tarvik_sim::DovinProfile,
                                                                  kKvoDevicePlatformTypeDovin}),
                         kvo_test::ProfileName);

TEST_F(LibraryTest, BremSwitchesTheLedWithItpCommands) {
  Profile profile = tarvik_sim::BremProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOn));
  EXPECT_TRUE(module_.CurrentProfile().led_on);
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOff));
  EXPECT_FALSE(module_.CurrentProfile().led_on);

  std::vector<std::string> commands = module_.Commands();
  auto blink = std::find(commands.begin(), commands.end(), "ledc=1,2,2000,100");
  ASSERT_NE(commands.end(), blink);
  ASSERT_LT(blink + 2, commands.end());
  EXPECT_EQ("ledc=1,3,21", *(blink + 1));
  EXPECT_EQ("ledc=1,1", *(blink + 2));
  EXPECT_TRUE(Sent(commands, "ledc=1,0"));
  // The port stays in ITP mode.
  EXPECT_EQ(kDeviceItpModeOn, DeviceGetRecord(handle)->itp_mode);
  EXPECT_EQ(0, module_.RestartCount());
}

TEST_F(LibraryTest, BremInAtModeCannotReachItpModeWithoutAContainer) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  module_.ClearTranscript();
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded,
            KvoDeviceSetLedState(handle, kKvoDeviceLedStateOn));
  EXPECT_TRUE(module_.Commands().empty());
  EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
}

TEST_F(LibraryTest, RadioModeIsSetAndReadBack) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  ASSERT_EQ(kKvoResultSuccess, DeviceSetRadioMode(handle, kDeviceRadioModeOff));
  EXPECT_EQ(4, module_.CurrentProfile().radio_mode);
  DeviceRadioMode mode = kDeviceRadioModeOn;
  ASSERT_EQ(kKvoResultSuccess, DeviceGetRadioMode(handle, &mode));
  EXPECT_EQ(kDeviceRadioModeOff, mode);
  ASSERT_EQ(kKvoResultSuccess, DeviceSetRadioMode(handle, kDeviceRadioModeOn));
  EXPECT_EQ(1, module_.CurrentProfile().radio_mode);
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceSetRadioMode(handle, static_cast<DeviceRadioMode>(0)));
}

TEST_F(LibraryTest, RadioModeThatSettlesLateIsWaitedFor) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  // The radio reports its old mode for a while after the command.
  tarvik_sim::Faults slow;
  slow.answer_delay_ms = 300;
  module_.SetFaults(slow);
  std::thread settle([this] {
    if (!module_.WaitForCommand("AT+CFUN=4", 10000)) return;
    Profile live = module_.CurrentProfile();
    live.radio_mode = 1;
    module_.SetProfile(live);
    module_.SetFaults(tarvik_sim::Faults());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    live = module_.CurrentProfile();
    live.radio_mode = 4;
    module_.SetProfile(live);
  });
  KvoResult result = DeviceSetRadioMode(handle, kDeviceRadioModeOff);
  settle.join();
  EXPECT_EQ(kKvoResultSuccess, result);
  std::vector<std::string> commands = module_.Commands();
  EXPECT_GE(std::count(commands.begin(), commands.end(), "AT+CFUN?"), 2);
}

TEST_F(LibraryTest, RadioModeThatNeverSettlesGivesUpAfterTwentyPolls) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  tarvik_sim::Faults faults;
  faults.error_commands = {"AT+CFUN?"};
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation,
            DeviceSetRadioMode(handle, kDeviceRadioModeOff));
  std::vector<std::string> commands = module_.Commands();
  EXPECT_EQ(20, std::count(commands.begin(), commands.end(), "AT+CFUN?"));
}

struct CidCase {
  const char* eotp;
  KvoDeviceCidType cid_type;
};

TEST_F(LibraryTest, CidTypeOfABremModuleComesFromItsOtpAnswer) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  const CidCase cases[] = {
      {"*EOTP: 177", kKvoDeviceCid177},   {"*EOTP: 189", kKvoDeviceCid189},
      {"*EOTP: 190", kKvoDeviceCid190},   {"*EOTP: 42", kKvoDeviceCid190},
      {"*EOTP: unset", kKvoDeviceCid190}, {"", kKvoDeviceCid190},
  };
  for (const CidCase& test : cases) {
    Profile live = module_.CurrentProfile();
    live.eotp = test.eotp;
    module_.SetProfile(live);
    KvoDeviceCidType cid_type = kKvoDeviceCid177;
    if (test.cid_type == kKvoDeviceCid177) cid_type = kKvoDeviceCid190;
    ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeBrem, &cid_type))
        << test.eotp;
    EXPECT_EQ(test.cid_type, cid_type) << test.eotp;
  }
  tarvik_sim::Faults faults;
  faults.error_commands = {"AT*EOTP"};
  module_.SetFaults(faults);
  KvoDeviceCidType cid_type;
  EXPECT_EQ(kKvoResultGeneralErrorAtError,
            KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeBrem, &cid_type));
}

TEST_F(LibraryTest, CidTypeOfOtherPlatformsNeedsNoExchange) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  module_.ClearTranscript();
  KvoDeviceCidType cid_type = kKvoDeviceCid189;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeCalt, &cid_type));
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeDovin, &cid_type));
  EXPECT_EQ(kKvoDeviceCid189, cid_type);
  EXPECT_TRUE(module_.Commands().empty());
}

TEST_F(LibraryTest, RequestingTheCurrentModeSendsNothing) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  module_.ClearTranscript();
  EXPECT_EQ(kKvoResultSuccess, DeviceSetItpMode(handle, kDeviceItpModeOff));
  EXPECT_TRUE(module_.Commands().empty());
  EXPECT_EQ(kKvoResultDeviceErrorSettingItpMode,
            DeviceSetItpMode(handle, static_cast<DeviceItpMode>(5)));
  EXPECT_TRUE(module_.Commands().empty());
}

TEST_F(LibraryTest, LeavingItpModeRestartsAndIdentifiesTheModule) {
  Profile profile = tarvik_sim::DovinProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  ASSERT_EQ(kDeviceItpModeOn, DeviceGetRecord(handle)->itp_mode);
  module_.ClearTranscript();
  ASSERT_EQ(kKvoResultSuccess, DeviceSetItpMode(handle, kDeviceItpModeOff));
  std::vector<std::string> commands = module_.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ("KILL", commands.front());
  EXPECT_TRUE(Sent(commands, "ATE0"));
  EXPECT_TRUE(Sent(commands, "AT*EEVINFO=99"));
  EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
  KvoProductNumber product_number;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetProductNumber(handle, &product_number));
  EXPECT_STREQ("ZRB 207 44/1", product_number);
}

TEST_F(LibraryTest, ModuleThatDoesNotComeBackFromItpModeFailsTheSwitch) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  tarvik_sim::Faults faults;
  faults.stay_away = true;
  module_.SetFaults(faults);
  // Reopening by handle makes 300 attempts about a second apart (shortened by the wait seam).
  EXPECT_EQ(kKvoResultDeviceErrorSettingItpMode, DeviceSetItpMode(handle, kDeviceItpModeOff));
}

// The switch into ITP mode lists the container's ITP assignments first.
class ItpSwitchTest : public LibraryTest {
 protected:
  void PrepareWorkingDirectory() override {
    if (!container_.empty()) {
      ASSERT_TRUE(kvo_test::PlaceContainer(directory_, container_));
    }
  }
  std::string container_;
};

class ItpSwitchWithoutItpAssignmentsTest : public ItpSwitchTest {
 protected:
  void SetUp() override {
    container_ = kvo_test::ContainerVariant("locks_only");
    ItpSwitchTest::SetUp();
  }
};

TEST_F(ItpSwitchTest, WithoutContainerNothingIsSent) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  module_.ClearTranscript();
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, DeviceSetItpMode(handle, kDeviceItpModeOn));
  EXPECT_TRUE(module_.Commands().empty());
  EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
}

TEST_F(ItpSwitchWithoutItpAssignmentsTest, NoItpAssignmentNothingIsSent) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  module_.ClearTranscript();
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType, DeviceSetItpMode(handle, kDeviceItpModeOn));
  EXPECT_TRUE(module_.Commands().empty());
  EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
}

}  // namespace
