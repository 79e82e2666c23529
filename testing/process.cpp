#include "testing/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "testing/files.h"
#include "testing/paths.h"
#include "testing/wait.h"

extern char** environ;

namespace tarvik_test {
namespace {

// Pointers into `strings` with the null entry exec wants at the end.
std::vector<char*> Pointers(std::vector<std::string>* strings) {
  std::vector<char*> pointers;
  for (std::string& text : *strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& cwd,
                         const std::string& input, int timeout_seconds,
                         const std::function<void(pid_t)>& started) {
  ProcessResult outcome;
  TempDir io;
  const std::string in_path = io.File("in");
  const std::string out_path = io.File("out");
  const std::string err_path = io.File("err");
  WriteFile(in_path, input);

  // Everything the child needs is prepared before fork: the test process has threads.
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& wanted : environment) {
      if (wanted.substr(0, wanted.find('=')) == name) replaced = true;
    }
    if (!replaced) env_strings.push_back(text);
  }
  env_strings.insert(env_strings.end(), environment.begin(), environment.end());
  std::vector<char*> env_pointers = Pointers(&env_strings);
  std::vector<std::string> arg_strings = argv;
  std::vector<char*> arg_pointers = Pointers(&arg_strings);

  const int in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
  const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (in_fd < 0 || out_fd < 0 || err_fd < 0) {
    ADD_FAILURE() << "cannot prepare the child's files";
    return outcome;
  }

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    execvpe(arg_pointers[0], arg_pointers.data(), env_pointers.data());
    _exit(127);
  }
  close(in_fd);
  close(out_fd);
  close(err_fd);
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return outcome;
  }
  if (started) started(pid);

  int status = 0;
  const bool ended =
      WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_seconds * 1000, 20);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << argv[0] << " did not end within " << timeout_seconds << " s";
  }
  outcome.exited = ended && WIFEXITED(status);
  outcome.exit_status = outcome.exited ? WEXITSTATUS(status) : -1;
  outcome.out = ReadFile(out_path);
  outcome.err = ReadFile(err_path);
  return outcome;
}

bool SimulatorProcess::Start(const std::string& map_dir, const std::vector<std::string>& arguments,
                             const std::string& output) {
  if (pid_ > 0) return false;
  map_dir_ = map_dir;
  std::vector<std::string> arg_strings = {kSimulatorProgram, "--map", map_dir};
  arg_strings.insert(arg_strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> arg_pointers = Pointers(&arg_strings);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  if (posix_spawn(&pid_, arg_pointers[0], &actions, nullptr, arg_pointers.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid_ > 0;
}

int SimulatorProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int status = 0;
  const pid_t pid = pid_;
  pid_ = -1;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SimulatorProcess::WaitForModule(int timeout_ms) const {
  return WaitFor(
      [this] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(map_dir_, error)) {
          if (entry.path().filename().string().find("mdm") != std::string::npos) return true;
        }
        return false;
      },
      timeout_ms, 20);
}

bool AskControl(const std::string& socket_path, const std::string& line, std::string* value) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
  const std::string request = line + "\n";
  std::string answer;
  if (fd >= 0 && connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    // The simulator writes each answer at once; an answer is whole at its final line.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (
        !(EndsWith(answer, "\n") && (answer.rfind("ERROR", 0) == 0 || EndsWith(answer, "OK\n")))) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      struct pollfd readable = {fd, POLLIN, 0};
      char buffer[512];
      if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0) break;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      answer.append(buffer, static_cast<size_t>(got));
    }
  }
  if (fd >= 0) close(fd);
  if (answer.rfind("ERROR", 0) == 0 || !EndsWith(answer, "OK\n")) return false;
  if (value != nullptr) {
    *value = answer.substr(0, answer.size() - 3);
    while (!value->empty() && (value->back() == '\n' || value->back() == '\r')) value->pop_back();
  }
  return true;
}

}  // namespace tarvik_test
