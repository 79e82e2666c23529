#ifndef UPDATER_SRC_ACTIONS_POSIX_HANDLE_SERVICES_H_
#define UPDATER_SRC_ACTIONS_POSIX_HANDLE_SERVICES_H_

// Control of the connection-manager service "VestriService", which holds the module's port
// while it runs: the program stops it before it uses the module and starts it again afterwards.
// Every step is logged with the sender "QuarnHandleService"; failures are reported only there.
// The service manager underneath is service_manager.h.

typedef enum VestriStatus {
  kVestriStatusStopped = 0,
  kVestriStatusRunning = 1,
  kVestriStatusError = 99
} VestriStatus;

typedef enum VestriServiceCommand { kStopVestri = 0, kStartVestri = 1 } VestriServiceCommand;

// Stopped or running (pending states count as running); kVestriStatusError when the manager,
// the service or its status cannot be reached, e.g. on a machine without the service.
VestriStatus CheckVestriStatus(void);

// kStopVestri runs DoStopSvc, kStartVestri DoStartSvc; any other value does nothing.
void VestriControl(VestriServiceCommand command);

// Stops the service and waits until it has stopped, at most about 30 seconds in all.
void DoStopSvc(void);

// Starts a stopped service (waiting first for a pending stop) and waits while it starts.
void DoStartSvc(void);

#endif  // UPDATER_SRC_ACTIONS_POSIX_HANDLE_SERVICES_H_
