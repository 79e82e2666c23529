// Listeners for unsolicited lines run on the transport's receive thread.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "device_sim_fixture.h"
#include "kvo/src/at/at.h"
#include "transport/src/common/common.h"

namespace {

using kvo_test::LibraryTest;

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

TEST_F(LibraryTest, ListenerHearsThatThePortWentAway) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  Listener listener;
  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, Listener::Callback, &listener));
  module_.Unplug(false);
  std::unique_lock<std::mutex> lock(listener.mutex);
  ASSERT_TRUE(listener.arrived.wait_for(lock, std::chrono::seconds(10), [&] {
    return listener.result == static_cast<KvoResult>(kTlResultGeneralErrorDeviceNotOpen);
  }));
  EXPECT_EQ(handle, listener.handle);
}

}  // namespace
