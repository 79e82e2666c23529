// The tarvik-sim program: its help, its options, and a run driven by a scenario file and the
// control socket that ends cleanly on a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "simulator/tests/support/raw_client.h"
#include "testing/files.h"
#include "testing/paths.h"
#include "testing/process.h"
#include "testing/wait.h"

namespace {

using tarvik_test::FileExists;
using tarvik_test::ReadFile;

const char kAtLink[] = "/usb-Tarvik_Module_0001-if00-mdm";

// The program run to its end, "{dir}" in the arguments standing for `dir`.
tarvik_test::ProcessResult RunSimulator(std::vector<std::string> arguments,
                                        const std::string& dir) {
  for (std::string& argument : arguments) {
    const size_t at = argument.find("{dir}");
    if (at != std::string::npos) argument.replace(at, 5, dir);
  }
  arguments.insert(arguments.begin(), tarvik_test::kSimulatorProgram);
  return tarvik_test::RunProcess(arguments, {"TARVIK_DEVICE_MAP="}, dir, "", 30);
}

TEST(ProgramTest, HelpIsTheGoldenText) {
  const tarvik_test::ProcessResult help = RunSimulator({"--help"}, ".");
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out, ReadFile(TARVIK_SOURCE_DIR "/simulator/tests/golden/tarvik_sim_help.txt"));
}

TEST(ProgramTest, BadOptionsStopItBeforeTheModuleAppears) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* message;
  } rows[] = {
      {{"--frobnicate"}, 2, "unknown option '--frobnicate'"},
      {{}, 2, "--map DIR is required"},
      {{"--map", "{dir}", "--set", "upgrade_state=99"}, 2, "0 to 13"},
      {{"--map", "{dir}", "--fault", "never_ready"}, 2, "--fault expects KEY=VALUE"},
      {{"--map", "{dir}", "--preset", "zorg"}, 2, "unknown preset 'zorg'"},
      {{"--map", "{dir}", "--scenario", "{dir}/none"}, 2, "cannot read scenario"},
      {{"--map", "{dir}", "--profile"}, 2, "--profile needs a value"},
      {{"--map", "{dir}/missing"}, 1, "does not exist"},
  };
  for (const auto& row : rows) {
    tarvik_test::TempDir dir;
    const tarvik_test::ProcessResult result = RunSimulator(row.arguments, dir.path());
    EXPECT_EQ(result.exit_status, row.status) << row.message;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_FALSE(FileExists(dir.path() + kAtLink)) << row.message;
  }
}

TEST(ProgramTest, ScenarioDrivesTheModuleAndASignalCleansUp) {
  tarvik_test::TempDir dir;
  const std::string state = dir.File("module.state");
  const std::string socket = dir.File("control");
  ASSERT_TRUE(tarvik_test::WriteFile(dir.File("scenario"),
                                     "# from the start\n"
                                     "fault error_commands=AT+CGMI\n"
                                     "at 300 state 2\n"
                                     "at 300 set temperature=77\n"));
  tarvik_test::SimulatorProcess program;
  ASSERT_TRUE(program.Start(dir.path(),
                            {"--preset", "dovin", "--scenario", dir.File("scenario"), "--state",
                             state, "--log", dir.File("log"), "--control", socket},
                            dir.File("out")));
  ASSERT_TRUE(program.WaitForModule());
  tarvik_sim_test::RawClient client;
  ASSERT_TRUE(client.Open(dir.path() + kAtLink));
  EXPECT_NE(client.Command("AT*EEVINFO=99").find("ZRB 207 44/1"), std::string::npos);
  EXPECT_EQ(client.Command("AT+CGMI"), "AT+CGMI\r\n\r\nERROR\r\n");
  EXPECT_TRUE(tarvik_test::WaitFor(
      [&] { return client.Command("AT*E2OTR?").find("*E2OTR: 0,77\r\n") != std::string::npos; },
      5000, 100));
  EXPECT_NE(ReadFile(state).find("upgrade_state = 2"), std::string::npos);
  EXPECT_TRUE(FileExists(socket));
  EXPECT_EQ(program.Stop(SIGTERM), 0);
  EXPECT_FALSE(FileExists(dir.path() + kAtLink));
  EXPECT_FALSE(FileExists(socket));
  EXPECT_NE(ReadFile(dir.File("log")).find("CMD   AT+CGMI"), std::string::npos);
}

}  // namespace
