#include "transport/tests/support/pty_support.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "common/src/wait_seam.h"
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

PtyPair::~PtyPair() {
  CloseMaster();
}

bool PtyPair::Write(const std::string& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      return false;
    }
  }
  return true;
}

std::string PtyPair::Read(int timeout_ms, const std::string& needle) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (master_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    struct pollfd wait = {master_, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(std::min<long long>(left, 20)));
    if (ready > 0 && (wait.revents & POLLIN) != 0) {
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        got.append(buffer, static_cast<size_t>(n));
        if (!needle.empty() && got.find(needle) != std::string::npos) break;
        continue;
      }
    }
    // A slave that nobody holds open reports hang-up at once; do not spin on it.
    if (ready > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
  const char* previous = getenv("TARVIK_DEVICE_MAP");
  had_previous_ = previous != nullptr;
  if (had_previous_) previous_ = previous;
  setenv("TARVIK_DEVICE_MAP", dir_.path().c_str(), 1);
}

DeviceMapDir::~DeviceMapDir() {
  if (had_previous_) {
    setenv("TARVIK_DEVICE_MAP", previous_.c_str(), 1);
  } else {
    unsetenv("TARVIK_DEVICE_MAP");
  }
}

bool DeviceMapDir::Link(const std::string& name, const std::string& target) {
  const std::string link = dir_.File(name);
  unlink(link.c_str());
  return symlink(target.c_str(), link.c_str()) == 0;
}

bool DeviceMapDir::Unlink(const std::string& name) {
  return unlink(dir_.File(name).c_str()) == 0;
}

bool DeviceMapDir::PlainFile(const std::string& name) {
  return tarvik_test::WriteFile(dir_.File(name), std::string());
}

ScriptedModule::ScriptedModule(PtyPair* pty) : pty_(pty) {
  default_answer_.pieces = {"\r\nOK\r\n"};
}

ScriptedModule::~ScriptedModule() {
  Stop();
}

void ScriptedModule::Start() {
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void ScriptedModule::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void ScriptedModule::On(const std::string& line, std::vector<std::string> pieces, int pause_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[line] = Answer{std::move(pieces), pause_ms};
}

void ScriptedModule::SetDefault(std::vector<std::string> pieces) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_answer_.pieces = std::move(pieces);
}

void ScriptedModule::Silence(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_.push_back(line);
}

std::string ScriptedModule::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void ScriptedModule::ClearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
  lines_.clear();
}

std::vector<std::string> ScriptedModule::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool ScriptedModule::WaitForLine(const std::string& line, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    for (const auto& seen : lines_) {
      if (seen == line) return true;
    }
    return false;
  });
}

void ScriptedModule::Run() {
  while (!stop_) {
    struct pollfd wait = {pty_->master(), POLLIN, 0};
    const int ready = poll(&wait, 1, 20);
    if (ready <= 0) continue;
    if ((wait.revents & POLLIN) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    char buffer[4096];
    const ssize_t n = read(pty_->master(), buffer, sizeof buffer);
    if (n <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    std::vector<Answer> to_send;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.append(buffer, static_cast<size_t>(n));
      pending_.append(buffer, static_cast<size_t>(n));
      size_t end;
      while ((end = pending_.find('\n')) != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        lines_.push_back(line);
        bool silent = false;
        for (const auto& quiet : silent_) silent = silent || quiet == line;
        if (silent) continue;
        const auto found = answers_.find(line);
        to_send.push_back(found != answers_.end() ? found->second : default_answer_);
      }
    }
    changed_.notify_all();
    for (const auto& answer : to_send) {
      for (size_t index = 0; index < answer.pieces.size(); ++index) {
        if (index > 0 && answer.pause_ms > 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(answer.pause_ms));
        }
        pty_->Write(answer.pieces[index]);
      }
    }
  }
}

TlResult OpenDevice(const std::string& path, TlDeviceHandle* handle) {
  TlDeviceOpenParameters parameters = tarvik_test::OpenParameters<TlDeviceOpenParameters>(path);
  return TlDeviceOpen(&parameters, handle);
}

void TransportTest::SetUp() {
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  CommonSetWaitDivisor(100);
  ASSERT_EQ(kTlResultSuccess, TlInitialize());
}

void TransportTest::TearDown() {
  TlTerminate();
  CommonSetWaitDivisor(1);
  TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
}

}  // namespace tl_test
