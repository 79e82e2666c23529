#ifndef UPDATER_SRC_COMMANDS_UPDATE_H_
#define UPDATER_SRC_COMMANDS_UPDATE_H_

// The firmware update commands: "fwupdate" runs a whole update from an update container file,
// "fwupdate-path" lists the update paths such a container offers. UpdateCallBack shows the update
// engine's events on the console and asks the user where the update needs a confirmation.

#include "kvo.h"
#include "updater/src/commands.h"

QuarnCommandResult QuarnCommandFwUpdate(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandFwUpdatePath(const CommandParameters* parameters);

// The update engine's event display; runs on the thread that called KvoUpdateStart.
void UpdateCallBack(KvoDeviceHandle update_handle, KvoUpdateEvent* event, const void* client_data);

// Clears the display's download flags (one update per process; tests run several).
void UpdateDisplayReset(void);

#endif  // UPDATER_SRC_COMMANDS_UPDATE_H_
