// Device manager over raw pseudo-terminal pairs: the table, open and close, the receive thread's
// dispatch, the device lock, owners, draining and both reopens.

#include "transport/src/device/device.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/wait.h"
#include "transport/src/at/at.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tarvik_test::WaitFor;
using tl_test::DeviceMapDir;
using tl_test::OpenDevice;
using tl_test::PtyPair;
using tl_test::TransportTest;

// What the device callbacks saw, by slot.
struct Call {
  int slot;
  TlDeviceHandle handle;
  TlResult result;
  std::string data;
};
std::mutex calls_mutex;
std::vector<Call> calls;

template <int kSlot>
void Record(TlDeviceHandle handle, TlResult result, const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(calls_mutex);
  calls.push_back({kSlot, handle, result, data != nullptr ? std::string(data, size) : ""});
}

std::vector<Call> Calls() {
  std::lock_guard<std::mutex> lock(calls_mutex);
  return calls;
}

class DeviceTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    std::lock_guard<std::mutex> lock(calls_mutex);
    calls.clear();
  }
};

TEST(DeviceStoppedTest, EveryCallNeedsTheStartedModule) {
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  TlDeviceOpenParameters parameters = {"/dev/null", 115200};
  TlDeviceHandle handle = 0;
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlDeviceOpen(&parameters, &handle));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlDeviceIsOpen(0));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlDeviceClose(0));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlDeviceLock(0));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlDeviceClearBuffers(0));
  TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
}

TEST_F(DeviceTest, HandleChecks) {
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlDeviceIsOpen(10));
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlDeviceClose(10));
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlDeviceLock(10));
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlDeviceReopen(10, 1, 0));
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle,
            TlDeviceRegisterCallback(10, kTlDeviceOwnerAt, Record<0>));
  // A free row passes the handle check; what needs an open device says so.
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(0));
  EXPECT_EQ(kTlResultSuccess, TlDeviceClose(0));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlDeviceLock(0));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlDeviceUnlock(0));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceReopen(0, 1, 0));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice, TlDeviceClearBuffers(0));
  const unsigned char byte = 'A';
  EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice, TlDeviceSend(0, &byte, 1));
  TlDeviceOwner owner = kTlDeviceOwnerAt;
  EXPECT_EQ(kTlResultSuccess, TlDeviceGetOwner(0, &owner));
  EXPECT_EQ(kTlDeviceOwnerInvalid, owner);
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceSetOwner(0, kTlDeviceOwnerAt));
}

TEST_F(DeviceTest, FailedOpenLeavesTheRowFree) {
  TlDeviceHandle handle = 99;
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, OpenDevice("/dev/no-such-port", &handle));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(0));
  PtyPair pty;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  EXPECT_EQ(0u, handle);
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  EXPECT_EQ(kTlResultSuccess, TlDeviceGetOwner(handle, &owner));
  EXPECT_EQ(kTlDeviceOwnerAt, owner);
}

TEST_F(DeviceTest, ReceiveThreadHandsBytesToEveryCallbackInSlotOrder) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess,
            TlDeviceRegisterCallback(handle, kTlDeviceOwnerSecureFrame, Record<4>));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(handle, kTlDeviceOwnerAt, Record<0>));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(handle, kTlDeviceOwnerDebugMux, Record<2>));
  // Owners outside the table are refused and store nothing.
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlDeviceRegisterCallback(handle, kTlDeviceOwnerInvalid, Record<5>));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlDeviceRegisterCallback(handle, static_cast<TlDeviceOwner>(77), Record<5>));
  // Whatever the owner, every registered callback gets the bytes.
  ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(handle, kTlDeviceOwnerTransparentChannel));

  ASSERT_TRUE(pty.Write("\r\n*EEUSTATE:1,3\r\n"));
  ASSERT_TRUE(WaitFor([] { return Calls().size() >= 3; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto seen = Calls();
  ASSERT_EQ(3u, seen.size());
  const int order[] = {0, 2, 4};
  for (size_t index = 0; index < seen.size(); ++index) {
    EXPECT_EQ(order[index], seen[index].slot);
    EXPECT_EQ(handle, seen[index].handle);
    EXPECT_EQ(kTlResultSuccess, seen[index].result);
    EXPECT_EQ("\r\n*EEUSTATE:1,3\r\n", seen[index].data);
  }

  // Emptying a slot stops its deliveries.
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(handle, kTlDeviceOwnerAt, nullptr));
  ASSERT_TRUE(pty.Write("more"));
  ASSERT_TRUE(WaitFor([] { return Calls().size() >= 5; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto later = Calls();
  ASSERT_EQ(5u, later.size());
  EXPECT_EQ(2, later[3].slot);
  EXPECT_EQ(4, later[4].slot);
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerDebugMux, nullptr);
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerSecureFrame, nullptr);
}

TEST_F(DeviceTest, HeldLockKeepsTheReceiveThreadOffThePort) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(handle, kTlDeviceOwnerAt, Record<0>));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceClearBuffers(handle));

  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle));
  ASSERT_TRUE(pty.Write("stale answer"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(kTlResultSuccess, TlDeviceClearBuffers(handle));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceClearBuffers(handle));
  EXPECT_EQ(kTlResultSuccess, TlDeviceUnlock(handle));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Calls().empty());
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerAt, nullptr);
}

