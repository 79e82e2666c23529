// Device manager under several threads: opens and closes in parallel, a close during heavy
// traffic, and several threads finding the same dead receive thread.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testing/wait.h"
#include "transport/src/device/device.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tarvik_test::WaitFor;
using tl_test::OpenDevice;
using tl_test::PtyPair;
using tl_test::TransportTest;

std::atomic<long> bytes_seen{0};
std::atomic<int> calls_after_close{0};
std::atomic<bool> closed{false};

void Count(TlDeviceHandle, TlResult result, const char*, size_t size) {
  if (closed) ++calls_after_close;
  if (result == kTlResultSuccess) bytes_seen += static_cast<long>(size);
}

using DeviceThreadTest = TransportTest;

TEST_F(DeviceThreadTest, ParallelOpensAndClosesShareTheTable) {
  const int kThreads = 4;
  const int kRounds = 8;
  std::vector<std::unique_ptr<PtyPair>> ports;
  for (int index = 0; index < kThreads; ++index) ports.push_back(std::make_unique<PtyPair>());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int index = 0; index < kThreads; ++index) {
    threads.emplace_back([&, index] {
      for (int round = 0; round < kRounds; ++round) {
        TlDeviceHandle handle = 99;
        if (OpenDevice(ports[index]->SlavePath(), &handle) != kTlResultSuccess || handle >= 10) {
          ++failures;
          continue;
        }
        const unsigned char byte = static_cast<unsigned char>('a' + index);
        if (TlDeviceLock(handle) != kTlResultSuccess ||
            TlDeviceSend(handle, &byte, 1) != kTlResultSuccess ||
            TlDeviceUnlock(handle) != kTlResultSuccess || TlDeviceIsOpen(handle) != 0) {
          ++failures;
        }
        // Closing purges the port, so the byte is collected first. Each handle reaches the
        // port of the thread that opened it and no other.
        const std::string got = ports[index]->Read(2000, std::string(1, static_cast<char>(byte)));
        if (got.find_first_not_of(std::string("\r\n") + static_cast<char>(byte)) !=
                std::string::npos ||
            got.find(static_cast<char>(byte)) == std::string::npos) {
          ++failures;
        }
        if (TlDeviceClose(handle) != kTlResultSuccess) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
  for (TlDeviceHandle handle = 0; handle < 10; ++handle) {
    EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(handle));
  }
}

TEST_F(DeviceThreadTest, NoCallbackRunsAfterCloseReturns) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  bytes_seen = 0;
  calls_after_close = 0;
  closed = false;
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
  ASSERT_TRUE(WaitFor([] { return bytes_seen.load() > 0; }, 5000));
  ASSERT_EQ(kTlResultSuccess, TlDeviceClose(handle));
  closed = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop = true;
  flood.join();
  EXPECT_EQ(0, calls_after_close.load());
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerCrashDump, nullptr);
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
  std::vector<std::unique_ptr<PtyPair>> ports;
  for (int index = 0; index < 3; ++index) {
    ports.push_back(std::make_unique<PtyPair>());
    TlDeviceHandle handle = 0;
    ASSERT_EQ(kTlResultSuccess, OpenDevice(ports.back()->SlavePath(), &handle));
  }
  for (auto& port : ports) EXPECT_FALSE(port->SlaveClosed());
  EXPECT_EQ(kTlResultSuccess, TlTerminate());
  for (auto& port : ports) EXPECT_TRUE(port->SlaveClosed());
  ASSERT_EQ(kTlResultSuccess, TlInitialize());
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(0));
}

}  // namespace
