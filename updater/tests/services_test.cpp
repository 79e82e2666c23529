// Stopping and starting the connection-manager service against a scripted service manager with a
// virtual clock: each row is a service script and what is asked of it; what happened (status,
// requests, handles, sleeps, the clock, the log lines) is rendered against a golden file, so the
// wait rules are checked without waiting.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "testing/golden.h"
#include "updater/src/actions/posix/handle_services.h"
#include "updater/src/actions/posix/service_manager.h"
#include "updater/tests/support/updater_support.h"

namespace {

struct Row {
  const char* script;  // a service script, lines separated by '|'
  const char* asked;   // in order: status, stop, start, or control-7 (a command that does nothing)
};

// clang-format off
const Row kRows[] = {
  {"status 0 running # a comment",                                  "status"},
  {"status 0 start-pending hint 3000",                              "status"},
  {"status 0 stop-pending hint 3000",                               "status"},
  {"status 0 stopped",                                              "status stop"},
  {"open-error 2",                                                  "status stop start"},
  {"service OtherService|status 0 running",                         "status"},
  {"manager-error 111",                                             "status stop start"},
  {"status 0 running|query-error 5",                                "status stop start"},
  {"status 0 running|query-error 5 from 2",                         "stop"},
  // a stop already pending: a tenth of the hint per pass, within 1 to 10 s
  {"status 0 stop-pending hint 2000|status 12000 stopped",          "stop"},
  {"status 0 stop-pending hint 200000|status 12000 stopped",        "stop"},
  {"status 0 stop-pending hint 0|status 12000 stopped",             "stop"},
  {"status 0 stop-pending hint 10000|status 12000 stopped",         "stop"},
  {"status 0 stop-pending hint 100000|status 12000 stopped",        "stop"},
  {"status 0 stop-pending hint 50000",                              "stop"},
  // after the stop request the whole hint per pass, 30 s in all
  {"status 0 running|stop-status 0 stop-pending hint 3000|stop-status 7000 stopped", "stop status"},
  {"status 0 running|stop-status 0 stop-pending hint 3000",         "stop"},
  {"status 0 running|stop-status 0 stop-pending hint 0",            "stop"},
  {"status 0 running|stop-status 0 stop-pending hint 600000",       "stop"},
  {"status 0 running hint 2000",                                    "stop"},
  {"status 0 running|stop-error 13",                                "stop status"},
  {"status 0 running",                                              "start"},
  {"status 0 running",                                              "control-7"},
  {"status 0 start-pending",                                        "start"},
  {"status 0 stopped|start-status 0 start-pending hint 20000 checkpoint 1|start-status 2000 start-pending hint 20000 checkpoint 2|start-status 5000 running", "start status"},
  // a pending stop is waited for while its checkpoint grows
  {"status 0 stop-pending hint 1500 checkpoint 1|status 1000 stop-pending hint 1500 checkpoint 2|status 2000 stop-pending hint 1500 checkpoint 3|status 3000 stopped|start-status 0 running", "start"},
  {"status 0 stop-pending hint 2500 checkpoint 7",                  "start"},
  {"status 0 stopped|start-status 0 start-pending hint 4000 checkpoint 3|start-status 3000 stopped exit 1067", "start"},
  {"status 0 stopped|start-status 0 start-pending hint 4000 checkpoint 5", "start"},
  {"status 0 stopped|start-error 1",                                "start"},
  // the systemd back end on a machine without a reachable system bus
  {"systemd",                                                       "status stop start"},
};
// clang-format on

TEST(ServicesTest, ScriptedServicesGiveTheirGoldenOutcome) {
  tarvik_test::TempDir dir;
  KvoSetLogTypesForScreen(kKvoLogTypeMaskAll);
  std::string all;
  for (const Row& row : kRows) {
    std::string text = row.script;
    for (char& c : text) c = c == '|' ? '\n' : c;
    tarvik_test::WriteFile(dir.File("script"), text + "\n");
    ServiceScript script;
    std::string error;
    const bool systemd = text == "systemd";
    ASSERT_TRUE(systemd || LoadServiceScript(dir.File("script").c_str(), &script, &error)) << error;
    auto backend = std::make_shared<ScriptedServiceBackend>(script);
    ServiceManagerSetBackend(systemd ? MakeSystemdServiceBackend() : backend);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tarvik-test-bus", 1);

    std::string outcome;
    ::testing::internal::CaptureStdout();
    std::istringstream asked(row.asked);
    for (std::string step; asked >> step;) {
      if (step == "status") {
        outcome += "status " + std::to_string(CheckVestriStatus()) + "\n";
      } else {
        VestriControl(step == "stop"    ? kStopVestri
                      : step == "start" ? kStartVestri
                                        : static_cast<VestriServiceCommand>(7));
      }
    }
    const std::string logged = ::testing::internal::GetCapturedStdout();
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    const ServiceEvents& events = backend->events();
    if (!systemd) {
      outcome += "requests: stop " + std::to_string(events.stop_requests) + ", start " +
                 std::to_string(events.start_requests) + "\nmanager opened " +
                 std::to_string(events.manager_opens) + " closed " +
                 std::to_string(events.manager_closes) + ", service opened " +
                 std::to_string(events.service_opens) + " closed " +
                 std::to_string(events.service_closes) + "\nsleeps:";
      for (unsigned long sleep : events.sleeps) outcome += " " + std::to_string(sleep);
      outcome += "\nclock " + std::to_string(backend->now()) + "\n";
    }
    outcome += updater_test::ProgramLogLines(logged);
    all += updater_test::Record(std::string(row.script) + " / " + row.asked, outcome);
  }
  ServiceManagerSetBackend(nullptr);
  KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  EXPECT_TRUE(tarvik_test::MatchesGolden(updater_test::GoldenPath("services.txt"), all));
}

// systemd gives neither an estimate nor progress for a pending state.
TEST(ServicesTest, SystemdStatesAsServiceStatus) {
  const struct {
    const char* active;
    int exit;
    unsigned long pending_ms;
    ServiceStatusProcess status;  // state, exit code, checkpoint, wait hint
  } kRows[] = {
      {"active", 0, 0, {kServiceRunning, 0, 0, 0}},
      {"reloading", 0, 0, {kServiceRunning, 0, 0, 0}},
      {"inactive", 0, 0, {kServiceStopped, 0, 0, 0}},
      {"failed", 3, 0, {kServiceStopped, 3, 0, 0}},
      // a small estimate, and each second in the pending state counts as progress
      {"activating", 0, 0, {kServiceStartPending, 0, 1, 1000}},
      {"activating", 0, 2500, {kServiceStartPending, 0, 3, 1000}},
      {"deactivating", 0, 999, {kServiceStopPending, 0, 1, 1000}},
  };
  for (const auto& row : kRows) {
    const ServiceStatusProcess status = SystemdServiceStatus(row.active, row.exit, row.pending_ms);
    EXPECT_EQ(row.status.current_state, status.current_state) << row.active;
    EXPECT_EQ(row.status.win32_exit_code, status.win32_exit_code) << row.active;
    EXPECT_EQ(row.status.check_point, status.check_point) << row.active << " " << row.pending_ms;
    EXPECT_EQ(row.status.wait_hint, status.wait_hint) << row.active;
  }
}

TEST(ServicesTest, BadScriptLinesAreRefusedWithTheirPlace) {
  tarvik_test::TempDir dir;
  const std::string path = dir.File("script");
  ServiceScript script;
  std::string error;
  for (const char* bad :
       {"status 0 sleepy\n", "status x running\n", "launch 1\n", "status 0 running hint\n",
        "manager-error 0\n", "status 5 running\nstatus 1 stopped\n", "query-error 5 since 2\n",
        "record\n", "stop-error 5 6\n"}) {
    tarvik_test::WriteFile(path, bad);
    EXPECT_FALSE(LoadServiceScript(path.c_str(), &script, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find(path + ":")) << error;
  }
  EXPECT_FALSE(LoadServiceScript("/nonexistent/script", &script, &error));
}

}  // namespace
