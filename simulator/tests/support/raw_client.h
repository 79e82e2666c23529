// A raw host-side client for tests of the simulated module: opens the port the way a serial tool
// does and reads with bounded waits.
#ifndef TARVIK_SIM_TESTS_SUPPORT_RAW_CLIENT_H_
#define TARVIK_SIM_TESTS_SUPPORT_RAW_CLIENT_H_

#include <string>

namespace tarvik_sim_test {

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Open(const std::string& path);  // raw mode, 115200 8N1
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool Write(const std::string& bytes);
  // Reads until `pattern` is in what was read (returns true) or `timeout_ms` passed or the port
  // hung up. Everything read is appended to `*out` when given and kept in Buffer().
  bool ReadUntil(const std::string& pattern, int timeout_ms, std::string* out = nullptr);
  // Reads whatever comes within `ms`.
  std::string ReadFor(int ms);
  // Sends `command` + CR LF and reads to a final result ("OK\r\n", "ERROR\r\n", "+CME ERROR:",
  // "CERR:", ", ERR\r\n"); returns what was read (empty on a time-out).
  std::string Command(const std::string& command, int timeout_ms = 2000);
  // Takes exactly `count` bytes (from what was read before, then from the port) within
  // `timeout_ms`; false on a time-out or hang-up (what came stays in Buffer()).
  bool Take(size_t count, int timeout_ms, std::string* out);
  // True once a read saw hang-up or end of file (the module went away).
  bool HungUp() const { return hung_up_; }
  // Waits until the port hangs up.
  bool WaitHangUp(int timeout_ms);
  std::string& Buffer() { return buffer_; }

 private:
  // One bounded read; false on hang-up or time-out with nothing.
  bool ReadSome(int timeout_ms);

  int fd_ = -1;
  bool hung_up_ = false;
  std::string buffer_;
};

// Final answer present in `text`?
bool HasFinalResult(const std::string& text);

}  // namespace tarvik_sim_test

#endif  // TARVIK_SIM_TESTS_SUPPORT_RAW_CLIENT_H_
