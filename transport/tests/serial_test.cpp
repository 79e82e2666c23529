// Port driver on pseudo-terminals: the port list, descriptors, line settings, reads and writes and
// their bounds. The executable wraps poll() and write() so that a test can play a port that stays
// silent and takes nothing.

#include "transport/src/device/posix/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transport/tests/support/pty_support.h"

namespace {

// While above 0, each poll of the driver reports "nothing happened" at once and counts down, and
// every write finds the port full.
int empty_polls = 0;
std::vector<std::pair<short, int>> polls;  // events and time-out of every poll made meanwhile

}  // namespace

extern "C" int __real_poll(struct pollfd* fds, nfds_t count, int timeout);
extern "C" int __wrap_poll(struct pollfd* fds, nfds_t count, int timeout) {
  if (empty_polls <= 0) return __real_poll(fds, count, timeout);
  --empty_polls;
  polls.push_back({fds[0].events, timeout});
  return 0;
}
extern "C" ssize_t __real_write(int fd, const void* data, size_t size);
extern "C" ssize_t __wrap_write(int fd, const void* data, size_t size) {
  if (empty_polls <= 0) return __real_write(fd, data, size);
  errno = EAGAIN;
  return -1;
}

namespace {

using tl_test::DeviceMapDir;
using tl_test::PtyPair;

std::string Text(const unsigned char* bytes, size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes), count);
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { TlSetLogTypesForScreen(kTlLogTypeMaskNone); }

  static int Open(const std::string& path, TlDeviceBaud baud = 115200,
                  TlResult expected = kTlResultSuccess) {
    char name[64] = {};
    path.copy(name, sizeof name - 1);
    int descriptor = -1;
    EXPECT_EQ(expected, TlLocDeviceSerialOpen(&name, baud, &descriptor)) << path;
    return descriptor;
  }
};

TEST_F(SerialTest, ListTakesCandidateLinksInNameOrderWithLowerCaseIdentity) {
  DeviceMapDir map;
  const std::string long_target = "/dev/" + std::string(70, 't');
  ASSERT_TRUE(map.Link("usb-Vendor_Modem-if02-Mgmt", "/dev/ttyACM2"));
  ASSERT_TRUE(map.Link("usb-Vendor_Modem-if00-MDM", "/dev/ttyACM0"));
  ASSERT_TRUE(map.Link("usb-Other_Serial0", "/dev/ttyUSB0"));           // no candidate
  ASSERT_TRUE(map.Link("pci-UsbSer-port", ".././/../ttyS4"));           // relative target
  ASSERT_TRUE(map.Link("usb-Vendor_Modem-if00-MDM2", "/dev/ttyACM0"));  // a second link, one port
  ASSERT_TRUE(tarvik_test::WriteFile(map.path() + "/file-mdm", ""));    // not a link
  ASSERT_TRUE(map.Link("usb-a-very-long-name-for-a-modem-port-mdm-0123456789", long_target));

  TlLocDeviceItem* list = nullptr;
  size_t length = 99;
  ASSERT_EQ(kTlResultSuccess, TlLocDeviceSerialGetList(&list, &length));
  ASSERT_EQ(5u, length);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"pci-usbser-port", "/ttyS4"},  // "..", "." and "//" folded against the map dir, /tmp/x
      {"usb-vendor_modem-if00-mdm", "/dev/ttyACM0"},  // raw name order: upper case first
      {"usb-vendor_modem-if00-mdm2", "/dev/ttyACM0"},
      {"usb-vendor_modem-if02-mgmt", "/dev/ttyACM2"},
      {"usb-a-very-long-name-for-a-mode", long_target.substr(0, 63)},  // cut to 31 and 63
  };
  for (size_t index = 0; index < length; ++index) {
    EXPECT_EQ(expected[index].first, list[index].unique_identifier);
    EXPECT_EQ(expected[index].second, list[index].device_name);
  }
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReleaseList(list));
  // The device manager's list: the names alone, in the same order.
  TlDeviceName* names = nullptr;
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetList(&names, &length));
  ASSERT_EQ(5u, length);
  for (size_t index = 0; index < length; ++index) EXPECT_EQ(expected[index].second, names[index]);
  EXPECT_EQ(kTlResultSuccess, TlDeviceReleaseList(names));

  // The identity of a listed name (its first row), compared exactly; an unlisted name leaves it.
  char name[64] = "/dev/ttyACM0";
  char other[64] = "/dev/ttyacm0";
  TlDeviceUniqueIdentifier identity = "unchanged";
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialGetUniqueIdentifier(&other, &identity));
  EXPECT_STREQ("unchanged", identity);
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialGetUniqueIdentifier(&name, &identity));
  EXPECT_STREQ("usb-vendor_modem-if00-mdm", identity);

  setenv("TARVIK_DEVICE_MAP", "/nonexistent/device/map", 1);
  list = reinterpret_cast<TlLocDeviceItem*>(0x1);
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialGetList(&list, &length));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(0u, length);
  ASSERT_EQ(kTlResultSuccess, TlDeviceGetList(&names, &length));
  EXPECT_EQ(nullptr, names);
  EXPECT_EQ(0u, length);
}

