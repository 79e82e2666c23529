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

// A listener in the middle of a delivery still has its client data: a clear waits for it.
TEST_F(AtListenerThreadTest, AClearWaitsForTheListenerItInterrupts) {
  static std::atomic<bool> inside{false}, release{false};
  const auto blocking = [](TlResult, TlDeviceHandle, TlAtResult* at_result, const void* client) {
    inside = true;
    tarvik_test::WaitFor([] { return release.load(); }, 5000);
    EXPECT_EQ(&kTag, client);
    TlAtReleaseAtResult(at_result);
  };
  fake_device::Reset();
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, blocking, &kTag));
  std::thread receiver([] { fake_device::ReceiveCallback()(0, kTlResultSuccess, "x", 1); });
  ASSERT_TRUE(tarvik_test::WaitFor([] { return inside.load(); }, 5000));
  std::atomic<bool> cleared{false};
  std::thread clearer([&] {
    EXPECT_EQ(kTlResultSuccess, AtClearCallbacksForHandle(0));
    cleared = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(cleared.load());
  release = true;
  receiver.join();
  clearer.join();
  EXPECT_TRUE(cleared.load());
}

}  // namespace
