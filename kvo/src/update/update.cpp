#include "kvo/src/update/update.h"

#include <apr_dso.h>
#include <apr_errno.h>
#include <apr_strings.h>
#include <apr_time.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <memory>

#include "common/src/common_functions.h"
#include "common/src/load_guard.h"
#include "common/src/wait_seam.h"
#include "kvo/src/device/information.h"
#include "transport/src/common/common.h"
#include "transport/src/device/device.h"
#include "transport/src/transparent_channel/transparent_channel.h"

namespace {

constexpr const char* kSender = "KVO:Update";

constexpr apr_interval_time_t kShortWait = 3 * APR_USEC_PER_SEC;
constexpr apr_interval_time_t kLongWait = 60 * APR_USEC_PER_SEC;
constexpr int kRetries = 5;
constexpr unsigned kEevinfoTimeout = 10;
constexpr unsigned kUstateEventsTimeout = 5;
constexpr unsigned kResetTimeout = 10;
constexpr uint32_t kTcTimeout = 5;
constexpr unsigned kReopenTries = 60;
constexpr unsigned kLostReopenTries = 30;
constexpr unsigned kRestartSeconds = 15;
constexpr unsigned kApiMajor = 3;
constexpr unsigned kApiMinor = 1;

char container_path[512];
apr_dso_handle_t* dso_handle = nullptr;

UcGetApiVersionFunction uc_get_api_version_fn = nullptr;
UcGetRevisionFunction uc_get_revision_fn = nullptr;
UcGetProductFunction uc_get_product_fn = nullptr;
UcGetNextActionFunction uc_get_next_action_fn = nullptr;
UcGetUpdateInformationFunction uc_get_update_information_fn = nullptr;
UcGetNetConfigurationFunction uc_get_net_configuration_fn = nullptr;
UcGetTotalSizeOfUpdateFunction uc_get_total_size_of_update_fn = nullptr;
UcGetNextUpdateItemFunction uc_get_next_update_item_fn = nullptr;
UcGetUpgradePathsFunction uc_get_upgrade_paths_fn = nullptr;
UcSetLogFunctionCallbackFunction uc_set_log_callback_fn = nullptr;

apr_pool_t* update_memory_pool = nullptr;

KvoUpdateCallback* update_callback = nullptr;
KvoDeviceHandle update_handle = 0;
const void* update_client_data = nullptr;

size_t total_size = 0;
size_t sent_size = 0;
KvoPercent progress = 0;
KvoRevision target_revision;

// Kept between runs on purpose: a later run starts with the wait the last one
// ended with.
apr_interval_time_t kUpdateWaitTimeout = kShortWait;

update_state_synch update_condition;

// Whether UpdateHandleCallbacks is in the AT channel's listener table. The
// channel drops every listener of a handle when the port fails (after telling
// them), so the engine tracks it to register again after a reopen and to
// unregister only what is still there. Guarded by update_condition.mutex.
bool listener_registered = false;

// A KvoUpdateAllowBegin made by the application from inside a
// begin-confirmation event: its result becomes the result of the update rather
// than being lost in the callback.
bool in_begin_confirmation = false;
bool allow_begin_called = false;
KvoResult allow_begin_result = kKvoResultSuccess;

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};

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

void SendEvent(KvoDeviceHandle handle, KvoUpdateEvent* event) {
  if (update_callback == nullptr) return;
  update_callback(handle, event, update_client_data);
}

void SendSimpleEvent(KvoDeviceHandle handle, KvoUpdateEventType type,
                     UcInstallFlagType install_flag) {
  KvoUpdateEvent event;
  memset(&event, 0, sizeof event);
  event.type = type;
  event.information.type = static_cast<KvoUpdateType>(install_flag);
  SendEvent(handle, &event);
}

bool IsOneOf(DeviceUpgradeState state, std::initializer_list<DeviceUpgradeState> states) {
  for (DeviceUpgradeState s : states) {
    if (s == state) return true;
  }
  return false;
}

