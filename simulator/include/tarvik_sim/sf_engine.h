// The simulated module's side of the secure frame protocol (after "AT*EESFUD=3"): every request
// packet is acknowledged; a packet shorter than the largest, or a quiet spell (Timer::kSfQuiet)
// after a full one or after the start, completes the data: the final acknowledgement, then
// "\r\nOK\r\n" and AT mode again.
#ifndef TARVIK_SIM_SF_ENGINE_H_
#define TARVIK_SIM_SF_ENGINE_H_

#include <stdint.h>

#include <string>

#include "tarvik_sim/effects.h"
#include "tarvik_sim/module_state.h"

namespace tarvik_sim {

class SfEngine {
 public:
  explicit SfEngine(ModuleState* state) : state_(*state) {}

  // The protocol was just opened.
  void Open(Effects* effects);
  // Takes the port's bytes; what follows the data's end is dropped.
  void Feed(const std::string& bytes, Effects* effects);
  // Timer::kSfQuiet fired: the data is complete.
  void OnQuiet(Effects* effects) { Finish(effects); }
  void Reset();

 private:
  void Respond(uint32_t result, int delay_ms, Effects* effects) const;
  void Finish(Effects* effects);
  void Leave(Effects* effects);

  ModuleState& state_;
  std::string input_;
  std::string data_;  // the data received so far
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_SF_ENGINE_H_
