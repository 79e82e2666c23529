#ifndef KVO_SRC_UPDATE_UPDATE_ENGINE_H_
#define KVO_SRC_UPDATE_UPDATE_ENGINE_H_

// What the update engine's own files share: the loaded container's functions, the state of the
// running update and a few helpers. The rest of the library sees the engine through update.h.
//
// container.cpp: loading the container and listing its paths.
// transfer.cpp:  net configuration and packages over the transparent channel, progress.
// actions.cpp:   choosing the next action for an upgrade state and carrying it out.
// update.cpp:    starting an update, the wait for the module's states and the listener for them.

#include <apr_pools.h>
#include <apr_time.h>
#include <stddef.h>

#include "kvo.h"
#include "kvo/src/device/device.h"
#include "kvo/src/update/update.h"
#include "transport/src/at/at.h"
#include "update_container/include/update_container.h"

namespace update_engine {

constexpr const char* kSender = "KVO:Update";
constexpr unsigned kEevinfoTimeout = 10;

// The loaded container's functions; null while none is loaded.
extern UcGetApiVersionFunction uc_get_api_version_fn;
extern UcGetRevisionFunction uc_get_revision_fn;
extern UcGetProductFunction uc_get_product_fn;
extern UcGetNextActionFunction uc_get_next_action_fn;
extern UcGetUpdateInformationFunction uc_get_update_information_fn;
extern UcGetNetConfigurationFunction uc_get_net_configuration_fn;
extern UcGetTotalSizeOfUpdateFunction uc_get_total_size_of_update_fn;
extern UcGetNextUpdateItemFunction uc_get_next_update_item_fn;
extern UcGetUpgradePathsFunction uc_get_upgrade_paths_fn;
extern UcSetLogFunctionCallbackFunction uc_set_log_callback_fn;

// Created per update run (or path listing); holds the container, the mutex and the condition.
extern apr_pool_t* update_memory_pool;

// The handle given with the update callback; progress events go to it.
extern KvoDeviceHandle update_handle;
// The revision the module must reach, from the container's description of the update.
extern KvoRevision target_revision;
extern update_state_synch update_condition;

// A KvoUpdateAllowBegin made by the application from inside a begin-confirmation event: its
// result becomes the result of the update rather than being lost in the callback.
extern bool in_begin_confirmation;
extern bool allow_begin_called;
extern KvoResult allow_begin_result;

// Releases an AT result on every path.
class AtResultHolder {
 public:
  AtResultHolder() { result_ = {kTlAtResultUnknown, nullptr}; }
  ~AtResultHolder() { TlAtReleaseAtResult(&result_); }
  AtResultHolder(const AtResultHolder&) = delete;
  AtResultHolder& operator=(const AtResultHolder&) = delete;
  TlAtResult* get() { return &result_; }
  const char* text() const { return result_.data != nullptr ? result_.data : ""; }
  bool ok() const { return result_.result_code == kTlAtResultOk; }

 private:
  TlAtResult result_;
};

// container.cpp
// Builds the container path from `file_path`, creates the update's pool and loads the container
// into it; on failure nothing is left behind.
KvoResult CreatePoolAndLoadContainer(const char* file_path);
// Destroys the update's pool and forgets the mutex and condition that lived in it.
void DestroyPool();

// transfer.cpp
// A new run starts its progress from nothing.
void ResetTransferProgress();
// The packages the module asks for (actions WithProgressInfo and WithoutProgressInfo).
KvoResult UpdateTransferPackages(KvoDeviceHandle handle, UcInstallFlagType install_flag,
                                 DeviceUpgradeState ustate, UcActionType action);

// update.cpp
// The update callback, if one is registered.
void SendEvent(KvoDeviceHandle handle, KvoUpdateEvent* event);
// An event of `type` whose information type is the install flag; every other field zero.
void SendSimpleEvent(KvoDeviceHandle handle, KvoUpdateEventType type,
                     UcInstallFlagType install_flag);
// Waits for the module's restart and reopens the port; the listener comes back with it.
KvoResult ReopenDevice(KvoDeviceHandle handle, unsigned tries);

}  // namespace update_engine

#endif  // KVO_SRC_UPDATE_UPDATE_ENGINE_H_
