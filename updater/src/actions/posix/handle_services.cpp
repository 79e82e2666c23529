#include "updater/src/actions/posix/handle_services.h"

#include <apr_strings.h>

#include <memory>

#include "kvo.h"
#include "updater/src/actions/posix/service_manager.h"

namespace {

constexpr const char* kSender = "QuarnHandleService";
constexpr const char* kServiceName = "VestriService";
// Overall limit of a stop, from its start.
constexpr unsigned long kStopTimeoutMs = 30000;
constexpr unsigned long kMinWaitMs = 1000;
constexpr unsigned long kMaxWaitMs = 10000;

char szSvcName[80];

void UseServiceName() {
  apr_cpystrn(szSvcName, kServiceName, sizeof szSvcName);
}

// A wait within the bounds that keep polling neither too busy nor too slow.
unsigned long Bounded(unsigned long milliseconds) {
  if (milliseconds < kMinWaitMs) return kMinWaitMs;
  if (milliseconds > kMaxWaitMs) return kMaxWaitMs;
  return milliseconds;
}

// A tenth of the service's wait hint, within the bounds.
unsigned long PollWait(const ServiceStatusProcess& status) {
  return Bounded(status.wait_hint / 10);
}

int AsInt(unsigned long value) {
  return static_cast<int>(value);
}

// The manager and the service of one operation; the service is closed before the manager.
struct Session {
  std::shared_ptr<ServiceBackend> backend = ServiceManagerBackend();
  std::unique_ptr<ServiceManagerHandle> manager;
  std::unique_ptr<ServiceHandle> service;
};

}  // namespace

VestriStatus CheckVestriStatus(void) {
  UseServiceName();
  Session session;
  int error = session.backend->OpenManager(&session.manager);
  if (error != 0) {
    KvoLogError(kSender, "OpenSCManager failed (%d)\n", error);
    return kVestriStatusError;
  }
  error = session.manager->OpenService(szSvcName, &session.service);
  if (error != 0) {
    KvoLogError(kSender, "OpenService failed (%d)\n", error);
    return kVestriStatusError;
  }
  ServiceStatusProcess status;
  error = session.service->QueryStatus(&status);
  if (error != 0) {
    KvoLogError(kSender, "QueryServiceStatusEx failed (%d)\n", error);
    return kVestriStatusError;
  }
  if (status.current_state == kServiceStopped) {
    KvoLogInfo(kSender, "Service is stopped.\n");
    return kVestriStatusStopped;
  }
  KvoLogInfo(kSender, "Service is running.\n");
  return kVestriStatusRunning;
}

void VestriControl(VestriServiceCommand command) {
  UseServiceName();
  if (command == kStopVestri) {
    DoStopSvc();
  } else if (command == kStartVestri) {
    DoStartSvc();
  }
}

void DoStopSvc(void) {
  UseServiceName();
  Session session;
  ServiceBackend& backend = *session.backend;
  const unsigned long start_tick = backend.TickCount();
  int error = backend.OpenManager(&session.manager);
  if (error != 0) {
    KvoLogError(kSender, "OpenSCManager failed (%d)\n", error);
    return;
  }
  error = session.manager->OpenService(szSvcName, &session.service);
  if (error != 0) {
    KvoLogError(kSender, "OpenService failed (%d)\n", error);
    return;
  }
  ServiceStatusProcess status;
  error = session.service->QueryStatus(&status);
  if (error != 0) {
    KvoLogError(kSender, "QueryServiceStatusEx failed (%d)\n", error);
    return;
  }
  if (status.current_state == kServiceStopped) {
    KvoLogInfo(kSender, "Service is already stopped.\n");
    return;
  }

  // Somebody else is stopping it already: wait for that.
  while (status.current_state == kServiceStopPending) {
    KvoLogInfo(kSender, "Service stop pending...\n");
    backend.Sleep(PollWait(status));
    error = session.service->QueryStatus(&status);
    if (error != 0) {
      KvoLogError(kSender, "QueryServiceStatusEx failed (%d)\n", error);
      return;
    }
    if (status.current_state == kServiceStopped) {
      KvoLogInfo(kSender, "Service stopped successfully.\n");
      return;
    }
    if (backend.TickCount() - start_tick > kStopTimeoutMs) {
      KvoLogError(kSender, "Service stop timed out.\n");
      return;
    }
  }

  error = session.service->ControlStop(&status);
  if (error != 0) {
    KvoLogError(kSender, "ControlService failed (%d)\n", error);
    return;
  }
  // The whole wait hint per pass, but never a busy loop on a hint of 0 and never a single sleep
  // far past the overall limit on a long hint.
  while (status.current_state != kServiceStopped) {
    backend.Sleep(Bounded(status.wait_hint));
    error = session.service->QueryStatus(&status);
    if (error != 0) {
      KvoLogError(kSender, "QueryServiceStatusEx failed (%d)\n", error);
      return;
    }
    if (status.current_state == kServiceStopped) break;
    if (backend.TickCount() - start_tick > kStopTimeoutMs) {
      KvoLogError(kSender, "Wait timed out\n");
      return;
    }
  }
  KvoLogInfo(kSender, "Service stopped successfully\n");
}

