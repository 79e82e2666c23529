#ifndef TRANSPORT_TESTS_SUPPORT_PTY_SUPPORT_H_
#define TRANSPORT_TESTS_SUPPORT_PTY_SUPPORT_H_

// Test support for the port driver, the device manager and the AT channel: raw pseudo-terminal
// pairs whose master side plays the module, a device map directory of symbolic links, a scripted
// module that answers command lines with fixed byte sequences, and a fixture that starts the
// transport with shortened fixed waits.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/files.h"
#include "transport/src/device/device.h"

namespace tl_test {

// A pseudo-terminal pair. The test holds the master; the code under test opens SlavePath().
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& SlavePath() const { return slave_path_; }

  // Writes all bytes to the master side.
  bool Write(const std::string& bytes);
  // Bytes that arrive at the master within `timeout_ms` (stops early once `needle` is in them,
  // when given).
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
  // Creates a plain file (not a link) in the directory.
  bool PlainFile(const std::string& name);

 private:
  tarvik_test::TempDir dir_;
  std::string previous_;
  bool had_previous_ = false;
};

// A module played over the master side of a pty pair. It splits what the host writes into lines
// (at LF, a CR before it dropped; empty lines ignored) and answers each line with the pieces set
// for it (or the default answer), pausing between the pieces.
class ScriptedModule {
 public:
  struct Answer {
    std::vector<std::string> pieces;
    int pause_ms = 0;
  };

  explicit ScriptedModule(PtyPair* pty);
  ~ScriptedModule();
  ScriptedModule(const ScriptedModule&) = delete;
  ScriptedModule& operator=(const ScriptedModule&) = delete;

  void Start();
  void Stop();

  void On(const std::string& line, std::vector<std::string> pieces, int pause_ms = 0);
  // Used for lines without an own answer; "\r\nOK\r\n" unless set.
  void SetDefault(std::vector<std::string> pieces);
  // Lines that get no answer at all.
  void Silence(const std::string& line);

  // Every byte the host wrote, in order.
  std::string Received() const;
  void ClearReceived();
  std::vector<std::string> Lines() const;
  bool WaitForLine(const std::string& line, int timeout_ms) const;

 private:
  void Run();

  PtyPair* pty_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> silent_;
  Answer default_answer_;
  std::string received_;
  std::string pending_;
  std::vector<std::string> lines_;
};

// Opens `path` with the device manager at 115200 baud.
TlResult OpenDevice(const std::string& path, TlDeviceHandle* handle);

// Starts the transport (logging to the screen switched off, fixed waits divided by 100) and
// stops it again.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace tl_test

#endif  // TRANSPORT_TESTS_SUPPORT_PTY_SUPPORT_H_
