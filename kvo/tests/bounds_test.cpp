// Every counted bound of the library, one row each: a run that exhausts the bound, and what it
// counted (commands the module received, or log lines). The fixed waits are divided by 1000 (a
// second of the library's becomes a millisecond), or by 50 for most of the update's rows.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "kvo/src/device/device.h"
#include "kvo/tests/update_fixture.h"

namespace {

using tarvik_sim::Profile;

enum Scenario {
  kNeverReady,            // open a module that never reports ready
  kVersRefused,           // open a module in ITP mode that refuses "VERS"
  kRadioNeverSettles,     // switch the radio off; the mode cannot be read back
  kPinNeverConfirmed,     // a PIN the module takes without leaving the PIN-locked state
  kResetGone,             // reset a module that never comes back
  kItpLeaveGone,          // leave ITP mode on a module that never comes back
  kInstallingForever,     // an update whose module never leaves state 3
  kSelfRestartGone,       // an update whose module restarts by itself and never comes back
  kLostWhileWaitingGone,  // an update whose module goes away for good after its packages
  kNoPackagesListed,      // an update whose module lists no package in state 2
  kStatesForever,         // an update whose module keeps reporting that it installs
  kScenarioCount
};

const char* const kScenarioNames[] = {
    "NeverReady",        "VersRefused",     "RadioNeverSettles",
    "PinNeverConfirmed", "ResetGone",       "ItpLeaveGone",
    "InstallingForever", "SelfRestartGone", "LostWhileWaitingGone",
    "NoPackagesListed",  "StatesForever"};

// Lets ::testing::Range step through the scenarios.
Scenario operator+(Scenario scenario, int step) {
  return static_cast<Scenario>(static_cast<int>(scenario) + step);
}

struct Outcome {
  KvoResult result;
  std::string log;
  std::vector<std::string> commands;
};

// One test per scenario: they run side by side, each in a process of its own, so that the update's
// rows see the first wait of a process.
class BoundsTest : public kvo_test::UpdateTest, public ::testing::WithParamInterface<Scenario> {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    CommonSetWaitDivisor(1000);
  }

  const Outcome& RunOnce(Scenario scenario) {
    auto found = runs_.find(scenario);
    if (found != runs_.end()) return found->second;
    LogEverything();
    const KvoResult result = Play(scenario);
    Outcome& run = runs_[scenario];
    run = {result, Log(), module_.Commands()};
    KvoDeviceClose(handle_);
    module_.Stop();
    KvoSetLogFile("");
    std::remove(directory_.File("kvo.log").c_str());
    return run;
  }

