#include "simulator/tests/support/running_module.h"

namespace tarvik_sim_test {

bool RunningModule::Start(const tarvik_sim::Profile& profile, std::string* error,
                          tarvik_sim::ModuleOptions options) {
  if (!map.Start(&module, profile, options, error)) return false;
  if (!client.Open(module.AtLinkPath())) {
    *error = "cannot open " + module.AtLinkPath();
    return false;
  }
  return true;
}

bool RunningModule::Reopen(int timeout_ms) {
  client.Close();
  if (!module.WaitPresent(timeout_ms)) return false;
  return client.Open(module.AtLinkPath());
}

}  // namespace tarvik_sim_test
