// The simulated module without its terminals: the AT, transparent-channel and secure-frame engines
// and the upgrade state machine over the state they share. Bytes of the AT port go in; effects
// (effects.h) come out. No terminal, no clock, no thread: `Module` runs one on pseudo-terminals,
// and tests drive one directly.
//
//   tarvik_sim::Engine engine(tarvik_sim::DefaultProfile());
//   tarvik_sim::Effects effects;
//   engine.OnAtBytes("ATE0\r", &effects);
//   // effects.list(): a kSend of "ATE0\r" (the echo), then a kSend of "\r\nOK\r\n"
#ifndef TARVIK_SIM_ENGINE_H_
#define TARVIK_SIM_ENGINE_H_

#include <string>

#include "tarvik_sim/at_engine.h"
#include "tarvik_sim/effects.h"
#include "tarvik_sim/module_state.h"
#include "tarvik_sim/sf_engine.h"
#include "tarvik_sim/tc_engine.h"
#include "tarvik_sim/upgrade_machine.h"

namespace tarvik_sim {

class Engine {
 public:
  explicit Engine(const Profile& profile);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  ModuleState& state() { return state_; }
  const ModuleState& state() const { return state_; }
  UpgradeMachine& upgrade() { return upgrade_; }

  // New faults; their counters start now.
  void SetFaults(const Faults& faults);

  // The module appeared: a fresh session (echo on, no reports, AT mode, nothing half read).
  void OnAppear();
  // Its ports closed: whatever was half read is gone.
  void OnPortsClosed();
  // It went away: the settings waiting for a restart apply, and installing completes.
  void OnRestart(Effects* effects);

  // Bytes the host wrote to the AT port.
  void OnAtBytes(const std::string& bytes, Effects* effects);
  // A timer started through the effects fired.
  void OnTimer(Timer timer, Effects* effects);

  // Unsolicited text may go out now: AT mode, and no half command line.
  bool ReadyForUnsolicited() const;

 private:
  ModuleState state_;
  UpgradeMachine upgrade_;
  AtEngine at_;
  TcEngine tc_;
  SfEngine sf_;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_ENGINE_H_
