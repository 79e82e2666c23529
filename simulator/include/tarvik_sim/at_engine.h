// The simulated module's command side of the AT port: echo (on until "ATE0"), line assembly, the
// AT command set and, in ITP mode, the ITP command set. The answer faults (delay, garbage, split
// answers, commands answered ERROR, never ready) apply here.
#ifndef TARVIK_SIM_AT_ENGINE_H_
#define TARVIK_SIM_AT_ENGINE_H_

#include <stddef.h>

#include <string>
#include <vector>

#include "tarvik_sim/effects.h"
#include "tarvik_sim/module_state.h"
#include "tarvik_sim/radio_engine.h"

namespace tarvik_sim {

class AtEngine {
 public:
  explicit AtEngine(ModuleState* state) : state_(*state) {}

  // Takes AT-port bytes: echoes them and runs each whole line. Stops after a command that leaves
  // AT mode or restarts the module; returns the number of bytes taken.
  size_t Feed(const std::string& bytes, Effects* effects);
  // Runs one command line (without its line end).
  void Command(const std::string& line, Effects* effects);
  bool HasPartialLine() const { return !line_.empty(); }
  void Reset();

 private:
  void Answer(const std::string& text, Effects* effects, bool go_away = false);
  // The radio's answer and the unsolicited text that follows it.
  void RadioAnswer(const RadioReply& reply, Effects* effects);
  void ItpCommand(const std::string& line, const std::string& upper, Effects* effects);
  bool IsErrorCommand(const std::string& upper) const;
  std::string Report(const std::vector<std::string>& names) const;
  std::string CpinText() const;
  std::string SimBlocked() const;
  std::string EnterPin(const std::vector<std::string>& args);
  std::string IccidText() const;
  std::string PackageListAnswer() const;

  ModuleState& state_;
  RadioEngine radio_;
  std::string line_;
  bool line_overflow_ = false;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_AT_ENGINE_H_