TEST_F(DeviceTest, DeviceLockIsBinaryAndAnyThreadMayGiveItBack) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle));
  std::thread other([&] { EXPECT_EQ(kTlResultSuccess, TlDeviceUnlock(handle)); });
  other.join();
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle));
  EXPECT_EQ(kTlResultSuccess, TlDeviceUnlock(handle));
}

TEST_F(DeviceTest, SendAndReceiveThroughTheHandle) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  pty.Read(500, "\r\n");
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle));
  const std::string command = "AT*EEVINFO=99\r\n";
  EXPECT_EQ(
      kTlResultSuccess,
      TlDeviceSend(handle, reinterpret_cast<const unsigned char*>(command.data()), command.size()));
  EXPECT_EQ(command, pty.Read(1000, "\r\n"));
  ASSERT_TRUE(pty.Write("reply"));
  unsigned char buffer[64];
  size_t count = 0;
  EXPECT_EQ(kTlResultSuccess, TlDeviceReceive(handle, buffer, sizeof buffer, 2, &count));
  EXPECT_EQ("reply", std::string(reinterpret_cast<char*>(buffer), count));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlDeviceReceive(handle, buffer, sizeof buffer, -5, &count));
  TlDeviceUnlock(handle);
}

TEST_F(DeviceTest, OwnerChanges) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(handle, kTlDeviceOwnerSecureFrame));
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetOwner(handle, &owner));
  EXPECT_EQ(kTlDeviceOwnerSecureFrame, owner);
  // Only closing frees a row.
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeviceSetOwner(handle, kTlDeviceOwnerInvalid));
  EXPECT_EQ(kTlResultSuccess, TlDeviceIsOpen(handle));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeviceGetOwner(handle, nullptr));
  // A new open starts with AT.
  ASSERT_EQ(kTlResultSuccess, TlDeviceClose(handle));
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetOwner(handle, &owner));
  EXPECT_EQ(kTlDeviceOwnerAt, owner);
}

TEST_F(DeviceTest, ListGivesTheCandidateNamesInOrder) {
  DeviceMapDir map;
  ASSERT_TRUE(map.Link("b-modem-mdm", "/dev/ttyACM1"));
  ASSERT_TRUE(map.Link("a-modem-usbser", "/dev/ttyACM0"));
  ASSERT_TRUE(map.Link("c-diag", "/dev/ttyACM2"));
  TlDeviceName* list = nullptr;
  size_t length = 0;
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetList(&list, &length));
  ASSERT_EQ(2u, length);
  EXPECT_STREQ("/dev/ttyACM0", list[0]);
  EXPECT_STREQ("/dev/ttyACM1", list[1]);
  EXPECT_EQ(kTlResultSuccess, TlDeviceReleaseList(list));

  ASSERT_TRUE(map.Unlink("a-modem-usbser"));
  ASSERT_TRUE(map.Unlink("b-modem-mdm"));
  list = reinterpret_cast<TlDeviceName*>(0x1);
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetList(&list, &length));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(nullptr, list);
}

