// Customization against the simulated module with the sample container: which assignments a
// module takes, each Set and Verify over both channels, the switch into ITP mode and the Brem LED.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device_sim_fixture.h"
#include "kvo/src/custom/custom.h"
#include "kvo/src/device/device.h"
#include "transport/src/device/device.h"

namespace {

using tarvik_sim::Profile;

class AssignmentTest : public kvo_test::LibraryTest {
 protected:
  void PrepareWorkingDirectory() override {
    ASSERT_TRUE(kvo_test::PlaceContainer(directory_, kvo_test::SampleContainer()));
  }
  bool Received(const std::string& command) {
    const std::vector<std::string> commands = module_.Commands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
  }
  void SetFault(const std::string& key, const std::string& value) {
    tarvik_sim::Faults faults = module_.GetFaults();
    std::string error;
    ASSERT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, key, value, &error)) << error;
    module_.SetFaults(faults);
  }
};

TEST(CustomRangeTest, ListEntriesAreSingleValuesOrRanges) {
  const std::string long_entry(256, '1');
  const std::string long_then_short = long_entry + ",111";
  const struct {
    uint64_t value;
    const char* list;
    const char* range_separator;
    bool in;
  } rows[] = {
      {350000000000042, "350000000000000:350000000099999,351234567890123", ":", true},
      {351234567890123, "350000000000000:350000000099999,351234567890123", ":", true},
      {351234567890124, "350000000000000:350000000099999,351234567890123", ":", false},
      // Compared at 64 bits: equal in the low 32 bits is not equal.
      {42 + (1ull << 32), "42", ":", false},
      {7, "7,12", ",", true},
      {8, "7,12", ",", false},
      {5, "5:9", ",", true},
      {7, "5:9", ",", false},
      {5, "", ":", false},
      {0, ",,", ":", false},
      {111, long_then_short.c_str(), ":", true},
      {1, long_entry.c_str(), ":", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.in, CustomCheckDataInRange(row.value, row.list, row.range_separator, ","))
        << row.value << " in " << row.list;
  }
}

const KvoResult kOk = kKvoResultSuccess;
const KvoResult kRefused = kKvoResultCustomErrorOperationNotAllowed;
const KvoResult kOtherModule = kKvoResultCustomErrorDeviceNotSupported;

TEST_F(AssignmentTest, ModuleFactsDecideWhichAssignmentsItTakes) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  const struct {
    const char* product;  // ZRB 207 <product>/1
    const char* imei;
    const char* individualization;  // CID.TPID
    const char* eotp;               // Brem only
    KvoCustomAssignmentId id;
    KvoResult result;
  } rows[] = {
      {"43", "353456789012345", "189.190", "", 1001, kOk},
      {"43", "353456789000000", "189.190", "", 1001, kOk},
      {"43", "353456789999999", "189.190", "", 1001, kOk},
      {"43", "353456788999999", "189.190", "", 1001, kRefused},
      {"43", "353456790000000", "189.190", "", 1001, kRefused},
      {"43", "353456789012345", "189.191", "", 1001, kRefused},
      // No configuration for this CID: the container's failure.
      {"43", "353456789012345", "177.190", "", 1001, kKvoResultGeneralErrorUnknown},
      // The Dovin configuration allows no SIM locks.
      {"44", "353456789012345", "189.190", "", 1001, kRefused},
      {"44", "353456789012345", "189.190", "", 6001, kOk},
      {"43", "353456789012345", "189.190", "", 2001, kOtherModule},
      {"43", "353456789012345", "189.190", "", 9999, kKvoResultCustomErrorInvalidFileId},
      // Brem: the CID type alone decides; IMEI and configuration are not looked at.
      {"41", "1", "1.1", "*EOTP: 189", 1001, kOk},
      {"41", "1", "1.1", "*EOTP: 189", 2001, kOk},
      {"41", "1", "1.1", "*EOTP: 177", 2001, kOtherModule},
      {"42", "1", "1.1", "*EOTP: 177", 2004, kOk},
      {"42", "1", "1.1", "*EOTP: 190", 2004, kOtherModule},
  };
  for (const auto& row : rows) {
    Profile profile = module_.CurrentProfile();
    profile.Set("Product Number", std::string("ZRB 207 ") + row.product + "/1");
    profile.Set("IMEI Data", row.imei);
    profile.Set("Individualization", row.individualization);
    profile.eotp = row.eotp;
    module_.SetProfile(profile);
    ASSERT_EQ(kKvoResultSuccess, KvoDeviceForceCacheRefresh(handle));
    EXPECT_EQ(row.result, KvoCustomValidateAssignment(handle, row.id))
        << row.product << " " << row.imei << " " << row.individualization << " " << row.eotp
        << " assignment " << row.id;
  }
}

// Brem modules (true) take assignments over the secure frame protocol, Calt modules over the
// transparent channel.
class SetAndVerifyTest : public AssignmentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SetAndVerifyTest, EachSetIsSeenByItsVerify) {
  const bool secure_frame = GetParam();
  const KvoDeviceHandle handle =
      StartAndOpen(secure_frame ? tarvik_sim::BremProfile() : tarvik_sim::CaltProfile());

