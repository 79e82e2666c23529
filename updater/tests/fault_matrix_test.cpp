// Faults injected into every phase of a firmware update, end to end: the program as a process
// against the simulated module as a process. Each run must end in a clear verdict and exit code
// within its bound, leave no container file behind and the service as it found it; a second run
// against the same module (its update state kept in a state file, as a real module keeps it
// across a re-plug) must then bring the module to the target.
//
// The module asks for two small packages (network list, then a 4 KB firmware file) so that one
// update takes seconds. Every transparent-channel payload then fits in one datagram: datagram 1
// is the net configuration, 2 the first package, 3 the second, which places the channel faults.
//
// The whole product of phases and faults would take far too long (every silence costs a real
// protocol time-out), so the table holds a representative subset: every phase meets an unplug,
// and every fault appears in the phases where its handling differs (AT exchanges, the
// transparent channel, the restart and the checks after it). Split frames: AT answers are cut at
// every offset of their first ten bytes; the simulated module cuts transparent-channel frames in
// thirds only (their reassembly at every offset is a test of the channel itself).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tarvik_sim/profile.h"
#include "testing/files.h"
#include "testing/paths.h"
#include "testing/process.h"
#include "testing/wait.h"

namespace {

using tarvik_test::FileExists;
using tarvik_test::ProcessResult;
using tarvik_test::ReadFile;
using tarvik_test::RunProcess;
using tarvik_test::TempDir;
using tarvik_test::WriteFile;

// A run that takes longer than this counts as hung.
const int kRunBoundSeconds = 150;

constexpr long kNetConfiguration = 24792;
constexpr long kFirstPackage = 34076;  // the network list

// What the test does to the module while the program runs: once every query of the control
// socket gives its value, the actions are sent (once).
struct Condition {
  const char* query;  // e.g. "state?"
  const char* value;
};

struct Trigger {
  std::vector<Condition> when;  // empty: no trigger
  std::vector<std::string> actions;
};

struct Case {
  const char* phase;
  const char* fault;
  std::vector<std::string> settings;  // --set and --fault arguments, "set:K=V" / "fault:K=V"
  std::vector<std::string> scenario;  // scenario lines
  Trigger trigger;
  int verdict;  // the run's result: the verdict line's number and, modulo 256, the exit code
  // A second acceptable result, or -1. A module lost while a package travels: when the failed
  // transfer reaches the engine's loop first it ends the run (208); when the port-lost notice
  // does, the loop reopens the module under its new name and finishes the update (0). Which
  // comes first is a matter of thread timing.
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

// Every answer cut at each offset of its first ten bytes: the framing ("\r\n", the result
// word, the start of an information line) arrives in every possible piece.
const char kEveryHeaderOffset[] = "fault:split_offsets=1,2,3,4,5,6,7,8,9";
const char kSplitPause[] = "fault:split_pause_ms=5";
// Line noise in front of every answer.
const char kGarbage[] = "fault:garbage_before_answer=\\x00\\xff\\x1b[2J\\x7fnoise";

std::string Fault(const std::string& key, long value) {
  return "fault:" + key + "=" + std::to_string(value);
}

// clang-format off
const Case kCases[] = {
  // phase          fault       settings                               scenario                                       trigger                                   verdict
  {"opening",        "unplug",   {"fault:unplug_after_bytes=1"},         {},                                            {},                                       1002},
  {"opening",        "silence",  {"fault:answer_delay_ms=60000"},        {},                                            {},                                       1002},
  {"opening",        "garbage",  {kGarbage},                             {"after \"AT*EEVINFO=99\" clear-faults"},     {},                                       0},
  {"identification", "unplug",   {},                                     {"after \"AT*EMRDY?\" unplug"},               {},                                       1002},
  {"identification", "nack",     {"fault:error_commands=AT*EEVINFO=99"}, {},                                            {},                                       1002},
  {"identification", "split",    {kEveryHeaderOffset, kSplitPause},      {"after \"AT*EEUSTATE?\" clear-faults"},      {},                                       0},
  {"identification", "slow",     {"fault:answer_delay_ms=1500"},         {"after \"AT*EEUSTATE=1\" clear-faults"},     {},                                       0},
  {"netconfig",      "unplug",   {Fault("tc_unplug_after_payload_bytes", 1000)}, {},                                    {},                                       208},
  {"netconfig",      "silence",  {"fault:tc_no_ack_datagram=1"},         {},                                            {},                                       208},
  {"netconfig",      "nack",     {"fault:tc_nack_datagram=1"},           {},                                            {},                                       208},
  {"netconfig",      "garbage",  {"fault:tc_bad_session_datagram=1"},    {},                                            {},                                       208},
  {"netconfig",      "new-port", {},                                     {"after \"TC control version 2 command 0\" unplug"}, {},                           0},
  {"netconfig",      "split",    {"fault:tc_split_frames=1", kSplitPause}, {},                                          {},                                       0},
  {"package1",       "unplug",   {Fault("tc_unplug_after_payload_bytes", kNetConfiguration + 1000)}, {},                {},                                       208, 0},
  {"package1",       "nack",     {"fault:tc_nack_datagram=2"},           {},                                            {},                                       208},
  {"package2",       "unplug",   {Fault("tc_unplug_after_payload_bytes", kNetConfiguration + kFirstPackage + 1000)}, {}, {},                                      208, 0},
  {"package2",       "silence",  {"fault:tc_no_ack_datagram=3"},         {},                                            {},                                       208},
  {"package2",       "garbage",  {"fault:tc_bad_version_datagram=3"},    {},                                            {},                                       208},
  {"installing",     "unplug",   {"set:install_ms=2000"},                {},                                            {{{"state?", "3"}, {"tc?", "0"}}, {"unplug"}},              0},
  {"installing",     "silence",  {"fault:no_unsolicited=1"},             {},                                            {},                                       0},
  {"restart",        "stay-away", {},                                    {},                                            {{{"state?", "5"}}, {"fault stay_away=1"}},   5},
  {"restart",        "slow",     {},                                     {},                                            {{{"state?", "5"}}, {"fault answer_delay_ms=1500"}}, 0},
  {"restart",        "garbage",  {},                                     {},                                            {{{"state?", "5"}}, {"fault garbage_before_answer=\\x00\\xfe\\x1bnoise"}}, 0},
  {"target-check",   "nack",     {},                                     {},                                            {{{"restarts?", "1"}, {"present?", "1"}}, {"fault error_commands=AT*EEUSTATE?"}}, 308},
  {"target-check",   "unplug",   {},                                     {},                                            {{{"restarts?", "1"}, {"present?", "1"}}, {"fault unplug_after_bytes=35"}}, 0},
};
// clang-format on

// The simulated module as a process of its own, with a control socket.
class Simulator {
 public:
  Simulator(const TempDir& dir, const std::vector<std::string>& settings,
            const std::vector<std::string>& scenario)
      : socket_(dir.File("control.sock")) {
    std::vector<std::string> arguments = {
        "--state",   dir.File("module.state"),
        "--log",     dir.File("module.log"),
        "--control", socket_,
        "--set",     "packages=ZNL5504429_1_R1D_networklist,ZNT4025527_1_R1G01_FC.ZIP",
        "--set",     "restart_away_ms=300"};
    for (const std::string& setting : settings) {
      const size_t colon = setting.find(':');
      arguments.push_back(setting.substr(0, colon) == "set" ? "--set" : "--fault");
      arguments.push_back(setting.substr(colon + 1));
    }
    if (!scenario.empty()) {
      std::string text;
      for (const std::string& line : scenario) text += line + "\n";
      WriteFile(dir.File("scenario"), text);
      arguments.push_back("--scenario");
      arguments.push_back(dir.File("scenario"));
    }
    process_.Start(dir.File("map"), arguments, dir.File("module.out"));
  }

