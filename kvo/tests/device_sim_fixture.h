#ifndef KVO_TESTS_DEVICE_SIM_FIXTURE_H_
#define KVO_TESTS_DEVICE_SIM_FIXTURE_H_

// A simulated module on pseudo-terminals and the library started around it, in a temporary
// directory that holds the device map and serves as working directory (so that a customization
// container is found only when a test puts one there).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "common/src/wait_seam.h"
#include "kvo.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"
#include "testing/module_map.h"

namespace kvo_test {

namespace fs = std::filesystem;

// Shortens the library's fixed waits (one second becomes 20 ms).
constexpr int kWaitDivisor = 50;

inline std::string ContainerVariant(const std::string& name) {
  return std::string(TARVIK_LIB_DIR) + "/customization_container_variants/" + name + ".dll";
}

inline std::string SampleContainer() {
  return std::string(TARVIK_LIB_DIR) + "/libcustomization_container.dll";
}

// Puts a container library into `dir` under the name the library looks for.
inline bool PlaceContainer(const tarvik_test::TempDir& dir, const std::string& source) {
  std::error_code error;
  fs::copy_file(source, dir.File("libcustomization_container.dll"),
                fs::copy_options::overwrite_existing, error);
  return !error;
}

// The library started in a fresh working directory; tests start modules with StartModule.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonSetWaitDivisor(kWaitDivisor);
    ASSERT_TRUE(directory_.ok());
    setenv("TARVIK_DEVICE_MAP", map_.dir().c_str(), 1);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
    PrepareWorkingDirectory();
    initialize_result_ = KvoInitialize();
    initialized_ = true;
    if (ExpectInitializeSuccess()) {
      ASSERT_EQ(kKvoResultSuccess, initialize_result_);
    }
  }

  void TearDown() override {
    if (initialized_) KvoTerminate();
    module_.Stop();
    CommonSetWaitDivisor(1);
  }

  // Runs before KvoInitialize (for example to place a container).
  virtual void PrepareWorkingDirectory() {}
  virtual bool ExpectInitializeSuccess() const { return true; }

  void StartModule(tarvik_sim::Profile profile) {
    profile.restart_away_ms = 200;
    ASSERT_TRUE(map_.Start(&module_, profile));
  }

  KvoDeviceOpenParameters Parameters() const {
    return tarvik_test::OpenParameters<KvoDeviceOpenParameters>(module_.AtPortPath());
  }

  KvoResult Open(KvoDeviceHandle* handle) {
    KvoDeviceOpenParameters parameters = Parameters();
    return KvoDeviceOpen(&parameters, handle);
  }

  // Starts a module with the profile and opens it; fails the test when that does not work.
  KvoDeviceHandle StartAndOpen(const tarvik_sim::Profile& profile) {
    StartModule(profile);
    KvoDeviceHandle handle = 99;
    EXPECT_EQ(kKvoResultSuccess, Open(&handle));
    return handle;
  }

  tarvik_test::TempDir directory_{tarvik_test::TempDir::kEnter};
  tarvik_test::ModuleMap map_{directory_.File("map")};
  tarvik_sim::Module module_;
  KvoResult initialize_result_ = kKvoResultSuccess;
  bool initialized_ = false;
};

struct NamedProfile {
  const char* name;
  tarvik_sim::Profile (*make)();
  KvoDevicePlatformType type;
};

inline const NamedProfile kPlatformProfiles[] = {
    {"Brem", tarvik_sim::BremProfile, kKvoDevicePlatformTypeBrem},
    {"Calt", tarvik_sim::CaltProfile, kKvoDevicePlatformTypeCalt},
    {"Dovin", tarvik_sim::DovinProfile, kKvoDevicePlatformTypeDovin},
};

// Keeps test names readable in test listings.
inline void PrintTo(const NamedProfile& profile, std::ostream* stream) {
  *stream << profile.name;
}

inline std::string ProfileName(const ::testing::TestParamInfo<NamedProfile>& info) {
  return info.param.name;
}

}  // namespace kvo_test

#endif  // KVO_TESTS_DEVICE_SIM_FIXTURE_H_