  ASSERT_EQ(kKvoResultSuccess, KvoCustomSimlockSet(handle, 1001));
  EXPECT_EQ("2", module_.CurrentProfile().Get("Locked Network"));
  EXPECT_TRUE(Received(secure_frame ? "AT*EESFUD=3" : "AT*EETC=2"));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSimlockVerify(handle, 1001));
  EXPECT_EQ(kKvoResultCustomErrorVerifyFailed, KvoCustomSimlockVerify(handle, 1002));

  ASSERT_EQ(kKvoResultSuccess, KvoCustomOperatorDomainSet(handle, 4001));
  EXPECT_EQ(1, module_.RestartCount()) << "the assignment asks for a restart";
  EXPECT_EQ(kKvoResultSuccess, KvoCustomOperatorDomainVerify(handle, 4001));
  EXPECT_EQ(kKvoResultCustomErrorVerifyFailed, KvoCustomOperatorDomainVerify(handle, 4002));

  ASSERT_EQ(kKvoResultSuccess, KvoCustomCustomizationSet(handle, 5001));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomCustomizationVerify(handle, 5001));
  EXPECT_EQ(kKvoResultCustomErrorVerifyFailed, KvoCustomCustomizationVerify(handle, 5002));

  ASSERT_EQ(kKvoResultSuccess, KvoCustomSubDomainSet(handle, 3001));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSubDomainVerify(handle, 3001));
  EXPECT_EQ(kKvoResultCustomErrorVerifyFailed, KvoCustomSubDomainVerify(handle, 3002));

  module_.ClearTranscript();
  ASSERT_EQ(kKvoResultSuccess, KvoCustomPlatformParameterSet(handle, 6001));
  EXPECT_TRUE(Received(secure_frame ? "AT*EESFUD=3" : "AT*EETC=2"));
  EXPECT_EQ(2, module_.RestartCount());

  // Raw bytes, not from the container; the caller's buffer keeps its first two bytes.
  unsigned char raw[] = "\0\0\0\x04TRVCC 1 1\noperator_domain=TRV_RAW\n\n";
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSendAssignment(handle, raw, sizeof raw - 1));
  EXPECT_EQ("TRV_RAW", module_.CurrentProfile().operator_domain);
  EXPECT_EQ(0, raw[0] + raw[1]);
}

INSTANTIATE_TEST_SUITE_P(Channels, SetAndVerifyTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "SecureFrame" : "TransparentChannel";
                         });

TEST_F(AssignmentTest, RefusalsBeforeAndAfterSending) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  EXPECT_EQ(kKvoResultCustomErrorInvalidFileId, KvoCustomSubDomainSet(handle, 4001));
  // The automatic lock, sent: the module locks its SIM only, which is no lock that counts.
  EXPECT_EQ(kKvoResultCustomDeviceSimLockNotSet, KvoCustomSimlockSet(handle, 1003));
  // Without a SIM card it is not sent at all.
  Profile no_sim = module_.CurrentProfile();
  no_sim.extra_answers.push_back({"AT+CPIN?", "\r\n+CPIN: NOT INSERTED\r\n\r\nOK\r\n"});
  module_.SetProfile(no_sim);
  module_.ClearTranscript();
  EXPECT_EQ(kKvoResultCustomSimCardNotPresent, KvoCustomSimlockSet(handle, 1003));
  EXPECT_FALSE(Received("AT*EETC=2"));

  // A payload the module refuses: the channel is closed all the same.
  SetFault("tc_answer_result", "255");
  EXPECT_EQ(kKvoResultCustomDataTransferError, KvoCustomPlatformParameterSet(handle, 6001));
  EXPECT_FALSE(module_.InTransparentChannel());
  SetFault("clear", "1");

  // Written, but the module cannot be identified afterwards; the port still closes.
  SetFault("error_commands", "AT*EEVINFO=99");
  EXPECT_EQ(kKvoResultCustomErrorDeviceRefreshFailed, KvoCustomCustomizationSet(handle, 5002));
  EXPECT_EQ("ZNA5002/1", module_.CurrentProfile().Get("Cust. Product"));
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  EXPECT_NE(kTlResultSuccess, TlDeviceIsOpen(handle));
}

TEST_F(AssignmentTest, RefusedSecureFrameSend) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::BremProfile());
  SetFault("sf_final_result", "4");
  EXPECT_EQ(kKvoResultCustomDataTransferError, KvoCustomSimlockSet(handle, 1001));
  // The port is back with the AT channel.
  KvoTemperature temperature = 0;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetTemperature(handle, &temperature));
}

// The Brem LED needs ITP mode, which only an assignment that applies to the module switches on.
TEST_F(AssignmentTest, BremLedGoesThroughAnItpAssignmentThatApplies) {
  Profile profile = tarvik_sim::BremProfile();
  profile.Set("Product Number", "ZRB 207 42/1");
  profile.eotp = "*EOTP: 190";
  const KvoDeviceHandle handle = StartAndOpen(profile);
  EXPECT_EQ(kKvoResultDeviceErrorSettingItpMode, DeviceSetItpMode(handle, kDeviceItpModeOn));
  EXPECT_FALSE(Received("AT*EESFUD=3"));
  EXPECT_EQ(kDeviceItpModeOff, DeviceGetRecord(handle)->itp_mode);
  // This assignment does not restart the module by itself: the switch restarts it.
  profile = module_.CurrentProfile();
  profile.eotp = "*EOTP: 177";
  module_.SetProfile(profile);
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceSetLedState(handle, kKvoDeviceLedStateOn));
  EXPECT_TRUE(Received("AT*EESFUD=3"));
  EXPECT_TRUE(Received("AT*E2RESET"));
  EXPECT_TRUE(module_.CurrentProfile().itp_mode);
  EXPECT_EQ(kDeviceItpModeOn, DeviceGetRecord(handle)->itp_mode);
  EXPECT_TRUE(module_.CurrentProfile().led_on);
  EXPECT_TRUE(Received("ledc=1,1"));
}

}  // namespace