const char* ActionName(UcActionType action) {
  switch (action) {
    case kUcActionNone:
      return "kUcActionNone";
    case kUcActionInvalidPackage:
      return "kUcActionInvalidPackage";
    case kUcActionNoUpgradeNeeded:
      return "kUcActionNoUpgradeNeeded";
    case kUcActionDoUpgradeConfirm:
      return "kUcActionDoUpgradeConfirm";
    case kUcActionDoUpgradeNotif:
      return "kUcActionDoUpgradeNotif";
    case kUcActionConfigsetCloseGUI:
      return "kUcActionConfigsetCloseGUI";
    case kUcActionConfigSet:
      return "kUcActionConfigSet";
    case kUcActionWithProgressInfo:
      return "kUcActionWithProgressInfo";
    case kUcActionWithoutProgressInfo:
      return "kUcActionWithoutProgressInfo";
    case kUcActionUpgradeReadyReporting:
      return "kUcActionUpgradeReadyReporting";
    case kUcActionActivationConfirm:
      return "kUcActionActivationConfirm";
    case kUcActionActivationNotifReset:
      return "kUcActionActivationNotifReset";
    case kUcActionActivationNotif:
      return "kUcActionActivationNotif";
    case kUcActionModuleActivation:
      return "kUcActionModuleActivation";
    case kUcActionDeleteContainer:
      return "kUcActionDeleteContainer";
    case kUcActionCloseGUI:
      return "kUcActionCloseGUI";
    case kUcActionUpgradeNotAvailable:
      return "kKvoResultUpdateErrorNoUpdateAvailable";
    case kUcActionReceivedUpdatePackages:
      return "kUcActionReceivedUpdatePackages";
    case kUcActionInstalling:
      return "kUcActionInstalling";
    case kUcActionUpdateSucceeded:
      return "kUcActionUpdateSucceeded";
    case kUcActionActivationError:
      return "kUcActionActivationError";
    case kUcActionInvalidConfiguration:
      return "kUcActionInvalidConfiguration";
  }
  return nullptr;
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

TlResult RegisterListener(KvoDeviceHandle handle) {
  const TlResult result = TlAtRegisterCallback(handle, UpdateHandleCallbacks, kSender);
  if (result == kTlResultSuccess) SetListenerRegistered(true);
  return result;
}

// After the engine reopened the port: a port-failure notice that came before
// the reopen is settled by it, and the listener that the failure removed is
// registered again.
void AfterReopen(KvoDeviceHandle handle) {
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
}

KvoResult ReopenDevice(KvoDeviceHandle handle, unsigned tries) {
  const KvoResult result = DeviceReopen(handle, tries, kRestartSeconds);
  if (result != kKvoResultSuccess) {
    KvoLogErrorCode(kSender, result);
    return result;
  }
  AfterReopen(handle);
  return result;
}

KvoResult SendTransparentChannelPayload(KvoDeviceHandle handle, const char* tag,
                                        const unsigned char* data, size_t size,
                                        TlTcProgressCallback* progress_callback) {
  TlResult result = TlTcOpen(handle, kTlTcVersionTwo, kTcTimeout);
  if (result != kTlResultSuccess) {
    KvoLogError(kSender, "%s - Could not open TC (%d)\n", tag, result);
    return kKvoResultDeviceErrorTransparentChannel;
  }
  // The channel writes the request id into the payload, and the container's
  // bytes are constant: send a copy.
  std::unique_ptr<unsigned char, FreeDeleter> copy(
      static_cast<unsigned char*>(malloc(size > 0 ? size : 1)));
  if (!copy) {
    TlTcClose(handle, kTcTimeout);
    return kKvoResultGeneralErrorMemory;
  }
  if (size > 0 && data != nullptr) memcpy(copy.get(), data, size);
  result = TlTcSend(handle, progress_callback, kTcTimeout, data != nullptr ? copy.get() : nullptr,
                    size, nullptr, nullptr);
  if (result != kTlResultSuccess) {
    KvoLogError(kSender, "%s - Error when sending payload (%d)\n", tag, result);
    // Back to AT mode, so that the module can still be asked where it stands.
    TlTcClose(handle, kTcTimeout);
    return kKvoResultDeviceErrorTransparentChannel;
  }
  result = TlTcClose(handle, kTcTimeout);
  if (result == kTlResultTransparentChannelErrorUnableToCloseTcChannel) {
    KvoLogError(kSender, "%s - Could not close TC (%d)\n", tag, result);
    return kKvoResultDeviceErrorTransparentChannel;
  }
  return kKvoResultSuccess;
}

KvoResult UpdateGetTotalSizeOfUpdate(KvoDeviceHandle handle, DeviceUpgradeState ustate,
                                     bool* nothing_to_send) {
  *nothing_to_send = false;
  KvoLogInfo(kSender,
             "Will wait 2 seconds to allow the device to enumerate "
             "all files that will be sent.");
  CommonSleep(2 * APR_USEC_PER_SEC);
  AtResultHolder at;
  const TlResult sent = TlAtSend(handle, "AT*EEVINFO=4", kEevinfoTimeout, at.get());
  if (sent != kTlResultSuccess || !at.ok()) {
    KvoLogError(kSender, "Failed to send AT*EEVINFO=4");
    return kKvoResultGeneralErrorAtError;
  }
  KvoLogDebug(kSender, "AT*EEVINFO=4: %s", at.text());
  size_t total = 0;
  const UcStatus status = uc_get_total_size_of_update_fn(at.text(), &total);
  KvoLogDebug(kSender, "Status: %d (4=success) Total size of update items to upgrade: %d\n", status,
              static_cast<int>(total));
  total_size = total;
  KvoResult result = kKvoResultSuccess;
  if (status == kUcUpdateErrorMissingFile) {
    KvoLogError(kSender, "The update container is invalid, some files are missing!\n");
    result = kKvoResultUpdateErrorMissFilesInPackage;
  } else if (status == kUcUpdateNoFilesFoundInEeevinfo) {
    KvoLogError(kSender,
                "Could not retrieve information about necessary "
                "update files from AT*EEVINFO=4\n");
    result = kKvoResultGeneralErrorAtError;
  } else if (status == kUcUpdateError) {
    KvoLogError(kSender, "Failed to retrieve data from AT*EEVINFO=4\n");
    result = kKvoResultGeneralErrorAtError;
  }
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to get total size of update.");
    return result;
  }
  if (total == 0) {
    *nothing_to_send = true;
    return ustate <= 1 ? kKvoResultUpdateErrorNoUpdateNeeded : kKvoResultSuccess;
  }
  return kKvoResultSuccess;
}

