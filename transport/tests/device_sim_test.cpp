// Device manager and AT channel against the simulated module: the device table filled from the
// port list, a module restart seen by every callback, and reopening the module under its new port.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/module_map.h"
#include "testing/wait.h"
#include "transport/src/at/at.h"
#include "transport/src/device/device.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tarvik_test::WaitFor;
using tl_test::DeviceMapDir;
using tl_test::OpenDevice;
using tl_test::TransportTest;

// Every callback call, device callbacks and AT listeners alike.
struct Notice {
  std::string who;
  TlResult result;
  std::string data;
};
std::mutex notices_mutex;
std::vector<Notice> notices;

void Note(const std::string& who, TlResult result, const std::string& data) {
  std::lock_guard<std::mutex> lock(notices_mutex);
  notices.push_back({who, result, data});
}

std::vector<Notice> Notices() {
  std::lock_guard<std::mutex> lock(notices_mutex);
  return notices;
}

size_t Count(const std::string& who, TlResult result) {
  const auto all = Notices();
  return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const Notice& notice) {
    return notice.who == who && notice.result == result;
  }));
}

void DeviceTc(TlDeviceHandle, TlResult result, const char* data, size_t size) {
  Note("device-tc", result, data != nullptr ? std::string(data, size) : "");
}
void Listener(TlResult result, TlDeviceHandle, TlAtResult* at_result, const void* client_data) {
  Note(static_cast<const char*>(client_data), result, at_result->data);
  TlAtReleaseAtResult(at_result);
}

class DeviceSimTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    std::lock_guard<std::mutex> lock(notices_mutex);
    notices.clear();
  }

  tarvik_sim::Module* StartModule(const std::string& serial) {
    tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
    profile.restart_away_ms = 300;
    return modules_.Add(profile, "usb-Tarvik_Module_" + serial + "-if00-mdm");
  }

  std::string Send(TlDeviceHandle handle, const char* command, TlResult* result) {
    TlAtResult at_result = {kTlAtResultUnknown, nullptr};
    *result = TlAtSend(handle, command, 5, &at_result);
    std::string text = at_result.data != nullptr ? at_result.data : "(none)";
    TlAtReleaseAtResult(&at_result);
    return text;
  }

  DeviceMapDir map_;
  tarvik_test::ModuleMap modules_{map_.path()};
};

TEST_F(DeviceSimTest, TenListedModulesOpenTheEleventhFindsNoRow) {
  std::vector<tarvik_sim::Module*> modules;
  for (int index = 0; index < 11; ++index) {
    modules.push_back(StartModule("00" + std::to_string(10 + index)));
  }
  TlDeviceName* list = nullptr;
  size_t length = 0;
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetList(&list, &length));
  ASSERT_EQ(11u, length);  // only the AT ports are candidates
  std::vector<std::string> names(list, list + length);
  TlDeviceReleaseList(list);
  EXPECT_EQ(modules[0]->AtPortPath(), names[0]);

  for (TlDeviceHandle expected = 0; expected < 10; ++expected) {
    TlDeviceHandle handle = 99;
    ASSERT_EQ(kTlResultSuccess, OpenDevice(names[expected], &handle));
    EXPECT_EQ(expected, handle);
  }
  TlDeviceHandle handle = 99;
  EXPECT_EQ(kTlResultDeviceErrorOutOfHandles, OpenDevice(names[10], &handle));
  ASSERT_EQ(kTlResultSuccess, TlDeviceClose(3));
  ASSERT_EQ(kTlResultSuccess, OpenDevice(names[10], &handle));
  EXPECT_EQ(3u, handle);

  // Handle 3 now reaches the eleventh module, and only that one.
  TlResult result;
  EXPECT_EQ("\r\nOK\r\n", Send(3, "AT", &result));
  EXPECT_EQ(kTlResultSuccess, result);
  EXPECT_TRUE(modules[10]->WaitForCommand("ATE0", 1000));
  EXPECT_FALSE(modules[3]->WaitForCommand("ATE0", 100));
}

