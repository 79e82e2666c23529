#ifndef KVO_KVO_UPDATE_H_
#define KVO_KVO_UPDATE_H_

// Firmware update: runs a whole update of a module from an update container file, reporting every
// step through one callback, and lists the update paths a container offers.

#include <stdbool.h>
#include <stddef.h>

#include "kvo/kvo_common.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_export.h"
#include "kvo/kvo_information.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char KvoPercent;  // 0 to 100

// A configuration-set product number, one blank, a revision.
typedef char KvoProductNumberAndRevision[64];

// Same numbering as the container's install flags.
typedef enum KvoUpdateType {
  kKvoUpdateTypeUnknown = 0,
  kKvoUpdateTypeConfirmed = 1,
  kKvoUpdateTypeNotified = 2,
  kKvoUpdateTypeSilent = 3
} KvoUpdateType;

typedef enum KvoUpdateEventType {
  kKvoUpdateEventTypeBeginConfirmationNeeded = 0,
  kKvoUpdateEventTypeBegin = 1,
  kKvoUpdateEventTypeProgress = 2,
  kKvoUpdateEventTypeSuccess = 3,
  kKvoUpdateEventTypeFailed = 4,
  kKvoUpdateEventTypeRestartConfirmationNeeded = 5,
  kKvoUpdateEventTypeRestartNotified = 6,
  kKvoUpdateEventTypeReceivedUpdatePackages = 7,
  kKvoUpdateEventTypeInstalling = 8,
  kKvoUpdateEventTypeBeginResumeConfirmationNeeded = 9,
  kKvoUpdateEventTypeBeginResume = 10,
  kKvoUpdateEventTypeDeviceLost = 11
} KvoUpdateEventType;

typedef struct KvoUpdateInformation {
  KvoUpdateType type;
  KvoDeviceModel model;
  KvoProductNumberAndRevision current_configuration;
  KvoProductNumberAndRevision target_configuration;
} KvoUpdateInformation;

typedef struct KvoUpdateEvent {
  KvoUpdateEventType type;
  KvoUpdateInformation information;
  KvoPercent progress;
} KvoUpdateEvent;

// Called on the thread that runs KvoUpdateStart. [in] handle: the updated device (for progress
// events, the handle given at registration). [in] event: valid only during the call; fields that
// the event type does not use are zero. [in] client_data: as registered.
// Progress events come from inside a transfer with the device lock held: during them the callback
// must not call the library for the device. From a begin-confirmation event
// (kKvoUpdateEventTypeBeginConfirmationNeeded, kKvoUpdateEventTypeBeginResumeConfirmationNeeded)
// the application goes on with KvoUpdateAllowBegin once the user has agreed; from
// kKvoUpdateEventTypeRestartConfirmationNeeded with KvoUpdateAllowRestart.
typedef void KvoUpdateCallback(KvoDeviceHandle handle, KvoUpdateEvent* event,
                               const void* client_data);

typedef struct KvoUpdatePath {
  KvoRevision current;
  KvoRevision target;
} KvoUpdatePath;

typedef struct KvoUpdatePathStructType {
  KvoUpdatePath path_list[128];
} KvoUpdatePathStructType;

// Stores [in] handle, [in] callback (null: no events are sent) and [in] client_data for the next
// updates; nothing is checked. Call it before KvoUpdateStart. Results: kKvoResultSuccess.
KVO_API KvoResult KvoUpdateRegisterCallback(KvoDeviceHandle handle, KvoUpdateCallback* callback,
                                            const void* client_data);

