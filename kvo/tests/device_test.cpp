// Device sessions against the simulated module: identification, reset and reopen, the report
// cache, the AT/ITP mode of the port, LED, radio, CID type and raw AT access.

#include "kvo/src/device/device.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "kvo/tests/device_sim_fixture.h"

namespace {

using kvo_test::LibraryTest;
using kvo_test::Sent;
using tarvik_sim::Profile;

Profile ProductNumber(Profile profile, const char* number) {
  profile.Set("Product Number", number);
  return profile;
}
Profile InItpMode(Profile profile, const char* vers_name = "Calt") {
  profile.itp_mode = true;
  profile.platform_name = vers_name;
  return profile;
}

struct IdentifyRow {
  const char* name;
  Profile profile;
  KvoResult open;
  KvoResult type_result;
  KvoDevicePlatformType type;
  const char* asked;      // sent during identification
  const char* not_asked;  // never sent
};

const IdentifyRow kIdentifyRows[] = {
    {"Brem", tarvik_sim::BremProfile(), kKvoResultSuccess, kKvoResultSuccess,
     kKvoDevicePlatformTypeBrem, "AT*EEVINFO=99", "VERS"},
    {"Calt", tarvik_sim::CaltProfile(), kKvoResultSuccess, kKvoResultSuccess,
     kKvoDevicePlatformTypeCalt, "AT*EMRDY?", "VERS"},
    {"Dovin", tarvik_sim::DovinProfile(), kKvoResultSuccess, kKvoResultSuccess,
     kKvoDevicePlatformTypeDovin, "AT*EEVINFO=99", "VERS"},
    // The platform rows are tried in order: the Brem text wins over a later Dovin text.
    {"FirstRowWins", ProductNumber(tarvik_sim::DovinProfile(), "ZRB 207 41/ZRB 207 44"),
     kKvoResultSuccess, kKvoResultSuccess, kKvoDevicePlatformTypeBrem, "AT", "VERS"},
    {"Unknown", tarvik_sim::UnknownProfile(), kKvoResultGeneralErrorUnknownDeviceType,
     kKvoResultDeviceErrorInvalidHandle, kKvoDevicePlatformTypeInvalid, "AT*EEVINFO=99", "VERS"},
    {"ItpBrem", InItpMode(tarvik_sim::BremProfile(), "Brem"), kKvoResultSuccess, kKvoResultSuccess,
     kKvoDevicePlatformTypeBrem, "VERS", "AT*EEVINFO=99"},
    // Opens, but no platform: every later call refuses the handle.
    {"ItpNoPlatform", InItpMode(tarvik_sim::CaltProfile(), "Quorn"), kKvoResultSuccess,
     kKvoResultDeviceErrorInvalidHandle, kKvoDevicePlatformTypeInvalid, "VERS", "AT*EEVINFO=99"},
};

TEST_F(LibraryTest, IdentificationOfEveryKindOfModule) {
  for (const IdentifyRow& row : kIdentifyRows) {
    SCOPED_TRACE(row.name);
    StartModule(row.profile);
    KvoDeviceHandle handle = 77;
    ASSERT_EQ(row.open, Open(&handle));
    if (row.open != kKvoResultSuccess) {
      EXPECT_EQ(77u, handle) << "a failed open hands out no handle";
      handle = 0;
    }
    KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
    EXPECT_EQ(row.type_result, KvoDeviceGetType(handle, &type));
    EXPECT_EQ(row.type, type);
    EXPECT_GE(Sent(module_, row.asked), 1);
    EXPECT_EQ(0, Sent(module_, row.not_asked));
    KvoDeviceClose(handle);
    EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetType(handle, &type));
    module_.Stop();
  }
  // The failed open above left the row free: this module takes handle 0 again.
  KvoDeviceHandle handle = 77;
  StartModule(tarvik_sim::CaltProfile());
  ASSERT_EQ(kKvoResultSuccess, Open(&handle));
  EXPECT_EQ(0u, handle);
}

TEST_F(LibraryTest, ReadinessIsAskedBeforeTheReport) {
  StartAndOpen(tarvik_sim::CaltProfile());
  const std::vector<std::string> commands = module_.Commands();
  const auto ready = std::find(commands.begin(), commands.end(), "AT*EMRDY?");
  EXPECT_LT(ready, std::find(commands.begin(), commands.end(), "AT*EEVINFO=99"));
}