void DoStartSvc(void) {
  UseServiceName();
  Session session;
  ServiceBackend& backend = *session.backend;
  int error = backend.OpenManager(&session.manager);
  if (error != 0) {
    KvoLogError(kSender, "OpenSCManager failed (%d)", error);
    return;
  }
  error = session.manager->OpenService(szSvcName, &session.service);
  if (error != 0) {
    KvoLogError(kSender, "OpenService failed (%d)", error);
    return;
  }
  ServiceStatusProcess status;
  error = session.service->QueryStatus(&status);
  if (error != 0) {
    KvoLogError(kSender, "QueryServiceStatusEx failed (%d)", error);
    return;
  }
  if (status.current_state != kServiceStopped && status.current_state != kServiceStopPending) {
    KvoLogError(kSender, "Cannot start the service because it is already running");
    return;
  }

  // Wait for a pending stop while it makes progress. A service that has just stopped reports
  // neither checkpoint nor hint; it must not count as one that stopped making progress.
  unsigned long progress_tick = backend.TickCount();
  unsigned long check_point = status.check_point;
  while (status.current_state == kServiceStopPending) {
    backend.Sleep(PollWait(status));
    error = session.service->QueryStatus(&status);
    if (error != 0) {
      KvoLogError(kSender, "QueryServiceStatusEx failed (%d)", error);
      return;
    }
    if (status.current_state != kServiceStopPending) break;
    if (status.check_point > check_point) {
      progress_tick = backend.TickCount();
      check_point = status.check_point;
    } else if (backend.TickCount() - progress_tick > status.wait_hint) {
      KvoLogInfo(kSender, "Timeout waiting for service to stop");
      return;
    }
  }

  error = session.service->Start();
  if (error != 0) {
    KvoLogError(kSender, "StartService failed (%d)", error);
    return;
  }
  KvoLogInfo(kSender, "Service start pending...");

  error = session.service->QueryStatus(&status);
  if (error != 0) {
    KvoLogError(kSender, "QueryServiceStatusEx failed (%d)", error);
    return;
  }
  progress_tick = backend.TickCount();
  check_point = status.check_point;
  while (status.current_state == kServiceStartPending) {
    backend.Sleep(PollWait(status));
    error = session.service->QueryStatus(&status);
    if (error != 0) {
      KvoLogError(kSender, "QueryServiceStatusEx failed (%d)", error);
      break;
    }
    if (status.check_point > check_point) {
      progress_tick = backend.TickCount();
      check_point = status.check_point;
    } else if (backend.TickCount() - progress_tick > status.wait_hint) {
      break;
    }
  }

  if (status.current_state == kServiceRunning) {
    KvoLogInfo(kSender, "Service started successfully.");
    return;
  }
  KvoLogError(kSender, "Service not started. ");
  KvoLogError(kSender, "Current State: %d", AsInt(status.current_state));
  KvoLogError(kSender, "Exit Code: %d", AsInt(status.win32_exit_code));
  KvoLogError(kSender, "Check Point: %d", AsInt(status.check_point));
  KvoLogError(kSender, "Wait Hint: %d", AsInt(status.wait_hint));
}
