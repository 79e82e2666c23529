// What the program's tests share: the console stream caught in process, golden files of several
// texts, and the program run as a process against a scripted service manager.
#ifndef UPDATER_TESTS_SUPPORT_UPDATER_SUPPORT_H_
#define UPDATER_TESTS_SUPPORT_UPDATER_SUPPORT_H_

#include <apr_file_io.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "testing/files.h"
#include "testing/process.h"

namespace updater_test {

// Sends the front end's console stream into a file for the lifetime of the object; creates the
// process pool when there is none yet.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  std::string Text() const;

 private:
  tarvik_test::TempDir dir_;
  std::string path_;
  apr_file_t* saved_ = nullptr;
  apr_file_t* file_ = nullptr;
};

// updater/tests/golden/<name> in the source tree.
std::string GoldenPath(const std::string& name);
// One named text of a golden file that holds several: "@@ <name>\n", the text, "\n".
std::string Record(const std::string& name, const std::string& text);
// The names of the records of golden file `name`, in order: a checker whose record names carry
// every field of a case reads its cases from them, so that a case is added as a record.
std::vector<std::string> GoldenNames(const std::string& name);

// `text` with each of `names` (temporary directories) replaced by its token, log times by <time>
// and pseudo-terminal numbers by N, so that it can be compared with a golden file.
std::string Masked(std::string text,
                   const std::vector<std::pair<std::string, std::string>>& names = {});
// The lines of a log (a file, or the console with -d stdout) that the program logged itself
// (senders Quarn and QuarnHandleService), one a line as "<sender> <type> <message>", the message
// escaped; "(log file opened)" for each banner of a log file.
std::string ProgramLogLines(const std::string& log);

// A service that runs, stops at once when asked and starts at once when asked.
extern const char kRunningService[];

struct ProgramRun {
  tarvik_test::ProcessResult outcome;
  std::vector<std::string> service;  // the "stop" and "start" requests the service got, in order
  bool container_left = false;       // the carried container is still in the working directory
};

// dralmoor as the operator runs it: a process in a working directory of its own, with a device
// map, a scripted service manager and the fixed waits divided by 50.
class ProgramRunner {
 public:
  explicit ProgramRunner(std::string map_dir) : map_dir_(std::move(map_dir)) {}
  // Runs it with the user's `words`; `environment` entries go before the runner's own (the first
  // of two same-named ones counts); `started` as for tarvik_test::RunProcess.
  ProgramRun Run(const std::vector<std::string>& words, const std::string& input = std::string(),
                 const std::string& service_script = kRunningService,
                 const std::vector<std::string>& environment = {},
                 const std::function<void(pid_t)>& started = nullptr);
  // The working directory, the same for every run.
  const tarvik_test::TempDir& work() const { return work_; }
  // The program that Run starts (dralmoor unless set).
  std::string program;
  // The runner's directories with the tokens that stand for them in golden files.
  std::vector<std::pair<std::string, std::string>> Names() const {
    return {{map_dir_, "<map>"}, {work_.path(), "<work>"}, {files_.path(), "<files>"}};
  }

 private:
  std::string map_dir_;
  tarvik_test::TempDir work_;
  tarvik_test::TempDir files_;
  int runs_ = 0;
};

}  // namespace updater_test

#endif  // UPDATER_TESTS_SUPPORT_UPDATER_SUPPORT_H_
