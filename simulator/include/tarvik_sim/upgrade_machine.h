// The simulated module's upgrade state machine (see `tarvik-sim --help`): idle in state 0 or 1; a
// net configuration moves it to state 2 and names the packages it wants; the last wanted package
// starts installing (state 3); then state 5 and a restart by itself, or state 4 waiting for a
// restart; it comes back in state 1 on the target revision.
#ifndef TARVIK_SIM_UPGRADE_MACHINE_H_
#define TARVIK_SIM_UPGRADE_MACHINE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "tarvik_sim/effects.h"
#include "tarvik_sim/module_state.h"

namespace tarvik_sim {

// The wanted packages not yet received.
std::vector<Package> MissingPackages(const Profile& profile);

class UpgradeMachine {
 public:
  explicit UpgradeMachine(ModuleState* state) : state_(*state) {}

  // A whole payload arrived: returns the answer's result (0 taken, 255 refused).
  uint16_t OnPayload(const std::string& payload, Effects* effects);
  // Changes the state, keeps it and reports it when reports are on.
  void ChangeState(int state, Effects* effects);
  // kEnterInstalling, kInstallDone and kSelfRestart fired.
  void OnTimer(Timer timer, Effects* effects);
  // The module went away: whatever was being installed completes while it boots.
  void OnRestart(Effects* effects);
  // The target becomes the revision, and the module is idle again.
  void FinishInstallation(Effects* effects);

 private:
  void StartInstalling(Effects* effects);
  void InstallDone(Effects* effects);

  ModuleState& state_;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_UPGRADE_MACHINE_H_
