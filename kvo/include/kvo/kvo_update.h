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

// Called on the thread that runs KvoUpdateStart; the event is valid only during the call.
typedef void KvoUpdateCallback(KvoDeviceHandle handle, KvoUpdateEvent* event,
                               const void* client_data);

typedef struct KvoUpdatePath {
  KvoRevision current;
  KvoRevision target;
} KvoUpdatePath;

typedef struct KvoUpdatePathStructType {
  KvoUpdatePath path_list[128];
} KvoUpdatePathStructType;

// Stores the callback and its client data; call before KvoUpdateStart.
KVO_API KvoResult KvoUpdateRegisterCallback(KvoDeviceHandle handle, KvoUpdateCallback* callback,
                                            const void* client_data);

// Runs a whole update with the container at file_path, on the calling thread.
KVO_API KvoResult KvoUpdateStart(KvoDeviceHandle handle, const char* file_path);

// Starts (or resumes) the transfer and follows the module to the target. The engine calls it
// itself for updates that need no confirmation; otherwise the application calls it from its
// callback once the user has agreed.
KVO_API KvoResult KvoUpdateAllowBegin(KvoDeviceHandle handle, bool allow);

// Lets the engine restart the module after a restart-confirmation event.
KVO_API KvoResult KvoUpdateAllowRestart(KvoDeviceHandle handle, bool allow);

// Lists the container's update paths without contacting the module. The list is released with
// KvoUpdateReleaseKvoUpdatePath.
KVO_API KvoResult KvoUpdateGetUpdatePath(KvoDeviceHandle handle, const char* file_path,
                                         KvoUpdatePathStructType** list, size_t* list_size);
KVO_API KvoResult KvoUpdateReleaseKvoUpdatePath(KvoUpdatePathStructType* list);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_UPDATE_H_
