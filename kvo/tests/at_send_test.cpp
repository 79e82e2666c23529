// Raw AT access against the simulated module.

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
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

// Collects what the registered listener receives on the receive thread.
struct Listener {
  std::mutex mutex;
  std::condition_variable arrived;
  std::string text;
  KvoResult result = kKvoResultGeneralErrorUnknown;
  KvoDeviceHandle handle = 99;
  int calls = 0;

  static void Callback(KvoResult result, KvoDeviceHandle handle, KvoAtResult* at_result,
                       const void* client_data) {
    Listener* self = static_cast<Listener*>(const_cast<void*>(client_data));
    std::lock_guard<std::mutex> lock(self->mutex);
    self->result = result;
    self->handle = handle;
    if (at_result != nullptr && at_result->data != nullptr) self->text += at_result->data;
    if (at_result != nullptr) KvoAtReleaseAtResult(at_result);
    ++self->calls;
    self->arrived.notify_all();
  }

  bool WaitFor(const std::string& part) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(10),
                            [&] { return text.find(part) != std::string::npos; });
  }
};

TEST_F(LibraryTest, RegisteredListenerReceivesUnsolicitedLines) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  Listener listener;
  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, Listener::Callback, &listener));
  module_.SendUnsolicited("\r\n*EEUSTATE:1,3\r\n");
  ASSERT_TRUE(listener.WaitFor("*EEUSTATE:1,3"));
  {
    std::lock_guard<std::mutex> lock(listener.mutex);
    EXPECT_EQ(kKvoResultSuccess, listener.result);
    EXPECT_EQ(handle, listener.handle);
  }
  EXPECT_EQ(kKvoResultSuccess, KvoAtUnregisterCallback(handle, Listener::Callback));
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoAtUnregisterCallback(handle, Listener::Callback));
}

TEST_F(LibraryTest, ListenerSlotsAreLimited) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  Listener listener;
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, Listener::Callback, &listener));
  }
  EXPECT_EQ(kKvoResultGeneralErrorAtError,
            KvoAtRegisterCallback(handle, Listener::Callback, &listener));
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(kKvoResultSuccess, KvoAtUnregisterCallback(handle, Listener::Callback));
  }
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoAtRegisterCallback(handle, nullptr, &listener));
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoAtRegisterCallback(10, Listener::Callback, nullptr));
}

}  // namespace
