// The update engine against a simulated module, with the fixed waits shortened.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "kvo.h"
#include "kvo/src/update/update.h"
#include "kvo/tests/update_fixture.h"

namespace kvo_test {
namespace {

using E = KvoUpdateEventType;

TEST(UpdateContainerPath, AbsoluteAndDotSlashPathsAreKeptOthersGoToTheCurrentDirectory) {
  char path[512];
  UpdateBuildContainerPath("/opt/c.dll", path, sizeof path);
  EXPECT_STREQ("/opt/c.dll", path);
  UpdateBuildContainerPath("./c.dll", path, sizeof path);
  EXPECT_STREQ("./c.dll", path);
  UpdateBuildContainerPath("C:\\x\\c.dll", path, sizeof path);
  EXPECT_STREQ("C:\\x\\c.dll", path);
  UpdateBuildContainerPath("libupdate_container.dll", path, sizeof path);
  EXPECT_STREQ("./libupdate_container.dll", path);
  UpdateBuildContainerPath("sub/c.dll", path, sizeof path);
  EXPECT_STREQ("./sub/c.dll", path);
  // Two characters are too short for the rule.
  UpdateBuildContainerPath("/a", path, sizeof path);
  EXPECT_STREQ(".//a", path);
  // Cut, never overrun.
  const std::string long_name(600, 'x');
  UpdateBuildContainerPath(long_name.c_str(), path, sizeof path);
  EXPECT_EQ(511u, strlen(path));
}

TEST_F(UpdateTest, WholeUpdateWithTheCarriedContainer) {
  ASSERT_EQ(kKvoResultSuccess,
            RunUpdate(tarvik_sim::DefaultProfile(), tarvik_test::kCarriedContainer));

  const std::vector<E> expected = {kKvoUpdateEventTypeBegin,
                                   kKvoUpdateEventTypeReceivedUpdatePackages,
                                   kKvoUpdateEventTypeInstalling,
                                   kKvoUpdateEventTypeRestartNotified, kKvoUpdateEventTypeSuccess};
  EXPECT_EQ(expected, Steps());
  ASSERT_FALSE(events_.empty());
  const RecordedEvent& begin = events_.front();
  EXPECT_EQ(kKvoUpdateTypeNotified, begin.information_type);
  EXPECT_EQ("ZNT4028813/1 R3C01", begin.current);
  EXPECT_EQ("ZNT4028813/1 R5E/1", begin.target);
  EXPECT_FALSE(begin.model.empty());

  const std::vector<int> progress = Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(100, progress.back());

  const tarvik_sim::Profile after = module_.CurrentProfile();
  EXPECT_EQ("R5E/1", after.Get("Config. Set Revision"));
  EXPECT_EQ(1, after.UpgradeState());
  EXPECT_TRUE(ModuleGot("AT*EEUSTATE=1"));
}

TEST_F(UpdateTest, ConfirmedUpdateOfThreePackagesReportsTenThirtyAndHundred) {
  ASSERT_EQ(kKvoResultSuccess,
            RunUpdate(ConfirmContainerProfile(), tarvik_test::kConfirmContainer));
  EXPECT_EQ(kKvoResultSuccess, allow_begin_result_);
  ASSERT_FALSE(events_.empty());
  EXPECT_EQ(kKvoUpdateEventTypeBeginConfirmationNeeded, events_.front().type);
  EXPECT_EQ(kKvoUpdateTypeConfirmed, events_.front().information_type);
  // One progress event per package (each fits one datagram), at the end of each.
  EXPECT_EQ((std::vector<int>{10, 30, 100}), Progress());
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
}

TEST_F(UpdateTest, DeclinedConfirmationSendsNothing) {
  confirm_ = false;
  EXPECT_EQ(kKvoResultSuccess,
            RunUpdate(ConfirmContainerProfile(), tarvik_test::kConfirmContainer));
  EXPECT_EQ((std::vector<E>{kKvoUpdateEventTypeBeginConfirmationNeeded}), EventTypes());
  EXPECT_FALSE(ModuleGot("AT*EETC=2"));
  EXPECT_EQ(1, module_.UpgradeState());
}

TEST_F(UpdateTest, PackageMissingFromTheContainerEndsTheConfirmedUpdateWith309) {
  tarvik_sim::Profile profile = ConfirmContainerProfile();
  profile.wanted_packages.push_back({"NOT_IN_THE_CONTAINER.ZIP", 123});
  // The failure of the run the application started from its callback is the update's result.
  EXPECT_EQ(kKvoResultUpdateErrorMissFilesInPackage,
            RunUpdate(profile, tarvik_test::kConfirmContainer));
  EXPECT_EQ(kKvoResultUpdateErrorMissFilesInPackage, allow_begin_result_);
  EXPECT_TRUE(Progress().empty());
}

TEST_F(UpdateTest, ModuleAlreadyOnTheTargetNeedsNoUpdate) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.Set("Config. Set Revision", "R5E/1");
  EXPECT_EQ(kKvoResultUpdateErrorNoUpdateNeeded,
            RunUpdate(profile, tarvik_test::kCarriedContainer));
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(ModuleGot("AT*EETC=2"));
}

TEST_F(UpdateTest, ModulesTheContainerDoesNotTake) {
  tarvik_sim::Profile brem = tarvik_sim::BremProfile();
  EXPECT_EQ(kKvoResultGeneralErrorOperationNotSupported,
            RunUpdate(brem, tarvik_test::kCarriedContainer));
  EXPECT_FALSE(ModuleGot("AT*EEUSTATE=1"));
  KvoDeviceClose(handle_);
  module_.Stop();

  tarvik_sim::Profile dovin = tarvik_sim::DovinProfile();
  dovin.Set("Product Number", "ZRB 207 48/1");
  EXPECT_EQ(kKvoResultUpdateErrorInvalidPackage, RunUpdate(dovin, tarvik_test::kCarriedContainer));
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(ModuleGot("AT*EETC=2"));
}

TEST_F(UpdateTest, ContainerFileMissingOrNotAContainer) {
  handle_ = StartAndOpen(tarvik_sim::DefaultProfile());
  EXPECT_EQ(kKvoResultUpdateErrorCouldNotFindPackage,
            RunUpdateOnOpenHandle(directory_.File("nothing.dll")));
  const std::string bogus = directory_.File("bogus.dll");
  FILE* file = fopen(bogus.c_str(), "w");
  ASSERT_NE(nullptr, file);
  fputs("not a library", file);
  fclose(file);
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, RunUpdateOnOpenHandle(bogus));
  EXPECT_FALSE(ModuleGot("AT*EEUSTATE=1"));
  // Outside a run there is no container to follow the module with.
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowBegin(handle_, true));
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowRestart(handle_, true));
}

