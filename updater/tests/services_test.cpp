// Stopping and starting the connection-manager service against a scripted service manager with
// a virtual clock: the wait rules are checked without waiting. The log lines are read from the
// library's screen log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "updater/src/actions/posix/handle_services.h"
#include "updater/src/actions/posix/service_manager.h"

namespace {

struct Line {
  std::string type;     // "INFO", "ERROR", ...
  std::string message;  // as logged, line ends of the message included
};

ServiceStatusProcess Status(unsigned long state, unsigned long hint = 0,
                            unsigned long check_point = 0, unsigned long exit_code = 0) {
  ServiceStatusProcess status;
  status.current_state = state;
  status.wait_hint = hint;
  status.check_point = check_point;
  status.win32_exit_code = exit_code;
  return status;
}

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { KvoSetLogTypesForScreen(kKvoLogTypeMaskAll); }
  void TearDown() override {
    ServiceManagerSetBackend(nullptr);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  }

  ScriptedServiceBackend& Use(ServiceScript script) {
    backend_ = std::make_shared<ScriptedServiceBackend>(std::move(script));
    ServiceManagerSetBackend(backend_);
    return *backend_;
  }

  // Runs `action` and returns the lines it logged with the service control's sender.
  static std::vector<Line> Logged(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    const std::string output = ::testing::internal::GetCapturedStdout();
    // "%-35s%-20s%-10s%s\r\n": date, sender, type, message.
    std::vector<Line> lines;
    for (const std::string& record : tarvik_test::SplitLines(output)) {
      if (record.size() < 65 || record.compare(35, 18, "QuarnHandleService") != 0) continue;
      std::string type = record.substr(55, 10);
      type.erase(type.find_last_not_of(' ') + 1);
      lines.push_back({type, record.substr(65)});
    }
    return lines;
  }

  static std::vector<std::string> Messages(const std::vector<Line>& lines) {
    std::vector<std::string> messages;
    for (const Line& line : lines) messages.push_back(line.message);
    return messages;
  }

  std::shared_ptr<ScriptedServiceBackend> backend_;
};

TEST_F(ServicesTest, StatusOfTheService) {
  ServiceScript running;
  running.initial = {{0, Status(kServiceRunning)}};
  Use(running);
  VestriStatus status = kVestriStatusError;
  auto lines = Logged([&] { status = CheckVestriStatus(); });
  EXPECT_EQ(kVestriStatusRunning, status);
  EXPECT_EQ(std::vector<std::string>{"Service is running.\n"}, Messages(lines));
  EXPECT_EQ("INFO", lines.at(0).type);

  // Pending states count as running.
  for (unsigned long state : {kServiceStartPending, kServiceStopPending}) {
    ServiceScript pending;
    pending.initial = {{0, Status(state, 3000)}};
    Use(pending);
    EXPECT_EQ(kVestriStatusRunning, CheckVestriStatus());
  }

  ServiceScript stopped;
  stopped.initial = {{0, Status(kServiceStopped)}};
  ScriptedServiceBackend& backend = Use(stopped);
  lines = Logged([&] { status = CheckVestriStatus(); });
  EXPECT_EQ(kVestriStatusStopped, status);
  EXPECT_EQ(std::vector<std::string>{"Service is stopped.\n"}, Messages(lines));
  // Every operation closes what it opened.
  EXPECT_EQ(1u, backend.events().manager_opens);
  EXPECT_EQ(1u, backend.events().manager_closes);
  EXPECT_EQ(1u, backend.events().service_closes);
}

