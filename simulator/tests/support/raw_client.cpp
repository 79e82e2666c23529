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

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool HasFinalResult(const std::string& text) {
  return text.find("OK\r\n") != std::string::npos || text.find("ERROR\r\n") != std::string::npos ||
         text.find("+CME ERROR:") != std::string::npos ||
         text.find("\r\nCERR:") != std::string::npos || text.find(", ERR\r\n") != std::string::npos;
}

bool RawClient::Open(const std::string& path) {
  Close();
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct termios tio;
  if (tcgetattr(fd_, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
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
    ssize_t written = write(fd_, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        struct pollfd pfd = {fd_, POLLOUT, 0};
        poll(&pfd, 1, 100);
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

bool RawClient::ReadSome(int timeout_ms) {
  if (fd_ < 0 || hung_up_) return false;
  struct pollfd pfd = {fd_, POLLIN, 0};
  int ready = poll(&pfd, 1, timeout_ms);
  if (ready <= 0) return false;
  char chunk[65536];
  ssize_t got = read(fd_, chunk, sizeof chunk);
  if (got > 0) {
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
  }
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  hung_up_ = true;  // EOF or EIO: the other side is gone
  return false;
}

bool RawClient::ReadUntil(const std::string& pattern, int timeout_ms, std::string* out) {
  const long long end = NowMs() + timeout_ms;
  size_t start = buffer_.size();
  bool found = false;
  while (true) {
    if (buffer_.find(pattern) != std::string::npos) {
      found = true;
      break;
    }
    long long left = end - NowMs();
    if (left <= 0 || hung_up_) break;
    ReadSome(static_cast<int>(left));
  }
  if (out != nullptr) out->append(buffer_, start, std::string::npos);
  return found;
}

std::string RawClient::ReadFor(int ms) {
  const long long end = NowMs() + ms;
  size_t start = buffer_.size();
  while (!hung_up_) {
    long long left = end - NowMs();
    if (left <= 0) break;
    ReadSome(static_cast<int>(left));
  }
  return buffer_.substr(start);
}

std::string RawClient::Command(const std::string& command, int timeout_ms) {
  buffer_.clear();
  if (!Write(command + "\r\n")) return std::string();
  const long long end = NowMs() + timeout_ms;
  while (!HasFinalResult(buffer_)) {
    long long left = end - NowMs();
    if (left <= 0 || hung_up_) return std::string();
    ReadSome(static_cast<int>(left));
  }
  std::string answer = buffer_;
  buffer_.clear();
  return answer;
}

bool RawClient::Take(size_t count, int timeout_ms, std::string* out) {
  const long long end = NowMs() + timeout_ms;
  while (buffer_.size() < count) {
    long long left = end - NowMs();
    if (left <= 0 || hung_up_) return false;
    ReadSome(static_cast<int>(left));
  }
  *out = buffer_.substr(0, count);
  buffer_.erase(0, count);
  return true;
}

bool RawClient::WaitHangUp(int timeout_ms) {
  const long long end = NowMs() + timeout_ms;
  while (!hung_up_) {
    long long left = end - NowMs();
    if (left <= 0) return false;
    ReadSome(static_cast<int>(left));
  }
  return true;
}

}  // namespace tarvik_sim_test
