// Starting an update, the wait for the module's upgrade states and the listener that receives
// them.

#include "kvo/src/update/update.h"

#include <apr_strings.h>
#include <apr_time.h>
#include <string.h>

#include <atomic>
#include <initializer_list>
#include <mutex>

#include "common/src/common_functions.h"
#include "common/src/wait_seam.h"
#include "kvo/src/device/information.h"
#include "kvo/src/update/update_engine.h"
#include "transport/src/common/common.h"
#include "transport/src/device/device.h"

namespace update_engine {

KvoDeviceHandle update_handle = 0;
KvoRevision target_revision;
update_state_synch update_condition;
bool in_begin_confirmation = false;
bool allow_begin_called = false;
KvoResult allow_begin_result = kKvoResultSuccess;

}  // namespace update_engine

using namespace update_engine;

namespace {

constexpr apr_interval_time_t kShortWait = 3 * APR_USEC_PER_SEC;
constexpr apr_interval_time_t kLongWait = 60 * APR_USEC_PER_SEC;
constexpr int kRetries = 5;
// Failed AT exchanges in a row that the wait loop lets pass before it gives up: a module that
// answers but cannot go on (no packages listed, too many asked for) would keep it going forever.
constexpr int kAtErrorLimit = 5;
// The loop gives up after this long whatever the module does; the longest path that still ends
// well is about 20 minutes from here (the README's "How long an update can last").
constexpr int kLoopDeadlineMinutes = 30;
constexpr unsigned kUstateEventsTimeout = 5;
constexpr unsigned kLostReopenTries = 30;
constexpr unsigned kRestartSeconds = 15;

KvoUpdateCallback* update_callback = nullptr;
const void* update_client_data = nullptr;

// The running update as the receive thread sees it: set once its mutex and condition exist, and
// cleared before they go with the pool. The guard lives as long as the library, so a listener call
// that found the record finishes with it before the record can go.
std::mutex published_guard;
update_state_synch* published = nullptr;

void Publish(update_state_synch* record) {
  std::lock_guard<std::mutex> guard(published_guard);
  published = record;
}

// Set when a reopen inside the wait loop, or the application's confirmed restart, failed: the
// handle is released, so the loop ends. The application may confirm from another thread.
std::atomic<bool> device_gone{false};

// Kept between runs on purpose: a later run starts with the wait the last one
// ended with.
apr_interval_time_t kUpdateWaitTimeout = kShortWait;

// Whether UpdateHandleCallbacks is in the AT channel's listener table. The
// channel drops every listener of a handle when the port fails (after telling
// them), so the engine tracks it to register again after a reopen and to
// unregister only what is still there. Guarded by update_condition.mutex.
bool listener_registered = false;

bool IsOneOf(DeviceUpgradeState state, std::initializer_list<DeviceUpgradeState> states) {
  for (DeviceUpgradeState s : states) {
    if (s == state) return true;
  }
  return false;
}

// "AT*EEUSTATE=1": the module reports each new upgrade state on its own.
KvoResult EnableUpgradeStateEvents(KvoDeviceHandle handle) {
  char command[32];
  apr_snprintf(command, sizeof command, "%s=%d", "AT*EEUSTATE", 1);
  AtResultHolder at;
  const TlResult result = TlAtSend(handle, command, kUstateEventsTimeout, at.get());
  if (result != kTlResultSuccess || !at.ok()) {
    TlLogError(kSender,
               "Failed to enable upgrade state events from device. "
               "Cannot run upgrade process "
               "properly.");
    if (result != kTlResultSuccess) TlLogErrorCode(kSender, result);
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

bool ListenerRegistered() {
  apr_thread_mutex_lock(update_condition.mutex);
  const bool registered = listener_registered;
  apr_thread_mutex_unlock(update_condition.mutex);
  return registered;
}

void SetListenerRegistered(bool registered) {
  apr_thread_mutex_lock(update_condition.mutex);
  listener_registered = registered;
  apr_thread_mutex_unlock(update_condition.mutex);
}

// The flag is set before the listener goes in, so that a port-failure notice arriving right after
// leaves it cleared, as the listener is.
TlResult RegisterListener(KvoDeviceHandle handle) {
  SetListenerRegistered(true);
  const TlResult result = TlAtRegisterCallback(handle, UpdateHandleCallbacks, kSender);
  if (result != kTlResultSuccess) SetListenerRegistered(false);
  return result;
}

// Takes `state` as the loop's state, unless a state report arrived meanwhile: that one is newer.
void PublishState(DeviceUpgradeState state) {
  apr_thread_mutex_lock(update_condition.mutex);
  if (update_condition.update_process_state == kUpdateProcessStateInit) {
    update_condition.new_upgrade_state = state;
  }
  apr_thread_mutex_unlock(update_condition.mutex);
}

// After the engine reopened the port: a port-failure notice that came before the reopen is settled
// by it, the listener that the failure removed is registered again, the module (which forgot the
// setting with its restart) reports its states again, and the loop goes on from the state the
// module is in now rather than the one it had before.
KvoResult AfterReopen(KvoDeviceHandle handle) {
  apr_thread_mutex_lock(update_condition.mutex);
  if (update_condition.update_process_state == kUpdateProcessStateRestartDevice) {
    update_condition.update_process_state = kUpdateProcessStateInit;
  }
  const bool registered = listener_registered;
  apr_thread_mutex_unlock(update_condition.mutex);
  if (!registered) {
    KvoLogDebug(kSender, "Registering for unsolicited messages again after the reopen.");
    const TlResult result = RegisterListener(handle);
    if (result != kTlResultSuccess) TlLogErrorCode(kSender, result);
  }
  if (EnableUpgradeStateEvents(handle) != kKvoResultSuccess) return kKvoResultGeneralErrorAtError;
  DeviceUpgradeState state = 0;
  if (DeviceGetUpgradeState(handle, &state) != kKvoResultSuccess) {
    return kKvoResultDeviceErrorFailedToGetInformation;
  }
  KvoLogInfo(kSender, "Upgrade state after the reopen: %d", state);
  PublishState(state);
  kUpdateWaitTimeout = kShortWait;
  return kKvoResultSuccess;
}

// The module's state after a finish: the target has been reached or the retries
// ran out.
KvoResult UpdateFinish(KvoDeviceHandle handle, bool target_checked) {
  if (!target_checked) {
    if (!DeviceCheckIfTargetIsReached(handle)) return kKvoResultUpdateCouldNotBeVerified;
    KvoLogInfo(kSender, "Target revision %s has been reached.", target_revision);
  }
  KvoLogInfo(kSender, "Update finished.\n");
  const KvoResult result =
      UpdatePerformAction(handle, kUcTriggerModuleStatusChanged, kUcUserInteractionUnknown,
                          kUcNetConfigurationAvailable, 1, kUcActionUpdateSucceeded);
  return result == kKvoResultSuccess ? kKvoResultSuccess : kKvoResultGeneralErrorUnknown;
}

bool TargetReachedLogged(KvoDeviceHandle handle) {
  if (!DeviceCheckIfTargetIsReached(handle)) return false;
  KvoLogInfo(kSender, "Target revision %s has been reached.", target_revision);
  return true;
}

KvoResult DeviceGone() {
  KvoLogError(kSender, "The device did not come back after its restart.");
  return kKvoResultDeviceErrorDeviceNotOpen;
}

// The loop met too many AT errors in a row: the module may still have reached the target.
KvoResult GiveUpAfterAtErrors(KvoDeviceHandle handle) {
  if (TargetReachedLogged(handle)) return UpdateFinish(handle, true);
  return kKvoResultGeneralErrorAtError;
}

}  // namespace

void update_engine::SendEvent(KvoDeviceHandle handle, KvoUpdateEvent* event) {
  if (update_callback == nullptr) return;
  update_callback(handle, event, update_client_data);
}

void update_engine::SendSimpleEvent(KvoDeviceHandle handle, KvoUpdateEventType type,
                                    UcInstallFlagType install_flag) {
  KvoUpdateEvent event;
  memset(&event, 0, sizeof event);
  event.type = type;
  event.information.type = static_cast<KvoUpdateType>(install_flag);
  SendEvent(handle, &event);
}

KvoResult update_engine::ReopenDevice(KvoDeviceHandle handle, unsigned tries) {
  const KvoResult result = DeviceReopen(handle, tries, kRestartSeconds);
  if (result != kKvoResultSuccess) {
    KvoLogErrorCode(kSender, result);
    device_gone = true;
    return result;
  }
  return AfterReopen(handle);
}

void UpdateHandleCallbacks(TlResult result, TlDeviceHandle, TlAtResult* at_result, const void*) {
  std::lock_guard<std::mutex> guard(published_guard);
  if (published == nullptr) {
    // Not inside an update run: nothing waits for these lines.
    if (at_result != nullptr) TlAtReleaseAtResult(at_result);
    return;
  }
  if (result == kTlResultSuccess) {
    const char* text = (at_result != nullptr && at_result->data != nullptr) ? at_result->data : "";
    KvoLogDebug(kSender, "Unsolicited received: %s", text);
    // Each line that carries a state, in order; the last one wins.
    const char* marker = "*EEUSTATE:1,";
    const char* cursor = text;
    while ((cursor = strstr(cursor, marker)) != nullptr) {
      const char* end = cursor + strcspn(cursor, "\r\n");
      char line[128];
      const size_t length = static_cast<size_t>(end - cursor) < sizeof line - 1
                                ? static_cast<size_t>(end - cursor)
                                : sizeof line - 1;
      memcpy(line, cursor, length);
      line[length] = '\0';
      DeviceUpgradeState state = 0;
      if (DeviceInformationParseUpgradeState(line, &state) == kKvoResultSuccess) {
        KvoLogDebug(kSender, "Received new upgrade state: %d", state);
        apr_thread_mutex_lock(update_condition.mutex);
        update_condition.old_upgrade_state = update_condition.new_upgrade_state;
        update_condition.new_upgrade_state = state;
        update_condition.update_process_state = kUpdateProcessStateNewUpdateState;
        apr_thread_cond_signal(update_condition.condition);
        apr_thread_mutex_unlock(update_condition.mutex);
      } else {
        KvoLogError(kSender, "Failed to get update state from at result %s", line);
      }
      cursor = end;
    }
    if (at_result != nullptr) TlAtReleaseAtResult(at_result);
  } else if (result == kTlResultGeneralErrorDeviceNotOpen) {
    KvoLogInfo(kSender, "The device was closed. Signal thread to re-open");
    apr_thread_mutex_lock(update_condition.mutex);
    update_condition.update_process_state = kUpdateProcessStateRestartDevice;
    // The AT channel drops every listener of the handle right after this
    // notice.
    listener_registered = false;
    apr_thread_cond_signal(update_condition.condition);
    apr_thread_mutex_unlock(update_condition.mutex);
    if (at_result != nullptr) TlAtReleaseAtResult(at_result);
  } else {
    KvoLogError(kSender, "Received unknown error from unsolicited.");
    TlLogErrorCode(kSender, result);
    if (at_result != nullptr) TlAtReleaseAtResult(at_result);
  }
}

KVO_API KvoResult KvoUpdateRegisterCallback(KvoDeviceHandle handle, KvoUpdateCallback* callback,
                                            const void* client_data) {
  update_handle = handle;
  update_callback = callback;
  update_client_data = client_data;
  return kKvoResultSuccess;
}

KVO_API KvoResult KvoUpdateStart(KvoDeviceHandle handle, const char* file_path) {
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to fetch information in ITP mode.");
    return result;
  }
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  result = KvoDeviceGetType(handle, &type);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to fetch device type.");
    return result;
  }
  if (type == kKvoDevicePlatformTypeBrem) {
    KvoLogError(kSender, "Not possible to update device. Operation not supported.");
    return kKvoResultGeneralErrorOperationNotSupported;
  }
  if (file_path == nullptr || !CommonFileExist(file_path)) {
    KvoLogError(kSender, "File '%s' does not exist!", file_path != nullptr ? file_path : "");
    return kKvoResultUpdateErrorCouldNotFindPackage;
  }
  ResetTransferProgress();
  update_condition.mutex = nullptr;
  update_condition.condition = nullptr;
  update_condition.new_upgrade_state = 0;
  update_condition.old_upgrade_state = 0;
  update_condition.update_process_state = kUpdateProcessStateInit;
  memset(target_revision, 0, sizeof target_revision);
  listener_registered = false;