TEST_F(LibraryTest, ModuleInItpModeDoesNotInheritTheReportOfTheHandlesLastModule) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  module_.Stop();
  ASSERT_EQ(handle, StartAndOpen(InItpMode(tarvik_sim::BremProfile(), "Brem")));
  KvoProductNumber product_number = "x";
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation,
            KvoDeviceGetProductNumber(handle, &product_number));
  EXPECT_STREQ("", product_number);
}

TEST_F(LibraryTest, PortListAndAPortThatCannotBeOpened) {
  StartModule(tarvik_sim::CaltProfile());
  KvoDeviceName* list = nullptr;
  size_t length = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetList(&list, &length));
  ASSERT_EQ(1u, length);
  EXPECT_STREQ(module_.AtPortPath().c_str(), list[0]);
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceReleaseList(list));
  KvoDeviceHandle handle = 77;
  EXPECT_EQ(kKvoResultDeviceErrorDeviceNotOpen, Open(map_.dir() + "/no-such-port", &handle));
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
  EXPECT_EQ(1, Sent(module_, "AT*E2OTR?"));

  tarvik_sim::Faults faults;
  faults.error_commands = {"AT*E2RESET"};
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultDeviceErrorFailedToReset, KvoDeviceReset(handle));
  EXPECT_EQ(1, module_.RestartCount());
}

// Two modules trade their names across a restart: the one reset comes back under the other's
// port and identity and the other under its. A reopen that finds the other module (another IMEI)
// goes on looking and ends as a reopen that found nothing.
TEST_F(LibraryTest, ReopenNeverContinuesWithAnotherModule) {
  const auto names = [](const std::string& link, const char* port) {
    tarvik_sim::ModuleOptions options;
    options.at_link_name = link + "-mdm";
    options.second_link_name = link + "-diag";  // no port candidate
    options.port_name = port;
    return options;
  };
  Profile profile = tarvik_sim::CaltProfile();
  profile.restart_away_ms = 1500;
  profile.Set("IMEI Data", "111111111111111");
  ASSERT_TRUE(map_.Start(&module_, profile, names("a", "ttyACM0")));
  tarvik_sim::Module other;
  profile.restart_away_ms = 50;
  profile.Set("IMEI Data", "222222222222222");
  ASSERT_TRUE(map_.Start(&other, profile, names("b", "ttyACM1")));
  KvoDeviceHandle handle = 99;
  ASSERT_EQ(kKvoResultSuccess, Open(map_.dir() + "/ttyACM0", &handle));
  module_.Rename("b-mdm", "ttyACM1");
  other.Rename("a-mdm", "ttyACM0");
  module_.Restart();
  other.Restart();
  ASSERT_TRUE(other.WaitPresent(5000));
  EXPECT_EQ(kKvoResultGeneralErrorOperationTimedOut, KvoDeviceReopen(handle, 3));
  KvoImei imei = "";
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetImei(handle, &imei)) << imei;
}

TEST_F(LibraryTest, ReopenAfterARestart) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  module_.Restart();
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceReopen(handle, 30));
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoDevicePlatformTypeBrem, type);
}

TEST_F(LibraryTest, ReportIsReadAgainOnlyOnARefresh) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  Profile live = module_.CurrentProfile();
  live.Set("Config. Set Revision", "R5E/1");
  module_.SetProfile(live);
  module_.SetUpgradeState(2);
  KvoRevision revision;
  DeviceUpgradeState state = 99;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetConfigurationSetRevision(handle, &revision));
  EXPECT_STREQ("R3C01", revision);
  ASSERT_EQ(kKvoResultSuccess, DeviceGetCachedUpgradeState(handle, &state));
  EXPECT_EQ(1u, state);
  ASSERT_EQ(kKvoResultSuccess, DeviceGetUpgradeState(handle, &state));
  EXPECT_EQ(2u, state) << "asked live";

  // The refresh clears the report's table before the pool that holds its keys.
  static unsigned entries_at_clear;
  entries_at_clear = 99;
  apr_pool_cleanup_register(
      DeviceGetRecord(handle)->value_pool, DeviceGetRecord(handle)->value_map,
      [](void* map) -> apr_status_t {
        entries_at_clear = apr_hash_count(static_cast<apr_hash_t*>(map));
        return APR_SUCCESS;
      },
      apr_pool_cleanup_null);
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceForceCacheRefresh(handle));
  EXPECT_EQ(0u, entries_at_clear);
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetConfigurationSetRevision(handle, &revision));
  EXPECT_STREQ("R5E/1", revision);
  ASSERT_EQ(kKvoResultSuccess, DeviceGetCachedUpgradeState(handle, &state));
  EXPECT_EQ(2u, state);

  tarvik_sim::Faults faults;
  faults.error_commands = {"AT*EEUSTATE?", "AT*EEVINFO=99"};
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultGeneralErrorAtError, DeviceGetUpgradeState(handle, &state));
  // A refused refresh keeps the report it had, and the handle its module.
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoDeviceForceCacheRefresh(handle));
  module_.SetFaults(tarvik_sim::Faults());
  KvoDevicePlatformType type;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceForceCacheRefresh(handle));
}

