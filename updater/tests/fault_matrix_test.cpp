// Faults in every phase of an update, end to end: dralmoor and the simulated module as processes.
// Each run must end within its bound with a clear verdict and exit code, leave no container file
// and the service started again; a second run against the same module (its update state kept in a
// file, as a real module keeps it across a re-plug) must then bring the module to the target.
//
// The module asks for two small packages, so that each transparent-channel payload fits one
// datagram: 1 is the net configuration, 2 and 3 the packages. A fault starts with its phase and,
// unless it fires once, lasts to the end of the run: opening (the port, "AT", readiness),
// identification (from the readiness query: the report, the update's first queries), netconfig
// (from the first opening of the channel), package, installing, restart (the module in state 2,
// 3, 5), target check (back after the restart). Silence is no answer, acknowledgement, readiness
// or state report; split cuts AT answers at each of their first ten bytes, frames in thirds; slow
// answers stay within the time-outs.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/files.h"
#include "testing/golden.h"
#include "testing/process.h"
#include "testing/wait.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/updater_support.h"

namespace {

using tarvik_test::ReadFile;

// When every query of the control socket gives its value ("state?=3"), the actions are done once:
// control lines, or "signal N" to the program.
struct Trigger {
  std::vector<std::string> when;
  std::vector<std::string> then;
};

struct Case {
  const char* phase;
  const char* fault;
  // "set:K=V" and "fault:K=V" from the start, "after:COMMAND:ACTION" when the module receives
  // COMMAND.
  std::vector<std::string> module;
  Trigger trigger;
  // The run's result: the verdict's number, modulo 256 the exit code; above 1100 a signal's
  // 128 + number without a verdict line.
  int verdict;
  // A second acceptable result, or -1: a module lost while a package travels ends the run when
  // the failed transfer reaches the engine first (208), and is reopened and updated when the
  // port-lost notice does (0).
  int or_verdict = -1;
};

void PrintTo(const Case& c, std::ostream* stream) {
  *stream << c.phase << "/" << c.fault;
}

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  std::string name = std::string(info.param.phase) + "_" + info.param.fault;
  for (char& ch : name) {
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

constexpr long kNetConfiguration = 24792;
const std::string kSplit = "split_offsets=1,2,3,4,5,6,7,8,9";
const std::string kGarbage = "garbage_before_answer=\\x00\\xff\\x1b[2J\\x7fnoise";
const std::string kPackageUnplug =
    "fault:tc_unplug_after_payload_bytes=" + std::to_string(kNetConfiguration + 1000);
const Trigger kNone = {};
// Time enough to catch the module installing.
const char kInstalling[] = "set:install_ms=600";

// clang-format off
const Case kCases[] = {
  {"opening",        "unplug",    {"fault:unplug_after_bytes=1"}, kNone, 1002},
  {"opening",        "stay-away", {"fault:unplug_after_bytes=1", "fault:stay_away=1"}, kNone, 1002},
  // costs the AT time-out of the first command
  {"opening",        "silence",   {"fault:answer_delay_ms=60000"}, kNone, 1002},
  {"opening",        "nack",      {"fault:error_commands=AT*EMRDY?"}, kNone, 1002},
  {"opening",        "garbage",   {"fault:" + kGarbage, "after:AT*EEVINFO=99:clear-faults"}, kNone, 0},
  {"opening",        "split",     {"fault:" + kSplit, "fault:split_pause_ms=5", "after:AT*EEVINFO=99:clear-faults"}, kNone, 0},
  {"opening",        "slow",      {"fault:answer_delay_ms=300", "after:AT*EEVINFO=99:clear-faults"}, kNone, 0},
  {"identification", "unplug",    {"after:AT*EMRDY?:unplug"}, kNone, 1002},
  {"identification", "stay-away", {"after:AT*EMRDY?:unplug-forever"}, kNone, 1002},
  // costs the 5 s time-out of switching the state reports on (the report's own is a minute)
  {"identification", "silence",   {"after:AT*EEVINFO=99:fault answer_delay_ms=60000"}, kNone, 11},
  {"identification", "nack",      {"fault:error_commands=AT*EEVINFO=99"}, kNone, 1002},
  {"identification", "garbage",   {"after:AT*EMRDY?:fault " + kGarbage, "after:AT*EEUSTATE=1:clear-faults"}, kNone, 0},
  {"identification", "split",     {"after:AT*EMRDY?:fault " + kSplit, "after:AT*EMRDY?:fault split_pause_ms=5", "after:AT*EEUSTATE=1:clear-faults"}, kNone, 0},
  {"identification", "slow",      {"after:AT*EMRDY?:fault answer_delay_ms=300", "after:AT*EEUSTATE=1:clear-faults"}, kNone, 0},
  {"netconfig",      "unplug",    {"after:TC control version 2 command 0:unplug"}, kNone, 0},
  {"netconfig",      "stay-away", {"fault:tc_unplug_after_payload_bytes=1000", "fault:stay_away=1"}, kNone, 208},
  // costs the channel's 5 s time-out for the acknowledgement, and that of closing it
  {"netconfig",      "silence",   {"fault:tc_no_ack_datagram=1"}, kNone, 208},
  {"netconfig",      "nack",      {"fault:tc_nack_datagram=1"}, kNone, 208},
  {"netconfig",      "garbage",   {"fault:tc_bad_session_datagram=1"}, kNone, 208},
  {"netconfig",      "split",     {"after:AT*EETC=2:fault tc_split_frames=1", "after:AT*EETC=2:fault split_pause_ms=5"}, kNone, 0},
  {"netconfig",      "slow",      {"after:AT*EETC=2:fault tc_split_frames=1", "after:AT*EETC=2:fault split_pause_ms=300"}, {{"state?=2"}, {"clear-faults"}}, 0},
  {"package",        "unplug",    {kPackageUnplug}, kNone, 208, 0},
  {"package",        "stay-away", {kPackageUnplug, "fault:stay_away=1"}, kNone, 208},
  // costs the channel's 5 s time-out for the acknowledgement, and that of closing it
  {"package",        "silence",   {"fault:tc_no_ack_datagram=2"}, kNone, 208},
  {"package",        "nack",      {"fault:tc_nack_datagram=2"}, kNone, 208},
  {"package",        "garbage",   {"fault:tc_bad_version_datagram=2"}, kNone, 208},
  {"package",        "split",     {}, {{"state?=2"}, {"fault tc_split_frames=1", "fault split_pause_ms=5"}}, 0},
  {"package",        "slow",      {}, {{"state?=2"}, {"fault tc_split_frames=1", "fault split_pause_ms=300"}}, 0},
  {"installing",     "unplug",    {kInstalling}, {{"state?=3", "tc?=0"}, {"unplug"}}, 0},
  {"installing",     "stay-away", {kInstalling}, {{"state?=3", "tc?=0"}, {"unplug-forever"}}, 210},
  {"installing",     "silence",   {kInstalling}, {{"state?=3"}, {"fault no_unsolicited=1"}}, 0},
  // costs the update loop's five tries, each with its wait
  {"installing",     "nack",      {kInstalling}, {{"state?=3"}, {"fault no_unsolicited=1", "fault error_commands=AT*EEUSTATE?"}}, 308},
  {"installing",     "garbage",   {kInstalling}, {{"state?=3"}, {"fault " + kGarbage}}, 0},
  {"installing",     "split",     {kInstalling}, {{"state?=3"}, {"fault " + kSplit, "fault split_pause_ms=5"}}, 0},
  {"installing",     "slow",      {kInstalling}, {{"state?=3"}, {"fault answer_delay_ms=300"}}, 0},
  {"restart",        "unplug",    {}, {{"state?=5"}, {"unplug"}}, 0},
  {"restart",        "stay-away", {}, {{"state?=5"}, {"fault stay_away=1"}}, 210},
  {"restart",        "silence",   {}, {{"state?=5"}, {"fault never_ready=1"}}, 210},
  {"restart",        "nack",      {}, {{"state?=5"}, {"fault error_commands=AT*EMRDY?"}}, 210},
  {"restart",        "garbage",   {}, {{"state?=5"}, {"fault garbage_before_answer=\\x00\\xfe\\x1bnoise"}}, 0},
  {"restart",        "split",     {}, {{"state?=5"}, {"fault " + kSplit, "fault split_pause_ms=5"}}, 0},
  {"restart",        "slow",      {}, {{"state?=5"}, {"fault answer_delay_ms=300"}}, 0},
  {"target-check",   "unplug",    {}, {{"restarts?=1", "present?=1"}, {"fault unplug_after_bytes=35"}}, 0},
  {"target-check",   "stay-away", {}, {{"restarts?=1", "present?=1"}, {"fault stay_away=1", "fault unplug_after_bytes=35"}}, 210},
  {"target-check",   "silence",   {}, {{"restarts?=1", "present?=1"}, {"fault no_unsolicited=1"}}, 0},
  // the state cannot be read after the reopen: the run ends at once
  {"target-check",   "nack",      {}, {{"restarts?=1", "present?=1"}, {"fault error_commands=AT*EEUSTATE?"}}, 204},
  {"target-check",   "garbage",   {}, {{"restarts?=1", "present?=1"}, {"fault " + kGarbage}}, 0},
  {"target-check",   "split",     {}, {{"restarts?=1", "present?=1"}, {"fault " + kSplit, "fault split_pause_ms=5"}}, 0},
  {"target-check",   "slow",      {}, {{"restarts?=1", "present?=1"}, {"fault answer_delay_ms=300"}}, 0},
  // Ctrl-C and SIGTERM end the run only after the service is started again and the container gone
  {"package",        "ctrl-c",    {}, {{"state?=2"}, {"signal 2"}}, 1100 + SIGINT},
  {"installing",     "sigterm",   {kInstalling}, {{"state?=3"}, {"signal 15"}}, 1100 + SIGTERM},
};
// clang-format on

// The simulated module as a process of its own, with a control socket.
class Simulator {
 public:
  Simulator(const tarvik_test::TempDir& dir, const std::vector<std::string>& settings)
      : socket_(dir.File("control.sock")) {
    std::vector<std::string> arguments = {
        "--state",   dir.File("module.state"),
        "--control", socket_,
        "--set",     "packages=ZNL5504429_1_R1D_networklist,ZNT4025527_1_R1G01_FC.ZIP",
        "--set",     "restart_away_ms=100"};
    std::string scenario;
    for (const std::string& setting : settings) {
      const size_t colon = setting.find(':');
      const std::string kind = setting.substr(0, colon);
      if (kind == "after") {
        const size_t action = setting.find(':', colon + 1);
        scenario += "after \"" + setting.substr(colon + 1, action - colon - 1) + "\" " +
                    setting.substr(action + 1) + "\n";
      } else {
        arguments.push_back(kind == "set" ? "--set" : "--fault");
        arguments.push_back(setting.substr(colon + 1));
      }
    }
    if (!scenario.empty()) {
      tarvik_test::WriteFile(dir.File("scenario"), scenario);
      arguments.push_back("--scenario");
      arguments.push_back(dir.File("scenario"));
    }
    process_.Start(dir.File("map"), arguments, dir.File("module.out"));
  }

  bool WaitReady() {
    return tarvik_test::WaitFor([this] { return Ask("present?", nullptr); }, 5000, 10);
  }

  bool Ask(const std::string& line, std::string* value) const {
    return tarvik_test::AskControl(socket_, line, value);
  }

 private:
  std::string socket_;
  tarvik_test::SimulatorProcess process_;
};

// Fires a trigger once its queries give their values; runs until destroyed.
class Watcher {
 public:
  ~Watcher() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

  void Start(const Simulator* simulator, const Trigger& trigger, pid_t program) {
    if (trigger.when.empty()) return;
    thread_ = std::thread([this, simulator, trigger, program] {
      while (!stop_.load()) {
        bool met = true;
        for (const std::string& condition : trigger.when) {
          const size_t equals = condition.find('=');
          std::string value;
          met = met && simulator->Ask(condition.substr(0, equals), &value) &&
                value == condition.substr(equals + 1);
        }
        if (met) {
          for (const std::string& action : trigger.then) {
            if (action.rfind("signal ", 0) == 0) {
              kill(program, std::stoi(action.substr(7)));
            } else {
              simulator->Ask(action, nullptr);
            }
          }
          fired_.store(true);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
      }
    });
  }
  bool Fired() const { return fired_.load(); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
};

// What the shell sees of a result (a signal's when above 1100).
int ExitStatus(int result) {
  return result > 1100 ? result - 1100 + 128 : QuarnExitStatus(result);
}

class FaultMatrixTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ASSERT_EQ(0, mkdir(dir_.File("map").c_str(), 0700)); }

  tarvik_test::TempDir dir_;
  updater_test::ProgramRunner runner_{dir_.File("map")};
};

TEST_P(FaultMatrixTest, EndsWithAVerdictAndASecondRunCompletesTheUpdate) {
  const Case& c = GetParam();
  {
    Simulator module(dir_, c.module);
    ASSERT_TRUE(module.WaitReady()) << ReadFile(dir_.File("module.out"));
    Watcher watcher;
    const updater_test::ProgramRun run =
        runner_.Run({"-d", "stdout"}, "\n\n\n", updater_test::kRunningService, {},
                    [&](pid_t program) { watcher.Start(&module, c.trigger, program); });
    const std::string& out = run.outcome.out;
    EXPECT_TRUE(c.trigger.when.empty() || watcher.Fired()) << "the fault was never set";
    ASSERT_TRUE(run.outcome.exited) << "killed by a signal, or no verdict within the bound";
    int result = c.verdict;
    if (c.or_verdict >= 0 && run.outcome.exit_status == ExitStatus(c.or_verdict)) {
      result = c.or_verdict;
    }
    EXPECT_EQ(ExitStatus(result), run.outcome.exit_status)
        << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
    if (result <= 1100) {
      const std::string verdict = result == 0 ? "\n\rOK\n\r" : " " + std::to_string(result) + " - ";
      EXPECT_NE(std::string::npos, out.find(verdict)) << tarvik_test::Escaped(verdict);
    }
    EXPECT_FALSE(run.container_left) << "the container file was left behind";
    EXPECT_EQ((std::vector<std::string>{"stop", "start"}), run.service);
  }

  // The module plugged in again without faults: the update resumes where it stopped, or finds
  // the module on the target already.
  Simulator module(dir_, {});
  ASSERT_TRUE(module.WaitReady()) << ReadFile(dir_.File("module.out"));
  const updater_test::ProgramRun again = runner_.Run({"-s"});
  EXPECT_TRUE(again.outcome.exit_status == 0 || again.outcome.exit_status == ExitStatus(302))
      << again.outcome.exit_status;
  std::string state;
  ASSERT_TRUE(module.Ask("state?", &state));
  EXPECT_EQ("1", state);
  EXPECT_NE(std::string::npos,
            ReadFile(dir_.File("module.state")).find("config_set_revision = R5E/1"));
}

INSTANTIATE_TEST_SUITE_P(PhasesAndFaults, FaultMatrixTest, ::testing::ValuesIn(kCases), Name);

}  // namespace
