// Port driver on pseudo-terminals: port list from the device map directory, descriptors, line
// settings, reads with their time-out rules and hang-up, writes.

#include "transport/src/device/posix/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "transport/tests/support/pty_support.h"

namespace {

using tl_test::DeviceMapDir;
using tl_test::PtyPair;

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { TlSetLogTypesForScreen(kTlLogTypeMaskNone); }
  void TearDown() override { TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen); }

  static int Open(const std::string& path, TlDeviceBaud baud = 115200) {
    char name[64] = {};
    path.copy(name, sizeof name - 1);
    int descriptor = -1;
    EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialOpen(&name, baud, &descriptor)) << path;
    return descriptor;
  }
};

TEST_F(SerialTest, ListTakesCandidateLinksInNameOrderWithLowerCaseIdentity) {
  DeviceMapDir map;
  ASSERT_TRUE(map.Link("usb-Vendor_Modem-if02-Mgmt", "/dev/ttyACM2"));
  ASSERT_TRUE(map.Link("usb-Vendor_Modem-if00-MDM", "/dev/ttyACM0"));
  ASSERT_TRUE(map.Link("usb-Other_Serial0", "/dev/ttyUSB0"));  // no candidate
  ASSERT_TRUE(map.Link("pci-UsbSer-port", "../../ttyS4"));     // relative target
  ASSERT_TRUE(map.PlainFile("file-mdm"));                      // not a link
  ASSERT_TRUE(map.Link("usb-a-very-long-name-for-a-modem-port-mdm-0123456789", "/dev/ttyACM9"));

  TlLocDeviceItem* list = nullptr;
  size_t length = 99;
  ASSERT_EQ(kTlResultSuccess, TlLocDeviceSerialGetList(&list, &length));
  ASSERT_EQ(4u, length);
  ASSERT_NE(nullptr, list);

  EXPECT_STREQ("pci-usbser-port", list[0].unique_identifier);
  // ".." is folded against the map directory (two levels below /tmp here).
  EXPECT_STREQ("/ttyS4", list[0].device_name);
  // Raw name order: upper case sorts before lower case.
  EXPECT_STREQ("usb-vendor_modem-if00-mdm", list[1].unique_identifier);
  EXPECT_STREQ("/dev/ttyACM0", list[1].device_name);
  EXPECT_STREQ("usb-vendor_modem-if02-mgmt", list[2].unique_identifier);
  EXPECT_STREQ("/dev/ttyACM2", list[2].device_name);
  EXPECT_STREQ("usb-a-very-long-name-for-a-mode", list[3].unique_identifier);  // cut to 31
  EXPECT_STREQ("/dev/ttyACM9", list[3].device_name);
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReleaseList(list));
}

TEST_F(SerialTest, ListOfMissingDirectoryIsEmptyAndSucceeds) {
  setenv("TARVIK_DEVICE_MAP", "/nonexistent/device/map", 1);
  TlLocDeviceItem* list = reinterpret_cast<TlLocDeviceItem*>(0x1);
  size_t length = 7;
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialGetList(&list, &length));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(0u, length);
  unsetenv("TARVIK_DEVICE_MAP");
}

TEST_F(SerialTest, IdentityLookupByExactListedName) {
  DeviceMapDir map;
  ASSERT_TRUE(map.Link("Module-MDM0", "/dev/ttyACM3"));
  char name[64] = "/dev/ttyACM3";
  TlDeviceUniqueIdentifier identity = "unchanged";
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialGetUniqueIdentifier(&name, &identity));
  EXPECT_STREQ("module-mdm0", identity);

  char other[64] = "/dev/ttyacm3";  // names compare case-sensitively
  TlDeviceUniqueIdentifier kept = "unchanged";
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialGetUniqueIdentifier(&other, &kept));
  EXPECT_STREQ("unchanged", kept);
}

TEST_F(SerialTest, DescriptorsAreLowestFreeFromOne) {
  PtyPair first, second;
  ASSERT_TRUE(first.ok() && second.ok());
  const int a = Open(first.SlavePath());
  const int b = Open(second.SlavePath());
  EXPECT_EQ(1, a);
  EXPECT_EQ(2, b);
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialClose(a));
  EXPECT_EQ(1, Open(first.SlavePath()));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialClose(1));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialClose(2));
  // Closing what is not open is harmless.
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialClose(-1));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialClose(2));
}

TEST_F(SerialTest, OpenSetsRawEightNoParityOneStopAndTheBaud) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
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
}

