// The update engine against a simulated module, with the fixed waits shortened.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvo/src/update/update.h"
#include "kvo/tests/update_fixture.h"

namespace {

using kvo_test::Sent;
using kvo_test::UpdateTest;
using tarvik_sim::Profile;
using Events = std::vector<KvoUpdateEventType>;

TEST(UpdateContainerPath, AbsoluteAndDotSlashPathsAreKeptOthersGoToTheCurrentDirectory) {
  const std::string long_name(600, 'x');
  const std::string cut = ("./" + long_name).substr(0, 511);  // cut, never overrun
  const char* const rows[][2] = {
      {"/opt/c.dll", "/opt/c.dll"},
      {"./c.dll", "./c.dll"},
      {"C:\\x\\c.dll", "C:\\x\\c.dll"},
      {"libupdate_container.dll", "./libupdate_container.dll"},
      {"sub/c.dll", "./sub/c.dll"},
      {"/a", ".//a"},  // two characters are too short for the rule
      {long_name.c_str(), cut.c_str()},
  };
  for (const auto& row : rows) {
    char path[512];
    UpdateBuildContainerPath(row[0], path, sizeof path);
    EXPECT_STREQ(row[1], path);
  }
}

Profile Changed(Profile profile, const char* field, const char* value) {
  profile.Set(field, value);
  return profile;
}
Profile InState(Profile profile, int state) {
  profile.SetUpgradeState(state);
  profile.install_ms = 60000;  // a module found installing stays there
  return profile;
}
Profile MissingAPackage() {
  Profile profile = kvo_test::ConfirmContainerProfile();
  profile.wanted_packages.push_back({"NOT_IN_THE_CONTAINER.ZIP", 123});
  return profile;
}
Profile LeftInStateTwo() {
  Profile profile = Changed(tarvik_sim::DefaultProfile(), "Config. Set Revision", "R5E/1");
  profile.target_revision = "R5E/1";
  profile.SetUpgradeState(2);
  profile.received_packages = {profile.wanted_packages[0].name};
  return profile;
}

struct OutcomeRow {
  const char* name;
  Profile profile;
  bool confirm_container;
  bool confirm;  // the application's answer to a begin confirmation
  KvoResult result;
  Events steps;
  const char* sent;      // reached the module ("" for none)
  const char* not_sent;  // never did
  const char* revision;  // the module's afterwards
};

constexpr auto kBegin = kKvoUpdateEventTypeBeginConfirmationNeeded;

const OutcomeRow kOutcomeRows[] = {
    {"OnTarget",
     Changed(tarvik_sim::DefaultProfile(), "Config. Set Revision", "R5E/1"),
     false,
     true,
     kKvoResultUpdateErrorNoUpdateNeeded,
     {},
     "AT*EEUSTATE=1",
     "AT*EETC=2",
     "R5E/1"},
    {"Brem",
     tarvik_sim::BremProfile(),
     false,
     true,
     kKvoResultGeneralErrorOperationNotSupported,
     {},
     "",
     "AT*EEUSTATE=1",
     "R3C01"},
    {"PlatformNotInTheContainer",
     Changed(tarvik_sim::DovinProfile(), "Product Number", "ZRB 207 48/1"),
     false,
     true,
     kKvoResultUpdateErrorInvalidPackage,
     {},
     "AT*EEVINFO=4",
     "AT*EETC=2",
     "R3C01"},
    {"ConfirmationRefused",
     kvo_test::ConfirmContainerProfile(),
     true,
     false,
     kKvoResultSuccess,
     {kBegin},
     "AT*EEVINFO=4",
     "AT*EETC=2",
     "R3C01"},
    // The failure of the run the application started from its callback is the update's result.
    {"MissingPackage",
     MissingAPackage(),
     true,
     true,
     kKvoResultUpdateErrorMissFilesInPackage,
     {kBegin},
     "AT*EETC=2",
     "",
     "R5E/1"},
    {"FoundInstalling",
     InState(tarvik_sim::DefaultProfile(), 3),
     false,
     true,
     kKvoResultSuccess,
     {kKvoUpdateEventTypeInstalling},
     "AT*EEUSTATE=1",
     "AT*EEVINFO=4",
     "R3C01"},
    {"FoundWaitingForARestart",
     InState(tarvik_sim::DefaultProfile(), 4),
     false,
     true,
     kKvoResultSuccess,
     {kKvoUpdateEventTypeRestartConfirmationNeeded},
     "AT*E2RESET",
     "",
     "R3C01"},
    {"FoundRestartingByItself",
     InState(tarvik_sim::DefaultProfile(), 5),
     false,
     true,
     kKvoResultSuccess,
     {kKvoUpdateEventTypeRestartNotified},
     "AT*EEUSTATE=1",
     "AT*E2RESET",
     "R3C01"},
    {"LeftInStateTwoResumes",
     LeftInStateTwo(),
     false,
     true,
     kKvoResultSuccess,
     {kKvoUpdateEventTypeBeginResume, kKvoUpdateEventTypeReceivedUpdatePackages,
      kKvoUpdateEventTypeInstalling, kKvoUpdateEventTypeRestartNotified,
      kKvoUpdateEventTypeSuccess},
     "AT*EETC=2",
     "",
     "R5E/1"},
};

// Each run ends with its result and its events, and the handle still reaches the module.
TEST_F(UpdateTest, OutcomeOfEachStartingPoint) {
  for (const OutcomeRow& row : kOutcomeRows) {
    SCOPED_TRACE(row.name);
    events_.clear();
    confirm_ = row.confirm;
    EXPECT_EQ(row.result,
              RunUpdate(row.profile, row.confirm_container ? tarvik_test::kConfirmContainer
                                                           : tarvik_test::kCarriedContainer));
    EXPECT_EQ(row.steps, Steps());
    EXPECT_TRUE(*row.sent == '\0' || Sent(module_, row.sent) > 0);
    EXPECT_EQ(0, Sent(module_, row.not_sent));
    EXPECT_EQ(row.revision, module_.CurrentProfile().Get("Config. Set Revision"));
    KvoDevicePlatformType type;
    EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle_, &type));
    KvoDeviceClose(handle_);
    module_.Stop();
  }
}

