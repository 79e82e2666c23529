// Text control of a running simulated module: the lines of a scenario file and of the control
// socket of `tarvik-sim` (see `tarvik-sim --help` for the list).
#ifndef TARVIK_SIM_CONTROL_H_
#define TARVIK_SIM_CONTROL_H_

#include <string>

#include "tarvik_sim/module.h"

namespace tarvik_sim {

// Runs one action or query. On success `reply` holds the value lines of a query (each ending in
// '\n') or is empty; on failure it holds the reason.
bool RunControlLine(Module* module, const std::string& line, std::string* reply);

std::string ControlTrim(const std::string& text);
std::string ControlUpper(const std::string& text);

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_CONTROL_H_
