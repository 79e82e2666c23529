// The simulated module's side of the transparent channel (after "AT*EETC=2"): control frames are
// answered, datagrams are acknowledged and assembled, and each whole payload goes to the upgrade
// state machine, whose result comes back in an answer datagram. A close control frame returns the
// port to AT mode.
#ifndef TARVIK_SIM_TC_ENGINE_H_
#define TARVIK_SIM_TC_ENGINE_H_

#include <stdint.h>

#include <string>

#include "tarvik_sim/effects.h"
#include "tarvik_sim/module_state.h"
#include "tarvik_sim/upgrade_machine.h"

namespace tarvik_sim {

class TcEngine {
 public:
  TcEngine(ModuleState* state, UpgradeMachine* upgrade) : state_(*state), upgrade_(*upgrade) {}

  // The channel was just opened.
  void Open(Effects* effects);
  // Takes channel bytes and consumes every whole frame; a half frame waits for the rest (and is
  // dropped when it waits too long: Timer::kTcStale). Returns the bytes that followed a close,
  // which are AT text again.
  std::string Feed(const std::string& bytes, Effects* effects);
  void OnStale(Effects* effects);
  // Drops the input and the datagram being assembled.
  void Reset();

 private:
  struct Assembly {
    bool active = false;
    uint16_t session = 0;
    uint16_t expected_sequence = 0;
    std::string payload;
  };

  void Datagram(const std::string& frame, Effects* effects);
  uint16_t OnPayload(const std::string& payload, Effects* effects);
  void SendFrame(const std::string& frame, Effects* effects) const;

  ModuleState& state_;
  UpgradeMachine& upgrade_;
  std::string input_;
  Assembly assembly_;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_TC_ENGINE_H_