// Runs a whole update of the module on [in] handle, on the calling thread, with the update
// container at [in] file_path (a path not starting with '/' or "./" is taken relative to the
// working directory). The container is loaded for the duration of the call only, and refused if
// another user could have written or swapped the file. Every step is reported through the
// registered callback. One update at a time per process.
// Results: kKvoResultSuccess once the module has reached the target (or after the one step of a
// module found installing or waiting for a restart, or a begin-confirmation event that the
// application did not follow with KvoUpdateAllowBegin); the AT-mode results;
// kKvoResultGeneralErrorOperationNotSupported (a Brem module);
// kKvoResultUpdateErrorCouldNotFindPackage (no file at file_path, or a null path);
// kKvoResultUpdateErrorFailedToLoadDLL (the container cannot be loaded, is incomplete, is
// refused, or fails to hand out a package); kKvoResultGeneralErrorApiVersionMismatch (a container
// of another major version); kKvoResultGeneralErrorMemory; kKvoResultGeneralErrorAtError (the
// module's upgrade-state messages cannot be switched on, its state cannot be read, or a command of
// a step failed); kKvoResultGeneralErrorUnknown (the message listener could not be registered or
// removed); kKvoResultGeneralErrorDeviceNotOpen; kKvoResultUpdateErrorNoUpdateNeeded and
// kKvoResultUpdateErrorNoUpdateAvailable (the module needs no update);
// kKvoResultUpdateErrorNoPackageSet and kKvoResultUpdateErrorInvalidPackage (the container has no
// path for this module, or does not accept it); kKvoResultUpdateErrorMissFilesInPackage (the
// module asks for a package the container lacks); kKvoResultDeviceErrorTransparentChannel (a
// transfer failed); the results of KvoDeviceReopen after a restart;
// kKvoResultDeviceErrorDeviceNotOpen (the module did not come back after it was lost);
// kKvoResultDeviceErrorFailedToGetInformation; kKvoResultUpdateCouldNotBeVerified (five checks
// without progress and the target not reached). A begin confirmation followed by
// KvoUpdateAllowBegin gives that call's result.
KVO_API KvoResult KvoUpdateStart(KvoDeviceHandle handle, const char* file_path);

// Starts (or resumes) the transfer and follows the module to the target. The engine calls it
// itself for updates that need no confirmation; otherwise the application calls it from its
// callback once the user has agreed. Only while KvoUpdateStart runs.
// Results: kKvoResultUpdateErrorFailedToLoadDLL (no update is running);
// kKvoResultGeneralErrorUnknown ([in] allow is false);
// kKvoResultDeviceErrorFailedToGetInformation (the upgrade state cannot be read); otherwise the
// update's results as for KvoUpdateStart.
KVO_API KvoResult KvoUpdateAllowBegin(KvoDeviceHandle handle, bool allow);

// Lets the engine restart the module after a restart-confirmation event: with [in] allow true,
// KvoDeviceReset. Only while KvoUpdateStart runs.
// Results: kKvoResultUpdateErrorFailedToLoadDLL (no update is running);
// kKvoResultDeviceErrorFailedToReset (allow is false); otherwise the results of KvoDeviceReset.
KVO_API KvoResult KvoUpdateAllowRestart(KvoDeviceHandle handle, bool allow);

// Lists the update paths of the container at [in] file_path without contacting the module
// ([in] handle is not used). Loads the container as KvoUpdateStart does: not while an update
// runs. [out] list: set to null first, then a list allocated by the library; give it back with
// KvoUpdateReleaseKvoUpdatePath. [out] list_size (may be null): set to 0 first, then the number of
// paths (at most 128). Patterns keep their '*'.
// Results: kKvoResultSuccess; kKvoResultUpdateErrorCouldNotFindPackage;
// kKvoResultGeneralErrorMemory; kKvoResultUpdateErrorFailedToLoadDLL;
// kKvoResultGeneralErrorInvalidParameter (a null list, found after loading);
// kKvoResultUpdateErrorNoPathsFound.
KVO_API KvoResult KvoUpdateGetUpdatePath(KvoDeviceHandle handle, const char* file_path,
                                         KvoUpdatePathStructType** list, size_t* list_size);
// [in] list: from KvoUpdateGetUpdatePath, or null; freed. Results: kKvoResultSuccess.
KVO_API KvoResult KvoUpdateReleaseKvoUpdatePath(KvoUpdatePathStructType* list);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_UPDATE_H_
