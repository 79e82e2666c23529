// Programs as processes: run one to its end and collect what it printed, or keep one running in the
// background (the simulated module, tarvik-sim, with its control socket).
#ifndef TESTING_PROCESS_H_
#define TESTING_PROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tarvik_test {

struct ProcessResult {
  bool exited = false;   // ended by exit (not by a signal or the time bound)
  int exit_status = -1;  // the shell's view: 0 to 255
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] a path, or a name looked up in PATH) in `cwd` with the current environment
// plus `environment` ("NAME=value" entries replace same-named ones), feeding `input` on standard
// input. A child still running after `timeout_seconds` is killed and the test fails. `started`,
// when given, is called with the child's pid once it runs (e.g. to signal it at the right moment);
// the wait for the end begins when it returns.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& cwd,
                         const std::string& input, int timeout_seconds,
                         const std::function<void(pid_t)>& started = nullptr);

// tarvik-sim as a process of its own on a device map. Its standard output and error go to
// `output`; without one, its output is dropped and its errors go to the test's own.
class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  ~SimulatorProcess() { Stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Starts it with "--map `map_dir`" (which must exist) and further `arguments` (--state, --set,
  // --fault, --control, --scenario ...). Does not wait: see WaitForModule.
  bool Start(const std::string& map_dir, const std::vector<std::string>& arguments,
             const std::string& output = std::string());
  // Waits until the module's AT link (a name holding "mdm") is in the map: after the start, and
  // again after a restart.
  bool WaitForModule(int timeout_ms = 5000) const;
  // Ends it with `signal` (its clean stop removes links and socket) and waits; one still there
  // after five seconds is killed. The exit status, or -1.
  int Stop(int signal = SIGTERM);

 private:
  std::string map_dir_;
  pid_t pid_ = -1;
};

// One line to tarvik-sim's control socket (tarvik-sim --help lists them), on a connection of its
// own: true for an "OK" answer, with the value lines before it (without the last line end) in
// *value.
bool AskControl(const std::string& socket_path, const std::string& line,
                std::string* value = nullptr);

}  // namespace tarvik_test

#endif  // TESTING_PROCESS_H_
