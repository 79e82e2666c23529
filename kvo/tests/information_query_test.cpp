// Information getters and live queries against the simulated module.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "device_sim_fixture.h"
#include "testing/wait.h"

namespace {

using kvo_test::LibraryTest;
using kvo_test::NamedProfile;
using tarvik_sim::Profile;
using tarvik_sim::SimState;

typedef KvoResult (*TextGetter)(KvoDeviceHandle, char (*)[64]);

struct TextField {
  const char* getter_name;
  TextGetter getter;
  const char* report_field;
};

const TextField kTextFields[] = {
    {"Model", KvoDeviceGetModel, "Model"},
    {"Imei", KvoDeviceGetImei, "IMEI Data"},
    {"Svn", KvoDeviceGetSvn, "SVN"},
    {"SerialNumber", KvoDeviceGetSerialNumber, "Serial Number"},
    {"ProductRevision", KvoDeviceGetProductRevision, "Revision"},
    {"FirmwareProduct", KvoDeviceGetFirmwareProduct, "FW Product"},
    {"FirmwareRevision", KvoDeviceGetFirmwareRevision, "FW Version"},
    {"FirmwareBuildDate", KvoDeviceGetFirmwareBuildDate, "FW Build Date/Time"},
    {"CustomizationProduct", KvoDeviceGetCustomizationProduct, "Cust. Product"},
    {"CustomizationRevision", KvoDeviceGetCustomizationRevision, "Cust. Version"},
    {"NetworkListProduct", KvoDeviceGetNetworkListProduct, "Network List Product"},
    {"NetworkListRevision", KvoDeviceGetNetworkListRevision, "Network List Revision"},
    {"NetworkCustomizationProduct", KvoDeviceGetNetworkCustomizationProduct,
     "Network Cust. Product"},
    {"NetworkCustomizationRevision", KvoDeviceGetNetworkCustomizationRevision,
     "Network Cust. Version"},
    {"ConfigurationSetProduct", KvoDeviceGetConfigurationSetProduct, "Config. Set Product"},
    {"ConfigurationSetRevision", KvoDeviceGetConfigurationSetRevision, "Config. Set Revision"},
    {"SimlockProduct", KvoDeviceGetSimlockProduct, "SIMLock Product"},
    {"SimlockRevision", KvoDeviceGetSimlockRevision, "SIMLock Revision"},
    {"SimlockDescription", KvoDeviceGetSimlockDescription, "SIMLock Description"},
};

// Distinct values per field, so that a getter reading the wrong key is caught.
Profile WithDistinctValues(Profile profile) {
  int n = 0;
  for (const TextField& field : kTextFields) {
    if (std::string(field.report_field) == "Model") continue;
    profile.Set(field.report_field,
                std::string("V") + std::to_string(++n) + "-" + field.report_field);
  }
  profile.Set("Network Customization", "TRV_VODACORP;5");
  profile.Set("Current Network Setting", "1");
  profile.Set("Domain", "2.1");
  profile.Set("Individualization", "177.204");
  return profile;
}

class InformationPlatformTest : public LibraryTest,
                                public ::testing::WithParamInterface<NamedProfile> {};

TEST_P(InformationPlatformTest, EveryReportGetterReadsItsOwnField) {
  Profile profile = WithDistinctValues(GetParam().make());
  KvoDeviceHandle handle = StartAndOpen(profile);
  module_.ClearTranscript();

  for (const TextField& field : kTextFields) {
    char value[64] = "unchanged";
    EXPECT_EQ(kKvoResultSuccess, field.getter(handle, &value)) << field.getter_name;
    EXPECT_EQ(profile.Get(field.report_field), value) << field.getter_name;
  }
  KvoNetworkName network_name;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCurrentNetworkName(handle, &network_name));
  EXPECT_STREQ("TRV_VODACORP", network_name);
  KvoNetworkSetting setting = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCurrentNetworkSetting(handle, &setting));
  EXPECT_EQ(5u, setting);
  KvoDomain domain = {};
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetDomain(handle, &domain));
  EXPECT_EQ(kKvoProductDomainDevelopment, domain.product_domain);
  EXPECT_EQ(kKvoSubDomainCustomization, domain.sub_domain);
  KvoIndividualization individualization = {};
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetIndividualization(handle, &individualization));
  EXPECT_EQ(177u, individualization.cid);
  EXPECT_EQ(204u, individualization.tpid);

  // The report getters do not talk to the module.
  EXPECT_TRUE(module_.Commands().empty());
}

INSTANTIATE_TEST_SUITE_P(Platforms, InformationPlatformTest,
                         ::testing::ValuesIn(kvo_test::kPlatformProfiles), kvo_test::ProfileName);

