#ifndef UPDATER_TESTS_FWUPDATE_SUPPORT_H_
#define UPDATER_TESTS_FWUPDATE_SUPPORT_H_

// The program against the simulator program: tarvik-sim runs as a process of its own in a fresh
// device map, keeping its update state in a file so that a test can see where the module ended.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "updater/tests/support/frontend_support.h"

namespace fwupdate_test {

constexpr char kProgram[] = TARVIK_BIN_DIR "/dralmoor";
constexpr char kSimulator[] = TARVIK_BIN_DIR "/tarvik-sim";
// The program's fixed waits shortened 20 times (a module restart then takes under a second).
constexpr char kShortWaits[] = "TARVIK_WAIT_DIVISOR=20";

class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  ~SimulatorProcess() { Stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Starts tarvik-sim with `settings` ("--set", "key=value", ...) and waits for its AT link.
  bool Start(const std::string& map_dir, const std::string& state_file,
             const std::vector<std::string>& settings) {
    std::vector<std::string> arguments = {
        kSimulator, "--map", map_dir, "--state", state_file, "--set", "restart_away_ms=300"};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : arguments) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      freopen("/dev/null", "w", stdout);
      execv(kSimulator, argv.data());
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      for (const auto& entry : std::filesystem::directory_iterator(map_dir)) {
        if (entry.path().filename().string().find("mdm") != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// One module and a working directory for the program.
class FwUpdateTest : public ::testing::Test {
 protected:
  void StartModule(const std::vector<std::string>& settings) {
    std::filesystem::create_directory(map_);
    ASSERT_TRUE(simulator_.Start(map_, state_file_, settings));
  }

  // Waits (bounded) until the module's AT link is in the device map again.
  bool WaitForModule() const {
    for (int i = 0; i < 400; ++i) {
      for (const auto& entry : std::filesystem::directory_iterator(map_)) {
        if (entry.path().filename().string().find("mdm") != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  frontend_test::ProcessResult Run(const std::vector<std::string>& arguments,
                                   const std::string& input = std::string(),
                                   bool short_waits = true) {
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = {"TARVIK_DEVICE_MAP=" + map_};
    if (short_waits) environment.push_back(kShortWaits);
    return frontend_test::RunProcess(argv, environment, work_.path(), input, 300);
  }

  // The module's saved update state (upgrade state, configuration-set revision, ...).
  std::string ModuleState() const { return frontend_test::ReadFile(state_file_); }

  bool ContainerLeftBehind() const {
    return frontend_test::FileExists(work_.File("libupdate_container.dll"));
  }

  frontend_test::TempDir work_;
  frontend_test::TempDir scratch_;
  std::string map_ = scratch_.File("map");
  std::string state_file_ = scratch_.File("module.state");
  SimulatorProcess simulator_;
};

inline size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace fwupdate_test

#endif  // UPDATER_TESTS_FWUPDATE_SUPPORT_H_
