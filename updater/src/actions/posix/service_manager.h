#ifndef UPDATER_SRC_ACTIONS_POSIX_SERVICE_MANAGER_H_
#define UPDATER_SRC_ACTIONS_POSIX_SERVICE_MANAGER_H_

// The service manager under the service control of the front end: open the manager, open a
// service by name, query its status, ask it to stop or start, and the clock and sleep that the
// waits use. Two back ends:
//
// - systemd over the system bus (the default): the service NAME is the unit NAME.service.
//   ActiveState active/reloading reads as running, activating as start pending, deactivating
//   as stop pending, inactive/failed as stopped. No reachable bus fails OpenManager, a unit that
//   does not exist fails OpenService, both with an errno number. See SystemdServiceStatus for
//   the wait hint and the checkpoint of a pending state.
// - a scripted service with a virtual clock and virtual sleeps, for tests: set one with
//   ServiceManagerSetBackend, or name a script file in the environment variable
//   TARVIK_SERVICE_SCRIPT (format at LoadServiceScript; not read by a build without
//   TARVIK_TEST_SEAMS).
//
// Errors are errno-style numbers (0: success).

#include <memory>
#include <string>
#include <vector>

// Service states, numbered as the service control's status record numbers them.
enum ServiceState : unsigned long {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
};

// The fields of a service's status that the service control uses.
struct ServiceStatusProcess {
  unsigned long current_state = kServiceStopped;
  unsigned long win32_exit_code = 0;
  unsigned long check_point = 0;
  unsigned long wait_hint = 0;  // milliseconds
};

// One opened service. Closed when destroyed.
class ServiceHandle {
 public:
  virtual ~ServiceHandle() = default;
  virtual int QueryStatus(ServiceStatusProcess* status) = 0;
  // Asks the service to stop and refreshes *status.
  virtual int ControlStop(ServiceStatusProcess* status) = 0;
  virtual int Start() = 0;
};

// An open connection to the service manager. Closed when destroyed; services opened through it
// must be destroyed first.
class ServiceManagerHandle {
 public:
  virtual ~ServiceManagerHandle() = default;
  virtual int OpenService(const char* name, std::unique_ptr<ServiceHandle>* service) = 0;
};

class ServiceBackend {
 public:
  virtual ~ServiceBackend() = default;
  virtual int OpenManager(std::unique_ptr<ServiceManagerHandle>* manager) = 0;
  // Milliseconds since an arbitrary start.
  virtual unsigned long TickCount() = 0;
  virtual void Sleep(unsigned long milliseconds) = 0;
};

// The script named by TARVIK_SERVICE_SCRIPT when that test seam is active; null otherwise, and
// always in a build without TARVIK_TEST_SEAMS (the packaged build).
const char* ServiceScriptPath();

// The back end in use: the one set last, else a scripted service from TARVIK_SERVICE_SCRIPT,
// else systemd.
std::shared_ptr<ServiceBackend> ServiceManagerBackend();

// Replaces the back end; nullptr goes back to the choice above.
void ServiceManagerSetBackend(std::shared_ptr<ServiceBackend> backend);

std::shared_ptr<ServiceBackend> MakeSystemdServiceBackend();

// A systemd unit's ActiveState and ExecMainStatus as a status of the service control, for a unit
// that has been in its pending state for `pending_ms`: a pending state has a wait hint of 1 s
// and one checkpoint a second.
ServiceStatusProcess SystemdServiceStatus(const std::string& active_state, int exit_status,
                                          unsigned long pending_ms);

// A status the scripted service takes at `at` milliseconds after the start of its timeline.
struct ScriptedStatus {
  unsigned long at = 0;
  ServiceStatusProcess status;
};

// What the scripted service does. Timelines: `initial` runs from the start of the clock; a stop
// request replaces it by `after_stop` and a start request by `after_start`, each counted from
// the request. Until a timeline's first entry the status stays what it was; an empty
// `after_stop` is a service that ignores the stop request.
struct ServiceScript {
  std::string service_name = "VestriService";  // other names fail to open with ENOENT
  int manager_error = 0;                       // OpenManager fails with it
  int open_error = 0;                          // OpenService fails with it
  int query_error = 0;                         // queries from the query_fails_from-th on fail
  unsigned long query_fails_from = 0;          // 1-based; 0: never
  int stop_error = 0;
  int start_error = 0;
  std::vector<ScriptedStatus> initial;
  std::vector<ScriptedStatus> after_stop;
  std::vector<ScriptedStatus> after_start;
  // When not empty, every event is also appended to this file, one line each ("query <state>",
  // "stop", "start", "sleep <ms>"), for tests that run the program.
  std::string record_file;
};

// What happened to the scripted service.
struct ServiceEvents {
  unsigned long queries = 0;
  unsigned long stop_requests = 0;
  unsigned long start_requests = 0;
  unsigned long manager_opens = 0;
  unsigned long manager_closes = 0;
  unsigned long service_opens = 0;
  unsigned long service_closes = 0;
  std::vector<unsigned long> sleeps;  // milliseconds, in order
};

class ScriptedServiceBackend : public ServiceBackend {
 public:
  explicit ScriptedServiceBackend(ServiceScript script);
  int OpenManager(std::unique_ptr<ServiceManagerHandle>* manager) override;
  unsigned long TickCount() override { return now_; }
  void Sleep(unsigned long milliseconds) override;

  const ServiceEvents& events() const { return events_; }
  // Virtual milliseconds since the start.
  unsigned long now() const { return now_; }
  // Lets virtual time pass without a sleep of the code under test.
  void Advance(unsigned long milliseconds) { now_ += milliseconds; }

 private:
  friend class ScriptedManager;
  friend class ScriptedService;
  ServiceStatusProcess CurrentStatus() const;
  void Record(const std::string& line) const;

  ServiceScript script_;
  ServiceEvents events_;
  unsigned long now_ = 0;
  // The timeline in use, when it started, and the status it starts from.
  const std::vector<ScriptedStatus>* timeline_;
  unsigned long timeline_origin_ = 0;
  ServiceStatusProcess base_status_;
};

// Reads a service script. One directive per line; '#' starts a comment:
//   service NAME                   the service's name (default VestriService)
//   manager-error ERRNO            the service manager cannot be reached
//   open-error ERRNO               the service cannot be opened (ENOENT: not installed)
//   query-error ERRNO [from N]     queries fail, from the N-th on (default: the first)
//   stop-error ERRNO | start-error ERRNO
//   status AT STATE [exit N] [checkpoint N] [hint MS]         initial timeline
//   stop-status AT STATE ... | start-status AT STATE ...     reactions to stop and start
//   record FILE                    append the events to FILE
// STATE is stopped, start-pending, stop-pending, running or a number; AT is in milliseconds.
// False with a message in *error for a file that cannot be read or a bad line.
bool LoadServiceScript(const char* path, ServiceScript* script, std::string* error);

#endif  // UPDATER_SRC_ACTIONS_POSIX_SERVICE_MANAGER_H_