TEST_F(LibraryTest, DomainWithoutSubDomainFillsTheProductDomainOnly) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.Set("Domain", "3");
  profile.Set("Individualization", "");
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDomain domain = {kKvoProductDomainFactory, kKvoSubDomainUser};
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation, KvoDeviceGetDomain(handle, &domain));
  EXPECT_EQ(kKvoProductDomainProduct, domain.product_domain);
  EXPECT_EQ(kKvoSubDomainUser, domain.sub_domain);
  // An empty value is a value: CID 0, and no TPID.
  KvoIndividualization individualization = {7, 7};
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation,
            KvoDeviceGetIndividualization(handle, &individualization));
  EXPECT_EQ(0u, individualization.cid);
  EXPECT_EQ(7u, individualization.tpid);
}

TEST_F(LibraryTest, GetterOnAModuleInItpModeLeavesItpModeAndReadsAFreshReport) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDeviceModel model = "";
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetModel(handle, &model));
  EXPECT_EQ(profile.Get("Model"), model);
  std::vector<std::string> commands = module_.Commands();
  // A Calt module leaves ITP mode with "KILD", restarts and is identified again.
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "KILD"));
  EXPECT_EQ(commands.end(), std::find(commands.begin(), commands.end(), "KILL"));
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "AT*EEVINFO=99"));
  EXPECT_EQ(1, module_.RestartCount());
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoDevicePlatformTypeCalt, type);
}

struct SimCase {
  SimState sim;
  KvoDevicePinCodeState state;
};

TEST_F(LibraryTest, PinStateOfEverySimState) {
  const SimCase cases[] = {
      {SimState::kReady, kKvoDevicePinCodeStateUnlocked},
      {SimState::kPinLocked, kKvoDevicePinCodeStatePinLocked},
      {SimState::kPukLocked, kKvoDevicePinCodeStatePukLocked},
      {SimState::kPhNetLocked, kKvoDevicePinCodeStatePHNETLocked},
      {SimState::kPhNetSubLocked, kKvoDevicePinCodeStatePHNETSUBLocked},
      {SimState::kPhSpLocked, kKvoDevicePinCodeStatePHSPLocked},
      {SimState::kPhCorpLocked, kKvoDevicePinCodeStatePHCORPLocked},
      {SimState::kPhSimLocked, kKvoDevicePinCodeStatePHSIMLocked},
      {SimState::kPhEslLocked, kKvoDevicePinCodeStatePHESLLocked},
  };
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  for (const SimCase& test : cases) {
    Profile live = module_.CurrentProfile();
    live.sim = test.sim;
    module_.SetProfile(live);
    KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
    EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetPinCodeState(handle, &state))
        << tarvik_sim::SimStateName(test.sim);
    EXPECT_EQ(test.state, state) << tarvik_sim::SimStateName(test.sim);
  }
  Profile live = module_.CurrentProfile();
  live.sim = SimState::kAbsent;
  module_.SetProfile(live);
  KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnlocked;
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoDeviceGetPinCodeState(handle, &state));
}

TEST_F(LibraryTest, SetPinCodeUnlocksAndReportsTheNewState) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.sim = SimState::kPinLocked;
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetPinCode(handle, "1234", &state));
  EXPECT_EQ(kKvoDevicePinCodeStateUnlocked, state);
  EXPECT_TRUE(module_.WaitForCommand("AT+CPIN=\"1234\"", 0));

  // Already unlocked: nothing is sent.
  module_.ClearTranscript();
  state = kKvoDevicePinCodeStateUnknown;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetPinCode(handle, "9999", &state));
  EXPECT_EQ(kKvoDevicePinCodeStateUnlocked, state);
  for (const std::string& command : module_.Commands()) {
    EXPECT_NE(0u, command.rfind("AT+CPIN=", 0)) << command;
  }
}

TEST_F(LibraryTest, WrongPinIsReportedAndALongPinIsCut) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.sim = SimState::kPinLocked;
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
  EXPECT_EQ(kKvoResultDeviceErrorCouldNotConfirmSimUnlock,
            KvoDeviceSetPinCode(handle, "0000", &state));
  // The command is cut to 31 characters: AT+CPIN=" takes 9, so 22 PIN characters remain.
  EXPECT_EQ(kKvoResultDeviceErrorCouldNotConfirmSimUnlock,
            KvoDeviceSetPinCode(handle, "12345678901234567890123456789", &state));
  EXPECT_TRUE(module_.WaitForCommand("AT+CPIN=\"1234567890123456789012", 0));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceSetPinCode(handle, nullptr, &state));
}

