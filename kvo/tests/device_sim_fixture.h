#ifndef KVO_TESTS_DEVICE_SIM_FIXTURE_H_
#define KVO_TESTS_DEVICE_SIM_FIXTURE_H_

// The library started in a fresh working directory (so that a customization container is found
// only where a test puts one) that also holds the device map of the simulated modules, with the
// fixed waits shortened.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/src/wait_seam.h"
#include "kvo.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"
#include "testing/module_map.h"
#include "testing/paths.h"

namespace kvo_test {

inline std::string ContainerVariant(const std::string& name) {
  return std::string(TARVIK_LIB_DIR) + "/customization_container_variants/" + name + ".dll";
}

inline std::string SampleContainer() {
  return std::string(TARVIK_LIB_DIR) + "/libcustomization_container.dll";
}

// Copies a customization container into `dir` under the name the library looks for.
inline bool PlaceContainer(const tarvik_test::TempDir& dir, const std::string& source) {
  std::error_code error;
  return std::filesystem::copy_file(source, dir.File("libcustomization_container.dll"), error);
}

// How often `command` reached the module.
inline long Sent(const tarvik_sim::Module& module, const std::string& command) {
  const std::vector<std::string> commands = module.Commands();
  return std::count(commands.begin(), commands.end(), command);
}

// One second of a fixed wait becomes 20 ms.
constexpr int kWaitDivisor = 50;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonSetWaitDivisor(kWaitDivisor);
    ASSERT_TRUE(directory_.ok());
    setenv("TARVIK_DEVICE_MAP", map_.dir().c_str(), 1);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
    PrepareWorkingDirectory();
    ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
  }
  // Runs before KvoInitialize (for example to place a container).
  virtual void PrepareWorkingDirectory() {}

  void TearDown() override {
    KvoTerminate();
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
    module_.Stop();
    CommonSetWaitDivisor(1);
  }

  // Every log line from now on goes to Log().
  void LogEverything() {
    KvoSetLogFile(directory_.File("kvo.log").c_str());
    KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
  }
  std::string Log() const { return tarvik_test::ReadFile(directory_.File("kvo.log")); }

  KvoResult Open(const std::string& port, KvoDeviceHandle* handle) {
    const auto parameters = tarvik_test::OpenParameters<KvoDeviceOpenParameters>(port);
    return KvoDeviceOpen(&parameters, handle);
  }
  KvoResult Open(KvoDeviceHandle* handle) { return Open(module_.AtPortPath(), handle); }

  void StartModule(tarvik_sim::Profile profile) {
    profile.restart_away_ms = 200;
    ASSERT_TRUE(map_.Start(&module_, profile));
  }

  // Starts a module with the profile and opens it; a failure fails the test.
  KvoDeviceHandle StartAndOpen(const tarvik_sim::Profile& profile) {
    StartModule(profile);
    KvoDeviceHandle handle = 99;
    EXPECT_EQ(kKvoResultSuccess, Open(&handle));
    return handle;
  }

  tarvik_test::TempDir directory_{tarvik_test::TempDir::kEnter};
  tarvik_test::ModuleMap map_{directory_.File("map")};
  tarvik_sim::Module module_;
};

}  // namespace kvo_test

#endif  // KVO_TESTS_DEVICE_SIM_FIXTURE_H_
