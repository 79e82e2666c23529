// Device manager over pseudo-terminals: the table, open and close, the receive thread's dispatch,
// the device lock, owners and both reopens. The executable wraps CommonSleep to see the fixed waits
// the manager takes. Results in tables by value (golden/results.txt).

#include "transport/src/device/device.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/src/wait_seam.h"
#include "testing/wait.h"
#include "transport/src/at/at.h"
#include "transport/tests/support/pty_support.h"

namespace {

std::mutex mutex;
std::thread::id test_thread;
std::string test_waits;                     // the test thread's waits in seconds: "1 3 "
std::set<apr_interval_time_t> other_waits;  // the receive threads' waits
std::vector<std::string> calls;             // callbacks and listeners: "who:result:data"

}  // namespace

extern "C" void __real_CommonSleep(apr_interval_time_t wait);
extern "C" void __wrap_CommonSleep(apr_interval_time_t wait) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (std::this_thread::get_id() == test_thread) {
      test_waits += std::to_string(wait / 1000000) + " ";
    } else {
      other_waits.insert(wait);
    }
  }
  __real_CommonSleep(wait);
}

namespace {

using tarvik_test::WaitFor;
using tl_test::OpenDevice;
using tl_test::PtyPair;
using Lines = std::vector<std::string>;

template <typename T>
T Locked(const T& value) {
  std::lock_guard<std::mutex> lock(mutex);
  return value;
}
void Note(const std::string& who, TlResult result, const std::string& data) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back(who + ":" + std::to_string(result) + ":" + data);
}
template <int kSlot>
void Record(TlDeviceHandle, TlResult result, const char* data, size_t size) {
  Note(std::to_string(kSlot), result, data != nullptr ? std::string(data, size) : "");
}
void Listener(TlResult result, TlDeviceHandle, TlAtResult* at_result, const void* who) {
  Note(static_cast<const char*>(who), result, at_result->data);
  TlAtReleaseAtResult(at_result);
}

class DeviceTest : public tl_test::TransportTest {
 protected:
  void SetUp() override {
    test_thread = std::this_thread::get_id();
    TransportTest::SetUp();
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    test_waits.clear();
    other_waits.clear();
  }
  static std::string TakeWaits() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string waits;
    waits.swap(test_waits);
    return waits;
  }
  // Opens a new pty as handle 0.
  std::unique_ptr<PtyPair> OpenPort() {
    auto pty = std::make_unique<PtyPair>();
    TlDeviceHandle handle = 99;
    EXPECT_EQ(kTlResultSuccess, OpenDevice(pty->SlavePath(), &handle));
    EXPECT_EQ(0u, handle);
    return pty;
  }
};

TEST(DeviceStoppedTest, EveryCallNeedsTheStartedModule) {
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  TlDeviceHandle handle = 0;
  const TlDeviceOpenParameters parameters = {"/dev/null", 115200};
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlDeviceOpen(&parameters, &handle));
  for (auto call : {TlDeviceIsOpen, TlDeviceClose, TlDeviceLock, TlDeviceClearBuffers}) {
    EXPECT_EQ(kTlResultGeneralErrorNotInitialized, call(0));
  }
}

TEST_F(DeviceTest, HandleChecks) {
  const unsigned char byte = 'A';
  TlDeviceOwner owner = kTlDeviceOwnerAt;
  const struct {
    std::function<TlResult()> call;
    int result;
  } rows[] = {
      {[] { return TlDeviceIsOpen(10); }, 200},
      {[] { return TlDeviceClose(10); }, 200},
      {[] { return TlDeviceLock(10); }, 200},
      {[] { return TlDeviceReopen(10, 1, 0); }, 200},
      {[] { return TlDeviceRegisterCallback(10, kTlDeviceOwnerAt, Record<0>); }, 200},
      // A free row passes the handle check; what needs an open device says so.
      {[] { return TlDeviceIsOpen(0); }, 4},
      {[] { return TlDeviceClose(0); }, 0},
      {[] { return TlDeviceLock(0); }, 202},
      {[] { return TlDeviceUnlock(0); }, 202},
      {[] { return TlDeviceReopen(0, 1, 0); }, 4},
      {[] { return TlDeviceReOpenByhandle(0, 1); }, 4},
      {[] { return TlDeviceClearBuffers(0); }, 205},
      {[&] { return TlDeviceSend(0, &byte, 1); }, 204},
      {[] { return TlDeviceSetOwner(0, kTlDeviceOwnerAt); }, 4},
      {[&] { return TlDeviceGetOwner(0, &owner); }, 0},
  };
  for (const auto& row : rows) EXPECT_EQ(row.result, row.call());
  EXPECT_EQ(kTlDeviceOwnerInvalid, owner);
}

