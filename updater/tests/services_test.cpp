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

// Cases: the records of golden/services.txt, "<script> / <asked>": a service script with its lines
// separated by '|', then what is asked of it in order: status, stop, start, or control-7 (a
// command that does nothing).
TEST(ServicesTest, ScriptedServicesGiveTheirGoldenOutcome) {
  tarvik_test::TempDir dir;
  KvoSetLogTypesForScreen(kKvoLogTypeMaskAll);
  std::string all;
  for (const std::string& name : updater_test::GoldenNames("services.txt")) {
    const size_t slash = name.rfind(" / ");
    ASSERT_NE(std::string::npos, slash) << "record \"" << name << "\": no \" / \" before the steps";
    std::string text = name.substr(0, slash);
    std::istringstream asked(name.substr(slash + 3));
    std::vector<std::string> steps;
    for (std::string step; asked >> step; steps.push_back(step)) {
      ASSERT_TRUE(step == "status" || step == "stop" || step == "start" || step == "control-7")
          << "record \"" << name << "\": unknown step " << step;
    }
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
    for (const std::string& step : steps) {
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
    all += updater_test::Record(name, outcome);
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
