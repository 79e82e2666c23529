// The tarvik-sim program: options, control socket, scenario file, state file, clean exit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "simulator/tests/support/raw_client.h"
#include "testing/files.h"
#include "testing/paths.h"
#include "testing/process.h"
#include "testing/wait.h"

namespace {

using tarvik_sim_test::RawClient;
using tarvik_test::ControlClient;
using tarvik_test::FileExists;
using tarvik_test::ReadFile;
using tarvik_test::TempDir;

const char kAtLink[] = "usb-Tarvik_Module_0001-if00-mdm";

bool WaitForFile(const std::string& path, int timeout_ms) {
  return tarvik_test::WaitFor([&] { return FileExists(path); }, timeout_ms, 20);
}

// The program run to its end: its exit status and everything it printed.
tarvik_test::ProcessResult RunSimulator(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {tarvik_test::kSimulatorProgram};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return tarvik_test::RunProcess(argv, {}, ".", "", 30);
}

TEST(ProgramTest, HelpAndBadOptions) {
  TempDir dir;
  const tarvik_test::ProcessResult help = RunSimulator({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  const std::string text = help.out + help.err;
  for (const char* expected : {"--map DIR", "--control SOCKET", "--scenario FILE", "--state FILE",
                               "upgrade state machine", "faults", "ready_after"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(RunSimulator({"--frobnicate"}).exit_status, 2);
  const tarvik_test::ProcessResult bad_set =
      RunSimulator({"--map", dir.path(), "--set", "upgrade_state=99"});
  EXPECT_EQ(bad_set.exit_status, 2);
  EXPECT_NE((bad_set.out + bad_set.err).find("0 to 13"), std::string::npos);
  EXPECT_EQ(RunSimulator({"--map", dir.path() + "/missing"}).exit_status, 1);
  EXPECT_FALSE(FileExists(dir.path() + "/missing"));
}

TEST(ProgramTest, ControlSocketDrivesTheModuleAndSigtermCleansUp) {
  TempDir dir;
  const std::string map = dir.path() + "/map";
  mkdir(map.c_str(), 0755);
  const std::string socket_path = dir.path() + "/control";
  const std::string state_path = dir.path() + "/module.state";
  tarvik_test::SimulatorProcess program;
  ASSERT_TRUE(
      program.Start(map,
                    {"--control", socket_path, "--state", state_path, "--log",
                     dir.path() + "/sim.log", "--set", "restart_away_ms=200", "--preset", "dovin"},
                    dir.path() + "/out.txt"));
  ASSERT_TRUE(WaitForFile(map + "/" + kAtLink, 5000));
  ASSERT_TRUE(WaitForFile(socket_path, 5000));
  RawClient client;
  ASSERT_TRUE(client.Open(map + "/" + kAtLink));
  ASSERT_NE(client.Command("ATE0"), "");
  EXPECT_NE(client.Command("AT*EEVINFO=99").find("ZRB 207 44/1"), std::string::npos);

  ControlClient control(socket_path);
  ASSERT_TRUE(control.connected());
  EXPECT_EQ(control.Ask("state?"), "1\nOK\n");
  EXPECT_EQ(control.Ask("echo?"), "0\nOK\n");
  EXPECT_EQ(control.Ask("fault never_ready=1"), "OK\n");
  EXPECT_EQ(client.Command("AT*EMRDY?"), "\r\n*EMRDY: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(control.Ask("clear-faults"), "OK\n");
  EXPECT_EQ(control.Ask("set sim=puk"), "OK\n");
  EXPECT_EQ(client.Command("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
  EXPECT_EQ(client.Command("AT*EEUSTATE=1"), "\r\nOK\r\n");
  EXPECT_EQ(control.Ask("state 2"), "OK\n");
  EXPECT_TRUE(client.ReadUntil("*EEUSTATE:1,2\r\n", 2000));
  EXPECT_NE(ReadFile(state_path).find("upgrade_state = 2"), std::string::npos);
  EXPECT_EQ(control.Ask("unsolicited \\r\\nHELLO\\r\\n"), "OK\n");
  EXPECT_TRUE(client.ReadUntil("\r\nHELLO\r\n", 2000));
  EXPECT_NE(control.Ask("commands?").find("AT+CPIN?\n"), std::string::npos);
  EXPECT_EQ(control.Ask("fault nonsense=1").substr(0, 6), "ERROR ");
  EXPECT_EQ(control.Ask("dance").substr(0, 6), "ERROR ");

  EXPECT_EQ(control.Ask("unplug"), "OK\n");
  EXPECT_TRUE(client.WaitHangUp(2000));
  EXPECT_EQ(control.Ask("restarts?"), "1\nOK\n");
  ASSERT_TRUE(WaitForFile(map + "/" + kAtLink, 3000));
  EXPECT_EQ(control.Ask("present?"), "1\nOK\n");

  EXPECT_EQ(program.Stop(SIGTERM), 0);
  EXPECT_FALSE(FileExists(map + "/" + kAtLink));
  EXPECT_FALSE(FileExists(socket_path));
  EXPECT_NE(ReadFile(dir.path() + "/sim.log").find("AT+CPIN?"), std::string::npos);
}

TEST(ProgramTest, ScenarioActionsRunAtStartAfterTimeAndAfterCommands) {
  TempDir dir;
  const std::string scenario = dir.path() + "/scenario.txt";
  tarvik_test::WriteFile(scenario,
                         "# faults from the start\n"
                         "fault error_commands=AT+CGMI\n"
                         "at 300 set temperature=77\n"
                         "after \"AT+CIMI\" unplug-forever\n");
  tarvik_test::SimulatorProcess program;
  ASSERT_TRUE(program.Start(dir.path(), {"--scenario", scenario}, dir.path() + "/out.txt"));
  ASSERT_TRUE(WaitForFile(dir.path() + "/" + kAtLink, 5000));
  RawClient client;
  ASSERT_TRUE(client.Open(dir.path() + "/" + kAtLink));
  ASSERT_NE(client.Command("ATE0"), "");
  EXPECT_EQ(client.Command("AT+CGMI"), "\r\nERROR\r\n");
  std::string temperature;
  tarvik_test::WaitFor(
      [&] {
        temperature = client.Command("AT*E2OTR?");
        return temperature == "\r\n*E2OTR: 0,77\r\n\r\nOK\r\n";
      },
      5000, 100);
  EXPECT_EQ(temperature, "\r\n*E2OTR: 0,77\r\n\r\nOK\r\n");
  client.Command("AT+CIMI");
  EXPECT_TRUE(client.WaitHangUp(2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(FileExists(dir.path() + "/" + kAtLink));
  EXPECT_EQ(program.Stop(SIGINT), 0);
}

}  // namespace