TEST_F(ServicesTest, MissingServiceOrManagerIsAnErrorAndNothingHappens) {
  ServiceScript missing;
  missing.open_error = ENOENT;
  ScriptedServiceBackend& backend = Use(missing);
  VestriStatus status = kVestriStatusStopped;
  auto lines = Logged([&] { status = CheckVestriStatus(); });
  EXPECT_EQ(99, static_cast<int>(status));
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("ERROR", lines[0].type);
  EXPECT_EQ("OpenService failed (" + std::to_string(ENOENT) + ")\n", lines[0].message);
  EXPECT_EQ(1u, backend.events().manager_closes);

  lines = Logged([] {
    VestriControl(kStopVestri);
    VestriControl(kStartVestri);
  });
  EXPECT_EQ((std::vector<std::string>{"OpenService failed (2)\n", "OpenService failed (2)"}),
            Messages(lines));
  EXPECT_EQ(0u, backend.events().stop_requests);
  EXPECT_EQ(0u, backend.events().start_requests);

  // A service of another name is not ours.
  ServiceScript other;
  other.service_name = "OtherService";
  other.initial = {{0, Status(kServiceRunning)}};
  Use(other);
  EXPECT_EQ(kVestriStatusError, CheckVestriStatus());

  ServiceScript no_bus;
  no_bus.manager_error = ECONNREFUSED;
  Use(no_bus);
  lines = Logged([&] { status = CheckVestriStatus(); });
  EXPECT_EQ(kVestriStatusError, status);
  EXPECT_EQ(
      std::vector<std::string>{"OpenSCManager failed (" + std::to_string(ECONNREFUSED) + ")\n"},
      Messages(lines));
}

TEST_F(ServicesTest, QueryFailuresAreLoggedAndEndTheOperation) {
  ServiceScript broken;
  broken.initial = {{0, Status(kServiceRunning)}};
  broken.query_error = EIO;
  broken.query_fails_from = 1;
  ScriptedServiceBackend& backend = Use(broken);
  VestriStatus status = kVestriStatusStopped;
  auto lines = Logged([&] {
    status = CheckVestriStatus();
    DoStopSvc();
    DoStartSvc();
  });
  EXPECT_EQ(kVestriStatusError, status);
  EXPECT_EQ((std::vector<std::string>{"QueryServiceStatusEx failed (5)\n",
                                      "QueryServiceStatusEx failed (5)\n",
                                      "QueryServiceStatusEx failed (5)"}),
            Messages(lines));
  EXPECT_EQ(0u, backend.events().stop_requests);
  EXPECT_EQ(0u, backend.events().start_requests);
}

// While a stop is pending, each pass sleeps a tenth of the wait hint within 1 to 10 seconds.
TEST_F(ServicesTest, PendingStopSleepsATenthOfTheHintWithinBounds) {
  struct Case {
    unsigned long hint;
    unsigned long sleep;
  };
  for (const Case& c : {Case{50000, 5000}, Case{2000, 1000}, Case{200000, 10000}, Case{0, 1000},
                        Case{10000, 1000}, Case{100000, 10000}}) {
    ServiceScript script;
    // Stops by itself after 12 virtual seconds.
    script.initial = {{0, Status(kServiceStopPending, c.hint)}, {12000, Status(kServiceStopped)}};
    ScriptedServiceBackend& backend = Use(script);
    auto lines = Logged([] { VestriControl(kStopVestri); });
    ASSERT_FALSE(backend.events().sleeps.empty());
    for (unsigned long sleep : backend.events().sleeps) EXPECT_EQ(c.sleep, sleep) << c.hint;
    const size_t passes = (12000 + c.sleep - 1) / c.sleep;
    EXPECT_EQ(passes, backend.events().sleeps.size()) << c.hint;
    EXPECT_EQ(0u, backend.events().stop_requests) << "it was stopping already";
    std::vector<std::string> expected(passes, "Service stop pending...\n");
    expected.push_back("Service stopped successfully.\n");
    EXPECT_EQ(expected, Messages(lines)) << c.hint;
  }
}

TEST_F(ServicesTest, PendingStopThatNeverEndsTimesOut) {
  ServiceScript script;
  script.initial = {{0, Status(kServiceStopPending, 50000)}};
  ScriptedServiceBackend& backend = Use(script);
  auto lines = Logged([] { DoStopSvc(); });
  // 5 s passes: the limit is passed after the seventh.
  EXPECT_EQ(7u, backend.events().sleeps.size());
  EXPECT_EQ(35000u, backend.now());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("Service stop timed out.\n", lines.back().message);
  EXPECT_EQ("ERROR", lines.back().type);
  EXPECT_EQ(0u, backend.events().stop_requests);
}