TEST_F(DeviceSimTest, RestartIsSeenOnceByEveryCallbackAndThenTheHandleIsFreed) {
  auto module = StartModule("0001");
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(module->AtPortPath(), &handle));
  ASSERT_EQ(kTlResultSuccess,
            TlDeviceRegisterCallback(handle, kTlDeviceOwnerTransparentChannel, DeviceTc));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle, Listener, "listener-1"));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle, Listener, "listener-2"));

  module->Restart();
  ASSERT_TRUE(WaitFor(
      [] {
        return Count("device-tc", kTlResultGeneralErrorDeviceNotOpen) == 1 &&
               Count("listener-1", kTlResultGeneralErrorDeviceNotOpen) == 1 &&
               Count("listener-2", kTlResultGeneralErrorDeviceNotOpen) == 1;
      },
      5000));
  // Let the module come back: the dead handle must not pick it up by itself.
  ASSERT_TRUE(module->WaitPresent(5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(1u, Count("device-tc", kTlResultGeneralErrorDeviceNotOpen));
  EXPECT_EQ(1u, Count("listener-1", kTlResultGeneralErrorDeviceNotOpen));
  EXPECT_EQ(1u, Count("listener-2", kTlResultGeneralErrorDeviceNotOpen));
  for (const auto& notice : Notices()) {
    if (notice.result == kTlResultGeneralErrorDeviceNotOpen) {
      EXPECT_EQ("", notice.data);
    }
  }

  EXPECT_EQ(kTlResultDeviceErrorCouldNotStartThread, TlDeviceIsOpen(handle));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(handle));
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerTransparentChannel, nullptr);
}

TEST_F(DeviceSimTest, ReopenFindsTheRestartedModuleByIdentityAndKeepsTheHandle) {
  auto module = StartModule("0001");
  // A second module whose port would do for a reopen that ignored the identity.
  auto other = StartModule("0002");
  const std::string old_path = module->AtPortPath();
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(old_path, &handle));
  ASSERT_EQ(kTlResultSuccess,
            TlDeviceRegisterCallback(handle, kTlDeviceOwnerTransparentChannel, DeviceTc));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle, Listener, "listener"));
  TlResult result;
  EXPECT_EQ("\r\nOK\r\n", Send(handle, "AT", &result));

  module->Restart();
  ASSERT_TRUE(
      WaitFor([] { return Count("device-tc", kTlResultGeneralErrorDeviceNotOpen) == 1; }, 5000));
  ASSERT_EQ(kTlResultSuccess, TlDeviceReopen(handle, 300, 1));
  EXPECT_EQ(kTlResultSuccess, TlDeviceIsOpen(handle));
  ASSERT_NE(old_path, module->AtPortPath());
  module->ClearTranscript();

  // The module echoes again after its restart: the first command switches echo off once more.
  EXPECT_EQ("\r\n240991234567890\r\n\r\nOK\r\n", Send(handle, "AT+CIMI", &result));
  EXPECT_EQ(kTlResultSuccess, result);
  const auto commands = module->Commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ("ATE0", commands[commands.size() - 2]);
  EXPECT_EQ("AT+CIMI", commands.back());
  EXPECT_FALSE(other->WaitForCommand("AT+CIMI", 100));

  // The device callbacks stayed with the handle; the port failure had dropped the AT listeners.
  module->SendUnsolicited("\r\n*EEUSTATE:1,2\r\n");
  ASSERT_TRUE(WaitFor([] { return Count("device-tc", kTlResultSuccess) >= 1; }, 5000));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(handle, Listener));
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerTransparentChannel, nullptr);
}

TEST_F(DeviceSimTest, ReopenWithoutAttemptsReturnsTimeoutAndFreesTheHandle) {
  auto module = StartModule("0001");
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(module->AtPortPath(), &handle));
  module->Restart();
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceReopen(handle, 0, 1));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(handle));
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  EXPECT_EQ(kTlResultAtErrorDeviceNotInAtMode, TlAtSend(handle, "AT", 5, &at_result));
}

TEST_F(DeviceSimTest, ReopenGivesUpWhenTheModuleStaysAway) {
  auto module = StartModule("0001");
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(module->AtPortPath(), &handle));
  module->Unplug(false);
  ASSERT_TRUE(module->WaitAway(5000));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceReopen(handle, 3, 0));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(handle));
}

}  // namespace
