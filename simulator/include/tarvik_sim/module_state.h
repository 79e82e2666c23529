// The state the simulated module's engines share: its live profile, its faults, and the session
// that starts afresh each time the module appears.
#ifndef TARVIK_SIM_MODULE_STATE_H_
#define TARVIK_SIM_MODULE_STATE_H_

#include <string>

#include "tarvik_sim/effects.h"
#include "tarvik_sim/faults.h"
#include "tarvik_sim/profile.h"

namespace tarvik_sim {

// What the AT port's bytes are taken as.
enum class Mode { kAt, kTransparentChannel, kSecureFrame };

struct ModuleState {
  Profile profile;
  Faults faults;
  long datagrams_seen = 0;  // transparent-channel datagrams since the faults were set

  // Session: reset each time the module appears.
  Mode mode = Mode::kAt;
  bool echo = true;
  bool ustate_reports = false;  // "*EEUSTATE:1,<state>" lines on
  int ready_queries = 0;
  bool restart_pending = false;  // a restart was answered: input is ignored until it happens

  // The command set is a setting of the module: an ITP assignment turns ITP mode on and
  // "KILL"/"KILD" turn it off, each taking effect as the module starts again.
  bool itp_after_restart = false;
  bool at_after_restart = false;

  // The configuration-set revision before the net configuration made the target the module's
  // (for keep_revision).
  std::string revision_before_update;
};

// Queues unsolicited text, unless the no_unsolicited fault holds it back.
void QueueUnsolicited(const ModuleState& state, const std::string& text, Effects* effects);

// A payload holding the profile's ITP marker switches the module to ITP mode at its next restart.
void NoteItpAssignment(ModuleState* state, const std::string& data, Effects* effects);

// Applies the settings of an accepted assignment (the format is in `tarvik-sim --help`); false
// when `data` is no assignment.
bool ApplyAssignment(ModuleState* state, const std::string& data, Effects* effects);

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_MODULE_STATE_H_
