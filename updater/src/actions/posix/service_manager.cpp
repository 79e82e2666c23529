#include "updater/src/actions/posix/service_manager.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>

#include "common/src/wait_seam.h"

namespace {

// ---------------------------------------------------------------------------------------------
// systemd over the system bus

constexpr const char* kSystemdDestination = "org.freedesktop.systemd1";
constexpr const char* kSystemdPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
// systemd gives no estimate of how long a pending state lasts, only its time-out: about a second
// is a fair estimate, so that stopping or starting a quick service costs about that.
constexpr unsigned long kPendingWaitHintMs = 1000;

// Owns an sd_bus_error.
class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  sd_bus_error* get() { return &error_; }
  // The errno number of a failed call that returned r.
  int Errno(int r) {
    const int number = sd_bus_error_is_set(&error_) ? sd_bus_error_get_errno(&error_) : -r;
    return number > 0 ? number : EIO;
  }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};
using FreePtr = std::unique_ptr<char, FreeDeleter>;

// Service waits go through the common wait seam so that tests may shorten them; the clock runs
// as much faster, so that the limits measured with it shrink alike.
unsigned long SystemdNowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const apr_interval_time_t second = 1000000;
  const apr_interval_time_t scaled = CommonScaledWait(second);
  const unsigned long speed = scaled > 0 ? static_cast<unsigned long>(second / scaled) : 1ul;
  // At least 1, so that 0 can mean "never".
  return (static_cast<unsigned long>(now.tv_sec) * 1000ul +
          static_cast<unsigned long>(now.tv_nsec / 1000000)) *
             speed +
         1;
}

class SystemdService : public ServiceHandle {
 public:
  SystemdService(sd_bus* bus, std::string unit, std::string path)
      : bus_(sd_bus_ref(bus)), unit_(std::move(unit)), path_(std::move(path)) {}

  int QueryStatus(ServiceStatusProcess* status) override {
    BusError error;
    char* raw_state = nullptr;
    int r = sd_bus_get_property_string(bus_.get(), kSystemdDestination, path_.c_str(),
                                       kUnitInterface, "ActiveState", error.get(), &raw_state);
    if (r < 0) return error.Errno(r);
    const FreePtr state(raw_state);
    int32_t exit_status = 0;
    BusError exit_error;
    if (sd_bus_get_property_trivial(bus_.get(), kSystemdDestination, path_.c_str(),
                                    kServiceInterface, "ExecMainStatus", exit_error.get(), 'i',
                                    &exit_status) < 0) {
      exit_status = 0;
    }
    const bool pending = std::strcmp(state.get(), "activating") == 0 ||
                         std::strcmp(state.get(), "deactivating") == 0;
    const unsigned long now = SystemdNowMs();
    if (!pending || pending_since_ == 0) pending_since_ = pending ? now : 0;
    *status = SystemdServiceStatus(state.get(), exit_status, pending ? now - pending_since_ : 0);
    return 0;
  }

  int ControlStop(ServiceStatusProcess* status) override {
    const int r = CallManager("StopUnit");
    if (r != 0) return r;
    return QueryStatus(status);
  }

  int Start() override { return CallManager("StartUnit"); }

 private:
  int CallManager(const char* method) {
    BusError error;
    sd_bus_message* raw_reply = nullptr;
    const int r =
        sd_bus_call_method(bus_.get(), kSystemdDestination, kSystemdPath, kManagerInterface, method,
                           error.get(), &raw_reply, "ss", unit_.c_str(), "replace");
    const MessagePtr reply(raw_reply);
    return r < 0 ? error.Errno(r) : 0;
  }

  BusPtr bus_;
  std::string unit_;
  std::string path_;
  // When this handle first saw the unit in a pending state (0: not pending).
  unsigned long pending_since_ = 0;
};

class SystemdManager : public ServiceManagerHandle {
 public:
  explicit SystemdManager(BusPtr bus) : bus_(std::move(bus)) {}