// Ten rows: handles 0 to 9, the eleventh open finds none, a closed row is taken again first and
// starts with owner AT. A failed open leaves its row free.
TEST_F(DeviceTest, TenRows) {
  TlDeviceHandle handle = 99;
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, OpenDevice("/dev/no-such-port", &handle));
  std::vector<std::unique_ptr<PtyPair>> ports;
  for (TlDeviceHandle expected = 0; expected < 11; ++expected) {
    ports.push_back(std::make_unique<PtyPair>());
    EXPECT_EQ(expected < 10 ? 0 : 201, OpenDevice(ports.back()->SlavePath(), &handle));
    EXPECT_EQ(std::min(expected, 9u), handle);
  }
  ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(3, kTlDeviceOwnerSecureFrame));
  ASSERT_EQ(kTlResultSuccess, TlDeviceClose(3));
  ASSERT_EQ(kTlResultSuccess, OpenDevice(ports[10]->SlavePath(), &handle));
  EXPECT_EQ(3u, handle);
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetOwner(3, &owner));
  EXPECT_EQ(kTlDeviceOwnerAt, owner);
  EXPECT_EQ("\r\n", ports[10]->Read(1000, "\r\n"));
}

TEST_F(DeviceTest, ReceiveThreadHandsBytesToEveryCallbackInSlotOrder) {
  auto pty = OpenPort();
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerSecureFrame, Record<4>));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerAt, Record<0>));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerDebugMux, Record<2>));
  for (int owner : {static_cast<int>(kTlDeviceOwnerInvalid), 77}) {
    EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
              TlDeviceRegisterCallback(0, static_cast<TlDeviceOwner>(owner), Record<5>));
  }
  // Whatever the owner, every registered callback gets the bytes; an emptied slot gets nothing.
  ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(0, kTlDeviceOwnerTransparentChannel));
  ASSERT_TRUE(pty->Write("ring"));
  ASSERT_TRUE(WaitFor([] { return Locked(calls).size() >= 3; }, 5000));
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerAt, nullptr));
  ASSERT_TRUE(pty->Write("more"));
  ASSERT_TRUE(WaitFor([] { return Locked(calls).size() >= 5; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ((Lines{"0:0:ring", "2:0:ring", "4:0:ring", "2:0:more", "4:0:more"}), Locked(calls));
}

TEST_F(DeviceTest, HeldLockKeepsTheReceiveThreadOffThePort) {
  auto pty = OpenPort();
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerAt, Record<0>));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceClearBuffers(0));
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(0));
  ASSERT_TRUE(pty->Write("stale answer"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(kTlResultSuccess, TlDeviceClearBuffers(0));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, TlDeviceClearBuffers(0));
  // Raw I/O through the handle, for whoever holds the lock.
  pty->Read(200, "\r\n");
  EXPECT_EQ(kTlResultSuccess, TlDeviceSend(0, reinterpret_cast<const unsigned char*>("AT\r\n"), 4));
  EXPECT_EQ("AT\r\n", pty->Read(1000, "\r\n"));
  ASSERT_TRUE(pty->Write("reply"));
  unsigned char buffer[64];
  size_t count = 0;
  EXPECT_EQ(kTlResultSuccess, TlDeviceReceive(0, buffer, sizeof buffer, 2, &count));
  EXPECT_EQ("reply", std::string(reinterpret_cast<char*>(buffer), count));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeviceReceive(0, buffer, 64, -5, &count));
  // Any thread may give the lock back.
  std::thread([] { EXPECT_EQ(kTlResultSuccess, TlDeviceUnlock(0)); }).join();
  ASSERT_EQ(kTlResultSuccess, TlDeviceLock(0));
  ASSERT_EQ(kTlResultSuccess, TlDeviceUnlock(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Locked(calls).empty());
  // Only a release frees a row.
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(0, kTlDeviceOwnerSecureFrame));
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetOwner(0, &owner));
  EXPECT_EQ(kTlDeviceOwnerSecureFrame, owner);
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeviceSetOwner(0, kTlDeviceOwnerInvalid));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeviceGetOwner(0, nullptr));
  EXPECT_EQ(kTlResultSuccess, TlDeviceIsOpen(0));
}

TEST_F(DeviceTest, PortFailureReachesEveryCallbackOnceThenTheRowIsFreed) {
  auto pty = OpenPort();
  ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerCrashDump, Record<3>));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listener, "a"));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listener, "b"));
  pty->CloseMaster();
  ASSERT_TRUE(WaitFor([] { return Locked(calls).size() >= 3; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ((Lines{"a:4:", "b:4:", "3:4:"}), Locked(calls));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotStartThread, TlDeviceIsOpen(0));
  EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(0));
}

// The fixed waits: one second for a new port to settle, one second between receive polls.
TEST_F(DeviceTest, OpenAndReceiveWaits) {
  auto pty = OpenPort();
  EXPECT_EQ("1 ", TakeWaits());
  ASSERT_TRUE(WaitFor([] { return !Locked(other_waits).empty(); }, 2000));
  EXPECT_EQ(std::set<apr_interval_time_t>{1000000}, Locked(other_waits));
}