TEST_F(LibraryTest, PinAcceptedButStateUnchangedAfterTenReads) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.sim = SimState::kPinLocked;
  KvoDeviceHandle handle = StartAndOpen(profile);

  // The module answers slowly while a helper puts the SIM back into PIN-locked state right after
  // the PIN arrived, so every later read still finds it locked.
  tarvik_sim::Faults slow;
  slow.answer_delay_ms = 1000;
  module_.SetFaults(slow);
  std::thread relock([this] {
    if (module_.WaitForCommand("AT+CPIN=\"1234\"", 10000)) {
      Profile live = module_.CurrentProfile();
      live.sim = SimState::kPinLocked;
      module_.SetProfile(live);
    }
    module_.SetFaults(tarvik_sim::Faults());
  });
  KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
  KvoResult result = KvoDeviceSetPinCode(handle, "1234", &state);
  relock.join();
  EXPECT_EQ(kKvoResultDeviceErrorCouldNotConfirmSimUnlock, result);
  std::vector<std::string> commands = module_.Commands();
  // The first read, then ten reads after the PIN.
  EXPECT_EQ(11, std::count(commands.begin(), commands.end(), "AT+CPIN?"));
}

TEST_F(LibraryTest, LiveQueriesReadTheModule) {
  Profile profile = tarvik_sim::DovinProfile();
  profile.temperature = -7;
  profile.iccid = "8946012345678901234";
  profile.imsi = "240991234567890";
  profile.operator_domain = "TRV_VODACORP";
  profile.Set("Locked Network", "2");
  profile.Set("Locked Network Subset", "0");
  profile.Set("Locked Service Provider", "1");
  profile.Set("Locked Corporate", "2");
  profile.Set("Locked SIMLock", "0");
  profile.Set("Locked Extended SIMLock", "1");
  profile.Set("AutoLock activated", "Yes");
  KvoDeviceHandle handle = StartAndOpen(profile);

  KvoTemperature temperature = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetTemperature(handle, &temperature));
  EXPECT_EQ(-7, temperature);
  KvoIccid iccid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetIccid(handle, &iccid));
  EXPECT_STREQ("8946012345678901234", iccid);
  KvoImsi imsi;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetImsi(handle, &imsi));
  EXPECT_STREQ("240991234567890", imsi);
  KvoNetworkName operator_domain;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCurrentOperatorDomain(handle, &operator_domain));
  EXPECT_STREQ("TRV_VODACORP", operator_domain);

  KvoDeviceLockInformation locks = {};
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetLockInformation(handle, &locks));
  EXPECT_STREQ("2", locks.network);
  EXPECT_STREQ("0", locks.network_subset);
  EXPECT_STREQ("1", locks.service_provider);
  EXPECT_STREQ("2", locks.corporate);
  EXPECT_STREQ("0", locks.sim_lock);
  EXPECT_STREQ("1", locks.extended_sim_lock);
  EXPECT_STREQ("Yes", locks.auto_lock_activated);
  // The lock report did not replace the identification's report.
  KvoDeviceModel model;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetModel(handle, &model));
  EXPECT_EQ(profile.Get("Model"), model);
}

TEST_F(LibraryTest, ImsiIsReadAlsoWhenTheModuleEchoes) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  KvoAtResult at_result = {};
  ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, "ATE1", 5, &at_result));
  KvoAtReleaseAtResult(&at_result);
  ASSERT_TRUE(module_.EchoOn());
  KvoImsi imsi;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetImsi(handle, &imsi));
  EXPECT_STREQ("240991234567890", imsi);
}

TEST_F(LibraryTest, SimQueriesWithoutSimFail) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.sim = SimState::kAbsent;
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoIccid iccid;
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoDeviceGetIccid(handle, &iccid));
  KvoImsi imsi;
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoDeviceGetImsi(handle, &imsi));
  KvoDevicePinCodeState state;
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoDeviceSetPinCode(handle, "1234", &state));
}

TEST_F(LibraryTest, GettersRefuseNullOutputsAndClosedHandles) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetModel(handle, nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetDomain(handle, nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetTemperature(handle, nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetLockInformation(handle, nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetImsi(handle, nullptr));
  KvoImei imei;
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetImei(handle + 1, &imei));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetImei(10, &imei));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetImei(handle, &imei));
  KvoTemperature temperature;
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetTemperature(handle, &temperature));
}

TEST_F(LibraryTest, ModuleThatWentAwayInvalidatesTheHandle) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  module_.Unplug(false);
  ASSERT_TRUE(module_.WaitAway(5000));
  // The receive thread notices the lost port within a poll or two.
  KvoResult result = kKvoResultSuccess;
  tarvik_test::WaitFor(
      [&] {
        KvoDeviceModel model;
        result = KvoDeviceGetModel(handle, &model);
        return result != kKvoResultSuccess;
      },
      5000, 50);
  EXPECT_EQ(kKvoResultGeneralErrorDeviceNotOpen, result);
  KvoDeviceModel model;
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetModel(handle, &model));
}

}  // namespace