  int OpenService(const char* name, std::unique_ptr<ServiceHandle>* service) override {
    const std::string unit = std::string(name) + ".service";
    BusError error;
    sd_bus_message* raw_reply = nullptr;
    // LoadUnit also finds installed units that systemd has not loaded yet.
    int r = sd_bus_call_method(bus_.get(), kSystemdDestination, kSystemdPath, kManagerInterface,
                               "LoadUnit", error.get(), &raw_reply, "s", unit.c_str());
    const MessagePtr reply(raw_reply);
    if (r < 0) return error.Errno(r);
    const char* path = nullptr;
    r = sd_bus_message_read(reply.get(), "o", &path);
    if (r < 0) return -r;
    const std::string unit_path = path;

    char* raw_load_state = nullptr;
    BusError load_error;
    r = sd_bus_get_property_string(bus_.get(), kSystemdDestination, unit_path.c_str(),
                                   kUnitInterface, "LoadState", load_error.get(), &raw_load_state);
    if (r < 0) return load_error.Errno(r);
    const FreePtr load_state(raw_load_state);
    if (std::strcmp(load_state.get(), "not-found") == 0) return ENOENT;
    *service = std::make_unique<SystemdService>(bus_.get(), unit, unit_path);
    return 0;
  }

 private:
  BusPtr bus_;
};

class SystemdBackend : public ServiceBackend {
 public:
  int OpenManager(std::unique_ptr<ServiceManagerHandle>* manager) override {
    sd_bus* raw_bus = nullptr;
    const int r = sd_bus_open_system(&raw_bus);
    if (r < 0) return -r;
    *manager = std::make_unique<SystemdManager>(BusPtr(raw_bus));
    return 0;
  }

  unsigned long TickCount() override { return SystemdNowMs(); }

  void Sleep(unsigned long milliseconds) override {
    CommonSleep(static_cast<apr_interval_time_t>(milliseconds) * 1000);
  }
};

// ---------------------------------------------------------------------------------------------
// Back-end choice

std::mutex backend_mutex;
std::shared_ptr<ServiceBackend> chosen_backend;

// A back end whose manager cannot be opened: a service script that does not load stops and
// starts nothing.
class UnreachableBackend : public ServiceBackend {
 public:
  explicit UnreachableBackend(int error) : error_(error) {}
  int OpenManager(std::unique_ptr<ServiceManagerHandle>*) override { return error_; }
  unsigned long TickCount() override { return 0; }
  void Sleep(unsigned long) override {}

 private:
  int error_;
};

std::shared_ptr<ServiceBackend> DefaultBackend() {
  const char* script_path = ServiceScriptPath();
  if (script_path == nullptr) return MakeSystemdServiceBackend();
  ServiceScript script;
  std::string error;
  if (!LoadServiceScript(script_path, &script, &error)) {
    std::fprintf(stderr, "TARVIK_SERVICE_SCRIPT: %s\n", error.c_str());
    return std::make_shared<UnreachableBackend>(EINVAL);
  }
  return std::make_shared<ScriptedServiceBackend>(std::move(script));
}

