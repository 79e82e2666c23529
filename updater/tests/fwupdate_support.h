#ifndef UPDATER_TESTS_FWUPDATE_SUPPORT_H_
#define UPDATER_TESTS_FWUPDATE_SUPPORT_H_

// The program against the simulator program: tarvik-sim runs as a process of its own in a fresh
// device map, keeping its update state in a file so that a test can see where the module ended.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/paths.h"
#include "testing/process.h"

namespace fwupdate_test {

// The program's fixed waits shortened 20 times (a module restart then takes under a second).
constexpr char kShortWaits[] = "TARVIK_WAIT_DIVISOR=20";

// One module and a working directory for the program.
class FwUpdateTest : public ::testing::Test {
 protected:
  // Starts tarvik-sim with `settings` ("--set", "key=value", ...) and waits for its AT link.
  void StartModule(const std::vector<std::string>& settings) {
    std::filesystem::create_directory(map_);
    std::vector<std::string> arguments = {"--state", state_file_, "--set", "restart_away_ms=300"};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    ASSERT_TRUE(simulator_.Start(map_, arguments));
    ASSERT_TRUE(simulator_.WaitForModule());
  }

  // Waits (bounded) until the module's AT link is in the device map again.
  bool WaitForModule() const { return simulator_.WaitForModule(10000); }

  tarvik_test::ProcessResult Run(const std::vector<std::string>& arguments,
                                 const std::string& input = std::string(),
                                 bool short_waits = true) {
    std::vector<std::string> argv = {tarvik_test::kProgram};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = {"TARVIK_DEVICE_MAP=" + map_};
    if (short_waits) environment.push_back(kShortWaits);
    return tarvik_test::RunProcess(argv, environment, work_.path(), input, 300);
  }

  // The module's saved update state (upgrade state, configuration-set revision, ...).
  std::string ModuleState() const { return tarvik_test::ReadFile(state_file_); }

  bool ContainerLeftBehind() const {
    return tarvik_test::FileExists(work_.File("libupdate_container.dll"));
  }

  tarvik_test::TempDir work_;
  tarvik_test::TempDir scratch_;
  std::string map_ = scratch_.File("map");
  std::string state_file_ = scratch_.File("module.state");
  tarvik_test::SimulatorProcess simulator_;
};

}  // namespace fwupdate_test

#endif  // UPDATER_TESTS_FWUPDATE_SUPPORT_H_