TEST_F(UpdateTest, ModuleLeftInStateTwoResumes) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.Set("Config. Set Revision", "R5E/1");
  profile.target_revision = "R5E/1";
  profile.SetUpgradeState(2);
  profile.received_packages = {profile.wanted_packages[0].name};
  ASSERT_EQ(kKvoResultSuccess, RunUpdate(profile, tarvik_test::kCarriedContainer));
  ASSERT_FALSE(events_.empty());
  EXPECT_EQ(kKvoUpdateEventTypeBeginResume, events_.front().type);
  EXPECT_EQ(events_.front().current, events_.front().target);
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
}

TEST_F(UpdateTest, ModuleFoundInstallingGetsOneEventAndNoLoop) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.SetUpgradeState(3);
  profile.install_ms = 60000;
  EXPECT_EQ(kKvoResultSuccess, RunUpdate(profile, tarvik_test::kCarriedContainer));
  EXPECT_EQ((std::vector<E>{kKvoUpdateEventTypeInstalling}), EventTypes());
  EXPECT_FALSE(ModuleGot("AT*EEVINFO=4"));
}

TEST_F(UpdateTest, ModuleFoundWaitingForARestartIsRestarted) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.SetUpgradeState(4);
  EXPECT_EQ(kKvoResultSuccess, RunUpdate(profile, tarvik_test::kCarriedContainer));
  EXPECT_EQ((std::vector<E>{kKvoUpdateEventTypeRestartConfirmationNeeded}), EventTypes());
  EXPECT_TRUE(ModuleGot("AT*E2RESET"));
  EXPECT_EQ(1, module_.RestartCount());
  // Reopened under the same handle.
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle_, &type));
}