  KvoResult Play(Scenario scenario) {
    hooks_.clear();
    allow_restart_ = true;
    // The update loop's deadline is a wait too: at 1/1000 it would fall inside the exchanges, which
    // keep their time, so the update's rows run at 1/50, but for the deadline's own row.
    CommonSetWaitDivisor(scenario >= kInstallingForever && scenario != kStatesForever ? 50 : 1000);
    Profile profile = tarvik_sim::DefaultProfile();
    tarvik_sim::Faults gone;
    gone.stay_away = true;
    switch (scenario) {
      case kNeverReady: {
        StartModule(profile);
        tarvik_sim::Faults faults;
        faults.never_ready = true;
        module_.SetFaults(faults);
        return Open(&handle_);
      }
      case kVersRefused: {
        profile.itp_mode = true;
        StartModule(profile);
        tarvik_sim::Faults faults;
        faults.error_commands = {"VERS"};
        module_.SetFaults(faults);
        return Open(&handle_);
      }
      case kRadioNeverSettles: {
        handle_ = StartAndOpen(profile);
        tarvik_sim::Faults faults;
        faults.error_commands = {"AT+CFUN?"};
        module_.SetFaults(faults);
        return DeviceSetRadioMode(handle_, kDeviceRadioModeOff);
      }
      case kPinNeverConfirmed: {
        profile.sim = tarvik_sim::SimState::kPinLocked;
        profile.extra_answers = {{"AT+CPIN=\"1234\"", "\r\nOK\r\n"}};
        handle_ = StartAndOpen(profile);
        KvoDevicePinCodeState state;
        return KvoDeviceSetPinCode(handle_, "1234", &state);
      }
      case kResetGone:
        handle_ = StartAndOpen(profile);
        module_.SetFaults(gone);
        return KvoDeviceReset(handle_);
      case kItpLeaveGone: {
        profile.itp_mode = true;
        handle_ = StartAndOpen(profile);
        module_.SetFaults(gone);
        KvoAtResult at = {kKvoAtResultNotKnown, nullptr};
        return KvoAtSend(handle_, "AT", 5, &at);
      }
      case kInstallingForever:
        return PlaySilentUpdate();
      case kSelfRestartGone:
        profile.SetUpgradeState(5);
        hooks_[kKvoUpdateEventTypeRestartNotified] = [this] { module_.Unplug(false); };
        return RunUpdate(profile);
      case kLostWhileWaitingGone:
        // Goes away for good right after its packages, before it could report anything.
        hooks_[kKvoUpdateEventTypeReceivedUpdatePackages] = [this] {
          module_.Unplug(false);
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        };
        return PlaySilentUpdate();
      case kNoPackagesListed: {
        profile.Set("Config. Set Revision", "R5E/1");
        profile.target_revision = "R5E/1";
        profile.SetUpgradeState(2);
        profile.wanted_packages.clear();
        handle_ = StartAndOpen(profile);
        return RunWithin(60000, [this] { return RunUpdateOnOpenHandle(); });
      }
      case kScenarioCount:
        break;
      case kStatesForever: {
        // From the packages on, each report starts the loop's retries afresh: only the deadline
        // ends the run.
        std::atomic<bool> done{false};
        std::thread reports;
        hooks_[kKvoUpdateEventTypeReceivedUpdatePackages] = [this, &done, &reports] {
          if (reports.joinable()) return;
          reports = std::thread([this, &done] {
            while (!done) {
              module_.SendUnsolicited("\r\n*EEUSTATE:1,3\r\n");
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
          });
        };
        const KvoResult result = RunWithin(60000, [this] { return PlaySilentUpdate(); });
        done = true;
        if (reports.joinable()) reports.join();
        return result;
      }
    }
    return kKvoResultGeneralErrorUnknown;
  }

  // An update of three small packages whose module never reports its state and stays installing:
  // every step of the engine's loop starts from a time-out.
  KvoResult PlaySilentUpdate() {
    Profile profile = kvo_test::ConfirmContainerProfile();
    profile.install_ms = 3600000;
    tarvik_sim::Faults silent;
    silent.no_unsolicited = true;
    handle_ = StartAndOpen(profile);
    module_.SetFaults(silent);
    return RunUpdateOnOpenHandle(tarvik_test::kConfirmContainer);
  }

  std::map<Scenario, Outcome> runs_;
};

struct BoundRow {
  const char* bound;
  Scenario scenario;
  KvoResult result;
  bool in_log;  // count log lines holding `text`, else commands equal to it
  const char* text;
  long count;
};

const BoundRow kBoundRows[] = {
    {"readiness tries", kNeverReady, kKvoResultDeviceErrorTimeoutWhileWaitingForReady, false,
     "AT*EMRDY?", 10},
    {"VERS attempts", kVersRefused, kKvoResultDeviceErrorFailedToIdentify, false, "VERS", 5},
    {"radio settle polls", kRadioNeverSettles, kKvoResultDeviceErrorFailedToGetInformation, false,
     "AT+CFUN?", 20},
    {"SIM state reads after a PIN", kPinNeverConfirmed,
     kKvoResultDeviceErrorCouldNotConfirmSimUnlock, false, "AT+CPIN?", 1 + 10},
    {"reopen tries after a reset", kResetGone, kKvoResultGeneralErrorOperationTimedOut, true,
     "Will try to open", 300},
    {"wait before reopening after a reset", kResetGone, kKvoResultGeneralErrorOperationTimedOut,
     true, "Will wait 5 seconds", 1},
    {"reopen tries after leaving ITP mode", kItpLeaveGone, kKvoResultDeviceErrorSettingItpMode,
     true, "Will try to open", 300},
    // The update loop's first wait of a process is 3 s, the later ones 60 s.
    {"update loop retries", kInstallingForever, kKvoResultUpdateCouldNotBeVerified, true,
     "Did not receive new update state before timeout", 5},
    {"first update wait", kInstallingForever, kKvoResultUpdateCouldNotBeVerified, true,
     "Wait (3 seconds)", 1},
    {"later update waits", kInstallingForever, kKvoResultUpdateCouldNotBeVerified, true,
     "Wait (60 seconds)", 4},
    {"reopen tries after a self-restart", kSelfRestartGone, kKvoResultGeneralErrorOperationTimedOut,
     true, "Will try to open", 60},
    {"wait before reopening after a self-restart", kSelfRestartGone,
     kKvoResultGeneralErrorOperationTimedOut, true, "Will wait 15 seconds", 1},
    {"reopen tries after a loss", kLostWhileWaitingGone, kKvoResultDeviceErrorDeviceNotOpen, true,
     "Will try to open", 30},
    {"wait before reopening after a loss", kLostWhileWaitingGone,
     kKvoResultDeviceErrorDeviceNotOpen, true, "Will wait 15 seconds", 1},
    {"AT errors in a row", kNoPackagesListed, kKvoResultGeneralErrorAtError, true,
     "Failed to get total size of update.", 5},
    {"deadline of the update loop", kStatesForever, kKvoResultUpdateCouldNotBeVerified, true,
     "has not finished within 30 minutes", 1},
};

TEST_P(BoundsTest, EveryRowOfTheScenario) {
  for (const BoundRow& row : kBoundRows) {
    if (row.scenario != GetParam()) continue;
    const Outcome& run = RunOnce(row.scenario);
    const long count = row.in_log ? static_cast<long>(tarvik_test::CountOf(run.log, row.text))
                                  : std::count(run.commands.begin(), run.commands.end(), row.text);
    EXPECT_EQ(row.count, count) << row.bound;
    EXPECT_EQ(row.result, run.result) << row.bound;
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, BoundsTest, ::testing::Range(kNeverReady, kScenarioCount),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(kScenarioNames[info.param]);
                         });

}  // namespace
