// The simulated module's input side against any bytes: its engines (the AT and ITP command sets,
// the transparent channel, the secure frame protocol, the upgrade state machine) and the control
// lines of scenarios and the control socket (fault and profile settings included).
//
// Input: byte 0 even: the rest is control lines, one per '\n', for a running module; odd: the rest
// is what a host writes to the AT port. The engines keep their state from one input to the next,
// as a module would, and time passes after each input. Faults and profile changes made by control
// lines are undone after each input.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "simulator/tests/support/engine_runner.h"
#include "tarvik_sim/control.h"
#include "tarvik_sim/module.h"
#include "testing/fuzz.h"

namespace {

tarvik_sim::Module* module = nullptr;
tarvik_sim_test::EngineRunner* engine = nullptr;

void Stop() {
  module->Stop();
  delete module;
  delete engine;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tarvik_sim::ModuleOptions options;
  options.map_dir = tarvik_fuzz::ScratchDir("module_fuzz");
  module = new tarvik_sim::Module;
  std::string error;
  if (!module->Start(tarvik_sim::DefaultProfile(), options, &error)) {
    fprintf(stderr, "cannot start the module: %s\n", error.c_str());
    abort();
  }
  engine = new tarvik_sim_test::EngineRunner(tarvik_sim::DefaultProfile(), tarvik_sim::Faults());
  atexit(Stop);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char*>(input + 1), size - 1);
  if ((input[0] & 1) == 0) {
    const tarvik_sim::Profile profile = module->CurrentProfile();
    for (const std::string& line : tarvik_fuzz::SplitAt(rest, '\n')) {
      std::string reply;
      tarvik_sim::RunControlLine(module, line, &reply);
    }
    module->SetFaults(tarvik_sim::Faults());
    module->SetProfile(profile);
  } else {
    // An update ends in a restart by itself through three timers in a row.
    const std::string& wait = tarvik_sim_test::kWait;
    engine->Send(rest);
    engine->Run({wait, wait, wait, wait});
  }
  return 0;
}
