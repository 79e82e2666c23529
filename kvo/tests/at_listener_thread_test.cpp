// A listener registered through the library hears the module's unsolicited lines, and the loss of
// the port, on the transport's receive thread.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "kvo/src/at/at.h"
#include "kvo/tests/device_sim_fixture.h"
#include "transport/src/common/common.h"

namespace {

using kvo_test::LibraryTest;

struct Listener {
  std::mutex mutex;
  std::condition_variable arrived;
  std::string text;
  KvoResult result = kKvoResultGeneralErrorUnknown;
  KvoDeviceHandle handle = 99;

  static void Callback(KvoResult result, KvoDeviceHandle handle, KvoAtResult* at,
                       const void* client_data) {
    auto* self = static_cast<Listener*>(const_cast<void*>(client_data));
    std::lock_guard<std::mutex> lock(self->mutex);
    self->result = result;
    self->handle = handle;
    if (at != nullptr && at->data != nullptr) self->text += at->data;
    KvoAtReleaseAtResult(at);
    self->arrived.notify_all();
  }

  template <typename Predicate>
  bool WaitFor(Predicate predicate) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(10), predicate);
  }
};

TEST_F(LibraryTest, ListenerHearsLinesUntilUnregisteredAndThenThePortGoingAway) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  Listener listener;
  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, Listener::Callback, &listener));
  module_.SendUnsolicited("\r\n*EEUSTATE:1,3\r\n");
  ASSERT_TRUE(
      listener.WaitFor([&] { return listener.text.find("*EEUSTATE:1,3") != std::string::npos; }));
  EXPECT_EQ(kKvoResultSuccess, KvoAtUnregisterCallback(handle, Listener::Callback));
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, KvoAtUnregisterCallback(handle, Listener::Callback));

  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, Listener::Callback, &listener));
  module_.Unplug(false);
  const KvoResult gone = static_cast<KvoResult>(kTlResultGeneralErrorDeviceNotOpen);
  ASSERT_TRUE(listener.WaitFor([&] { return listener.result == gone; }));
  std::lock_guard<std::mutex> lock(listener.mutex);
  EXPECT_EQ(handle, listener.handle);
}

}  // namespace
