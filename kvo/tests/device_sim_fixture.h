#ifndef KVO_TESTS_DEVICE_SIM_FIXTURE_H_
#define KVO_TESTS_DEVICE_SIM_FIXTURE_H_

// A simulated module on pseudo-terminals and the library started around it, in a temporary
// directory that holds the device map and serves as working directory (so that a customization
// container is found only when a test puts one there).

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "common/src/wait_seam.h"
#include "kvo.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"

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

// A temporary directory that is the working directory while the object lives.
class TemporaryWorkingDirectory {
 public:
  TemporaryWorkingDirectory() {
    std::string pattern = (fs::temp_directory_path() / "kvo-test-XXXXXX").string();
    char* made = mkdtemp(&pattern[0]);
    if (made != nullptr) path_ = made;
    previous_ = fs::current_path();
    if (!path_.empty()) fs::current_path(path_);
  }
  ~TemporaryWorkingDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TemporaryWorkingDirectory(const TemporaryWorkingDirectory&) = delete;
  TemporaryWorkingDirectory& operator=(const TemporaryWorkingDirectory&) = delete;

  const fs::path& Path() const { return path_; }
  bool Valid() const { return !path_.empty(); }

  // Puts a container library into the working directory under the name the library looks for.
  bool PlaceContainer(const std::string& source) {
    std::error_code error;
    fs::copy_file(source, path_ / "libcustomization_container.dll",
                  fs::copy_options::overwrite_existing, error);
    return !error;
  }

 private:
  fs::path path_;
  fs::path previous_;
};

// The library started in a fresh working directory; tests start modules with StartModule.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonSetWaitDivisor(kWaitDivisor);
    ASSERT_TRUE(directory_.Valid());
    map_dir_ = directory_.Path() / "map";
    fs::create_directory(map_dir_);
    setenv("TARVIK_DEVICE_MAP", map_dir_.c_str(), 1);
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
    tarvik_sim::ModuleOptions options;
    options.map_dir = map_dir_.string();
    std::string error;
    ASSERT_TRUE(module_.Start(profile, options, &error)) << error;
  }

  KvoDeviceOpenParameters Parameters() const {
    KvoDeviceOpenParameters parameters = {};
    snprintf(parameters.device_name, sizeof(parameters.device_name), "%s",
             module_.AtPortPath().c_str());
    parameters.baud = 115200;
    return parameters;
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

  TemporaryWorkingDirectory directory_;
  fs::path map_dir_;
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