  // Waits until the control socket answers.
  bool WaitReady() {
    return tarvik_test::WaitFor([this] { return Control("present?", nullptr); }, 5000, 10);
  }

  // One line to the control socket; true for "OK", with the value line (if any) in *value.
  bool Control(const std::string& line, std::string* value) const {
    return tarvik_test::AskControl(socket_, line, value);
  }

 private:
  std::string socket_;
  tarvik_test::SimulatorProcess process_;
};

// Fires a trigger's actions once its query gives the value; runs until destroyed.
class Watcher {
 public:
  Watcher(const Simulator& simulator, const Trigger& trigger) {
    if (trigger.when.empty()) return;
    thread_ = std::thread([this, &simulator, trigger] {
      while (!stop_.load()) {
        bool met = true;
        for (const Condition& condition : trigger.when) {
          std::string value;
          met = met && simulator.Control(condition.query, &value) && value == condition.value;
        }
        if (met) {
          for (const std::string& action : trigger.actions) simulator.Control(action, nullptr);
          fired_.store(true);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
      }
    });
  }
  ~Watcher() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  bool Fired() const { return fired_.load(); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
};

class FaultMatrixTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ASSERT_EQ(0, mkdir(dir_.File("map").c_str(), 0700)); }

  struct Run {
    ProcessResult outcome;
    std::vector<std::string> service_requests;
    bool container_left = false;
    std::string log;
  };

