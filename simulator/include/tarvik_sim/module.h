// In-process simulated Tarvik Module for tests.
//
// A `Module` publishes two pseudo-terminals as symbolic links in a device-map directory: the AT
// port (link name holding "mdm") and a second port whose name is no port candidate. The host side
// opens the link target like a serial device. The module answers AT commands (echo on until
// "ATE0"), the ITP command set, the transparent channel after "AT*EETC=2", the secure frame
// protocol after "AT*EESFUD=3", and runs an upgrade state machine. A restart ("AT*E2RESET",
// "KILL"/"KILD", Unplug(), a fault, or the end of an update) closes both pseudo-terminals (the
// host's reads fail with hang-up), removes the links, and after `restart_away_ms` publishes NEW
// pseudo-terminals under the same link names. The old numbers stay occupied meanwhile, so the
// kernel cannot hand the old name out again.
//
// Typical use:
//   tarvik_sim::Module module;
//   tarvik_sim::ModuleOptions options;
//   options.map_dir = dir;                      // must exist
//   std::string error;
//   ASSERT_TRUE(module.Start(tarvik_sim::DefaultProfile(), options, &error)) << error;
//   ... open module.AtPortPath() or scan `dir` ...
//   EXPECT_TRUE(module.WaitForCommand("AT*EEVINFO=99", 5000));
//   module.Stop();                              // also done by the destructor
//
// All member functions are thread-safe. The module runs on one thread of its own; nothing the
// host sends can block it, and it uses no CPU while idle.
#ifndef TARVIK_SIM_MODULE_H_
#define TARVIK_SIM_MODULE_H_

#include <memory>
#include <string>
#include <vector>

#include "tarvik_sim/faults.h"
#include "tarvik_sim/profile.h"

namespace tarvik_sim {

struct ModuleOptions {
  std::string map_dir;  // device-map directory where the links are published (must exist)
  std::string at_link_name = "usb-Tarvik_Module_0001-if00-mdm";
  std::string second_link_name = "usb-Tarvik_Module_0001-if02-diag";
  // When set, the AT port also appears as map_dir/<port_name>, a link to the pseudo-terminal that
  // the AT link points at: the tty name a host reads from the port list, which Rename can hand to
  // another module across a restart. Empty: the AT link points at the pseudo-terminal itself.
  std::string port_name;
  std::string log_file;    // readable log; empty: none
  std::string state_file;  // update state kept across runs; read at Start when it exists
};

struct TranscriptEntry {
  enum Kind {
    kReceived,  // raw bytes the host wrote (one entry per read)
    kSent,      // raw bytes the module wrote (one entry per write)
    kCommand,   // a decoded command line (text without line end) or transparent-channel frame
    kEvent,     // restart, away, back, state change, fault fired, ...
  };
  double seconds = 0;  // since Start
  Kind kind = kEvent;
  int port = 0;  // 0 the AT port, 1 the second port
  std::string data;
};

class Module {
 public:
  Module();
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Creates the pseudo-terminals and links and starts the module thread. False (with a reason)
  // when the map directory cannot be used or no pseudo-terminal can be created.
  bool Start(const Profile& profile, const ModuleOptions& options, std::string* error);
  // Stops the thread, closes every pseudo-terminal and removes the links. Safe to call twice.
  void Stop();

  // Full link paths (map_dir/name) and the current targets (empty while the module is away); with
  // a port name, AtPortPath is map_dir/<port_name>.
  std::string AtLinkPath() const;
  std::string SecondLinkPath() const;
  std::string AtPortPath() const;
  std::string SecondPortPath() const;

  void SetFaults(const Faults& faults);
  Faults GetFaults() const;

  // Go away now, as if unplugged; come back after `restart_away_ms` unless `come_back` is false or
  // the stay_away fault is set.
  void Unplug(bool come_back = true);
  // Come back now if away (also after stay_away).
  void Plug();
  // Restart now (as "AT*E2RESET" after its OK).
  void Restart();
  // The AT link name and port name (see ModuleOptions) the module takes when it next appears.
  void Rename(const std::string& at_link_name, const std::string& port_name);

  bool IsPresent() const;
  int RestartCount() const;  // times the module went away
  bool EchoOn() const;
  bool InTransparentChannel() const;
  int UpgradeState() const;

  // The live profile (state included), and a way to change it at run time. Changing the upgrade
  // state with SetUpgradeState also sends the unsolicited line when it is on.
  Profile CurrentProfile() const;
  void SetProfile(const Profile& profile);
  void SetUpgradeState(int state);

  // Writes text to the AT port as is (an unsolicited line must bring its own line ends).
  void SendUnsolicited(const std::string& text);

  std::vector<TranscriptEntry> Transcript() const;
  std::vector<std::string> Commands() const;  // kCommand entries of port 0, in order
  void ClearTranscript();

  // Wait (bounded) until the module received a command equal to `command` (case-insensitive)
  // since Start or the last ClearTranscript; until present / away.
  bool WaitForCommand(const std::string& command, int timeout_ms) const;
  bool WaitPresent(int timeout_ms) const;
  bool WaitAway(int timeout_ms) const;
  bool WaitUpgradeState(int state, int timeout_ms) const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_MODULE_H_