TEST_F(ServicesTest, StopOfARunningService) {
  ServiceScript script;
  script.initial = {{0, Status(kServiceRunning)}};
  script.after_stop = {{0, Status(kServiceStopPending, 3000)}, {7000, Status(kServiceStopped)}};
  ScriptedServiceBackend& backend = Use(script);
  auto lines = Logged([] { VestriControl(kStopVestri); });
  EXPECT_EQ(1u, backend.events().stop_requests);
  // After the stop request the whole hint is slept per pass.
  EXPECT_EQ((std::vector<unsigned long>{3000, 3000, 3000}), backend.events().sleeps);
  EXPECT_EQ(std::vector<std::string>{"Service stopped successfully\n"}, Messages(lines));
  EXPECT_EQ(kVestriStatusStopped, CheckVestriStatus());

  // Stopping a stopped service does nothing.
  lines = Logged([] { DoStopSvc(); });
  EXPECT_EQ(std::vector<std::string>{"Service is already stopped.\n"}, Messages(lines));
  EXPECT_EQ(1u, backend.events().stop_requests);
}

TEST_F(ServicesTest, StopThatNeverCompletesGivesUpAfterThirtySeconds) {
  for (unsigned long hint : {3000ul, 0ul, 600000ul}) {
    ServiceScript script;
    script.initial = {{0, Status(kServiceRunning)}};
    script.after_stop = {{0, Status(kServiceStopPending, hint)}};
    ScriptedServiceBackend& backend = Use(script);
    auto lines = Logged([] { DoStopSvc(); });
    EXPECT_EQ(1u, backend.events().stop_requests);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Wait timed out\n", lines.back().message) << hint;
    EXPECT_EQ("ERROR", lines.back().type);
    // Given up at the first check past 30 s; no sleep of its own runs far past the limit.
    EXPECT_GT(backend.now(), 30000u) << hint;
    EXPECT_LE(backend.now(), 40000u) << hint;
    for (unsigned long sleep : backend.events().sleeps) {
      EXPECT_GE(sleep, 1000u);
      EXPECT_LE(sleep, 10000u);
    }
  }
  // A service that ignores the request entirely.
  ServiceScript deaf;
  deaf.initial = {{0, Status(kServiceRunning, 2000)}};
  ScriptedServiceBackend& backend = Use(deaf);
  auto lines = Logged([] { DoStopSvc(); });
  EXPECT_EQ("Wait timed out\n", lines.back().message);
  EXPECT_EQ(32000u, backend.now());
}

TEST_F(ServicesTest, RefusedStopIsLogged) {
  ServiceScript script;
  script.initial = {{0, Status(kServiceRunning)}};
  script.stop_error = EACCES;
  Use(script);
  auto lines = Logged([] { DoStopSvc(); });
  EXPECT_EQ(std::vector<std::string>{"ControlService failed (13)\n"}, Messages(lines));
  EXPECT_EQ(kVestriStatusRunning, CheckVestriStatus());
}

TEST_F(ServicesTest, StartingARunningServiceChangesNothing) {
  for (unsigned long state : {kServiceRunning, kServiceStartPending}) {
    ServiceScript script;
    script.initial = {{0, Status(state)}};
    ScriptedServiceBackend& backend = Use(script);
    auto lines = Logged([] { VestriControl(kStartVestri); });
    EXPECT_EQ(std::vector<std::string>{"Cannot start the service because it is already running"},
              Messages(lines));
    EXPECT_EQ("ERROR", lines.at(0).type);
    EXPECT_EQ(0u, backend.events().start_requests);
    EXPECT_EQ(0u, backend.events().stop_requests);
    EXPECT_TRUE(backend.events().sleeps.empty());
  }
}