TEST_F(SerialTest, OpenSetsRawEightNoParityOneStopAndTheBaud) {
  PtyPair pty;
  // Start from cooked settings, as a fresh terminal has.
  const int probe = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(probe, 0);
  const int descriptor = Open(pty.SlavePath(), 57600);
  struct termios settings;
  ASSERT_EQ(0, tcgetattr(probe, &settings));
  close(probe);
  EXPECT_EQ(static_cast<tcflag_t>(CS8), settings.c_cflag & CSIZE);
  EXPECT_EQ(0u, settings.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_NE(0u, settings.c_cflag & CREAD);
  EXPECT_EQ(0u, settings.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_EQ(0u, settings.c_oflag & OPOST);
  EXPECT_EQ(0u, settings.c_iflag & (ICRNL | IXON));
  EXPECT_EQ(static_cast<speed_t>(B57600), cfgetospeed(&settings));
  TlLocDeviceSerialClose(descriptor);

  // Failed opens leave the descriptor alone and take no table slot.
  for (const char* bad : {"/dev/no-such-port", "/dev/null"}) {
    EXPECT_EQ(-1, Open(bad, 115200, kTlResultDeviceErrorCouldNotOpenDevice));
  }
  EXPECT_EQ(-1, Open(pty.SlavePath(), 12345, kTlResultDeviceErrorCouldNotOpenDevice));
  EXPECT_EQ(1, Open(pty.SlavePath()));
  TlLocDeviceSerialClose(1);
}

// Counted bounds: a time-out of n seconds is 10 n polls of 100 ms; a port that takes nothing is
// given up after ten one-second waits; descriptors 1 to 254.
TEST_F(SerialTest, Bounds) {
  PtyPair pty;
  const int descriptor = Open(pty.SlavePath());
  unsigned char buffer[64];
  size_t count = 0;
  std::vector<std::unique_ptr<PtyPair>> ports;
  const struct {
    const char* name;
    std::function<TlResult()> call;
    TlResult result;
    size_t polls;
    short events;
    int timeout_ms;
  } rows[] = {
      {"read, 0 s", [&] { return TlLocDeviceSerialReceive(descriptor, buffer, 64, 0, &count); },
       kTlResultGeneralErrorOperationTimedOut, 1, POLLIN, 100},
      {"read, 3 s", [&] { return TlLocDeviceSerialReceive(descriptor, buffer, 64, 3, &count); },
       kTlResultGeneralErrorOperationTimedOut, 30, POLLIN, 100},
      {"write stalls", [&] { return TlLocDeviceSerialSend(descriptor, buffer, 1); },
       kTlResultDeviceErrorCouldNotWriteToDevice, 10, POLLOUT, 1000},
      {"255th descriptor",
       [&] {
         for (int index = 2; index <= 254; ++index) {
           ports.push_back(std::make_unique<PtyPair>());
           if (Open(ports.back()->SlavePath()) != index) return kTlResultGeneralErrorUnknown;
         }
         ports.push_back(std::make_unique<PtyPair>());
         char name[64] = {};
         ports.back()->SlavePath().copy(name, 63);
         int last = -1;
         return TlLocDeviceSerialOpen(&name, 115200, &last);
       },
       kTlResultDeviceErrorCouldNotOpenDevice, 0, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    polls.clear();
    empty_polls = 1000;
    EXPECT_EQ(row.result, row.call());
    empty_polls = 0;
    const std::vector<std::pair<short, int>> expected(row.polls, {row.events, row.timeout_ms});
    EXPECT_EQ(expected, polls);
  }
  // Descriptors are the lowest free from 1; closing one that is not open is harmless.
  for (int index : {-1, 7, 7, 3}) EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialClose(index));
  EXPECT_EQ(3, Open(ports[1]->SlavePath()));
  for (int index = 1; index <= 254; ++index) TlLocDeviceSerialClose(index);
}

TEST_F(SerialTest, ReadsReturnWhatHasArrived) {
  PtyPair pty;
  const int descriptor = Open(pty.SlavePath());
  unsigned char buffer[4096];
  size_t count = 77;
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, -2, &count));
  EXPECT_EQ(0u, count);
  // Bytes already waiting come at once, even with time-out 0, never more than the buffer holds.
  ASSERT_TRUE(pty.Write("123456"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReceive(descriptor, buffer, 4, 0, &count));
  EXPECT_EQ("1234", Text(buffer, count));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReceive(descriptor, buffer, 4096, 0, &count));
  EXPECT_EQ("56", Text(buffer, count));
  // Without a limit a read outlasts any number of empty polls and returns what came.
  ASSERT_TRUE(pty.Write("abc"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  empty_polls = 50;
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReceive(descriptor, buffer, 4096, -1, &count));
  EXPECT_EQ(0, empty_polls);
  EXPECT_EQ("abc", Text(buffer, count));

  // A hang-up is a read error, not an empty poll: even an unlimited read ends at once.
  pty.CloseMaster();
  for (int timeout : {-1, 0}) {
    EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
              TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, timeout, &count));
  }
  EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice,
            TlLocDeviceSerialSend(descriptor, buffer, 1));
  TlLocDeviceSerialClose(descriptor);
}