TEST_F(UpdateTest, WholeUpdateWithTheCarriedContainer) {
  ASSERT_EQ(kKvoResultSuccess, RunUpdate(tarvik_sim::DefaultProfile()));
  const Events expected = {kKvoUpdateEventTypeBegin, kKvoUpdateEventTypeReceivedUpdatePackages,
                           kKvoUpdateEventTypeInstalling, kKvoUpdateEventTypeRestartNotified,
                           kKvoUpdateEventTypeSuccess};
  EXPECT_EQ(expected, Steps());
  const KvoUpdateEvent& begin = events_.front();
  EXPECT_EQ(kKvoUpdateTypeNotified, begin.information.type);
  EXPECT_STREQ("ZNT4028813/1 R3C01", begin.information.current_configuration);
  EXPECT_STREQ("ZNT4028813/1 R5E/1", begin.information.target_configuration);
  EXPECT_STRNE("", begin.information.model);
  const std::vector<int> progress = Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(100, progress.back());
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
  EXPECT_EQ(1, module_.UpgradeState());
}

TEST_F(UpdateTest, ConfirmedUpdateOfThreePackagesReportsTenThirtyAndHundred) {
  ASSERT_EQ(kKvoResultSuccess,
            RunUpdate(kvo_test::ConfirmContainerProfile(), tarvik_test::kConfirmContainer));
  EXPECT_EQ(kKvoResultSuccess, allow_begin_result_);
  EXPECT_EQ(kKvoUpdateEventTypeBeginConfirmationNeeded, events_.front().type);
  EXPECT_EQ(kKvoUpdateTypeConfirmed, events_.front().information.type);
  // One progress event per package (each fits one datagram), at the end of each.
  EXPECT_EQ((std::vector<int>{10, 30, 100}), Progress());
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
}

TEST_F(UpdateTest, ContainerMissingNotALibraryOrNoCallback) {
  handle_ = StartAndOpen(InState(tarvik_sim::DefaultProfile(), 3));
  EXPECT_EQ(kKvoResultUpdateErrorCouldNotFindPackage,
            RunUpdateOnOpenHandle(directory_.File("nothing.dll")));
  tarvik_test::WriteFile(directory_.File("bogus.dll"), "not a library");
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL,
            RunUpdateOnOpenHandle(directory_.File("bogus.dll")));
  EXPECT_EQ(0, Sent(module_, "AT*EEUSTATE=1"));
  // Without a callback the update runs without events.
  ASSERT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(handle_, nullptr, nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateStart(handle_, tarvik_test::kCarriedContainer));
  EXPECT_TRUE(events_.empty());
}

TEST_F(UpdateTest, ModuleUnpluggedInTheMiddleOfAPackageFailsAndTheNextRunResumes) {
  tarvik_sim::Faults faults;
  faults.tc_unplug_after_payload_bytes = 100000;  // inside the large firmware package
  handle_ = StartAndOpen(tarvik_sim::DefaultProfile());
  module_.SetFaults(faults);
  EXPECT_EQ(kKvoResultDeviceErrorTransparentChannel, RunUpdateOnOpenHandle());
  EXPECT_EQ(kKvoUpdateEventTypeProgress, events_.back().type);
  // The module comes back where it stood; a new run picks the update up from there.
  ASSERT_TRUE(module_.WaitPresent(5000));
  module_.SetFaults(tarvik_sim::Faults());
  EXPECT_EQ(2, module_.UpgradeState());
  KvoDeviceClose(handle_);
  ASSERT_EQ(kKvoResultSuccess, Open(&handle_));
  events_.clear();
  ASSERT_EQ(kKvoResultSuccess, RunUpdateOnOpenHandle());
  EXPECT_EQ(kKvoUpdateEventTypeBeginResume, events_.front().type);
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
}

// The one check of the carried container's path list; the container is not left loaded.
TEST_F(UpdateTest, ListsTheSevenPathsOfTheCarriedContainer) {
  KvoUpdatePathStructType* list = nullptr;
  size_t count = 0;
  ASSERT_EQ(kKvoResultSuccess,
            KvoUpdateGetUpdatePath(0, tarvik_test::kCarriedContainer, &list, &count));
  const char* const currents[] = {"P*", "R1*", "R2*", "R3*", "R4*", "R5A/1", "R5C/1"};
  ASSERT_EQ(7u, count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_STREQ(currents[i], list->path_list[i].current);
    EXPECT_STREQ("R5E/1", list->path_list[i].target);
  }
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateReleaseKvoUpdatePath(list));
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowBegin(0, true));
  EXPECT_EQ(kKvoResultUpdateErrorCouldNotFindPackage,
            KvoUpdateGetUpdatePath(0, "/nonexistent/container.dll", &list, &count));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(0u, count);
}

}  // namespace
