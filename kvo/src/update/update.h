#ifndef KVO_SRC_UPDATE_UPDATE_H_
#define KVO_SRC_UPDATE_UPDATE_H_

// Firmware update engine, library-internal part. The whole update runs on the
// application's thread inside KvoUpdateStart; the module's unsolicited
// upgrade-state lines arrive on the transport's receive thread and wake the
// update loop through one mutex and condition.

#include <apr_pools.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <stdarg.h>
#include <stdbool.h>

#include "kvo.h"
#include "kvo/src/device/device.h"
#include "transport/src/at/at.h"
#include "update_container/include/update_container.h"

// Why the update loop was woken.
typedef enum UpdateProcessState {
  kUpdateProcessStateInit = 0,            // nothing new
  kUpdateProcessStateNewUpdateState = 1,  // a "*EEUSTATE:1," line arrived
  kUpdateProcessStateRestartDevice = 2    // the port was closed under the update
} UpdateProcessState;

typedef struct update_state_synch {
  apr_thread_mutex_t* mutex;
  apr_thread_cond_t* condition;
  DeviceUpgradeState new_upgrade_state;
  DeviceUpgradeState old_upgrade_state;
  UpdateProcessState update_process_state;
} update_state_synch;

bool IsUpdateContainerLoaded(void);
bool UpdateLoadUpdateContainer(apr_pool_t* pool, const char* file_path);
bool UpdateUnloadUpdateContainer(void);

void UpdateHandleLogCallback(const char* sender, UcLogType type, const char* format,
                             va_list arguments);
void UpdateHandleCallbacks(TlResult result, TlDeviceHandle handle, TlAtResult* at_result,
                           const void* client_data);

KvoResult UpdateCheckAndPerformAction(KvoDeviceHandle handle, UcTriggerType trigger,
                                      UcInstallFlagType install_flag,
                                      UcUpdateInformationType update_information,
                                      DeviceUpgradeState ustate);
KvoResult UpdatePerformAction(KvoDeviceHandle handle, UcTriggerType trigger,
                              UcInstallFlagType install_flag,
                              UcUpdateInformationType update_information, DeviceUpgradeState ustate,
                              UcActionType action);
KvoResult UpdateGetUpdateInformation(KvoDeviceHandle handle, UcTriggerType trigger,
                                     UcInstallFlagType install_flag,
                                     UcUpdateInformationType update_information);
KvoResult UpdateSendNetConfiguration(KvoDeviceHandle handle);
void UpdateTlTcProgressCallback(unsigned int bytes_sent, unsigned int bytes_total);
bool DeviceCheckIfTargetIsReached(KvoDeviceHandle handle);

// The container path rule: absolute and "./" paths are kept, anything else is
// taken relative to the current directory. Exposed for tests.
void UpdateBuildContainerPath(const char* file_path, char* container_path, size_t size);

#endif  // KVO_SRC_UPDATE_UPDATE_H_