// A port is held alone until it is closed: an advisory lock for those who ask (another program,
// a second handle) and the terminal's exclusive mode for those who do not.
TEST_F(SerialTest, APortIsHeldExclusivelyUntilItIsClosed) {
  PtyPair pty;
  const auto probe = [&] { return open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); };
  const int other = probe();
  ASSERT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
  TlSetLogTypesForScreen(kTlLogTypeError);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(-1, Open(pty.SlavePath(), 115200, kTlResultDeviceErrorCouldNotOpenDevice));
  EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStdout().find(
                                   pty.SlavePath() + " is in use by another program or handle."));
  close(other);
  const int descriptor = Open(pty.SlavePath());
  EXPECT_EQ(-1, Open(pty.SlavePath(), 115200, kTlResultDeviceErrorCouldNotOpenDevice));
  int exclusive = 0;
  int fd = probe();  // a privileged opener passes the exclusive mode, others are refused
  EXPECT_TRUE(fd < 0 ? errno == EBUSY : ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 1);
  EXPECT_TRUE(fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0);
  close(fd);
  // Closing gives both back.
  TlLocDeviceSerialClose(descriptor);
  fd = probe();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
  EXPECT_TRUE(ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
  close(fd);
}

TEST_F(SerialTest, DescriptorsThatAreNotOpenFailReadsAndWrites) {
  unsigned char buffer[16] = {'A'};
  size_t count = 5;
  for (int descriptor : {-1, 0, 254, 255}) {
    EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
              TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice,
              TlLocDeviceSerialSend(descriptor, buffer, 2));
  }
  // Nothing to write is done at once, whatever the descriptor.
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialSend(-1, buffer, 0));
}

}  // namespace