const char* StateName(unsigned long state) {
  switch (state) {
    case kServiceStopped:
      return "stopped";
    case kServiceStartPending:
      return "start-pending";
    case kServiceStopPending:
      return "stop-pending";
    case kServiceRunning:
      return "running";
    default:
      return "other";
  }
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// Scripted service

class ScriptedService : public ServiceHandle {
 public:
  explicit ScriptedService(ScriptedServiceBackend* backend) : backend_(backend) {
    ++backend_->events_.service_opens;
  }
  ~ScriptedService() override { ++backend_->events_.service_closes; }

  int QueryStatus(ServiceStatusProcess* status) override {
    const unsigned long number = ++backend_->events_.queries;
    const ServiceScript& script = backend_->script_;
    if (script.query_error != 0 && script.query_fails_from != 0 &&
        number >= script.query_fails_from) {
      backend_->Record("query failed");
      return script.query_error;
    }
    *status = backend_->CurrentStatus();
    backend_->Record(std::string("query ") + StateName(status->current_state));
    return 0;
  }

  int ControlStop(ServiceStatusProcess* status) override {
    ++backend_->events_.stop_requests;
    backend_->Record("stop");
    if (backend_->script_.stop_error != 0) return backend_->script_.stop_error;
    backend_->base_status_ = backend_->CurrentStatus();
    backend_->timeline_ = &backend_->script_.after_stop;
    backend_->timeline_origin_ = backend_->now_;
    *status = backend_->CurrentStatus();
    return 0;
  }

  int Start() override {
    ++backend_->events_.start_requests;
    backend_->Record("start");
    if (backend_->script_.start_error != 0) return backend_->script_.start_error;
    backend_->base_status_ = backend_->CurrentStatus();
    backend_->timeline_ = &backend_->script_.after_start;
    backend_->timeline_origin_ = backend_->now_;
    return 0;
  }

 private:
  ScriptedServiceBackend* backend_;
};

class ScriptedManager : public ServiceManagerHandle {
 public:
  explicit ScriptedManager(ScriptedServiceBackend* backend) : backend_(backend) {
    ++backend_->events_.manager_opens;
  }
  ~ScriptedManager() override { ++backend_->events_.manager_closes; }

  int OpenService(const char* name, std::unique_ptr<ServiceHandle>* service) override {
    if (backend_->script_.open_error != 0) return backend_->script_.open_error;
    if (backend_->script_.service_name != name) return ENOENT;
    *service = std::make_unique<ScriptedService>(backend_);
    return 0;
  }

 private:
  ScriptedServiceBackend* backend_;
};

ScriptedServiceBackend::ScriptedServiceBackend(ServiceScript script)
    : script_(std::move(script)), timeline_(&script_.initial) {}

int ScriptedServiceBackend::OpenManager(std::unique_ptr<ServiceManagerHandle>* manager) {
  if (script_.manager_error != 0) return script_.manager_error;
  *manager = std::make_unique<ScriptedManager>(this);
  return 0;
}

void ScriptedServiceBackend::Sleep(unsigned long milliseconds) {
  events_.sleeps.push_back(milliseconds);
  now_ += milliseconds;
  Record("sleep " + std::to_string(milliseconds));
}

ServiceStatusProcess ScriptedServiceBackend::CurrentStatus() const {
  ServiceStatusProcess status = base_status_;
  for (const ScriptedStatus& entry : *timeline_) {
    if (now_ - timeline_origin_ < entry.at) break;
    status = entry.status;
  }
  return status;
}

void ScriptedServiceBackend::Record(const std::string& line) const {
  if (script_.record_file.empty()) return;
  std::ofstream out(script_.record_file, std::ios::app);
  out << line << '\n';
}

namespace {

bool ParseUnsigned(const std::string& word, unsigned long* value) {
  if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long parsed = std::strtoull(word.c_str(), nullptr, 10);
  if (errno != 0 || parsed > 0xffffffffull) return false;
  *value = static_cast<unsigned long>(parsed);
  return true;
}

bool ParseState(const std::string& word, unsigned long* state) {
  if (word == "stopped") {
    *state = kServiceStopped;
  } else if (word == "start-pending") {
    *state = kServiceStartPending;
  } else if (word == "stop-pending") {
    *state = kServiceStopPending;
  } else if (word == "running") {
    *state = kServiceRunning;
  } else {
    return ParseUnsigned(word, state);
  }
  return true;
}

// "AT STATE [exit N] [checkpoint N] [hint MS]"
bool ParseStatus(std::istringstream& words, ScriptedStatus* entry) {
  std::string at;
  std::string state;
  if (!(words >> at >> state) || !ParseUnsigned(at, &entry->at) ||
      !ParseState(state, &entry->status.current_state)) {
    return false;
  }
  std::string key;
  std::string value;
  while (words >> key) {
    unsigned long number = 0;
    if (!(words >> value) || !ParseUnsigned(value, &number)) return false;
    if (key == "exit") {
      entry->status.win32_exit_code = number;
    } else if (key == "checkpoint") {
      entry->status.check_point = number;
    } else if (key == "hint") {
      entry->status.wait_hint = number;
    } else {
      return false;
    }
  }
  return true;
}

bool ParseErrno(std::istringstream& words, int* error) {
  std::string word;
  unsigned long number = 0;
  if (!(words >> word) || !ParseUnsigned(word, &number) || number == 0 || number > 4095) {
    return false;
  }
  *error = static_cast<int>(number);
  return true;
}

}  // namespace

bool LoadServiceScript(const char* path, ServiceScript* script, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = std::string("cannot read ") + path;
    return false;
  }
  ServiceScript result;
  std::string line;
  int line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string directive;
    if (!(words >> directive)) continue;
    bool ok = true;
    std::string extra;
    if (directive == "service") {
      ok = static_cast<bool>(words >> result.service_name);
    } else if (directive == "manager-error") {
      ok = ParseErrno(words, &result.manager_error);
    } else if (directive == "open-error") {
      ok = ParseErrno(words, &result.open_error);
    } else if (directive == "query-error") {
      ok = ParseErrno(words, &result.query_error);
      result.query_fails_from = 1;
      std::string from;
      std::string count;
      if (ok && words >> from) {
        ok = from == "from" && words >> count && ParseUnsigned(count, &result.query_fails_from) &&
             result.query_fails_from > 0;
      }
    } else if (directive == "stop-error") {
      ok = ParseErrno(words, &result.stop_error);
    } else if (directive == "start-error") {
      ok = ParseErrno(words, &result.start_error);
    } else if (directive == "status" || directive == "stop-status" || directive == "start-status") {
      ScriptedStatus entry;
      ok = ParseStatus(words, &entry);
      auto& timeline = directive == "status"        ? result.initial
                       : directive == "stop-status" ? result.after_stop
                                                    : result.after_start;
      if (ok && !timeline.empty() && timeline.back().at > entry.at) ok = false;
      timeline.push_back(entry);
    } else if (directive == "record") {
      ok = static_cast<bool>(words >> result.record_file);
    } else {
      ok = false;
    }
    if (ok && words >> extra) ok = false;
    if (!ok) {
      *error = std::string(path) + ":" + std::to_string(line_number) + ": bad line: " + line;
      return false;
    }
  }
  *script = std::move(result);
  return true;
}

