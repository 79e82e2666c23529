#ifndef UPDATER_TESTS_SUPPORT_FRONTEND_SUPPORT_H_
#define UPDATER_TESTS_SUPPORT_FRONTEND_SUPPORT_H_

// Helpers for the front end's tests: temporary directories, the console stream redirected into a
// file, a child process with its output collected, and simulated modules in a device map.

#include <apr_file_io.h>

#include <memory>
#include <string>
#include <vector>

#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"

namespace frontend_test {

// A fresh directory under /tmp, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Sends the front end's console stream into a file for the lifetime of the object; creates the
// process pool when there is none yet.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  // Everything written so far.
  std::string Text() const;

 private:
  TempDir dir_;
  std::string path_;
  apr_file_t* saved_ = nullptr;
  apr_file_t* file_ = nullptr;
};

struct ProcessResult {
  bool exited = false;   // ended by exit (not by a signal or the time bound)
  int exit_status = -1;  // the shell's view: 0 to 255
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] is the program path) in `cwd` with the current environment plus
// `environment` ("NAME=value" entries replace same-named ones), feeding `input` on standard input.
// A child still running after `timeout_seconds` is killed.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& cwd,
                         const std::string& input, int timeout_seconds);

// Simulated modules published in one device-map directory.
class ModuleMap {
 public:
  ModuleMap();
  ~ModuleMap();
  const std::string& dir() const { return dir_.path(); }
  // Starts a module whose AT link is `link_name` (it must hold "mdm" to be listed); null on
  // failure, with the reason in a test failure.
  tarvik_sim::Module* Add(const tarvik_sim::Profile& profile, const std::string& link_name);
  // A listed entry whose port cannot be opened: a link to a path that does not exist.
  void AddDeadLink(const std::string& link_name);

 private:
  TempDir dir_;
  std::vector<std::unique_ptr<tarvik_sim::Module>> modules_;
};

}  // namespace frontend_test

#endif  // UPDATER_TESTS_SUPPORT_FRONTEND_SUPPORT_H_
