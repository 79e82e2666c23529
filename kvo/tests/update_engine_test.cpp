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

Profile TooManyPackages() {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.wanted_packages.assign(33, {"ZNT4025527_1_R1G01_FC.ZIP", 4126});
  return profile;
}
Profile BackOnTheOldRevision() {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.self_restart = false;  // state 4 after installing: a restart the application confirms
  profile.keep_revision = true;
  return profile;
}
// From installing on, reports nothing more and never comes back from its restart.
tarvik_sim::Faults SilentAndNeverBack() {
  tarvik_sim::Faults faults;
  faults.no_unsolicited = true;
  faults.stay_away = true;
  return faults;
}

enum Container { kCarried, kConfirm, kConfirmRefused };

struct OutcomeRow {
  friend void PrintTo(const OutcomeRow& row, std::ostream* out) { *out << row.name; }
  const char* name;
  Profile profile;
  Container container;
  KvoResult result;
  const char* steps;                                 // the event names in order, progress left out
  const char* counts;                                // "COMMAND:N ..." (N "+" for at least once)
  const char* revision;                              // the module's afterwards
  tarvik_sim::Faults faults = tarvik_sim::Faults();  // set as the module reports installing
};

const OutcomeRow kOutcomeRows[] = {
    {"OnTarget", Changed(tarvik_sim::DefaultProfile(), "Config. Set Revision", "R5E/1"), kCarried,
     kKvoResultUpdateErrorNoUpdateNeeded, "", "AT*EEUSTATE=1:1 AT*EETC=2:0", "R5E/1"},
    {"Brem", tarvik_sim::BremProfile(), kCarried, kKvoResultGeneralErrorOperationNotSupported, "",
     "AT*EEUSTATE=1:0", "R3C01"},
    {"PlatformNotInTheContainer",
     Changed(tarvik_sim::DovinProfile(), "Product Number", "ZRB 207 48/1"), kCarried,
     kKvoResultUpdateErrorInvalidPackage, "", "AT*EEVINFO=4:+ AT*EETC=2:0", "R3C01"},
    {"ConfirmationRefused", kvo_test::ConfirmContainerProfile(), kConfirmRefused, kKvoResultSuccess,
     "BeginConfirm", "AT*EEVINFO=4:+ AT*EETC=2:0", "R3C01"},
    // The failure of the run the application started from its callback is the update's result.
    {"MissingPackage", MissingAPackage(), kConfirm, kKvoResultUpdateErrorMissFilesInPackage,
     "BeginConfirm", "AT*EETC=2:1", "R5E/1"},
    {"FoundInstalling", InState(tarvik_sim::DefaultProfile(), 3), kCarried, kKvoResultSuccess,
     "Installing", "AT*EEUSTATE=1:1 AT*EEVINFO=4:0", "R3C01"},
    {"FoundWaitingForARestart", InState(tarvik_sim::DefaultProfile(), 4), kCarried,
     kKvoResultSuccess, "RestartConfirm", "AT*E2RESET:1", "R3C01"},
    {"FoundRestartingByItself", InState(tarvik_sim::DefaultProfile(), 5), kCarried,
     kKvoResultSuccess, "RestartNotified", "AT*E2RESET:0", "R3C01"},
    {"LeftInStateTwoResumes", LeftInStateTwo(), kCarried, kKvoResultSuccess,
     "BeginResume Received Installing RestartNotified Success", "AT*EETC=2:1", "R5E/1"},
    // A module that asks for more than the container can list ends the run after a few failed
    // queries, instead of keeping it waiting forever (one that asks for nothing: the bounds table).
    {"TooManyPackages", TooManyPackages(), kCarried, kKvoResultGeneralErrorAtError, "Begin",
     "AT*EETC=2:1", "R5E/1"},
    // Back from the confirmed restart on its old revision: reset once, then followed in the state
    // it reports now, with its reports switched on again.
    {"ConfirmedRestartKeepsTheOldRevision", BackOnTheOldRevision(), kCarried,
     kKvoResultUpdateCouldNotBeVerified, "Begin Received Installing RestartConfirm",
     "AT*E2RESET:1 AT*EEUSTATE=1:2", "R3C01"},
    {"NeverBackFromItsSelfRestart", tarvik_sim::DefaultProfile(), kCarried,
     kKvoResultDeviceErrorDeviceNotOpen, "Begin Received Installing RestartNotified",
     "AT*E2RESET:0", "R5E/1", SilentAndNeverBack()},
    {"NeverBackFromAConfirmedRestart", BackOnTheOldRevision(), kCarried,
     kKvoResultDeviceErrorDeviceNotOpen, "Begin Received Installing RestartConfirm", "AT*E2RESET:1",
     "R3C01", SilentAndNeverBack()},
};

const char* const kEventNames[] = {
    "BeginConfirm",   "Begin",           "Progress", "Success",    "Failed",
    "RestartConfirm", "RestartNotified", "Received", "Installing", "BeginResumeConfirm",
    "BeginResume",    "DeviceLost"};

// Each run ends by itself with its result and its events, the module got the commands counted,
// and the handle still reaches the module unless it is gone.
class OutcomeTest : public UpdateTest, public ::testing::WithParamInterface<OutcomeRow> {};

TEST_P(OutcomeTest, OfEachStartingPoint) {
  const OutcomeRow& row = GetParam();
  confirm_ = row.container != kConfirmRefused;
  handle_ = StartAndOpen(row.profile);
  hooks_[kKvoUpdateEventTypeInstalling] = [&] { module_.SetFaults(row.faults); };
  EXPECT_EQ(row.result, RunWithin(60000, [&] {
              return RunUpdateOnOpenHandle(row.container == kCarried
                                               ? tarvik_test::kCarriedContainer
                                               : tarvik_test::kConfirmContainer);
            }));
  std::string steps;
  for (KvoUpdateEventType type : Steps()) {
    steps += std::string(steps.empty() ? "" : " ") + kEventNames[type];
  }
  EXPECT_EQ(row.steps, steps);
  for (const std::string& count : tarvik_test::SplitLines(row.counts, " ")) {
    const size_t colon = count.rfind(':');
    const long sent = Sent(module_, count.substr(0, colon));
    if (count.substr(colon + 1) == "+") {
      EXPECT_LT(0, sent) << count;
    } else {
      EXPECT_EQ(std::stol(count.substr(colon + 1)), sent) << count;
    }
  }
  EXPECT_EQ(row.revision, module_.CurrentProfile().Get("Config. Set Revision"));
  KvoDevicePlatformType type;
  EXPECT_EQ(row.result == kKvoResultDeviceErrorDeviceNotOpen ? kKvoResultDeviceErrorInvalidHandle
                                                             : kKvoResultSuccess,
            KvoDeviceGetType(handle_, &type));
}

// One test per row, so that the rows run side by side.
INSTANTIATE_TEST_SUITE_P(Rows, OutcomeTest, ::testing::ValuesIn(kOutcomeRows),
                         [](const ::testing::TestParamInfo<OutcomeRow>& info) {
                           return std::string(info.param.name);
                         });

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
