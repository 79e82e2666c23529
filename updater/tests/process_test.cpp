// dralmoor as the operator runs it: a process of its own with the user's words, simulated modules
// in a device map and a scripted service manager. Each run's outcome (exit status, the service's
// requests, the container file, the console, the program's log lines, the modules) is rendered
// against a golden file. tarvik runs the test container, which dralmoor cannot be given.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"
#include "testing/golden.h"
#include "testing/module_map.h"
#include "testing/paths.h"
#include "updater/tests/support/updater_support.h"

namespace {

using tarvik_test::ReadFile;
using updater_test::kRunningService;

enum Setup {
  kNothing,
  kModule,          // a module that the carried container updates
  kFirstThatOpens,  // a dead port, a module on the target, a module that needs an update
  kDeadPort,
  kConfirmModule,      // a module that asks for the test container's packages
  kBadCustomization,   // a customization container that does not load: the library cannot start
  kStaleContainer,     // a file of the container's name in the working directory
  kContainerDirectory  // a directory of the container's name: it cannot be written
};

struct Case {
  const char* name;
  // LOG: a log file; CONFIRM: the test container; PROGRAM: dralmoor
  std::vector<std::string> words;
  Setup setup = kNothing;
  const char* input = "";
  const char* service = kRunningService;
  const char* program = nullptr;  // dralmoor unless named
  bool console = true;  // false: the console holds log lines with times, or what the library pins
  std::vector<std::string> environment = {};
};

// Two small packages of the carried container, so that a transfer shows few progress texts.
const char kSmallPackages[] = "packages=ZNL5504429_1_R1D_networklist,ZNT4025527_1_R1G01_FC.ZIP";
// tarvik takes part in a machine-wide lock before it starts the service: with no service, what
// other tests do meanwhile cannot change its outcome.
const char kNoService[] = "open-error 2\n";
const char kIgnoresStop[] = "status 0 running\n";
const char kStopped[] = "status 0 stopped\nstart-status 0 running\n";
const char kStartFails[] = "status 0 running\nstop-status 0 stopped\nstart-error 1\n";
const char kTarvik[] = TARVIK_BIN_DIR "/tarvik";
// dralmoor's output into a pipe that is closed after 900 bytes, while the update still runs.
const char kClosedPipe[] = "\"$0\" \"$@\" | head -c 900 >/dev/null; exit ${PIPESTATUS[0]}";

// clang-format off
const Case kCases[] = {
  // the words are checked before anything on the machine changes; -s anywhere silences the run
  {"unknown word",                 {"-x"}},
  {"-d at the end",                {"-d"}},
  {"-d at the end after -path",    {"-path", "-d"}},
  {"help",                         {"-h"}},
  {"help word",                    {"help"}},
  {"silent refusal",               {"-s", "-x"}},
  {"refusal silenced later",       {"-x", "-s"}},
  {"no module",                    {"-d", "LOG"}, kNothing, "\n"},
  {"silent, no module",            {"-s", "-d", "LOG"}},
  {"log on the console",           {"-d", "stdout"}, kNothing, "\n", kRunningService, nullptr, false},
  {"log file cannot be opened",    {"-d", "/nonexistent/run.log"}, kNothing, "\n"},
  {"no service",                   {}, kNothing, "\n", kNoService},
  {"service ignores the stop",     {"-d", "LOG"}, kNothing, "\n", kIgnoresStop},
  {"service stopped before",       {"-d", "LOG"}, kNothing, "\n", kStopped},
  {"service does not start again", {"-d", "stdout"}, kNothing, "\n", kStartFails, nullptr, false},
  {"stale container",              {"-s"}, kStaleContainer},
  {"container cannot be written",  {"-d", "LOG"}, kContainerDirectory},
  {"dead port",                    {}, kDeadPort, "\n"},
  {"first port that opens",        {"-d", "LOG"}, kFirstThatOpens, "\n"},
  {"library does not start",       {}, kBadCustomization, "\n"},
  {"library does not start, silent", {"-d", "LOG", "-s"}, kBadCustomization},
  {"library does not start, log on the console", {"-d", "stdout"}, kBadCustomization},
  {"no test seams",                {}, kNothing, "\n", kNoService, nullptr, true, {"TARVIK_WAIT_DIVISOR=", "TARVIK_SERVICE_SCRIPT=", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"}},
  {"whole update",                 {}, kModule, "\n\n"},
  {"silent update",                {"-s"}, kModule},
  {"output pipe closed early",     {"-c", kClosedPipe, "PROGRAM"}, kModule, "\n\n", kRunningService, "bash"},
  // The paths themselves are the library's to check.
  {"path list",                    {"-path", "-d", "LOG"}, kModule, "\n", kRunningService, nullptr, false},
  {"tarvik: confirmed update",     {"fwupdate", "CONFIRM"}, kConfirmModule, "", kNoService, kTarvik},
  {"tarvik: quiet refuses a confirmed update", {"-q", "fwupdate", "CONFIRM"}, kConfirmModule, "", kNoService, kTarvik},
};
// clang-format on

tarvik_sim::Profile Profile(const std::string& settings) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  std::string error;
  EXPECT_TRUE(tarvik_sim::ApplyProfileSetting(&profile, "restart_away_ms", "300", &error));
  if (!settings.empty()) {
    const size_t equals = settings.find('=');
    EXPECT_TRUE(tarvik_sim::ApplyProfileSetting(&profile, settings.substr(0, equals),
                                                settings.substr(equals + 1), &error))
        << error;
  }
  return profile;
}

TEST(ProcessTest, RunsGiveTheirGoldenOutcome) {
  std::string all;
  for (const Case& run : kCases) {
    tarvik_test::ModuleMap map;
    updater_test::ProgramRunner runner(map.dir());
    if (run.program != nullptr) runner.program = run.program;
    const tarvik_test::TempDir& work = runner.work();
    std::vector<tarvik_sim::Module*> modules;
    switch (run.setup) {
      case kModule:
        modules.push_back(map.Add(Profile(kSmallPackages), "usb-Tarvik_0001-if00-mdm"));
        break;
      case kFirstThatOpens:
        map.AddDeadLink("usb-A_0001-if00-mdm");
        modules.push_back(map.Add(Profile("config_set_revision=R5E/1"), "usb-B_0001-if00-mdm"));
        modules.push_back(map.Add(Profile(""), "usb-C_0001-if00-mdm"));
        break;
      case kDeadPort:
        map.AddDeadLink("usb-Broken_0001-if00-mdm");
        break;
      case kConfirmModule:
        modules.push_back(
            map.Add(Profile("packages=TEST_PACKAGE_100.ZIP:100,TEST_PACKAGE_200.ZIP:200,"
                            "TEST_PACKAGE_700.ZIP:700"),
                    "usb-Tarvik_0001-if00-mdm"));
        break;
      case kBadCustomization:
        tarvik_test::WriteFile(work.File("libcustomization_container.dll"), "not a library");
        break;
      case kStaleContainer:
        tarvik_test::WriteFile(work.File("libupdate_container.dll"), "stale");
        break;
      case kContainerDirectory:
        ASSERT_EQ(0, mkdir(work.File("libupdate_container.dll").c_str(), 0700));
        break;
      default:
        break;
    }
    for (tarvik_sim::Module* module : modules) ASSERT_NE(nullptr, module) << run.name;

    const std::string log = work.File("run.log");
    std::vector<std::string> words;
    for (const std::string& word : run.words) {
      words.push_back(word == "LOG"       ? log
                      : word == "CONFIRM" ? tarvik_test::kConfirmContainer
                      : word == "PROGRAM" ? tarvik_test::kProgram
                                          : word);
    }
    const updater_test::ProgramRun ran = runner.Run(words, run.input, run.service, run.environment);
    ASSERT_TRUE(ran.outcome.exited) << run.name;

    std::string outcome = "exit " + std::to_string(ran.outcome.exit_status) + "\nservice:";
    for (const std::string& request : ran.service) outcome += " " + request;
    outcome += "\ncontainer " + std::string(ran.container_left ? "left" : "gone") + "\n";
    for (size_t i = 0; i < modules.size(); ++i) {
      outcome += "module " + std::to_string(i) +
                 (modules[i]->Commands().empty() ? " untouched" : " asked") + ", revision " +
                 modules[i]->CurrentProfile().Get("Config. Set Revision") + "\n";
    }
    outcome += "console:\n" + (run.console ? ran.outcome.out : "(not compared)") + "\n";
    std::vector<std::pair<std::string, std::string>> names = runner.Names();
    names.push_back({TARVIK_LIB_DIR, "<lib>"});
    const std::string logged = tarvik_test::FileExists(log) ? ReadFile(log)
                               : run.console                ? ""
                                                            : ran.outcome.out;
    outcome += "log:\n" + updater_test::ProgramLogLines(logged);
    all += updater_test::Record(run.name, updater_test::Masked(outcome, names));
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(updater_test::GoldenPath("runs.txt"), all));
}

}  // namespace