  const KvoResult loaded = CreatePoolAndLoadContainer(file_path);
  if (loaded != kKvoResultSuccess) return loaded;
  if (apr_thread_mutex_create(&update_condition.mutex, APR_THREAD_MUTEX_UNNESTED,
                              update_memory_pool) != APR_SUCCESS) {
    KvoLogError(kSender,
                "Failed to create mutex variable needed in update "
                "state machine. Aborting!");
    UpdateUnloadUpdateContainer();
    DestroyPool();
    return kKvoResultGeneralErrorMemory;
  }
  if (apr_thread_cond_create(&update_condition.condition, update_memory_pool) != APR_SUCCESS) {
    KvoLogError(kSender,
                "Failed to create conditional variable needed in "
                "update state machine. Aborting!");
    UpdateUnloadUpdateContainer();
    DestroyPool();
    return kKvoResultGeneralErrorMemory;
  }
  Publish(&update_condition);
  // Withdrawn before the pool goes with the mutex and the condition.
  const auto end_run = [] {
    Publish(nullptr);
    UpdateUnloadUpdateContainer();
    DestroyPool();
  };
  result = EnableUpgradeStateEvents(handle);
  if (result != kKvoResultSuccess) {
    end_run();
    return result;
  }
  const TlResult registered = RegisterListener(handle);
  if (registered != kTlResultSuccess) {
    TlLogErrorCode(kSender, registered);
    end_run();
    return kKvoResultGeneralErrorUnknown;
  }

