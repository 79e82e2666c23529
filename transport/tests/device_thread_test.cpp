// Device manager under several threads: opens and closes in parallel, a close during heavy traffic
// or while a thread waits for the device lock, several threads finding the same dead receive
// thread, and a stop with receive threads running.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "testing/wait.h"
#include "transport/src/device/device.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tl_test::OpenDevice;
using tl_test::PtyPair;
using DeviceThreadTest = tl_test::TransportTest;

std::atomic<long> bytes_seen{0};
std::atomic<int> calls_after_close{0};
std::atomic<bool> closed{false};

void Count(TlDeviceHandle, TlResult result, const char*, size_t size) {
  if (closed) ++calls_after_close;
  if (result == kTlResultSuccess) bytes_seen += static_cast<long>(size);
}

TEST_F(DeviceThreadTest, ParallelOpensAndClosesShareTheTable) {
  PtyPair ports[4];
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int index = 0; index < 4; ++index) {
    threads.emplace_back([&, index] {
      const unsigned char byte = static_cast<unsigned char>('a' + index);
      for (int round = 0; round < 8; ++round) {
        TlDeviceHandle handle = 99;
        // Each handle reaches the port of the thread that opened it and no other; closing purges
        // the port, so the byte is collected first.
        const bool ok =
            OpenDevice(ports[index].SlavePath(), &handle) == 0 && handle < 10 &&
            TlDeviceLock(handle) == 0 && TlDeviceSend(handle, &byte, 1) == 0 &&
            TlDeviceUnlock(handle) == 0 && TlDeviceIsOpen(handle) == 0 &&
            ports[index].Read(2000, std::string(1, byte)) == "\r\n" + std::string(1, byte);
        if (!ok || TlDeviceClose(handle) != kTlResultSuccess) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
  for (TlDeviceHandle handle = 0; handle < 10; ++handle) EXPECT_EQ(4, TlDeviceIsOpen(handle));
}

TEST_F(DeviceThreadTest, NoCallbackRunsAfterCloseReturns) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(handle, kTlDeviceOwnerCrashDump, Count));
  std::atomic<bool> stop{false};
  // Non-blocking, so the writer never waits on a slave that nobody reads any more.
  fcntl(pty.master(), F_SETFL, fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
  std::thread flood([&] {
    const std::string chunk(512, 'z');
    while (!stop) {
      if (write(pty.master(), chunk.data(), chunk.size()) < 0 && errno != EAGAIN) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  ASSERT_TRUE(tarvik_test::WaitFor([] { return bytes_seen.load() > 0; }, 5000));
  ASSERT_EQ(kTlResultSuccess, TlDeviceClose(handle));
  closed = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop = true;
  flood.join();
  EXPECT_EQ(0, calls_after_close.load());
}

TEST_F(DeviceThreadTest, CloseWakesAThreadWaitingForTheLock) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle));
  std::atomic<bool> done{false};
  TlResult result = kTlResultSuccess;
  std::thread waiter([&] {
    result = TlDeviceLock(handle);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(done.load());
  EXPECT_EQ(kTlResultSuccess, TlDeviceClose(handle));
  waiter.join();
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, result);
  // The holder's late give-back finds the row closed.
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlDeviceUnlock(handle));
}

TEST_F(DeviceThreadTest, OnlyOneCallerFreesARowWhoseThreadEnded) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  pty.CloseMaster();
  // The receive thread sees the hang-up on its next poll and ends.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::atomic<int> freed{0};
  std::atomic<int> gone{0};
  std::vector<std::thread> threads;
  for (int index = 0; index < 4; ++index) {
    threads.emplace_back([&] {
      const TlResult result = TlDeviceIsOpen(handle);
      if (result == kTlResultDeviceErrorCouldNotStartThread) ++freed;
      if (result == kTlResultGeneralErrorDeviceNotOpen) ++gone;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(1, freed.load());
  EXPECT_EQ(3, gone.load());
}

TEST_F(DeviceThreadTest, TerminateStopsEveryReceiveThread) {
  PtyPair ports[3];
  for (auto& port : ports) {
    TlDeviceHandle handle = 0;
    ASSERT_EQ(kTlResultSuccess, OpenDevice(port.SlavePath(), &handle));
    EXPECT_FALSE(port.SlaveClosed());
  }
  EXPECT_EQ(kTlResultSuccess, TlTerminate());
  for (auto& port : ports) EXPECT_TRUE(port.SlaveClosed());
  ASSERT_EQ(kTlResultSuccess, TlInitialize());
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(0));
}

}  // namespace
