#include "updater/tests/support/updater_support.h"

#include <apr_pools.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "testing/golden.h"
#include "testing/paths.h"
#include "updater/src/quarn.h"

namespace updater_test {

const char kRunningService[] = "status 0 running\nstop-status 0 stopped\nstart-status 0 running\n";

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
  return tarvik_test::ReadFile(path_);
}

std::string GoldenPath(const std::string& name) {
  return TARVIK_SOURCE_DIR "/updater/tests/golden/" + name;
}

std::string Record(const std::string& name, const std::string& text) {
  return "@@ " + name + "\n" + text + "\n";
}

std::vector<std::string> GoldenNames(const std::string& name) {
  std::vector<std::string> names;
  for (const std::string& line :
       tarvik_test::SplitLines(tarvik_test::ReadFile(GoldenPath(name)), "\n")) {
    if (line.rfind("@@ ", 0) == 0) names.push_back(line.substr(3));
  }
  EXPECT_FALSE(names.empty()) << "no \"@@ \" records in " << GoldenPath(name);
  return names;
}

std::string Masked(std::string text,
                   const std::vector<std::pair<std::string, std::string>>& names) {
  for (const auto& [name, token] : names) {
    for (size_t at = text.find(name); !name.empty() && at != std::string::npos;
         at = text.find(name, at + token.size())) {
      text.replace(at, name.size(), token);
    }
  }
  // Log times: "Mon, 07 Dec 2026 05:36:27 GMT".
  for (size_t at = text.find(" GMT"); at != std::string::npos; at = text.find(" GMT", at + 1)) {
    if (at >= 25 && text[at - 25 + 3] == ',' && text[at - 3] == ':') {
      text.replace(at - 25, 29, "<time>");
      at -= 25;
    }
  }
  const std::string pts = "/dev/pts/";
  for (size_t at = text.find(pts); at != std::string::npos; at = text.find(pts, at + 1)) {
    const size_t from = at + pts.size();
    const size_t end = std::min(text.find_first_not_of("0123456789", from), text.size());
    if (end > from) text.replace(from, end - from, "N");
  }
  return text;
}

std::string ProgramLogLines(const std::string& log) {
  // "%-35s%-20s%-10s%s\r\n": date, sender, type, message.
  auto field = [](const std::string& line, size_t from, size_t size) {
    std::string text = line.substr(from, size);
    return text.erase(text.find_last_not_of(' ') + 1);
  };
  const std::string banner = "** Log file opened successfully **\n";
  std::string lines;
  for (std::string line : tarvik_test::SplitLines(log)) {
    if (line.rfind(banner, 0) == 0) {
      lines += "(log file opened)\n";
      line.erase(0, banner.size());
    }
    if (line.size() < 65) continue;
    const std::string sender = field(line, 35, 20);
    if (sender != "Quarn" && sender != "QuarnHandleService") continue;
    lines +=
        sender + " " + field(line, 55, 10) + " " + tarvik_test::Escaped(line.substr(65)) + "\n";
  }
  return lines;
}

ProgramRun ProgramRunner::Run(const std::vector<std::string>& words, const std::string& input,
                              const std::string& service_script,
                              const std::vector<std::string>& environment,
                              const std::function<void(pid_t)>& started) {
  const std::string name = "run" + std::to_string(++runs_);
  const std::string script = files_.File(name + ".script");
  const std::string record = files_.File(name + ".service");
  tarvik_test::WriteFile(script, service_script + "record " + record + "\n");
  std::vector<std::string> argv = {program.empty() ? tarvik_test::kProgram : program};
  argv.insert(argv.end(), words.begin(), words.end());
  // The given environment comes first: the first of two same-named entries counts.
  std::vector<std::string> env = environment;
  for (const std::string& entry :
       {"TARVIK_DEVICE_MAP=" + map_dir_, "TARVIK_SERVICE_SCRIPT=" + script,
        std::string("TARVIK_WAIT_DIVISOR=50")}) {
    env.push_back(entry);
  }
  ProgramRun run;
  run.outcome = tarvik_test::RunProcess(argv, env, work_.path(), input, 150, started);
  for (const std::string& line : tarvik_test::SplitLines(tarvik_test::ReadFile(record), "\n")) {
    if (line == "stop" || line == "start") run.service.push_back(line);
  }
  run.container_left = tarvik_test::FileExists(work_.File("libupdate_container.dll"));
  return run;
}

}  // namespace updater_test