  DeviceUpgradeState ustate = 0;
  result = DeviceGetUpgradeState(handle, &ustate);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to get upgrade state");
    KvoLogErrorCode(kSender, result);
    result = kKvoResultGeneralErrorAtError;
  } else if (TlDeviceIsOpen(handle) != kTlResultSuccess) {
    KvoLogError(kSender, "Device handle is not valid. Abort.");
    result = kKvoResultGeneralErrorDeviceNotOpen;
  } else {
    result = UpdateCheckAndPerformAction(handle, kUcTriggerInitial, kUcUserInteractionUnknown,
                                         kUcNetConfigurationAvailable, ustate);
  }

  // Only a listener that is still in the table can be taken out; one that a
  // port failure removed is already gone and does not make the update fail.
  if (ListenerRegistered()) {
    const TlResult unregistered = TlAtUnregisterCallback(handle, UpdateHandleCallbacks);
    // A port that is gone took its listeners along; failing to find one there is no fault and
    // must not hide why the update ended.
    if (unregistered == kTlResultAtErrorNoSuchCallbackRegistered ||
        TlDeviceIsOpen(handle) != kTlResultSuccess) {
      KvoLogDebug(kSender, "The listener was already removed with the port.");
    } else if (unregistered != kTlResultSuccess) {
      TlLogErrorCode(kSender, unregistered);
      result = kKvoResultGeneralErrorUnknown;
    }
    SetListenerRegistered(false);
  }
  end_run();
  return result;
}

