// Raw AT access against the simulated module.

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device_sim_fixture.h"
#include "kvo/src/at/at.h"

namespace {

using kvo_test::LibraryTest;
using tarvik_sim::Profile;

TEST_F(LibraryTest, AtSendSucceedsWhateverTheVerdict) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  KvoAtResult at_result = {kKvoAtResultNotKnown, nullptr};
  ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, "AT+CGMI", 5, &at_result));
  EXPECT_EQ(kKvoAtResultOk, at_result.result_code);
  ASSERT_NE(nullptr, at_result.data);
  EXPECT_NE(nullptr, strstr(at_result.data, "Tarvik"));
  EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&at_result));
  EXPECT_EQ(nullptr, at_result.data);

  ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, "AT+NOSUCHTHING", 5, &at_result));
  EXPECT_EQ(kKvoAtResultError, at_result.result_code);
  ASSERT_NE(nullptr, at_result.data);
  EXPECT_NE(nullptr, strstr(at_result.data, "ERROR"));
  EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&at_result));
  // A second release frees nothing.
  EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&at_result));
  EXPECT_EQ(nullptr, at_result.data);
}

TEST_F(LibraryTest, AtSendTakesTheModuleOutOfItpModeFirst) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  module_.ClearTranscript();
  KvoAtResult at_result = {kKvoAtResultNotKnown, nullptr};
  ASSERT_EQ(kKvoResultSuccess, KvoAtSend(handle, "AT+CGMM", 5, &at_result));
  EXPECT_EQ(kKvoAtResultOk, at_result.result_code);
  EXPECT_NE(nullptr, strstr(at_result.data, profile.Get("Model").c_str()));
  KvoAtReleaseAtResult(&at_result);
  std::vector<std::string> commands = module_.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ("KILD", commands.front());
  EXPECT_EQ("AT+CGMM", commands.back());
}

TEST_F(LibraryTest, AtSendFailsWhenItpModeCannotBeLeft) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  tarvik_sim::Faults faults;
  faults.stay_away = true;
  module_.SetFaults(faults);
  KvoAtResult at_result = {kKvoAtResultOk, reinterpret_cast<char*>(&faults)};
  EXPECT_EQ(kKvoResultDeviceErrorSettingItpMode, KvoAtSend(handle, "AT+CGMM", 5, &at_result));
  // The record is safe to release.
  EXPECT_EQ(nullptr, at_result.data);
  EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&at_result));
}

TEST_F(LibraryTest, AtSendTransportFailureIsAnAtError) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  tarvik_sim::Faults faults;
  faults.answer_delay_ms = 2500;
  module_.SetFaults(faults);
  KvoAtResult at_result = {kKvoAtResultNotKnown, nullptr};
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoAtSend(handle, "AT+CGMI", 1, &at_result));
  EXPECT_EQ(nullptr, at_result.data);
}

TEST_F(LibraryTest, AtSendRefusesBadArguments) {
  KvoAtResult at_result = {kKvoAtResultNotKnown, nullptr};
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoAtSend(10, "AT", 5, &at_result));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoAtSend(0, "AT", 5, &at_result));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoAtSend(0, nullptr, 5, &at_result));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoAtSend(0, "AT", 5, nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoAtReleaseAtResult(nullptr));
}

}  // namespace