// Both reopens: where the module is looked for, what the handle reaches afterwards, and the waits:
// the shut-down pause, one second per attempt, three for the port to settle.
TEST_F(DeviceTest, Reopen) {
  const struct {
    bool by_identity;
    const char* before;  // links "name:pty" when the row is opened on pty 0
    bool old_gone;       // pty 0 can no longer be opened
    const char* after;
    unsigned attempts, pause;
    int result;
    int lands;  // the pty that the handle reaches afterwards
    const char* waits;
  } rows[] = {
      {true, "m1-mdm:0 m2-mdm:1", true, "m1-mdm:2 m2-mdm:1", 3, 0, 0, 2, "0 1 3 "},
      {true, "m1-mdm:0", false, "m1-mdm:0", 3, 2, 0, 0, "2 1 3 "},
      {true, "m1-mdm:0", true, "m2-mdm:1", 2, 0, 5, -1, "0 1 1 "},
      {true, "m1-mdm:0", false, "m1-mdm:0", 0, 1, 5, -1, "1 "},
      {true, "m1-mdm:0 m2-mdm:1", false, "m1-mdm:1 m2-mdm:0", 3, 0, 0, 1, "0 1 3 "},  // swapped
      {true, "m1-mdm:0", false, "", 2, 0, 5, -1, "0 1 1 "},  // the old name, now another device's
      {false, "", true, "a-mdm:1 b-mdm:2", 3, 5, 0, 1, "5 1 3 "},  // an unlisted row: any port
      {false, "b-mdm:0", true, "a-mdm:1 b-mdm:2", 3, 5, 0, 2, "5 1 3 "},  // its identity first
      {false, "", true, "", 2, 5, 5, -1, "5 1 1 "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.before) + " -> " + row.after);
    tl_test::DeviceMapDir map;
    PtyPair ptys[3];
    const auto link = [&](const char* links, bool make) {
      std::istringstream in(links);
      for (std::string entry; in >> entry;) {
        const std::string name = entry.substr(0, entry.find(':'));
        ASSERT_TRUE(make ? map.Link(name, ptys[entry.back() - '0'].SlavePath()) : map.Unlink(name));
      }
    };
    link(row.before, true);
    TlDeviceHandle handle = 0;
    ASSERT_EQ(kTlResultSuccess, OpenDevice(ptys[0].SlavePath(), &handle));
    ASSERT_EQ(kTlResultSuccess, TlDeviceRegisterCallback(0, kTlDeviceOwnerDebugMux, Record<2>));
    ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listener, "at"));
    ptys[0].Read(500, "\r\n");
    ASSERT_TRUE(!row.old_gone || ptys[0].LockSlave());
    link(row.before, false);
    link(row.after, true);
    calls.clear();
    TakeWaits();

    EXPECT_EQ(row.result, row.by_identity ? TlDeviceReopen(0, row.attempts, row.pause)
                                          : TlDeviceReOpenByhandle(0, row.attempts));
    EXPECT_EQ(row.waits, TakeWaits());
    for (int index = 0; index < 3; ++index) {
      const bool lands = index == row.lands;
      EXPECT_EQ(lands ? "\r\n" : "", ptys[index].Read(lands ? 1000 : 50, "\r\n")) << index;
    }
    if (row.lands < 0) {
      // The handle is free, its listeners gone with it, and the old port closed: it opens again.
      EXPECT_EQ(kTlResultGeneralErrorDeviceNotOpen, TlDeviceIsOpen(0));
      PtyPair next;
      ASSERT_EQ(kTlResultSuccess, OpenDevice(next.SlavePath(), &handle));
      EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(0, Listener));
      TlDeviceClose(0);
      EXPECT_TRUE(row.old_gone || OpenDevice(ptys[0].SlavePath(), &handle) == kTlResultSuccess);
    } else {
      // Sends reach the new port, and its bytes the callbacks the handle kept; a reopen by trying
      // ports drops the AT listeners.
      ASSERT_EQ(kTlResultSuccess, TlDeviceLock(0));
      EXPECT_EQ(kTlResultSuccess, TlDeviceSend(0, reinterpret_cast<const unsigned char*>("n"), 1));
      TlDeviceUnlock(0);
      EXPECT_EQ("n", ptys[row.lands].Read(1000, "n"));
      ASSERT_TRUE(ptys[row.lands].Write("hi"));
      const Lines expected = row.by_identity ? Lines{"at:0:hi", "2:0:hi"} : Lines{"2:0:hi"};
      EXPECT_TRUE(WaitFor([&] { return Locked(calls).size() >= expected.size(); }, 5000));
      EXPECT_EQ(expected, Locked(calls));
    }
    TlDeviceClose(0);
  }
}

}  // namespace