KvoResult UpdateSendNextUpdateItem(KvoDeviceHandle handle) {
  for (;;) {
    unsigned char* data = nullptr;
    size_t size = 0;
    const UcStatus status = uc_get_next_update_item_fn(&data, &size);
    if (status == kUcUpdateDone) return kKvoResultSuccess;
    if (status == kUcUpdateErrorContainer) {
      KvoLogError(kSender, "Failed to load dynamic symbol object\n");
      return kKvoResultUpdateErrorFailedToLoadDLL;
    }
    if (SendTransparentChannelPayload(handle, "UpdateSendNextUpdateItem", data, size,
                                      UpdateTlTcProgressCallback) != kKvoResultSuccess) {
      KvoLogError(kSender, "Failed to send assignment with transparent channel\n");
      return kKvoResultDeviceErrorTransparentChannel;
    }
    KvoLogDebug(kSender, "Action: kUcActionWithProgressInfo - continue to send next item (%d)\n",
                status);
  }
}

KvoResult UpdateTransferPackages(KvoDeviceHandle handle, UcInstallFlagType install_flag,
                                 DeviceUpgradeState ustate, UcActionType action) {
  bool nothing_to_send = false;
  KvoResult result = UpdateGetTotalSizeOfUpdate(handle, ustate, &nothing_to_send);
  if (result != kKvoResultSuccess || nothing_to_send) return result;
  if (progress != 0) {
    sent_size = 0;
    progress = 0;
  }
  result = UpdateSendNextUpdateItem(handle);
  if (result == kKvoResultSuccess && action == kUcActionWithProgressInfo) {
    SendSimpleEvent(handle, kKvoUpdateEventTypeReceivedUpdatePackages, install_flag);
  }
  return result;
}

KvoResult UpdateGetNextAction(KvoDeviceHandle handle, UcTriggerType trigger,
                              UcInstallFlagType install_flag,
                              UcUpdateInformationType update_information, DeviceUpgradeState ustate,
                              UcActionType* action) {
  char state_text[16];
  apr_snprintf(state_text, sizeof state_text, "%u", ustate);
  switch (ustate) {
    case 2:
      if (trigger == kUcTriggerInitial) {
        KvoLogDebug(kSender, "Ustate %d: Resuming the update of the device\n", ustate);
        *action = kUcActionDoUpgradeNotif;
        return kKvoResultSuccess;
      }
      break;
    case 3:
    case 11:
      KvoLogDebug(kSender, "Ustate %s: The installation of the update package has started!\n",
                  state_text);
      *action = install_flag != kUcUserInteractionSilent ? kUcActionInstalling : kUcActionNone;
      return kKvoResultSuccess;
    case 4:
    case 12:
      KvoLogDebug(kSender,
                  "Ustate %s: All the update items are available according to "
                  "the current net "
                  "configuration. The module needs to be restarted!\n",
                  state_text);
      if (trigger == kUcTriggerInitial || trigger == kUcTriggerModuleStatusChanged) {
        *action = kUcActionActivationConfirm;
      } else if (trigger == kUcTriggerUserConfirmActivation) {
        *action = kUcActionModuleActivation;
      } else {
        *action = kUcActionNone;
      }
      return kKvoResultSuccess;
    case 5:
    case 13:
      KvoLogDebug(kSender,
                  "Ustate %s: All the update items are available according to "
                  "the current net "
                  "configuration.           The device will restart.\n",
                  state_text);
      *action = install_flag != kUcUserInteractionSilent ? kUcActionActivationNotif : kUcActionNone;
      return kKvoResultSuccess;
    default:
      break;
  }
  KvoLogDebug(kSender, "Ustate %d: Send ustate to update container to get next action\n", ustate);
  KvoLogDebug(kSender, "Trigger=%d Install flag=%d Update Information=%d\n", trigger, install_flag,
              update_information);
  AtResultHolder at;
  if (TlAtSend(handle, "AT*EEVINFO=4", kEevinfoTimeout, at.get()) != kTlResultSuccess) {
    KvoLogError(kSender, "Failed to send AT*EEVINFO=4");
    *action = kUcActionNone;
    return kKvoResultSuccess;
  }
  *action = uc_get_next_action_fn(at.text(), trigger, install_flag, update_information);
  KvoLogDebug(kSender, "Next action = %d Net config = %d (0=available)\n", *action,
              update_information);
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

void UpdateConvertUcPath(const UcPathStructType* source, KvoUpdatePath* target) {
  apr_cpystrn(target->current, source->current_rstate != nullptr ? source->current_rstate : "",
              sizeof target->current);
  apr_cpystrn(target->target, source->target_rstate != nullptr ? source->target_rstate : "",
              sizeof target->target);
}

KvoResult UpdateGetUpdatePaths(KvoUpdatePathStructType** list, size_t* list_size) {
  UcPathStructType* paths = nullptr;
  size_t count = 0;
  uc_get_upgrade_paths_fn(&paths, &count);
  if (paths == nullptr || count == 0) return kKvoResultUpdateErrorNoPathsFound;
  auto* out = static_cast<KvoUpdatePathStructType*>(calloc(1, sizeof(KvoUpdatePathStructType)));
  if (out == nullptr) return kKvoResultGeneralErrorMemory;
  const size_t limit = sizeof out->path_list / sizeof out->path_list[0];
  if (count > limit) count = limit;
  for (size_t i = 0; i < count; ++i) UpdateConvertUcPath(&paths[i], &out->path_list[i]);
  *list = out;
  if (list_size != nullptr) *list_size = count;
  return kKvoResultSuccess;
}

void DestroyPool() {
  if (update_memory_pool != nullptr) apr_pool_destroy(update_memory_pool);
  update_memory_pool = nullptr;
  update_condition.mutex = nullptr;
  update_condition.condition = nullptr;
}

}  // namespace

