#include "updater/tests/support/frontend_support.h"

#include <apr_pools.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "updater/src/quarn.h"

extern char** environ;

namespace frontend_test {

TempDir::TempDir() {
  char pattern[] = "/tmp/quarn_test_XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made != nullptr ? made : "";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

ConsoleCapture::ConsoleCapture() : path_(dir_.File("console")) {
  if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
  saved_ = quarn_stdout;
  if (apr_file_open(&file_, path_.c_str(), APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE,
                    APR_OS_DEFAULT, quarn_pool) != APR_SUCCESS) {
    ADD_FAILURE() << "cannot open " << path_;
    file_ = nullptr;
  }
  quarn_stdout = file_;
}

ConsoleCapture::~ConsoleCapture() {
  quarn_stdout = saved_;
  if (file_ != nullptr) apr_file_close(file_);
}

std::string ConsoleCapture::Text() const {
  return ReadFile(path_);
}

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& cwd,
                         const std::string& input, int timeout_seconds) {
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
  std::vector<char*> env_pointers;
  for (std::string& text : env_strings) env_pointers.push_back(text.data());
  env_pointers.push_back(nullptr);
  std::vector<std::string> arg_strings = argv;
  std::vector<char*> arg_pointers;
  for (std::string& text : arg_strings) arg_pointers.push_back(text.data());
  arg_pointers.push_back(nullptr);

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
    execve(arg_pointers[0], arg_pointers.data(), env_pointers.data());
    _exit(127);
  }
  close(in_fd);
  close(out_fd);
  close(err_fd);
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return outcome;
  }

  int status = 0;
  const time_t deadline = time(nullptr) + timeout_seconds;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << argv[0] << " did not end within " << timeout_seconds << " s";
      break;
    }
    usleep(20 * 1000);
  }
  outcome.exited = WIFEXITED(status);
  outcome.exit_status = outcome.exited ? WEXITSTATUS(status) : -1;
  const int out_read = open(out_path.c_str(), O_RDONLY | O_CLOEXEC);
  outcome.out = ReadAll(out_read);
  close(out_read);
  const int err_read = open(err_path.c_str(), O_RDONLY | O_CLOEXEC);
  outcome.err = ReadAll(err_read);
  close(err_read);
  return outcome;
}

ModuleMap::ModuleMap() = default;

ModuleMap::~ModuleMap() {
  for (auto& module : modules_) module->Stop();
}

tarvik_sim::Module* ModuleMap::Add(const tarvik_sim::Profile& profile,
                                   const std::string& link_name) {
  auto module = std::make_unique<tarvik_sim::Module>();
  tarvik_sim::ModuleOptions options;
  options.map_dir = dir_.path();
  options.at_link_name = link_name;
  // The second port must not be listed, and each module needs its own name for it.
  options.second_link_name = link_name + "-second";
  for (const char* word : {"mdm", "usbser", "mgmt"}) {
    size_t at = 0;
    while ((at = options.second_link_name.find(word)) != std::string::npos) {
      options.second_link_name.replace(at, strlen(word), "port");
    }
  }
  std::string error;
  if (!module->Start(profile, options, &error)) {
    ADD_FAILURE() << "simulated module did not start: " << error;
    return nullptr;
  }
  modules_.push_back(std::move(module));
  return modules_.back().get();
}

void ModuleMap::AddDeadLink(const std::string& link_name) {
  const std::string target = dir_.File("no-such-port");
  if (symlink(target.c_str(), dir_.File(link_name).c_str()) != 0) {
    ADD_FAILURE() << "cannot create link " << link_name;
  }
}

}  // namespace frontend_test
