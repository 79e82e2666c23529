// A raw host-side client for tests of the simulated module: opens the port the way a serial tool
// does and reads with bounded waits; and a module in a device map of its own with such a client.
#ifndef TARVIK_SIM_TESTS_SUPPORT_RAW_CLIENT_H_
#define TARVIK_SIM_TESTS_SUPPORT_RAW_CLIENT_H_

#include <functional>
#include <string>

#include "tarvik_sim/module.h"
#include "testing/module_map.h"

namespace tarvik_sim_test {

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Open(const std::string& path);  // raw mode
  void Close();

  bool Write(const std::string& bytes);
  // Reads until `pattern` is in what was read (returns true) or `timeout_ms` passed or the port
  // hung up. Everything read is kept in Buffer().
  bool ReadUntil(const std::string& pattern, int timeout_ms);
  // Reads whatever comes within `ms`.
  std::string ReadFor(int ms);
  // Sends `command` + CR LF and reads to a final result ("OK\r\n", "ERROR\r\n", "+CME ERROR:",
  // "CERR:", ", ERR\r\n"); returns what was read (empty on a time-out).
  std::string Command(const std::string& command, int timeout_ms = 2000);
  // Waits until the port hangs up.
  bool WaitHangUp(int timeout_ms);
  std::string& Buffer() { return buffer_; }

 private:
  // Reads until `done` holds, the port hangs up or `timeout_ms` passed; returns `done`.
  bool ReadWhile(int timeout_ms, const std::function<bool()>& done);

  int fd_ = -1;
  bool hung_up_ = false;
  std::string buffer_;
};

struct RunningModule {
  tarvik_test::ModuleMap map;
  tarvik_sim::Module module;
  RawClient client;

  // Starts the module (options.map_dir is set to the map's directory) and opens the AT link.
  bool Start(const tarvik_sim::Profile& profile, std::string* error,
             tarvik_sim::ModuleOptions options = tarvik_sim::ModuleOptions());
  // Reopens the client on the AT link (after a restart).
  bool Reopen(int timeout_ms = 5000);
};

}  // namespace tarvik_sim_test

#endif  // TARVIK_SIM_TESTS_SUPPORT_RAW_CLIENT_H_
