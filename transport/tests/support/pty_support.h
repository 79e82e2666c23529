#ifndef TRANSPORT_TESTS_SUPPORT_PTY_SUPPORT_H_
#define TRANSPORT_TESTS_SUPPORT_PTY_SUPPORT_H_

// Test support for the port driver and the device manager: raw pseudo-terminal pairs whose master
// side plays the module, a device map directory of symbolic links; and a fixture that starts the
// transport with shortened fixed waits.

#include <gtest/gtest.h>

#include <string>

#include "common/src/wait_seam.h"
#include "testing/files.h"
#include "transport/src/device/device.h"

namespace tl_test {

// A pseudo-terminal pair. The test holds the master; the code under test opens SlavePath().
class PtyPair {
 public:
  PtyPair();
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& SlavePath() const { return slave_path_; }

  // Writes all bytes to the master side.
  bool Write(const std::string& bytes);
  // Bytes that arrive at the master within `timeout_ms`, stopping early once `needle` is in them.
  std::string Read(int timeout_ms, const std::string& needle = std::string());
  // True while nobody holds the slave side open (the master then sees hang-up).
  bool SlaveClosed() const;
  // Makes further opens of the slave fail while the number stays taken.
  bool LockSlave();
  // Closing the master hangs the slave up.
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// A scratch device map directory, set as TARVIK_DEVICE_MAP while the object lives.
class DeviceMapDir {
 public:
  DeviceMapDir();
  ~DeviceMapDir();
  DeviceMapDir(const DeviceMapDir&) = delete;
  DeviceMapDir& operator=(const DeviceMapDir&) = delete;

  const std::string& path() const { return dir_.path(); }
  // Creates (or replaces) the link name -> target.
  bool Link(const std::string& name, const std::string& target);
  bool Unlink(const std::string& name);

 private:
  tarvik_test::TempDir dir_;
};

// Opens `path` with the device manager at 115200 baud.
TlResult OpenDevice(const std::string& path, TlDeviceHandle* handle);

// Starts the transport (logging to the screen switched off, fixed waits divided by 100) and
// stops it again. Header only: the fake-device tests use it without the pseudo-terminals.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TlSetLogTypesForScreen(kTlLogTypeMaskNone);
    CommonSetWaitDivisor(100);
    ASSERT_EQ(kTlResultSuccess, TlInitialize());
  }
  void TearDown() override {
    TlTerminate();
    CommonSetWaitDivisor(1);
    TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
  }
};

}  // namespace tl_test

#endif  // TRANSPORT_TESTS_SUPPORT_PTY_SUPPORT_H_
