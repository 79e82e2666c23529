// Information getters and live queries against the simulated module.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvo/tests/device_sim_fixture.h"
#include "testing/wait.h"

namespace {

using kvo_test::LibraryTest;
using kvo_test::Sent;
using tarvik_sim::Profile;
using tarvik_sim::SimState;

struct TextField {
  KvoResult (*getter)(KvoDeviceHandle, char (*)[64]);
  const char* report_field;
};

const TextField kTextFields[] = {
    {KvoDeviceGetModel, "Model"},
    {KvoDeviceGetImei, "IMEI Data"},
    {KvoDeviceGetSvn, "SVN"},
    {KvoDeviceGetSerialNumber, "Serial Number"},
    {KvoDeviceGetProductRevision, "Revision"},
    {KvoDeviceGetFirmwareProduct, "FW Product"},
    {KvoDeviceGetFirmwareRevision, "FW Version"},
    {KvoDeviceGetFirmwareBuildDate, "FW Build Date/Time"},
    {KvoDeviceGetCustomizationProduct, "Cust. Product"},
    {KvoDeviceGetCustomizationRevision, "Cust. Version"},
    {KvoDeviceGetNetworkListProduct, "Network List Product"},
    {KvoDeviceGetNetworkListRevision, "Network List Revision"},
    {KvoDeviceGetNetworkCustomizationProduct, "Network Cust. Product"},
    {KvoDeviceGetNetworkCustomizationRevision, "Network Cust. Version"},
    {KvoDeviceGetConfigurationSetProduct, "Config. Set Product"},
    {KvoDeviceGetConfigurationSetRevision, "Config. Set Revision"},
    {KvoDeviceGetSimlockProduct, "SIMLock Product"},
    {KvoDeviceGetSimlockRevision, "SIMLock Revision"},
    {KvoDeviceGetSimlockDescription, "SIMLock Description"},
};

// Each getter reads its own field (every value differs), without asking the module.
TEST_F(LibraryTest, EveryReportGetterReadsItsOwnField) {
  Profile profile = tarvik_sim::DovinProfile();
  for (const TextField& field : kTextFields) {
    if (std::string(field.report_field) != "Model") {
      profile.Set(field.report_field, std::string("V-") + field.report_field);
    }
  }
  profile.Set("Network Customization", "TRV_VODACORP;5");
  profile.Set("Domain", "2.1");
  profile.Set("Individualization", "177.204");
  KvoDeviceHandle handle = StartAndOpen(profile);
  module_.ClearTranscript();

  for (const TextField& field : kTextFields) {
    char value[64] = "unchanged";
    EXPECT_EQ(kKvoResultSuccess, field.getter(handle, &value)) << field.report_field;
    EXPECT_EQ(profile.Get(field.report_field), value) << field.report_field;
  }
  KvoNetworkName network_name;
  KvoNetworkSetting setting = 0;
  KvoDomain domain = {};
  KvoIndividualization individualization = {};
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCurrentNetworkName(handle, &network_name));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCurrentNetworkSetting(handle, &setting));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetDomain(handle, &domain));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetIndividualization(handle, &individualization));
  EXPECT_STREQ("TRV_VODACORP", network_name);
  EXPECT_EQ(5u, setting);
  EXPECT_EQ(kKvoProductDomainDevelopment, domain.product_domain);
  EXPECT_EQ(kKvoSubDomainCustomization, domain.sub_domain);
  EXPECT_EQ(177u, individualization.cid);
  EXPECT_EQ(204u, individualization.tpid);
  EXPECT_TRUE(module_.Commands().empty());
}

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

