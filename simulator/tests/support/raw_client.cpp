#include "simulator/tests/support/raw_client.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace tarvik_sim_test {
namespace {

// Final answer present in `text`?
bool HasFinalResult(const std::string& text) {
  return text.find("OK\r\n") != std::string::npos || text.find("ERROR\r\n") != std::string::npos ||
         text.find("+CME ERROR:") != std::string::npos ||
         text.find("\r\nCERR:") != std::string::npos || text.find(", ERR\r\n") != std::string::npos;
}

}  // namespace

bool RawClient::Open(const std::string& path) {
  Close();
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct termios tio;
  if (tcgetattr(fd_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  tcflush(fd_, TCIOFLUSH);
  hung_up_ = false;
  buffer_.clear();
  return true;
}

void RawClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool RawClient::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd_, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

bool RawClient::ReadWhile(int timeout_ms, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done() && !hung_up_ && fd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    struct pollfd pfd = {fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[65536];
    const ssize_t got = read(fd_, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      hung_up_ = true;  // end of file or EIO: the module went away
    }
  }
  return done();
}

bool RawClient::ReadUntil(const std::string& pattern, int timeout_ms) {
  return ReadWhile(timeout_ms, [&] { return buffer_.find(pattern) != std::string::npos; });
}

std::string RawClient::ReadFor(int ms) {
  const size_t start = buffer_.size();
  ReadWhile(ms, [] { return false; });
  return buffer_.substr(start);
}

std::string RawClient::Command(const std::string& command, int timeout_ms) {
  buffer_.clear();
  if (!Write(command + "\r\n") || !ReadWhile(timeout_ms, [&] { return HasFinalResult(buffer_); })) {
    return std::string();
  }
  std::string answer;
  answer.swap(buffer_);
  return answer;
}

bool RawClient::WaitHangUp(int timeout_ms) {
  return ReadWhile(timeout_ms, [&] { return hung_up_; });
}

bool RunningModule::Start(const tarvik_sim::Profile& profile, std::string* error,
                          tarvik_sim::ModuleOptions options) {
  if (!map.Start(&module, profile, options, error)) return false;
  if (!client.Open(module.AtLinkPath())) {
    *error = "cannot open " + module.AtLinkPath();
    return false;
  }
  return true;
}

bool RunningModule::Reopen(int timeout_ms) {
  client.Close();
  if (!module.WaitPresent(timeout_ms)) return false;
  return client.Open(module.AtLinkPath());
}

}  // namespace tarvik_sim_test