struct ItpLeaveRow {
  Profile profile;
  const char* leave_command;
  KvoProductNumber product_number;
};

// A module leaves ITP mode by restarting ("KILD" for Calt, "KILL" otherwise), and is identified
// again, before any AT command.
TEST_F(LibraryTest, LeavingItpModeRestartsAndIdentifiesTheModule) {
  const ItpLeaveRow rows[] = {
      {InItpMode(tarvik_sim::CaltProfile()), "KILD", "ZRB 207 43/1"},
      {InItpMode(tarvik_sim::DovinProfile(), "Dovin"), "KILL", "ZRB 207 44/1"}};
  for (const ItpLeaveRow& row : rows) {
    KvoDeviceHandle handle = StartAndOpen(row.profile);
    ASSERT_EQ(kDeviceItpModeOn, DeviceGetRecord(handle)->itp_mode);
    module_.ClearTranscript();
    KvoAtResult at = {kKvoAtResultNotKnown, nullptr};
    ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, "AT+CGMM", 5, &at));
    EXPECT_NE(nullptr, strstr(at.data, row.profile.Get("Model").c_str()));
    KvoAtReleaseAtResult(&at);
    const std::vector<std::string> commands = module_.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(row.leave_command, commands.front());
    EXPECT_EQ("AT+CGMM", commands.back());
    EXPECT_EQ(1, Sent(module_, "ATE0"));
    EXPECT_EQ(1, module_.RestartCount());
    EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
    KvoProductNumber product_number;
    ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetProductNumber(handle, &product_number));
    EXPECT_STREQ(row.product_number, product_number);
    KvoDeviceClose(handle);
    module_.Stop();
  }
}

TEST_F(LibraryTest, RequestingTheCurrentModeSendsNothing) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  module_.ClearTranscript();
  EXPECT_EQ(kKvoResultSuccess, DeviceSetItpMode(handle, kDeviceItpModeOff));
  EXPECT_EQ(kKvoResultDeviceErrorSettingItpMode,
            DeviceSetItpMode(handle, static_cast<DeviceItpMode>(5)));
  EXPECT_TRUE(module_.Commands().empty());
}

// The switch into ITP mode needs an ITP assignment of the customization container: without one,
// nothing reaches the module (the switch itself is in custom_assignment_test).
TEST_F(LibraryTest, EnteringItpModeDependsOnTheContainer) {
  const struct {
    std::string container;
    KvoResult result;
  } rows[] = {{"", kKvoResultCustomErrorContainerNotLoaded},
              {kvo_test::ContainerVariant("locks_only"), kKvoResultCustomErrorNoFilesFoundForType}};
  for (const auto& row : rows) {
    // A container stays mapped once loaded: each row starts in a directory of its own.
    KvoTerminate();
    tarvik_test::TempDir dir(tarvik_test::TempDir::kEnter);
    ASSERT_TRUE(row.container.empty() || kvo_test::PlaceContainer(dir, row.container));
    ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
    KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
    module_.ClearTranscript();
    EXPECT_EQ(row.result, DeviceSetItpMode(handle, kDeviceItpModeOn)) << row.container;
    // The LED of a Brem module needs ITP mode: the same refusal.
    EXPECT_EQ(row.result, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOn)) << row.container;
    EXPECT_TRUE(module_.Commands().empty());
    EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
    module_.Stop();
  }
}

TEST_F(LibraryTest, LedOnAndOffOfEveryPlatform) {
  const struct {
    Profile profile;
    std::vector<std::string> commands;
  } rows[] = {
      {tarvik_sim::CaltProfile(), {"AT*EEMLED=1", "AT*EEMLED=0"}},
      {tarvik_sim::DovinProfile(), {"AT*EEMLED=1", "AT*EEMLED=0"}},
      // Brem only in ITP mode, where it stays.
      {InItpMode(tarvik_sim::BremProfile(), "Brem"),
       {"ledc=1,2,2000,100", "ledc=1,3,21", "ledc=1,1", "ledc=1,0"}},
  };
  for (const auto& row : rows) {
    KvoDeviceHandle handle = StartAndOpen(row.profile);
    module_.ClearTranscript();
    ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOn));
    EXPECT_TRUE(module_.CurrentProfile().led_on);
    ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOff));
    EXPECT_FALSE(module_.CurrentProfile().led_on);
    EXPECT_EQ(row.commands, module_.Commands());
    EXPECT_EQ(0, module_.RestartCount());
    KvoDeviceClose(handle);
    module_.Stop();
  }
}