void UpdateBuildContainerPath(const char* file_path, char* path, size_t size) {
  const size_t length = strlen(file_path);
  if (length > 2 && (file_path[1] == ':' || file_path[0] == '/' ||
                     (file_path[0] == '.' && file_path[1] == '/'))) {
    apr_cpystrn(path, file_path, size);
  } else {
    apr_snprintf(path, size, "./%s", file_path);
  }
}

bool IsUpdateContainerLoaded(void) {
  return dso_handle != nullptr;
}

bool UpdateLoadUpdateContainer(apr_pool_t* pool, const char* file_path) {
  const char* refused = CommonLoadGuardCheck(file_path);
  if (refused != nullptr) {
    KvoLogError(kSender, "Refusing to load %s: %s.", file_path, refused);
    return false;
  }
  apr_status_t status = apr_dso_load(&dso_handle, file_path, pool);
  if (status != APR_SUCCESS) {
    char error[256];
    KvoLogError(kSender, "Failed to load container");
    KvoLogDebug(kSender, "%s", apr_dso_error(dso_handle, error, sizeof error));
    dso_handle = nullptr;
    return false;
  }
  struct Symbol {
    const char* name;
    void** target;
    const char* message;
  };
  const Symbol symbols[] = {
      {"UcSetLogFunctionCallback", reinterpret_cast<void**>(&uc_set_log_callback_fn),
       "Failed to load log callback: %d\n"},
      {"UcGetNextAction", reinterpret_cast<void**>(&uc_get_next_action_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetUpdateInformation", reinterpret_cast<void**>(&uc_get_update_information_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetNetConfiguration", reinterpret_cast<void**>(&uc_get_net_configuration_fn),
       "UpdateSendNetConfiguration - Failed to load dynamic symbol object: "
       "%d\n"},
      {"UcGetTotalSizeOfUpdate", reinterpret_cast<void**>(&uc_get_total_size_of_update_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetNextUpdateItem", reinterpret_cast<void**>(&uc_get_next_update_item_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetApiVersion", reinterpret_cast<void**>(&uc_get_api_version_fn),
       "Failed to load dynamic symbol object of UcGetApiVersion: %d"},
      {"UcGetRevision", reinterpret_cast<void**>(&uc_get_revision_fn),
       "Failed to load dynamic symbol object of UcGetRevision: %d"},
      {"UcGetProduct", reinterpret_cast<void**>(&uc_get_product_fn),
       "Failed to load dynamic symbol object of UcGetProduct: %d"},
      {"UcGetUpgradePaths", reinterpret_cast<void**>(&uc_get_upgrade_paths_fn),
       "Failed to load dynamic symbol object: %d\n"},
  };
  for (const Symbol& symbol : symbols) {
    apr_dso_handle_sym_t address = nullptr;
    status = apr_dso_sym(&address, dso_handle, symbol.name);
    if (status != APR_SUCCESS || address == nullptr) {
      KvoLogError(kSender, symbol.message, status);
      UpdateUnloadUpdateContainer();
      return false;
    }
    *symbol.target = reinterpret_cast<void*>(address);
  }
  uc_set_log_callback_fn(UpdateHandleLogCallback);
  KvoLogInfo(kSender, "Successfully loaded update container.");
  return true;
}

bool UpdateUnloadUpdateContainer(void) {
  if (dso_handle == nullptr) return false;
  apr_dso_unload(dso_handle);
  dso_handle = nullptr;
  uc_get_api_version_fn = nullptr;
  uc_get_revision_fn = nullptr;
  uc_get_product_fn = nullptr;
  uc_get_next_action_fn = nullptr;
  uc_get_update_information_fn = nullptr;
  uc_get_net_configuration_fn = nullptr;
  uc_get_total_size_of_update_fn = nullptr;
  uc_get_next_update_item_fn = nullptr;
  uc_get_upgrade_paths_fn = nullptr;
  uc_set_log_callback_fn = nullptr;
  return true;
}

void UpdateHandleLogCallback(const char* sender, UcLogType type, const char* format,
                             va_list arguments) {
  TlLogType tl_type = kTlLogTypeDebug;
  switch (type) {
    case kUcLogTypeError:
      tl_type = kTlLogTypeError;
      break;
    case kUcLogTypeInfo:
      tl_type = kTlLogTypeInfo;
      break;
    case kUcLogTypeTrace:
      tl_type = kTlLogTypeTrace;
      break;
    default:
      tl_type = kTlLogTypeDebug;
      break;
  }
  TlLogRaw(sender, tl_type, format, arguments);
}

void UpdateHandleCallbacks(TlResult result, TlDeviceHandle, TlAtResult* at_result, const void*) {
  if (update_condition.mutex == nullptr) {
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

KvoResult UpdateCheckAndPerformAction(KvoDeviceHandle handle, UcTriggerType trigger,
                                      UcInstallFlagType install_flag,
                                      UcUpdateInformationType update_information,
                                      DeviceUpgradeState ustate) {
  if (!IsUpdateContainerLoaded()) return kKvoResultUpdateErrorFailedToLoadDLL;
  UcVersion version = {0, 0};
  uc_get_api_version_fn(&version);
  if (version.major != kApiMajor) {
    KvoLogError(kSender,
                "Update Container API version mismatch, API is %d.%d but "
                "library is %d.%d.",
                kApiMajor, kApiMinor, version.major, version.minor);
    return kKvoResultGeneralErrorApiVersionMismatch;
  }
  UcProductNumber product;
  UcRevision revision;
  memset(product, 0, sizeof product);
  memset(revision, 0, sizeof revision);
  uc_get_product_fn(&product);
  uc_get_revision_fn(&revision);
  KvoLogInfo(kSender, "Using Update Container %s revision %s", product, revision);

  UcActionType action = kUcActionNone;
  const KvoResult result =
      UpdateGetNextAction(handle, trigger, install_flag, update_information, ustate, &action);
  if (result != kKvoResultSuccess) return result;
  return UpdatePerformAction(handle, trigger, install_flag, update_information, ustate, action);
}

KvoResult UpdatePerformAction(KvoDeviceHandle handle, UcTriggerType trigger,
                              UcInstallFlagType install_flag,
                              UcUpdateInformationType update_information, DeviceUpgradeState ustate,
                              UcActionType action) {
  const char* name = ActionName(action);
  if (name != nullptr) {
    KvoLogDebug(kSender, "Action: %s\n", name);
  } else {
    KvoLogDebug(kSender, "Action: unknown action\n");
  }
  switch (action) {
    case kUcActionNone:
      return update_information == kUcNetConfigurationInvalid ? kKvoResultUpdateErrorInvalidPackage
                                                              : kKvoResultSuccess;
    case kUcActionInvalidPackage:
    case kUcActionInvalidConfiguration:
      return kKvoResultUpdateErrorInvalidPackage;
    case kUcActionNoUpgradeNeeded:
      return kKvoResultUpdateErrorNoUpdateNeeded;
    case kUcActionUpgradeNotAvailable:
      return kKvoResultUpdateErrorNoUpdateAvailable;
    case kUcActionDoUpgradeConfirm:
    case kUcActionDoUpgradeNotif:
      return UpdateGetUpdateInformation(handle, trigger, install_flag, update_information);
    case kUcActionConfigsetCloseGUI:
    case kUcActionConfigSet:
      return UpdateSendNetConfiguration(handle);
    case kUcActionWithProgressInfo:
    case kUcActionWithoutProgressInfo:
      return UpdateTransferPackages(handle, install_flag, ustate, action);
    case kUcActionUpgradeReadyReporting:
    case kUcActionUpdateSucceeded:
      SendSimpleEvent(handle, kKvoUpdateEventTypeSuccess, install_flag);
      return kKvoResultSuccess;
    case kUcActionActivationConfirm:
      SendSimpleEvent(handle, kKvoUpdateEventTypeRestartConfirmationNeeded, install_flag);
      return kKvoResultSuccess;
    case kUcActionActivationNotifReset:
    case kUcActionActivationNotif:
      if (ustate == 1) return kKvoResultSuccess;
      SendSimpleEvent(handle, kKvoUpdateEventTypeRestartNotified, install_flag);
      KvoLogInfo(kSender, "Wait for device to reconnect\n");
      return ReopenDevice(handle, kReopenTries);
    case kUcActionModuleActivation: {
      AtResultHolder at;
      if (TlAtSend(handle, "AT*E2RESET", kResetTimeout, at.get()) != kTlResultSuccess || !at.ok()) {
        KvoLogError(kSender, "Failed to send AT*E2RESET");
        return kKvoResultGeneralErrorAtError;
      }
      KvoLogInfo(kSender, "Wait for device to reconnect\n");
      return ReopenDevice(handle, kReopenTries);
    }
    case kUcActionDeleteContainer:
    case kUcActionCloseGUI:
      return kKvoResultSuccess;
    case kUcActionReceivedUpdatePackages:
      SendSimpleEvent(handle, kKvoUpdateEventTypeReceivedUpdatePackages, install_flag);
      return kKvoResultSuccess;
    case kUcActionInstalling:
      SendSimpleEvent(handle, kKvoUpdateEventTypeInstalling, install_flag);
      return kKvoResultSuccess;
    case kUcActionActivationError:
      SendSimpleEvent(handle, kKvoUpdateEventTypeDeviceLost, install_flag);
      return kKvoResultSuccess;
  }
  return kKvoResultSuccess;
}

KvoResult UpdateGetUpdateInformation(KvoDeviceHandle handle, UcTriggerType trigger,
                                     UcInstallFlagType install_flag,
                                     UcUpdateInformationType update_information) {
  KvoLogDebug(kSender, "trigger=%d install_flag=%d update_information=%d\n", trigger, install_flag,
              update_information);
  AtResultHolder at;
  if (TlAtSend(handle, "AT*EEVINFO=4", kEevinfoTimeout, at.get()) != kTlResultSuccess) {
    KvoLogError(kSender, "Failed to send AT*EEVINFO=4");
    return kKvoResultGeneralErrorAtError;
  }
  char model[64] = {0};
  char current[64] = {0};
  char target[64] = {0};
  char operator_domain[64] = {0};
  char hplmn[8] = {0};
  char user_interaction[16] = {0};
  const UcUpdateInformationType available = uc_get_update_information_fn(
      at.text(), model, current, target, operator_domain, hplmn, user_interaction);
  KvoLogDebug(kSender, "netconfig_available: %d\n", available);

  DeviceUpgradeState ustate = 0;
  const KvoResult state_result = DeviceGetUpgradeState(handle, &ustate);
  if (state_result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to get upgrade state");
    KvoLogErrorCode(kSender, state_result);
    return kKvoResultGeneralErrorAtError;
  }
  switch (available) {
    case kUcNetConfigurationAlreadyOnTarget:
      if (ustate == 1) return kKvoResultUpdateErrorNoUpdateAvailable;
      break;
    case kUcNetConfigurationNotAvailable:
    case kUcNetConfigurationInvalid:
      if (DeviceCheckIfTargetIsReached(handle)) {
        KvoLogInfo(kSender, "Target revision %s has been reached.", target_revision);
        return UpdatePerformAction(handle, kUcTriggerModuleStatusChanged, kUcUserInteractionUnknown,
                                   kUcNetConfigurationAvailable, 1, kUcActionUpdateSucceeded);
      }
      return available == kUcNetConfigurationNotAvailable ? kKvoResultUpdateErrorNoPackageSet
                                                          : kKvoResultUpdateErrorInvalidPackage;
    default:
      break;
  }

  UcInstallFlagType flag = install_flag;
  if (flag == kUcUserInteractionUnknown) {
    if (apr_strnatcmp(user_interaction, "Confirm") == 0) {
      flag = kUcUserInteractionConfirmed;
    } else if (apr_strnatcmp(user_interaction, "Silent") == 0) {
      flag = kUcUserInteractionSilent;
    } else if (apr_strnatcmp(user_interaction, "Notify") == 0) {
      flag = kUcUserInteractionNotified;
    }
  }

  KvoUpdateEvent event;
  memset(&event, 0, sizeof event);
  const bool confirm = flag == kUcUserInteractionConfirmed;
  event.type = confirm ? kKvoUpdateEventTypeBeginConfirmationNeeded : kKvoUpdateEventTypeBegin;
  event.progress = 0;
  event.information.type = static_cast<KvoUpdateType>(flag);
  apr_cpystrn(event.information.model, model, sizeof event.information.model);
  apr_cpystrn(event.information.current_configuration, current,
              sizeof event.information.current_configuration);
  apr_cpystrn(event.information.target_configuration, target,
              sizeof event.information.target_configuration);
  if (strcmp(current, target) == 0) {
    event.type =
        confirm ? kKvoUpdateEventTypeBeginResumeConfirmationNeeded : kKvoUpdateEventTypeBeginResume;
  }
  const char* blank = strchr(target, ' ');
  if (blank != nullptr) apr_cpystrn(target_revision, blank + 1, sizeof target_revision);

  KvoLogDebug(kSender, "event.type: %d\n", event.type);
  KvoLogDebug(kSender, "event.progress: %d\n", event.progress);
  KvoLogDebug(kSender, "event.information.type: %d\n", event.information.type);
  KvoLogDebug(kSender, "event.information.model: %s\n", event.information.model);
  KvoLogDebug(kSender, "event.information.current_configuration: %s\n",
              event.information.current_configuration);
  KvoLogDebug(kSender, "event.information.target_configuration: %s\n",
              event.information.target_configuration);

  if (confirm) {
    in_begin_confirmation = true;
    allow_begin_called = false;
    allow_begin_result = kKvoResultSuccess;
    SendEvent(handle, &event);
    in_begin_confirmation = false;
    // The application went on from its callback: what that run ended with is
    // the update's result.
    return allow_begin_called ? allow_begin_result : kKvoResultSuccess;
  }
  SendEvent(handle, &event);
  return KvoUpdateAllowBegin(handle, true);
}

KvoResult UpdateSendNetConfiguration(KvoDeviceHandle handle) {
  AtResultHolder at;
  if (TlAtSend(handle, "AT*EEVINFO=4", kEevinfoTimeout, at.get()) != kTlResultSuccess) {
    KvoLogError(kSender, "UpdateSendNetConfiguration - Failed to send AT*EEVINFO=4");
    return kKvoResultGeneralErrorAtError;
  }
  KvoLogDebug(kSender, "%s: %s\n", "AT*EEVINFO=4", at.text());
  unsigned char* data = nullptr;
  size_t size = 0;
  const UcStatus status = uc_get_net_configuration_fn(at.text(), &data, &size);
  KvoLogDebug(kSender,
              "UpdateSendNetConfiguration - Get net configuration status=%d "
              "(size=%d)\n",
              status, static_cast<int>(size));
  if (status != kUcUpdateSuccess) {
    data = nullptr;
    size = 0;
  }
  return SendTransparentChannelPayload(handle, "UpdateSendNetConfiguration", data, size, nullptr);
}

void UpdateTlTcProgressCallback(unsigned int bytes_sent, unsigned int bytes_total) {
  double value = 0.0;
  if (total_size > 0) {
    value = (static_cast<double>(sent_size) + bytes_sent) / static_cast<double>(total_size) * 100.0;
  }
  if (value > 100.0) value = 100.0;
  if (value < 0.0) value = 0.0;
  progress = static_cast<KvoPercent>(value);
  if (bytes_sent == bytes_total) sent_size += bytes_sent;
  KvoUpdateEvent event;
  memset(&event, 0, sizeof event);
  event.type = kKvoUpdateEventTypeProgress;
  event.progress = progress;
  SendEvent(update_handle, &event);
}

bool DeviceCheckIfTargetIsReached(KvoDeviceHandle handle) {
  DeviceUpgradeState state = 0;
  KvoResult result = DeviceGetUpgradeState(handle, &state);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to get upgrade state");
    KvoLogErrorCode(kSender, result);
    return false;
  }
  if (state != 1) {
    KvoLogInfo(kSender, "Update process is not complete. Current state: %d", state);
    return false;
  }
  result = KvoDeviceForceCacheRefresh(handle);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to refresh device information");
    KvoLogErrorCode(kSender, result);
    return false;
  }
  KvoRevision current;
  memset(current, 0, sizeof current);
  result = KvoDeviceGetConfigurationSetRevision(handle, &current);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to get upgrade state");
    KvoLogErrorCode(kSender, result);
    return false;
  }
  const int comparison = strcmp(current, target_revision);
  KvoLogInfo(kSender, "Checking if the target has been reached, Current: %s Target: %s.", current,
             target_revision);
  KvoLogInfo(kSender, "Comparison returned %d (%s).", comparison,
             comparison == 0 ? "equal" : "not equal");
  return comparison == 0;
}

KVO_API KvoResult KvoUpdateRegisterCallback(KvoDeviceHandle handle, KvoUpdateCallback* callback,
                                            const void* client_data) {
  update_handle = handle;
  update_callback = callback;
  update_client_data = client_data;
  return kKvoResultSuccess;
}

// The update's pool and the container loaded into it; on failure nothing is left behind.
static KvoResult CreatePoolAndLoadContainer() {
  if (apr_pool_create(&update_memory_pool, nullptr) != APR_SUCCESS) {
    update_memory_pool = nullptr;
    KvoLogError(kSender,
                "Failed to create memory pool needed in update state "
                "machine. Aborting!");
    return kKvoResultGeneralErrorMemory;
  }
  if (!UpdateLoadUpdateContainer(update_memory_pool, container_path)) {
    KvoLogError(kSender, "Failed to load update container.");
    DestroyPool();
    return kKvoResultUpdateErrorFailedToLoadDLL;
  }
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
  UpdateBuildContainerPath(file_path, container_path, sizeof container_path);

  total_size = 0;
  sent_size = 0;
  progress = 0;
  update_condition.mutex = nullptr;
  update_condition.condition = nullptr;
  update_condition.new_upgrade_state = 0;
  update_condition.old_upgrade_state = 0;
  update_condition.update_process_state = kUpdateProcessStateInit;
  memset(target_revision, 0, sizeof target_revision);
  listener_registered = false;

  const KvoResult loaded = CreatePoolAndLoadContainer();
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
  result = EnableUpgradeStateEvents(handle);
  if (result != kKvoResultSuccess) {
    UpdateUnloadUpdateContainer();
    DestroyPool();
    return result;
  }
  const TlResult registered = RegisterListener(handle);
  if (registered != kTlResultSuccess) {
    TlLogErrorCode(kSender, registered);
    UpdateUnloadUpdateContainer();
    DestroyPool();
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
  UpdateUnloadUpdateContainer();
  DestroyPool();
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
      DeviceUpgradeState state = 0;
      do {
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
            if (step == kKvoResultGeneralErrorAtError) {
              kUpdateWaitTimeout = kShortWait;
            } else {
              --retries;
            }
          }
        } else if (process == kUpdateProcessStateNewUpdateState) {
          KvoLogInfo(kSender, "Received a new update state.");
          step = UpdateCheckAndPerformAction(handle, kUcTriggerModuleStatusChanged,
                                             kUcUserInteractionUnknown,
                                             kUcNetConfigurationAvailable, state);
          if (step == kKvoResultSuccess) {
            if (IsOneOf(state, {1, 4, 5, 12, 13})) {
              KvoLogInfo(kSender, "Check if update is finished.");
              if (TargetReachedLogged(handle)) return UpdateFinish(handle, true);
            }
            retries = kRetries;
          } else if (step == kKvoResultGeneralErrorAtError) {
            kUpdateWaitTimeout = kShortWait;
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
          } else {
            KvoLogInfo(kSender, "The device was lost.\n");
            UpdatePerformAction(handle, kUcTriggerModuleStatusChanged, kUcUserInteractionUnknown,
                                kUcNetConfigurationAvailable, state, kUcActionActivationError);
            const KvoResult reopened = DeviceReopen(handle, kLostReopenTries, kRestartSeconds);
            if (reopened != kKvoResultSuccess) {
              KvoLogErrorCode(kSender, reopened);
              return kKvoResultDeviceErrorDeviceNotOpen;
            }
            AfterReopen(handle);
            if (DeviceGetUpgradeState(handle, &state) != kKvoResultSuccess) {
              return kKvoResultDeviceErrorFailedToGetInformation;
            }
            if (EnableUpgradeStateEvents(handle) != kKvoResultSuccess) {
              return kKvoResultGeneralErrorAtError;
            }
            kUpdateWaitTimeout = kShortWait;
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
  if (result == kKvoResultSuccess && update_condition.mutex != nullptr) AfterReopen(handle);
  return result;
}

KVO_API KvoResult KvoUpdateGetUpdatePath(KvoDeviceHandle, const char* file_path,
                                         KvoUpdatePathStructType** list, size_t* list_size) {
  if (list != nullptr) *list = nullptr;
  if (list_size != nullptr) *list_size = 0;
  KvoLogInfo(kSender, "Trying to load file: %s", file_path != nullptr ? file_path : "");
  if (file_path == nullptr || !CommonFileExist(file_path)) {
    KvoLogError(kSender, "File '%s' does not exist!", file_path != nullptr ? file_path : "");
    return kKvoResultUpdateErrorCouldNotFindPackage;
  }
  UpdateBuildContainerPath(file_path, container_path, sizeof container_path);
  const KvoResult loaded = CreatePoolAndLoadContainer();
  if (loaded != kKvoResultSuccess) return loaded;
  KvoResult result = kKvoResultSuccess;
  if (list == nullptr) {
    KvoLogError(kSender, "List argument is NULL. Abort!");
    result = kKvoResultGeneralErrorInvalidParameter;
  } else {
    result = UpdateGetUpdatePaths(list, list_size);
  }
  UpdateUnloadUpdateContainer();
  DestroyPool();
  return result;
}

KVO_API KvoResult KvoUpdateReleaseKvoUpdatePath(KvoUpdatePathStructType* list) {
  free(list);
  return kKvoResultSuccess;
}
