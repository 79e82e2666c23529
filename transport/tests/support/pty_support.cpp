#include "transport/tests/support/pty_support.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testing/module_map.h"
#include "transport/src/common/common.h"

namespace tl_test {

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
    close(master_);
    master_ = -1;
    return;
  }
  slave_path_ = name;
  // The master side stays raw too, so bytes pass unchanged in both directions even before the
  // host configured its side.
  struct termios settings;
  if (tcgetattr(master_, &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(master_, TCSANOW, &settings);
  }
}

bool PtyPair::Write(const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string PtyPair::Read(int timeout_ms, const std::string& needle) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string got;
  while (master_ >= 0 && Clock::now() < end && (needle.empty() || got.find(needle) == got.npos)) {
    struct pollfd wait = {master_, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = poll(&wait, 1, 20) > 0 && (wait.revents & POLLIN) != 0
                          ? read(master_, buffer, sizeof buffer)
                          : 0;
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    // A slave that nobody holds open reports hang-up at once; do not spin on it.
    if (n <= 0 && wait.revents != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return got;
}

bool PtyPair::SlaveClosed() const {
  struct pollfd wait = {master_, POLLIN, 0};
  return poll(&wait, 1, 0) > 0 && (wait.revents & POLLHUP) != 0;
}

bool PtyPair::LockSlave() {
  int lock = 1;
  return ioctl(master_, TIOCSPTLCK, &lock) == 0;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

DeviceMapDir::DeviceMapDir() {
  setenv("TARVIK_DEVICE_MAP", dir_.path().c_str(), 1);
}

DeviceMapDir::~DeviceMapDir() {
  unsetenv("TARVIK_DEVICE_MAP");
}

bool DeviceMapDir::Link(const std::string& name, const std::string& target) {
  const std::string link = dir_.File(name);
  unlink(link.c_str());
  return symlink(target.c_str(), link.c_str()) == 0;
}

bool DeviceMapDir::Unlink(const std::string& name) {
  return unlink(dir_.File(name).c_str()) == 0;
}

TlResult OpenDevice(const std::string& path, TlDeviceHandle* handle) {
  TlDeviceOpenParameters parameters = tarvik_test::OpenParameters<TlDeviceOpenParameters>(path);
  return TlDeviceOpen(&parameters, handle);
}

}  // namespace tl_test