TEST_F(UpdateTest, ModuleFoundRestartingByItselfIsReopened) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.SetUpgradeState(5);
  EXPECT_EQ(kKvoResultSuccess, RunUpdate(profile, tarvik_test::kCarriedContainer));
  EXPECT_EQ((std::vector<E>{kKvoUpdateEventTypeRestartNotified}), EventTypes());
  EXPECT_FALSE(ModuleGot("AT*E2RESET"));
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle_, &type));
}

TEST_F(UpdateTest, WithoutACallbackTheUpdateRunsWithoutEvents) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.SetUpgradeState(3);
  profile.install_ms = 60000;
  handle_ = StartAndOpen(profile);
  ASSERT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(handle_, nullptr, nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateStart(handle_, tarvik_test::kCarriedContainer));
}

TEST_F(UpdateTest, ModuleUnpluggedInTheMiddleOfAPackageFailsAndTheNextRunResumes) {
  tarvik_sim::Faults faults;
  faults.tc_unplug_after_payload_bytes = 100000;  // inside the large firmware package
  handle_ = StartAndOpen(tarvik_sim::DefaultProfile());
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultDeviceErrorTransparentChannel,
            RunUpdateOnOpenHandle(tarvik_test::kCarriedContainer));
  EXPECT_EQ(kKvoUpdateEventTypeProgress, events_.back().type);

  // The module comes back where it stood; a new run picks the update up from there.
  ASSERT_TRUE(module_.WaitPresent(5000));
  module_.SetFaults(tarvik_sim::Faults());
  EXPECT_EQ(2, module_.UpgradeState());
  KvoDeviceClose(handle_);
  ASSERT_EQ(kKvoResultSuccess, Open(&handle_));
  events_.clear();
  ASSERT_EQ(kKvoResultSuccess, RunUpdateOnOpenHandle(tarvik_test::kCarriedContainer));
  ASSERT_FALSE(events_.empty());
  EXPECT_EQ(kKvoUpdateEventTypeBeginResume, events_.front().type);
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
}

TEST_F(UpdateTest, ListsTheSevenPathsOfTheCarriedContainer) {
  KvoUpdatePathStructType* list = nullptr;
  size_t count = 0;
  ASSERT_EQ(kKvoResultSuccess,
            KvoUpdateGetUpdatePath(0, tarvik_test::kCarriedContainer, &list, &count));
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(7u, count);
  const char* const currents[] = {"P*", "R1*", "R2*", "R3*", "R4*", "R5A/1", "R5C/1"};
  for (size_t i = 0; i < count; ++i) {
    EXPECT_STREQ(currents[i], list->path_list[i].current);
    EXPECT_STREQ("R5E/1", list->path_list[i].target);
  }
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateReleaseKvoUpdatePath(list));

  EXPECT_EQ(kKvoResultUpdateErrorCouldNotFindPackage,
            KvoUpdateGetUpdatePath(0, "/nonexistent/container.dll", &list, &count));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(0u, count);
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoUpdateGetUpdatePath(0, tarvik_test::kCarriedContainer, nullptr, &count));
  // The container is not left loaded.
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowBegin(0, true));
}

}  // namespace
}  // namespace kvo_test