TEST_F(SerialTest, OpenFailuresReturnCouldNotOpen) {
  char missing[64] = "/dev/no-such-port";
  int descriptor = 42;
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice,
            TlLocDeviceSerialOpen(&missing, 115200, &descriptor));
  EXPECT_EQ(42, descriptor);

  char not_a_tty[64] = "/dev/null";
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice,
            TlLocDeviceSerialOpen(&not_a_tty, 115200, &descriptor));

  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  char name[64] = {};
  pty.SlavePath().copy(name, 63);
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice,
            TlLocDeviceSerialOpen(&name, 12345, &descriptor));
  // A failed open leaves no descriptor behind.
  EXPECT_EQ(1, Open(pty.SlavePath()));
  TlLocDeviceSerialClose(1);
}

TEST_F(SerialTest, ReceiveTimeoutRules) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int descriptor = Open(pty.SlavePath());
  unsigned char buffer[4096];
  size_t count = 77;

  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, 0, &count));
  EXPECT_EQ(0u, count);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, 2, &count));
  // Twenty empty polls of 100 ms each.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));

  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, -2, &count));

  // Without a limit the read waits for data and returns what came, not a full buffer.
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    pty.Write("abc");
  });
  EXPECT_EQ(kTlResultSuccess,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, -1, &count));
  writer.join();
  EXPECT_EQ("abc", std::string(reinterpret_cast<char*>(buffer), count));

  // Bytes already waiting are returned at once even with time-out 0.
  ASSERT_TRUE(pty.Write("xyz"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(kTlResultSuccess,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, 0, &count));
  EXPECT_EQ("xyz", std::string(reinterpret_cast<char*>(buffer), count));

  // A small buffer takes what fits; the rest stays for the next read.
  ASSERT_TRUE(pty.Write("123456"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReceive(descriptor, buffer, 4, 0, &count));
  EXPECT_EQ("1234", std::string(reinterpret_cast<char*>(buffer), count));
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialReceive(descriptor, buffer, 4, 0, &count));
  EXPECT_EQ("56", std::string(reinterpret_cast<char*>(buffer), count));
  TlLocDeviceSerialClose(descriptor);
}

TEST_F(SerialTest, InvalidDescriptorsFailReadAndWrite) {
  unsigned char buffer[16];
  size_t count = 5;
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
            TlLocDeviceSerialReceive(-1, buffer, sizeof buffer, 0, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
            TlLocDeviceSerialReceive(254, buffer, sizeof buffer, 0, &count));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
            TlLocDeviceSerialReceive(255, buffer, sizeof buffer, 0, &count));
  const unsigned char data[] = {'A', 'T'};
  EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice, TlLocDeviceSerialSend(-1, data, 2));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice, TlLocDeviceSerialSend(17, data, 2));
  // Nothing to write is done at once, whatever the descriptor.
  EXPECT_EQ(kTlResultSuccess, TlLocDeviceSerialSend(-1, data, 0));
}

TEST_F(SerialTest, HangUpIsAReadErrorNotAnEmptyPoll) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int descriptor = Open(pty.SlavePath());
  pty.CloseMaster();

  unsigned char buffer[64];
  size_t count = 0;
  // Without a limit an empty poll would wait for ever; the hang-up ends every read at once.
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, -1, &count));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotReadFromDevice,
            TlLocDeviceSerialReceive(descriptor, buffer, sizeof buffer, 0, &count));
  const unsigned char data[] = {'A'};
  EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice, TlLocDeviceSerialSend(descriptor, data, 1));
  TlLocDeviceSerialClose(descriptor);
}

TEST_F(SerialTest, SendWritesEveryByteOfALargeBlock) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int descriptor = Open(pty.SlavePath());
  // Larger than the terminal's queue, so the writer must wait for the reader and go on.
  std::string block(200000, '\0');
  for (size_t index = 0; index < block.size(); ++index) {
    block[index] = static_cast<char>(index * 7 + index / 251);
  }
  std::string received;
  std::thread reader([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.size() < block.size() && std::chrono::steady_clock::now() < deadline) {
      received += pty.Read(20);
    }
  });
  EXPECT_EQ(kTlResultSuccess,
            TlLocDeviceSerialSend(descriptor, reinterpret_cast<const unsigned char*>(block.data()),
                                  block.size()));
  reader.join();
  EXPECT_TRUE(received == block) << "received " << received.size() << " bytes";
  TlLocDeviceSerialClose(descriptor);
}

}  // namespace
