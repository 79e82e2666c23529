// Simulated modules in process (the simulator's library), published in one device-map directory,
// and the open parameters that reach them.
#ifndef TESTING_MODULE_MAP_H_
#define TESTING_MODULE_MAP_H_

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"

namespace tarvik_test {

class ModuleMap {
 public:
  // A map in a temporary directory of its own.
  ModuleMap();
  // A map in `dir`, made when it does not exist yet (and left behind).
  explicit ModuleMap(const std::string& dir);
  // Stops the modules it started.
  ~ModuleMap();
  ModuleMap(const ModuleMap&) = delete;
  ModuleMap& operator=(const ModuleMap&) = delete;

  const std::string& dir() const { return dir_; }

  // Starts a module of the map's own whose AT link is `link_name` (the module's default names when
  // empty; a given name must hold "mdm" to be listed). Null on failure, with the reason as a test
  // failure.
  tarvik_sim::Module* Add(const tarvik_sim::Profile& profile,
                          const std::string& link_name = std::string());
  // Starts `module` (the caller's) in the map with `options` (map_dir is set here). On failure the
  // reason goes to `error`, or, without one, into a test failure.
  bool Start(tarvik_sim::Module* module, const tarvik_sim::Profile& profile,
             tarvik_sim::ModuleOptions options = tarvik_sim::ModuleOptions(),
             std::string* error = nullptr);
  // A listed entry whose port cannot be opened: a link to a path that does not exist.
  void AddDeadLink(const std::string& link_name);

 private:
  std::unique_ptr<TempDir> own_dir_;
  std::string dir_;
  std::vector<std::unique_ptr<tarvik_sim::Module>> modules_;
};

// Open parameters for `port` at `baud`: the library's and the transport's records share these two
// fields.
template <typename Parameters>
Parameters OpenParameters(const std::string& port, unsigned baud = 115200) {
  Parameters parameters = {};
  snprintf(parameters.device_name, sizeof parameters.device_name, "%s", port.c_str());
  parameters.baud = baud;
  return parameters;
}

}  // namespace tarvik_test

#endif  // TESTING_MODULE_MAP_H_