KVO_API KvoResult KvoUpdateAllowBegin(KvoDeviceHandle handle, bool allow) {
  if (!IsUpdateContainerLoaded()) {
    KvoLogError(kSender, "No update container has been loaded");
    return kKvoResultUpdateErrorFailedToLoadDLL;
  }
  KvoResult result = kKvoResultSuccess;
  if (!allow) {
    result = kKvoResultGeneralErrorUnknown;
  } else {
    // A call from the application's begin-confirmation callback: the update
    // runs here, and its result is handed back to KvoUpdateStart too.
    const bool from_confirmation = in_begin_confirmation;
    in_begin_confirmation = false;
    result = [&]() -> KvoResult {
      DeviceUpgradeState ustate = 0;
      if (DeviceGetUpgradeState(handle, &ustate) != kKvoResultSuccess) {
        return kKvoResultDeviceErrorFailedToGetInformation;
      }
      KvoLogDebug(kSender, "Ustate at startup: %d\n", ustate);
      KvoResult step = UpdateCheckAndPerformAction(handle, kUcTriggerUserConfirmUpgrade,
                                                   kUcUserInteractionUnknown,
                                                   kUcNetConfigurationAvailable, ustate);
      if (step != kKvoResultSuccess) return step;

      int retries = kRetries;
      int at_errors = 0;
      DeviceUpgradeState state = 0;
      device_gone = false;
      const apr_time_t deadline =
          apr_time_now() + CommonScaledWait(apr_time_from_sec(kLoopDeadlineMinutes * 60));
      // An AT error sets the wait back to 3 s and takes no retry; too many in a row end the loop.
      const auto at_error = [&]() {
        kUpdateWaitTimeout = kShortWait;
        if (++at_errors < kAtErrorLimit) return false;
        KvoLogError(kSender, "Giving up after %d failed AT exchanges in a row.", at_errors);
        return true;
      };
      do {
        if (apr_time_now() > deadline) {
          KvoLogError(kSender, "The update has not finished within %d minutes. Giving up.",
                      kLoopDeadlineMinutes);
          return UpdateFinish(handle, false);
        }
        apr_thread_mutex_lock(update_condition.mutex);
        bool timed_out = false;
        // A notice that came while the engine was busy is taken at once, not
        // waited for.
        if (update_condition.new_upgrade_state == state &&
            update_condition.update_process_state == kUpdateProcessStateInit) {
          KvoLogInfo(kSender, "Wait (%d seconds) for unsolicited response from device.",
                     static_cast<int>(kUpdateWaitTimeout / APR_USEC_PER_SEC));
          const apr_status_t waited =
              apr_thread_cond_timedwait(update_condition.condition, update_condition.mutex,
                                        CommonScaledWait(kUpdateWaitTimeout));
          timed_out = APR_STATUS_IS_TIMEUP(waited);
          if (kUpdateWaitTimeout == kShortWait) kUpdateWaitTimeout = kLongWait;
        }
        state = update_condition.new_upgrade_state;
        const UpdateProcessState process = update_condition.update_process_state;
        update_condition.update_process_state = kUpdateProcessStateInit;
        apr_thread_mutex_unlock(update_condition.mutex);

        if (timed_out && process == kUpdateProcessStateInit) {
          KvoLogInfo(kSender,
                     "Did not receive new update state before "
                     "timeout. Check current state");
          // Whatever happens next is decided on the state the module is in now.
          DeviceUpgradeState current = state;
          if (DeviceGetUpgradeState(handle, &current) == kKvoResultSuccess) {
            state = current;
            PublishState(state);
          }
          if (TargetReachedLogged(handle)) return UpdateFinish(handle, true);
          if (state == 3 || state == 11) {
            KvoLogInfo(kSender, "Device is still installing update packages");
            --retries;
          } else {
            KvoLogInfo(kSender,
                       "Update is not finished. Check and perform action based "
                       "on ustate: %d",
                       state);
            step = UpdateCheckAndPerformAction(handle, kUcTriggerModuleStatusChanged,
                                               kUcUserInteractionUnknown,
                                               kUcNetConfigurationAvailable, state);
            if (device_gone) return DeviceGone();
            if (step == kKvoResultGeneralErrorAtError) {
              if (at_error()) return GiveUpAfterAtErrors(handle);
            } else {
              at_errors = 0;
              --retries;
            }
          }
        } else if (process == kUpdateProcessStateNewUpdateState) {
          KvoLogInfo(kSender, "Received a new update state.");
          step = UpdateCheckAndPerformAction(handle, kUcTriggerModuleStatusChanged,
                                             kUcUserInteractionUnknown,
                                             kUcNetConfigurationAvailable, state);
          if (device_gone) return DeviceGone();
          if (step == kKvoResultSuccess) {
            at_errors = 0;
            if (IsOneOf(state, {1, 4, 5, 12, 13})) {
              KvoLogInfo(kSender, "Check if update is finished.");
              if (TargetReachedLogged(handle)) return UpdateFinish(handle, true);
            }
            retries = kRetries;
          } else if (step == kKvoResultGeneralErrorAtError) {
            if (at_error()) return GiveUpAfterAtErrors(handle);
          } else {
            if (TargetReachedLogged(handle)) return UpdateFinish(handle, true);
            KvoLogErrorCode(kSender, step);
            return step;
          }
        } else if (process == kUpdateProcessStateRestartDevice) {
          KvoLogInfo(kSender,
                     "The device was unexpectedly closed. Check if "
                     "current upgrade state indicates "
                     "a device self restart.");
          if (state == 3 || state == 11) {
            KvoLogInfo(kSender, "The device was unexpectedly restarted.\n");
            UpdatePerformAction(handle, kUcTriggerModuleStatusChanged, kUcUserInteractionUnknown,
                                kUcNetConfigurationAvailable, state, kUcActionActivationNotif);
            if (device_gone) return DeviceGone();
          } else {
            KvoLogInfo(kSender, "The device was lost.\n");
            UpdatePerformAction(handle, kUcTriggerModuleStatusChanged, kUcUserInteractionUnknown,
                                kUcNetConfigurationAvailable, state, kUcActionActivationError);
            const KvoResult reopened = DeviceReopen(handle, kLostReopenTries, kRestartSeconds);
            if (reopened != kKvoResultSuccess) {
              KvoLogErrorCode(kSender, reopened);
              return kKvoResultDeviceErrorDeviceNotOpen;
            }
            const KvoResult settled = AfterReopen(handle);
            if (settled != kKvoResultSuccess) return settled;
          }
        }
      } while (retries > 0);
      return UpdateFinish(handle, false);
    }();
    if (from_confirmation) {
      allow_begin_called = true;
      allow_begin_result = result;
    }
  }
  return result;
}

KVO_API KvoResult KvoUpdateAllowRestart(KvoDeviceHandle handle, bool allow) {
  if (!IsUpdateContainerLoaded()) {
    KvoLogError(kSender, "No update container has been loaded");
    return kKvoResultUpdateErrorFailedToLoadDLL;
  }
  if (!allow) return kKvoResultDeviceErrorFailedToReset;
  const KvoResult result = KvoDeviceReset(handle);
  if (update_condition.mutex == nullptr) return result;
  if (result != kKvoResultSuccess) {
    // A module that did not come back leaves a released handle: the running update ends now
    // instead of asking for restarts it can no longer carry out.
    if (DeviceCheckHandle(handle) != kKvoResultSuccess) device_gone = true;
    return result;
  }
  return AfterReopen(handle);
}
