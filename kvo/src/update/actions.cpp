// Choosing the next action for the module's upgrade state, and carrying it out.

#include <apr_strings.h>
#include <string.h>

#include "kvo/src/update/update.h"
#include "kvo/src/update/update_engine.h"
#include "transport/src/common/common.h"

using namespace update_engine;

namespace {

constexpr unsigned kResetTimeout = 10;
constexpr unsigned kReopenTries = 60;
constexpr unsigned kApiMajor = 3;
constexpr unsigned kApiMinor = 1;

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

}  // namespace

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