TEST_F(LibraryTest, PinCodeUnlocksOnceAndWrongOrLongPinsAreReported) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.sim = SimState::kPinLocked;
  profile.pin_tries_left = 5;
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
  EXPECT_EQ(kKvoResultDeviceErrorCouldNotConfirmSimUnlock,
            KvoDeviceSetPinCode(handle, "0000", &state));
  // The command is cut to 31 characters: AT+CPIN=" takes 9, so 22 PIN characters remain.
  EXPECT_EQ(kKvoResultDeviceErrorCouldNotConfirmSimUnlock,
            KvoDeviceSetPinCode(handle, "12345678901234567890123456789", &state));
  EXPECT_EQ(1, Sent(module_, "AT+CPIN=\"1234567890123456789012"));

  // Digits only: anything else could carry a second command, and is refused before anything is
  // sent.
  module_.ClearTranscript();
  for (const char* pin : {"1\"\r\nAT*E2RESET", "12a4", "", "12 4"}) {
    EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceSetPinCode(handle, pin, &state));
  }
  EXPECT_TRUE(module_.Commands().empty());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetPinCode(handle, "1234", &state));
  EXPECT_EQ(kKvoDevicePinCodeStateUnlocked, state);
  EXPECT_EQ(1, Sent(module_, "AT+CPIN=\"1234\""));
  // Already unlocked: nothing is sent.
  state = kKvoDevicePinCodeStateUnknown;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetPinCode(handle, "9999", &state));
  EXPECT_EQ(kKvoDevicePinCodeStateUnlocked, state);
  EXPECT_EQ(0, Sent(module_, "AT+CPIN=\"9999\""));
  // Without a SIM its state cannot be read: an AT error.
  profile.sim = SimState::kAbsent;
  module_.SetProfile(profile);
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoDeviceSetPinCode(handle, "1234", &state));
}

TEST_F(LibraryTest, LiveQueriesReadTheModule) {
  Profile profile = tarvik_sim::DovinProfile();
  profile.temperature = -7;
  profile.iccid = "8946012345678901234";
  profile.operator_domain = "TRV_VODACORP";
  const char* const locks[][2] = {
      {"Locked Network", "2"},          {"Locked Network Subset", "0"},
      {"Locked Service Provider", "1"}, {"Locked Corporate", "2"},
      {"Locked SIMLock", "0"},          {"Locked Extended SIMLock", "1"},
      {"AutoLock activated", "Yes"}};
  for (const auto& lock : locks) profile.Set(lock[0], lock[1]);
  KvoDeviceHandle handle = StartAndOpen(profile);

  KvoTemperature temperature = 0;
  KvoIccid iccid;
  KvoImsi imsi;
  KvoNetworkName operator_domain;
  KvoDeviceLockInformation lock = {};
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetTemperature(handle, &temperature));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetIccid(handle, &iccid));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetImsi(handle, &imsi));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetCurrentOperatorDomain(handle, &operator_domain));
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetLockInformation(handle, &lock));
  EXPECT_EQ(-7, temperature);
  EXPECT_STREQ("8946012345678901234", iccid);
  EXPECT_STREQ("240991234567890", imsi);
  EXPECT_STREQ("TRV_VODACORP", operator_domain);
  const std::vector<std::string> got = {
      lock.network,  lock.network_subset,    lock.service_provider,   lock.corporate,
      lock.sim_lock, lock.extended_sim_lock, lock.auto_lock_activated};
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(locks[i][1], got[i]) << locks[i][0];
  // The lock report did not replace the identification's report.
  KvoDeviceModel model;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetModel(handle, &model));
  EXPECT_EQ(profile.Get("Model"), model);

  // The IMSI is found behind an echo as well.
  KvoAtResult at = {};
  ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, "ATE1", 5, &at));
  KvoAtReleaseAtResult(&at);
  ASSERT_TRUE(module_.EchoOn());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetImsi(handle, &imsi));
  EXPECT_STREQ("240991234567890", imsi);
}

TEST_F(LibraryTest, ModuleThatWentAwayInvalidatesTheHandle) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  module_.Unplug(false);
  ASSERT_TRUE(module_.WaitAway(5000));
  // The receive thread notices the lost port within a poll or two.
  KvoResult result = kKvoResultSuccess;
  KvoDeviceModel model;
  tarvik_test::WaitFor([&] { return (result = KvoDeviceGetModel(handle, &model)) != 0; }, 5000, 50);
  EXPECT_EQ(kKvoResultGeneralErrorDeviceNotOpen, result);
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetModel(handle, &model));
}

}  // namespace
