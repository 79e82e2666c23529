// The tarvik-sim program: options, control socket, scenario file, state file, clean exit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "simulator/tests/support/raw_client.h"

extern char** environ;

namespace {

using tarvik_sim_test::RawClient;
using tarvik_sim_test::TempDir;

const std::string kProgram = std::string(TARVIK_BIN_DIR) + "/tarvik-sim";
const char kAtLink[] = "usb-Tarvik_Module_0001-if00-mdm";

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool WaitFor(const std::string& path, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    if (Exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class Program {
 public:
  explicit Program(const std::vector<std::string>& args, const std::string& output = "") {
    std::vector<std::string> all = {kProgram};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty()) {
      posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT, 0644);
      posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_APPEND, 0644);
    }
    if (posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  // Exit status, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }

 private:
  pid_t pid_ = -1;
};

std::string ReadAll(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class Control {
 public:
  explicit Control(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (connect(fd_, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Control() {
    if (fd_ >= 0) close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  // Sends one line and returns the answer up to and including its last line.
  std::string Ask(const std::string& line) {
    std::string request = line + "\n";
    if (write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
      return "";
    }
    std::string answer;
    char buffer[512];
    auto complete = [&answer] {
      if (answer.empty() || answer.back() != '\n') return false;
      return answer.rfind("ERROR", 0) == 0 ||
             (answer.size() >= 3 && answer.compare(answer.size() - 3, 3, "OK\n") == 0);
    };
    while (!complete()) {
      ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      answer.append(buffer, static_cast<size_t>(got));
    }
    return answer;
  }

 private:
  int fd_ = -1;
};

TEST(ProgramTest, HelpAndBadOptions) {
  TempDir dir;
  const std::string out = dir.path() + "/out.txt";
  {
    Program help({"--help"}, out);
    EXPECT_EQ(help.Wait(), 0);
  }
  const std::string text = ReadAll(out);
  for (const char* expected : {"--map DIR", "--control SOCKET", "--scenario FILE", "--state FILE",
                               "upgrade state machine", "faults", "ready_after"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
  Program unknown({"--frobnicate"}, dir.path() + "/unknown.txt");
  EXPECT_EQ(unknown.Wait(), 2);
  Program bad_set({"--map", dir.path(), "--set", "upgrade_state=99"}, dir.path() + "/bad.txt");
  EXPECT_EQ(bad_set.Wait(), 2);
  EXPECT_NE(ReadAll(dir.path() + "/bad.txt").find("0 to 13"), std::string::npos);
  Program no_map({"--map", dir.path() + "/missing"}, dir.path() + "/nomap.txt");
  EXPECT_EQ(no_map.Wait(), 1);
  EXPECT_FALSE(Exists(dir.path() + "/missing"));
}

TEST(ProgramTest, ControlSocketDrivesTheModuleAndSigtermCleansUp) {
  TempDir dir;
  const std::string map = dir.path() + "/map";
  mkdir(map.c_str(), 0755);
  const std::string socket_path = dir.path() + "/control";
  const std::string state_path = dir.path() + "/module.state";
  Program program({"--map", map, "--control", socket_path, "--state", state_path, "--log",
                   dir.path() + "/sim.log", "--set", "restart_away_ms=200", "--preset", "dovin"},
                  dir.path() + "/out.txt");
  ASSERT_TRUE(WaitFor(map + "/" + kAtLink, 5000));
  ASSERT_TRUE(WaitFor(socket_path, 5000));
  RawClient client;
  ASSERT_TRUE(client.Open(map + "/" + kAtLink));
  ASSERT_NE(client.Command("ATE0"), "");
  EXPECT_NE(client.Command("AT*EEVINFO=99").find("ZRB 207 44/1"), std::string::npos);

  Control control(socket_path);
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
  EXPECT_NE(ReadAll(state_path).find("upgrade_state = 2"), std::string::npos);
  EXPECT_EQ(control.Ask("unsolicited \\r\\nHELLO\\r\\n"), "OK\n");
  EXPECT_TRUE(client.ReadUntil("\r\nHELLO\r\n", 2000));
  EXPECT_NE(control.Ask("commands?").find("AT+CPIN?\n"), std::string::npos);
  EXPECT_EQ(control.Ask("fault nonsense=1").substr(0, 6), "ERROR ");
  EXPECT_EQ(control.Ask("dance").substr(0, 6), "ERROR ");

  EXPECT_EQ(control.Ask("unplug"), "OK\n");
  EXPECT_TRUE(client.WaitHangUp(2000));
  EXPECT_EQ(control.Ask("restarts?"), "1\nOK\n");
  ASSERT_TRUE(WaitFor(map + "/" + kAtLink, 3000));
  EXPECT_EQ(control.Ask("present?"), "1\nOK\n");

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
  EXPECT_FALSE(Exists(map + "/" + kAtLink));
  EXPECT_FALSE(Exists(socket_path));
  EXPECT_NE(ReadAll(dir.path() + "/sim.log").find("AT+CPIN?"), std::string::npos);
}

TEST(ProgramTest, ScenarioActionsRunAtStartAfterTimeAndAfterCommands) {
  TempDir dir;
  const std::string scenario = dir.path() + "/scenario.txt";
  std::ofstream(scenario) << "# faults from the start\n"
                             "fault error_commands=AT+CGMI\n"
                             "at 300 set temperature=77\n"
                             "after \"AT+CIMI\" unplug-forever\n";
  Program program({"--map", dir.path(), "--scenario", scenario}, dir.path() + "/out.txt");
  ASSERT_TRUE(WaitFor(dir.path() + "/" + kAtLink, 5000));
  RawClient client;
  ASSERT_TRUE(client.Open(dir.path() + "/" + kAtLink));
  ASSERT_NE(client.Command("ATE0"), "");
  EXPECT_EQ(client.Command("AT+CGMI"), "\r\nERROR\r\n");
  std::string temperature;
  for (int i = 0; i < 50 && temperature != "\r\n*E2OTR: 0,77\r\n\r\nOK\r\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    temperature = client.Command("AT*E2OTR?");
  }
  EXPECT_EQ(temperature, "\r\n*E2OTR: 0,77\r\n\r\nOK\r\n");
  client.Command("AT+CIMI");
  EXPECT_TRUE(client.WaitHangUp(2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(Exists(dir.path() + "/" + kAtLink));
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(), 0);
}

}  // namespace