TEST_F(ServicesTest, StartOfAStoppedService) {
  ServiceScript script;
  script.initial = {{0, Status(kServiceStopped)}};
  script.after_start = {{0, Status(kServiceStartPending, 20000, 1)},
                        {2000, Status(kServiceStartPending, 20000, 2)},
                        {5000, Status(kServiceRunning)}};
  ScriptedServiceBackend& backend = Use(script);
  auto lines = Logged([] { VestriControl(kStartVestri); });
  EXPECT_EQ(1u, backend.events().start_requests);
  EXPECT_EQ((std::vector<unsigned long>{2000, 2000, 2000}), backend.events().sleeps);
  EXPECT_EQ((std::vector<std::string>{"Service start pending...", "Service started successfully."}),
            Messages(lines));
  EXPECT_EQ(kVestriStatusRunning, CheckVestriStatus());
}

TEST_F(ServicesTest, StartAfterAPendingStop) {
  // The stop finishes while its checkpoint advances; then the service is started.
  ServiceScript script;
  script.initial = {{0, Status(kServiceStopPending, 1500, 1)},
                    {1000, Status(kServiceStopPending, 1500, 2)},
                    {2000, Status(kServiceStopPending, 1500, 3)},
                    {3000, Status(kServiceStopped)}};
  script.after_start = {{0, Status(kServiceRunning)}};
  ScriptedServiceBackend& backend = Use(script);
  auto lines = Logged([] { DoStartSvc(); });
  EXPECT_EQ((std::vector<unsigned long>{1000, 1000, 1000}), backend.events().sleeps);
  EXPECT_EQ(1u, backend.events().start_requests);
  EXPECT_EQ((std::vector<std::string>{"Service start pending...", "Service started successfully."}),
            Messages(lines));

  // Without progress for longer than the hint, the start is abandoned.
  ServiceScript stuck;
  stuck.initial = {{0, Status(kServiceStopPending, 2500, 7)}};
  ScriptedServiceBackend& stuck_backend = Use(stuck);
  lines = Logged([] { DoStartSvc(); });
  EXPECT_EQ(std::vector<std::string>{"Timeout waiting for service to stop"}, Messages(lines));
  EXPECT_EQ("INFO", lines.at(0).type);
  EXPECT_EQ(3000u, stuck_backend.now());
  EXPECT_EQ(0u, stuck_backend.events().start_requests);
}

TEST_F(ServicesTest, StartEndingInAnotherStateLogsTheDiagnostics) {
  ServiceScript script;
  script.initial = {{0, Status(kServiceStopped)}};
  // Starts, makes no progress beyond its hint, and is found stopped again with an exit code.
  script.after_start = {{0, Status(kServiceStartPending, 4000, 3)},
                        {3000, Status(kServiceStopped, 0, 0, 1067)}};
  ScriptedServiceBackend& backend = Use(script);
  auto lines = Logged([] { DoStartSvc(); });
  EXPECT_EQ((std::vector<std::string>{"Service start pending...", "Service not started. ",
                                      "Current State: 1", "Exit Code: 1067", "Check Point: 0",
                                      "Wait Hint: 0"}),
            Messages(lines));
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ("ERROR", lines[i].type);
  EXPECT_EQ(1u, backend.events().start_requests);

  // Stays pending without progress: left after more than the hint, still pending.
  ServiceScript pending;
  pending.initial = {{0, Status(kServiceStopped)}};
  pending.after_start = {{0, Status(kServiceStartPending, 4000, 5)}};
  ScriptedServiceBackend& pending_backend = Use(pending);
  lines = Logged([] { DoStartSvc(); });
  EXPECT_EQ((std::vector<std::string>{"Service start pending...", "Service not started. ",
                                      "Current State: 2", "Exit Code: 0", "Check Point: 5",
                                      "Wait Hint: 4000"}),
            Messages(lines));
  EXPECT_EQ(5000u, pending_backend.now());

  // A refused start.
  ServiceScript refused;
  refused.initial = {{0, Status(kServiceStopped)}};
  refused.start_error = EPERM;
  Use(refused);
  lines = Logged([] { DoStartSvc(); });
  EXPECT_EQ(std::vector<std::string>{"StartService failed (1)"}, Messages(lines));
}

