// A simulated module in a device map of its own, with a raw client on its AT port.
#ifndef TARVIK_SIM_TESTS_SUPPORT_RUNNING_MODULE_H_
#define TARVIK_SIM_TESTS_SUPPORT_RUNNING_MODULE_H_

#include <string>

#include "simulator/tests/support/raw_client.h"
#include "tarvik_sim/module.h"
#include "testing/module_map.h"

namespace tarvik_sim_test {

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

#endif  // TARVIK_SIM_TESTS_SUPPORT_RUNNING_MODULE_H_
