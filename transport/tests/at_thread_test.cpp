// AT channel under several threads: commands on one handle, listeners coming and going while the
// receive thread dispatches, a close or a hang-up in the middle of an exchange.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/wait.h"
#include "transport/src/at/at.h"
#include "transport/src/device/device.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tarvik_test::WaitFor;
using tl_test::PtyPair;
using tl_test::ScriptedModule;
using tl_test::TransportTest;

std::atomic<int> failure_notices{0};
std::atomic<int> data_notices{0};

void Listener(TlResult result, TlDeviceHandle, TlAtResult* at_result, const void*) {
  if (result == kTlResultGeneralErrorDeviceNotOpen) {
    ++failure_notices;
  } else if (at_result->data != nullptr && at_result->data[0] != '\0') {
    ++data_notices;
  }
  TlAtReleaseAtResult(at_result);
}

class AtThreadTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    failure_notices = 0;
    data_notices = 0;
    ASSERT_TRUE(pty_.ok());
    module_.Start();
    ASSERT_EQ(kTlResultSuccess, tl_test::OpenDevice(pty_.SlavePath(), &handle_));
    ASSERT_TRUE(WaitFor([&] { return module_.Received() == "\r\n"; }, 2000));
    module_.ClearReceived();
  }
  void TearDown() override {
    TlDeviceClose(handle_);
    module_.Stop();
    TransportTest::TearDown();
  }

  PtyPair pty_;
  ScriptedModule module_{&pty_};
  TlDeviceHandle handle_ = 0;
};

TEST_F(AtThreadTest, CommandsOfSeveralThreadsNeverInterleave) {
  const int kThreads = 3;
  const int kCommands = 8;
  for (int thread = 0; thread < kThreads; ++thread) {
    for (int command = 0; command < kCommands; ++command) {
      const std::string tag = std::to_string(thread) + "-" + std::to_string(command);
      // Answers in two pieces, so another exchange could slip in between if the lock let it.
      module_.On("AT+Q=" + tag, {"\r\n+Q: " + tag + "\r\n", "\r\nOK\r\n"}, 5);
    }
  }
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      for (int command = 0; command < kCommands; ++command) {
        const std::string tag = std::to_string(thread) + "-" + std::to_string(command);
        TlAtResult at_result = {kTlAtResultUnknown, nullptr};
        const TlResult result = TlAtSend(handle_, ("AT+Q=" + tag).c_str(), 5, &at_result);
        if (result == kTlResultSuccess && at_result.result_code == kTlAtResultOk &&
            std::string(at_result.data) == "\r\n+Q: " + tag + "\r\n\r\nOK\r\n") {
          ++good;
        }
        TlAtReleaseAtResult(&at_result);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(kThreads * kCommands, good.load());
  // Every line the module saw is one whole command; echo went off exactly once.
  const auto lines = module_.Lines();
  ASSERT_EQ(static_cast<size_t>(kThreads * kCommands + 1), lines.size());
  EXPECT_EQ("ATE0", lines[0]);
  for (size_t index = 1; index < lines.size(); ++index) {
    EXPECT_EQ(0u, lines[index].rfind("AT+Q=", 0)) << lines[index];
  }
}

TEST_F(AtThreadTest, ListenersComeAndGoWhileTheReceiveThreadDispatches) {
  std::atomic<bool> stop{false};
  std::thread chatter([&] {
    while (!stop) {
      pty_.Write("\r\n*EEUSTATE:1,2\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  std::thread churn([&] {
    for (int round = 0; round < 40; ++round) {
      EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listener, nullptr));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(handle_, Listener));
    }
  });
  module_.On("AT+X", {"\r\nOK\r\n"});
  for (int round = 0; round < 20; ++round) {
    TlAtResult at_result = {kTlAtResultUnknown, nullptr};
    EXPECT_EQ(kTlResultSuccess, TlAtSend(handle_, "AT+X", 5, &at_result));
    TlAtReleaseAtResult(&at_result);
  }
  churn.join();
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listener, nullptr));
  EXPECT_TRUE(WaitFor([] { return data_notices.load() > 0; }, 5000));
  stop = true;
  chatter.join();
}

TEST_F(AtThreadTest, CloseWhileACommandWaitsForTheLockFailsTheCommandWithoutSending) {
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle_));
  std::atomic<bool> done{false};
  TlResult result = kTlResultSuccess;
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  std::thread sender([&] {
    result = TlAtSend(handle_, "AT+LATE", 5, &at_result);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(done.load());
  EXPECT_EQ(kTlResultSuccess, TlDeviceClose(handle_));
  sender.join();
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, result);
  EXPECT_EQ(nullptr, at_result.data);
  // The holder's late give-back finds the row closed.
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlDeviceUnlock(handle_));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ("", module_.Received());
}

TEST_F(AtThreadTest, HangUpDuringAnExchangeFailsItAndNotifiesListenersOnce) {
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listener, nullptr));
  module_.Silence("AT+HANG");
  TlResult result = kTlResultSuccess;
  std::thread sender([&] {
    TlAtResult at_result = {kTlAtResultUnknown, nullptr};
    result = TlAtSend(handle_, "AT+HANG", 10, &at_result);
    TlAtReleaseAtResult(&at_result);
  });
  ASSERT_TRUE(module_.WaitForLine("AT+HANG", 5000));
  module_.Stop();
  pty_.CloseMaster();
  sender.join();
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice, result);
  ASSERT_TRUE(WaitFor([] { return failure_notices.load() == 1; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(1, failure_notices.load());
  EXPECT_EQ(kTlResultDeviceErrorCouldNotStartThread, TlDeviceIsOpen(handle_));
}

}  // namespace
