// AT listeners under several threads, on the fake device: a receive thread delivering while
// listeners are registered, unregistered and cleared on another.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "testing/fake_device.h"
#include "testing/wait.h"
#include "transport/src/at/at.h"
#include "transport/tests/support/pty_support.h"

namespace {

const int kTag = 0;
std::atomic<int> delivered{0};
std::atomic<int> mismatched{0};

void Listener(TlResult, TlDeviceHandle, TlAtResult* at_result, const void* client_data) {
  ++(client_data == &kTag ? delivered : mismatched);
  TlAtReleaseAtResult(at_result);
}

using AtListenerThreadTest = tl_test::TransportTest;

TEST_F(AtListenerThreadTest, ListenersComeAndGoWhileTheReceiveThreadDelivers) {
  fake_device::Reset();
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listener, &kTag));
  // The channel's receive callback, as the device manager's receive thread calls it.
  TlDeviceCallback* receive = fake_device::ReceiveCallback();
  std::atomic<bool> stop{false};
  std::thread receiver([&] {
    while (!stop) receive(0, kTlResultSuccess, "\r\nRING\r\n", 8);
  });
  for (int round = 0; round < 200; ++round) {
    EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listener, &kTag));
    EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(0, Listener));
    EXPECT_EQ(kTlResultSuccess, round % 2 == 0 ? AtClearCallbacksForHandle(0) : kTlResultSuccess);
  }
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listener, &kTag));
  EXPECT_TRUE(tarvik_test::WaitFor([] { return delivered.load() > 0; }, 5000));
  stop = true;
  receiver.join();
  EXPECT_EQ(0, mismatched.load());
}

}  // namespace