TEST_F(LibraryTest, RadioModeIsSetAndWaitedFor) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  ASSERT_EQ(kKvoResultSuccess, DeviceSetRadioMode(handle, kDeviceRadioModeOff));
  EXPECT_EQ(4, module_.CurrentProfile().radio_mode);
  DeviceRadioMode mode = kDeviceRadioModeOn;
  ASSERT_EQ(kKvoResultSuccess, DeviceGetRadioMode(handle, &mode));
  EXPECT_EQ(kDeviceRadioModeOff, mode);
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceSetRadioMode(handle, static_cast<DeviceRadioMode>(0)));

  // A radio that reports its old mode for a while after the command is polled until it settles.
  Profile live = module_.CurrentProfile();
  live.extra_answers = {{"AT+CFUN=1", "\r\nOK\r\n"}};
  module_.SetProfile(live);
  module_.ClearTranscript();
  std::thread settle([this] {
    if (!module_.WaitForCommand("AT+CFUN?", 5000)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Profile on = module_.CurrentProfile();
    on.radio_mode = 1;
    module_.SetProfile(on);
  });
  const KvoResult result = DeviceSetRadioMode(handle, kDeviceRadioModeOn);
  settle.join();
  EXPECT_EQ(kKvoResultSuccess, result);
  EXPECT_GE(Sent(module_, "AT+CFUN?"), 2);
}

TEST_F(LibraryTest, CidTypeOfABremModuleComesFromItsOtpAnswer) {
  const struct {
    const char* eotp;
    KvoDeviceCidType cid_type;
  } rows[] = {{"*EOTP: 177", kKvoDeviceCid177},   {"*EOTP: 189", kKvoDeviceCid189},
              {"*EOTP: 190", kKvoDeviceCid190},   {"*EOTP: 42", kKvoDeviceCid190},
              {"*EOTP: unset", kKvoDeviceCid190}, {"", kKvoDeviceCid190}};
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  for (const auto& row : rows) {
    Profile live = module_.CurrentProfile();
    live.eotp = row.eotp;
    module_.SetProfile(live);
    KvoDeviceCidType cid_type =
        row.cid_type == kKvoDeviceCid177 ? kKvoDeviceCid190 : kKvoDeviceCid177;
    ASSERT_EQ(kKvoResultSuccess,
              KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeBrem, &cid_type));
    EXPECT_EQ(row.cid_type, cid_type) << row.eotp;
  }
  // Other platforms need no exchange and leave the value alone.
  module_.ClearTranscript();
  KvoDeviceCidType cid_type = kKvoDeviceCid189;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeCalt, &cid_type));
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeDovin, &cid_type));
  EXPECT_EQ(kKvoDeviceCid189, cid_type);
  EXPECT_TRUE(module_.Commands().empty());
  tarvik_sim::Faults faults;
  faults.error_commands = {"AT*EOTP"};
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultGeneralErrorAtError,
            KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeBrem, &cid_type));
}

TEST_F(LibraryTest, AtSendSucceedsWhateverTheVerdict) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  const struct {
    const char* command;
    KvoAtResultCode code;
    const char* part;
  } rows[] = {{"AT+CGMI", kKvoAtResultOk, "Tarvik"},
              {"AT+NOSUCHTHING", kKvoAtResultError, "ERROR"}};
  for (const auto& row : rows) {
    KvoAtResult at = {kKvoAtResultNotKnown, nullptr};
    ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, row.command, 5, &at));
    EXPECT_EQ(row.code, at.result_code);
    ASSERT_NE(nullptr, at.data);
    EXPECT_NE(nullptr, strstr(at.data, row.part));
    EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&at));
    EXPECT_EQ(nullptr, at.data);
    EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&at)) << "a second release frees nothing";
  }
  // An answer later than the time-out is a transport failure, and leaves nothing to release.
  tarvik_sim::Faults faults;
  faults.answer_delay_ms = 2500;
  module_.SetFaults(faults);
  KvoAtResult at = {kKvoAtResultNotKnown, nullptr};
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoAtSend(handle, "AT+CGMI", 1, &at));
  EXPECT_EQ(nullptr, at.data);
}

}  // namespace