  Run RunProgram(const std::string& name) {
    Run run;
    const std::string record = dir_.File(name + ".service");
    const std::string script = dir_.File(name + ".script");
    WriteFile(script, "status 0 running\nstop-status 0 stopped\nstart-status 0 running\nrecord " +
                          record + "\n");
    TempDir work;
    const std::string log = dir_.File(name + ".log");
    run.outcome = RunProcess({tarvik_test::kProgram, "-d", log},
                             {"TARVIK_DEVICE_MAP=" + dir_.File("map"),
                              "TARVIK_SERVICE_SCRIPT=" + script, "TARVIK_WAIT_DIVISOR=50"},
                             work.path(), "\n\n\n", kRunBoundSeconds);
    run.container_left = FileExists(work.File("libupdate_container.dll"));
    for (const std::string& line : tarvik_test::SplitLines(ReadFile(record), "\n")) {
      if (line == "stop" || line == "start") run.service_requests.push_back(line);
    }
    run.log = log;
    return run;
  }

  // The last error and update lines of a run's log, to tell why a case went another way.
  static std::string LogTail(const std::string& log) {
    std::vector<std::string> picked;
    for (const std::string& line : tarvik_test::SplitLines(ReadFile(log), "\n")) {
      if (line.find("KVO:Update") != std::string::npos || line.find("ERROR") != std::string::npos) {
        picked.push_back(line);
      }
    }
    std::string tail;
    for (size_t i = picked.size() > 25 ? picked.size() - 25 : 0; i < picked.size(); ++i) {
      tail += picked[i] + "\n";
    }
    return tail;
  }

  // The verdict line for `result` (or `alternative`), and the exit code the shell sees.
  static void ExpectVerdict(const Run& run, int result, int alternative) {
    ASSERT_TRUE(run.outcome.exited)
        << "no verdict within " << kRunBoundSeconds << " s, or killed by a signal; log " << run.log;
    if (alternative >= 0 && run.outcome.exit_status == ExitStatus(alternative))
      result = alternative;
    EXPECT_EQ(ExitStatus(result), run.outcome.exit_status) << LogTail(run.log);
    const std::string verdict =
        result == 0 ? std::string("\n\rOK\n\r") : " " + std::to_string(result) + " - ";
    EXPECT_NE(std::string::npos, run.outcome.out.rfind(verdict))
        << run.outcome.out.substr(run.outcome.out.size() > 300 ? run.outcome.out.size() - 300 : 0);
    EXPECT_FALSE(run.container_left) << "the container file was left behind";
    // The service was running: stopped for the run and started again at its end.
    EXPECT_EQ((std::vector<std::string>{"stop", "start"}), run.service_requests);
  }

  // What the shell sees of a result: its low byte, never 0 for a failure.
  static int ExitStatus(int result) {
    return result == 0 ? 0 : ((result & 0xFF) == 0 ? 1 : result & 0xFF);
  }

  TempDir dir_;
};

TEST_P(FaultMatrixTest, EndsWithAVerdictAndASecondRunCompletesTheUpdate) {
  const Case& c = GetParam();
  {
    Simulator module(dir_, c.settings, c.scenario);
    ASSERT_TRUE(module.WaitReady()) << ReadFile(dir_.File("module.out"));
    Watcher watcher(module, c.trigger);
    const Run run = RunProgram("faulty");
    if (!c.trigger.when.empty()) {
      EXPECT_TRUE(watcher.Fired()) << "the fault was never set";
    }
    ExpectVerdict(run, c.verdict, c.or_verdict);
  }

  // The module re-plugged without faults: the update resumes where it stopped (or finds the
  // module already on the target).
  Simulator module(dir_, {}, {});
  ASSERT_TRUE(module.WaitReady()) << ReadFile(dir_.File("module.out"));
  const Run again = RunProgram("again");
  ASSERT_TRUE(again.outcome.exited) << again.log;
  const bool resumed =
      again.outcome.exit_status == 0 || again.outcome.out.rfind(" 302 - ") != std::string::npos;
  EXPECT_TRUE(resumed) << again.outcome.out;
  EXPECT_FALSE(again.container_left);
  std::string state;
  ASSERT_TRUE(module.Control("state?", &state));
  EXPECT_EQ("1", state);
  const std::string kept = ReadFile(dir_.File("module.state"));
  EXPECT_NE(std::string::npos, kept.find("config_set_revision = R5E/1")) << kept;
}

INSTANTIATE_TEST_SUITE_P(PhasesAndFaults, FaultMatrixTest, ::testing::ValuesIn(kCases), Name);

}  // namespace