TEST_F(ServicesTest, UnknownCommandDoesNothing) {
  ServiceScript script;
  script.initial = {{0, Status(kServiceRunning)}};
  ScriptedServiceBackend& backend = Use(script);
  auto lines = Logged([] { VestriControl(static_cast<VestriServiceCommand>(7)); });
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(0u, backend.events().manager_opens);
}

// On this kind of machine there may be no system bus at all; with an address that cannot be
// reached the real back end reports an error and touches nothing.
TEST_F(ServicesTest, SystemdWithoutAReachableBus) {
  const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string saved_value = saved != nullptr ? saved : "";
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tarvik-test-bus", 1);
  ServiceManagerSetBackend(MakeSystemdServiceBackend());
  VestriStatus status = kVestriStatusRunning;
  auto lines = Logged([&] {
    status = CheckVestriStatus();
    VestriControl(kStopVestri);
    VestriControl(kStartVestri);
  });
  if (saved != nullptr) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_value.c_str(), 1);
  } else {
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  EXPECT_EQ(kVestriStatusError, status);
  ASSERT_EQ(3u, lines.size());
  for (const Line& line : lines) {
    EXPECT_EQ("ERROR", line.type);
    EXPECT_EQ(0u, line.message.rfind("OpenSCManager failed (", 0)) << line.message;
    EXPECT_EQ(std::string::npos, line.message.find("(0)"));
  }
}

TEST(ServiceScriptTest, ScriptFileDrivesTheScriptedService) {
  tarvik_test::TempDir dir;
  const std::string script_file = dir.File("script");
  const char* path = script_file.c_str();
  const std::string record = dir.File("script.record");
  tarvik_test::WriteFile(path,
                         "# a running service that stops after 2 s\n"
                         "status 0 running\n"
                         "stop-status 0 stop-pending hint 1000\n"
                         "stop-status 2000 stopped exit 0\n"
                         "start-status 0 running   # comes up at once\n"
                         "record " +
                             record + "\n");
  ServiceScript script;
  std::string error;
  ASSERT_TRUE(LoadServiceScript(path, &script, &error)) << error;
  ASSERT_EQ(2u, script.after_stop.size());
  EXPECT_EQ(2000u, script.after_stop[1].at);
  EXPECT_EQ(1000u, script.after_stop[0].status.wait_hint);
  EXPECT_EQ(kServiceRunning, script.after_start.at(0).status.current_state);

  setenv("TARVIK_SERVICE_SCRIPT", path, 1);
  ServiceManagerSetBackend(nullptr);  // back to the choice from the environment
  EXPECT_EQ(kVestriStatusRunning, CheckVestriStatus());
  VestriControl(kStopVestri);
  EXPECT_EQ(kVestriStatusStopped, CheckVestriStatus());
  VestriControl(kStartVestri);
  EXPECT_EQ(kVestriStatusRunning, CheckVestriStatus());
  unsetenv("TARVIK_SERVICE_SCRIPT");
  ServiceManagerSetBackend(nullptr);

  const std::vector<std::string> events =
      tarvik_test::SplitLines(tarvik_test::ReadFile(record), "\n");
  EXPECT_EQ((std::vector<std::string>{"query running", "query running", "stop", "sleep 1000",
                                      "query stop-pending", "sleep 1000", "query stopped",
                                      "query stopped", "query stopped", "start", "query running",
                                      "query running"}),
            events);

  // Bad lines are refused with their place.
  for (const char* bad :
       {"status 0 sleepy\n", "status x running\n", "launch 1\n", "status 0 running hint\n",
        "manager-error 0\n", "status 5 running\nstatus 1 stopped\n", "query-error 5 since 2\n"}) {
    tarvik_test::WriteFile(path, bad);
    EXPECT_FALSE(LoadServiceScript(path, &script, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find(path)) << error;
  }
  EXPECT_FALSE(LoadServiceScript("/nonexistent/script", &script, &error));
}

}  // namespace