TEST_F(DeviceTest, ReopenWithoutAttemptsTimesOutAndFreesTheHandle) {
  PtyPair pty;
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceReopen(handle, 0, 1));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(handle));
  // The port itself was closed: the next open of the row works on a fresh descriptor.
  ASSERT_EQ(kTlResultSuccess, OpenDevice(pty.SlavePath(), &handle));
  EXPECT_EQ(0u, handle);
}

TEST_F(DeviceTest, ReopenFindsTheModuleByIdentityUnderANewName) {
  DeviceMapDir map;
  PtyPair old_port, new_port, stranger;
  ASSERT_TRUE(map.Link("usb-Module_0001-if00-mdm", old_port.SlavePath()));
  ASSERT_TRUE(map.Link("usb-Module_0002-if00-mdm", stranger.SlavePath()));
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(old_port.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess,
            TlDeviceRegisterCallback(handle, kTlDeviceOwnerTransparentChannel, Record<1>));
  old_port.Read(500, "\r\n");

  // The module comes back elsewhere; its old name cannot be opened any more.
  ASSERT_TRUE(old_port.LockSlave());
  ASSERT_TRUE(map.Link("usb-Module_0001-if00-mdm", new_port.SlavePath()));
  ASSERT_EQ(kTlResultSuccess, TlDeviceReopen(handle, 3, 0));
  EXPECT_EQ(kTlResultSuccess, TlDeviceIsOpen(handle));
  EXPECT_EQ("\r\n", new_port.Read(1000, "\r\n"));
  EXPECT_EQ("", stranger.Read(100));

  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(handle));
  const unsigned char bytes[] = {'n', 'e', 'w'};
  EXPECT_EQ(kTlResultSuccess, TlDeviceSend(handle, bytes, sizeof bytes));
  TlDeviceUnlock(handle);
  EXPECT_EQ("new", new_port.Read(1000, "new"));
  EXPECT_EQ("", old_port.Read(100));

  // The callbacks stay with the handle and the receive thread reads the new port.
  ASSERT_TRUE(new_port.Write("hello"));
  ASSERT_TRUE(WaitFor([] { return !Calls().empty(); }, 5000));
  EXPECT_EQ(1, Calls()[0].slot);
  EXPECT_EQ("hello", Calls()[0].data);
  TlDeviceRegisterCallback(handle, kTlDeviceOwnerTransparentChannel, nullptr);
}

TEST_F(DeviceTest, ReopenDoesNotTakeAPortOfAnotherIdentity) {
  DeviceMapDir map;
  PtyPair old_port, stranger;
  ASSERT_TRUE(map.Link("usb-Module_0001-if00-mdm", old_port.SlavePath()));
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(old_port.SlavePath(), &handle));
  ASSERT_TRUE(old_port.LockSlave());
  ASSERT_TRUE(map.Unlink("usb-Module_0001-if00-mdm"));
  ASSERT_TRUE(map.Link("usb-Module_0002-if00-mdm", stranger.SlavePath()));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceReopen(handle, 2, 0));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(handle));
  EXPECT_EQ("", stranger.Read(100));
}

void Listener(TlResult, TlDeviceHandle, TlAtResult* at_result, const void*) {
  TlAtReleaseAtResult(at_result);
}

TEST_F(DeviceTest, ReopenByHandleTakesTheFirstListedPortAndDropsAtListeners) {
  DeviceMapDir map;
  PtyPair old_port, first, second;
  ASSERT_TRUE(map.Link("a-port-mdm", first.SlavePath()));
  ASSERT_TRUE(map.Link("b-port-mdm", second.SlavePath()));
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, OpenDevice(old_port.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle, Listener, nullptr));
  ASSERT_TRUE(old_port.LockSlave());

  ASSERT_EQ(kTlResultSuccess, TlDeviceReOpenByhandle(handle, 3));
  EXPECT_EQ(kTlResultSuccess, TlDeviceIsOpen(handle));
  EXPECT_EQ("\r\n", first.Read(1000, "\r\n"));
  EXPECT_EQ("", second.Read(100));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(handle, Listener));
}

}  // namespace