ServiceStatusProcess SystemdServiceStatus(const std::string& active_state, int exit_status,
                                          unsigned long pending_ms) {
  ServiceStatusProcess status;
  status.win32_exit_code = static_cast<unsigned long>(exit_status);
  if (active_state == "inactive" || active_state == "failed") {
    status.current_state = kServiceStopped;
  } else if (active_state == "activating" || active_state == "deactivating") {
    status.current_state =
        active_state == "activating" ? kServiceStartPending : kServiceStopPending;
    status.wait_hint = kPendingWaitHintMs;
    // systemd reports no progress, and ends a pending state itself at the unit's time-out: each
    // second in it counts as progress, so that a slow service is waited for and not given up.
    status.check_point = pending_ms / 1000 + 1;
  } else {
    status.current_state = kServiceRunning;
  }
  return status;
}

const char* ServiceScriptPath() {
#ifdef TARVIK_TEST_SEAMS
  const char* path = std::getenv("TARVIK_SERVICE_SCRIPT");
  if (path != nullptr && path[0] != '\0') return path;
#endif
  return nullptr;
}

std::shared_ptr<ServiceBackend> MakeSystemdServiceBackend() {
  return std::make_shared<SystemdBackend>();
}

std::shared_ptr<ServiceBackend> ServiceManagerBackend() {
  std::lock_guard<std::mutex> lock(backend_mutex);
  if (!chosen_backend) chosen_backend = DefaultBackend();
  return chosen_backend;
}

void ServiceManagerSetBackend(std::shared_ptr<ServiceBackend> backend) {
  std::lock_guard<std::mutex> lock(backend_mutex);
  chosen_backend = std::move(backend);
}
