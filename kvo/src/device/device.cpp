// Device sessions: the table of device records, opening and identifying modules, reopening,
// resetting, the AT/ITP mode of the port, and module-wide controls.

#include "kvo/src/device/device.h"

#include <apr_strings.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/src/wait_seam.h"
#include "kvo/src/custom/custom.h"
#include "kvo/src/device/device_at.h"
#include "kvo/src/device/information.h"
#include "transport/src/at/at.h"
#include "transport/src/device/device.h"

const char* const kDeviceUnknownZrb = "ZRB XXX XX";

namespace {

const char kSender[] = "KVO:Device";

struct DevicePlatformStruct {
  const char* device_zrb;
  KvoDevicePlatformType type;
};

// Tried in this order; the first text found in the product number wins.
const DevicePlatformStruct device_platform_matrix[] = {
    {"ZRB 207 41", kKvoDevicePlatformTypeBrem},  {"ZRB 207 42", kKvoDevicePlatformTypeBrem},
    {"ZRB 207 43", kKvoDevicePlatformTypeCalt},  {"ZRB 207 44", kKvoDevicePlatformTypeDovin},
    {"ZRB 207 45", kKvoDevicePlatformTypeDovin}, {"ZRB 207 46", kKvoDevicePlatformTypeDovin},
    {"ZRB 207 47", kKvoDevicePlatformTypeDovin}, {"ZRB 207 48", kKvoDevicePlatformTypeDovin},
};

DeviceInformation device_information[kDeviceMaxDevices];
bool initialized = false;
// Lives from library start to stop and owns every value map.
apr_pool_t* memory_pool = nullptr;

const unsigned int kReadyTries = 10;
const unsigned int kVersAttempts = 5;
const unsigned int kRadioSettlePolls = 20;
const unsigned int kReopenByHandleAttempts = 300;

const char* ItpModeName(DeviceItpMode mode) {
  switch (mode) {
    case kDeviceItpModeOn:
      return "Enabled";
    case kDeviceItpModeOff:
      return "Disabled";
  }
  return "Unknown";
}

KvoResult CheckInitializedAndRange(KvoDeviceHandle handle) {
  if (!initialized) return kKvoResultGeneralErrorNotInitialized;
  if (handle >= kDeviceMaxDevices) return kKvoResultDeviceErrorInvalidHandle;
  return kKvoResultSuccess;
}

// Brings the port into AT mode before an ordinary AT command.
KvoResult ForceAtMode(KvoDeviceHandle handle) {
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to fetch information in ITP mode.");
  }
  return result;
}

KvoResult DeviceWaitForReady(KvoDeviceHandle handle) {
  KvoLogInfo(kSender, "Waiting for device %u to be ready...", handle);
  char command[32];
  apr_snprintf(command, sizeof(command), "%s?", "AT*EMRDY");
  for (unsigned int attempt = 1; attempt <= kReadyTries; ++attempt) {
    DeviceAtExchange exchange;
    if (exchange.Send(kSender, handle, command, 10) != kTlResultSuccess) {
      return kKvoResultGeneralErrorAtError;
    }
    if (strstr(exchange.Text(), "*EMRDY: 1") != nullptr) {
      KvoLogInfo(kSender, "Device %u is now ready for use.", handle);
      return kKvoResultSuccess;
    }
    if (attempt < kReadyTries) CommonSleep(apr_time_from_sec(1));
  }
  KvoLogError(kSender, "Timeout while waiting for device %u to become ready.", handle);
  return kKvoResultDeviceErrorTimeoutWhileWaitingForReady;
}

// Asks the module to restart; the caller reopens it.
KvoResult SendReset(KvoDeviceHandle handle) {
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, "AT*E2RESET", 10) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange.Ok()) {
    KvoLogError(kSender, "AT command failed when resetting device %u.", handle);
    return kKvoResultDeviceErrorFailedToReset;
  }
  return kKvoResultSuccess;
}

// Reads the information report into the record and decides the platform.
KvoResult IdentifyInAtMode(KvoDeviceHandle handle) {
  DeviceInformation* record = &device_information[handle];
  KvoResult result = DeviceWaitForReady(handle);
  if (result != kKvoResultSuccess) return result;

  DeviceAtExchange exchange;
  result = DeviceSendEevinfo(kSender, handle, 99, &exchange);
  // A refused query changes nothing: the handle keeps the module it knew, and stays usable.
  if (result != kKvoResultSuccess) return result;
  record->type = kKvoDevicePlatformTypeInvalid;
  // The previous report goes: the table first, since clearing it still reads its keys, which live
  // in the pool.
  apr_hash_clear(record->value_map);
  apr_pool_clear(record->value_pool);
  result = DeviceInformationParseEevinfo(record->value_pool, exchange.Text(), record->value_map);
  if (result != kKvoResultSuccess) return result;

  KvoProductNumber product_number;
  result = DeviceInformationGetStringValue(record->value_map, "PRODUCT_NUMBER", product_number,
                                           sizeof(product_number));
  if (result != kKvoResultSuccess) return result;
  for (const DevicePlatformStruct& row : device_platform_matrix) {
    if (strstr(product_number, row.device_zrb) != nullptr) {
      record->zrb = row.device_zrb;
      record->type = row.type;
      return kKvoResultSuccess;
    }
  }
  record->zrb = kDeviceUnknownZrb;
  KvoLogError(kSender, "Unknown device type, product number = \"%s\"", product_number);
  KvoDeviceClose(handle);
  return kKvoResultGeneralErrorUnknownDeviceType;
}

// A module in ITP mode names its platform in its answer to "VERS".
KvoResult IdentifyInItpMode(KvoDeviceHandle handle) {
  DeviceInformation* record = &device_information[handle];
  KvoLogInfo(kSender, "Start identification of device in ITP mode.");
  std::string answer;
  bool identified = false;
  for (unsigned int attempt = 0; attempt < kVersAttempts && !identified; ++attempt) {
    DeviceAtExchange exchange;
    if (exchange.Send(kSender, handle, "VERS", 15) != kTlResultSuccess) continue;
    answer = exchange.Text();
    identified = exchange.Ok() || answer.find("VERS:") != std::string::npos;
  }
  if (!identified) {
    KvoLogError(kSender, "Failed to identify device in ITP mode. Command return error: %s",
                answer.c_str());
    record->type = kKvoDevicePlatformTypeInvalid;
    return kKvoResultDeviceErrorFailedToIdentify;
  }
  KvoLogInfo(kSender, "Found device in ITP mode. Detect device type.");
  if (answer.find("Brem") != std::string::npos) {
    record->type = kKvoDevicePlatformTypeBrem;
  } else if (answer.find("Calt") != std::string::npos) {
    record->type = kKvoDevicePlatformTypeCalt;
  } else if (answer.find("Dovin") != std::string::npos) {
    record->type = kKvoDevicePlatformTypeDovin;
  } else {
    record->type = kKvoDevicePlatformTypeInvalid;
  }
  return kKvoResultSuccess;
}

std::string StoredImei(KvoDeviceHandle handle) {
  char imei[64] = "";
  DeviceInformationGetStringValue(device_information[handle].value_map, "IMEI", imei, sizeof imei);
  return imei;
}

// A reopen finds a port, not a module: a port name, even an identity in the port list, may belong
// to another module after a restart. The module behind the reopened port must be the one that was
// there (same IMEI, where it was known), or the reopen goes on looking for about `seconds`;
// `reopen` is the transport's reopen, `identify` reads the module's report. A module that is not
// found again gives `gone` and releases the handle; another failure of the reopen gives `failed`.
template <typename Reopen, typename Identify>
KvoResult ReopenSameModule(KvoDeviceHandle handle, unsigned int seconds, Reopen reopen,
                           unsigned int tries, unsigned int wait, Identify identify, KvoResult gone,
                           KvoResult failed) {
  const std::string imei = StoredImei(handle);
  const apr_time_t deadline = apr_time_now() + CommonScaledWait(apr_time_from_sec(seconds));
  for (;;) {
    const TlResult reopened = reopen(tries, wait);
    if (reopened != kTlResultSuccess) {
      device_information[handle].type = kKvoDevicePlatformTypeInvalid;
      TlLogErrorCode(kSender, reopened);
      return reopened == kTlResultGeneralErrorOperationTimedOut ? gone : failed;
    }
    const KvoResult result = identify();
    const std::string found = StoredImei(handle);
    if (result != kKvoResultSuccess || imei.empty() || found == imei) return result;
    KvoLogError(kSender, "Device %u came back as another module (IMEI %s, not %s).", handle,
                found.c_str(), imei.c_str());
    const apr_time_t left = deadline - apr_time_now();
    if (left <= 0) {
      KvoDeviceClose(handle);
      return gone;
    }
    // The next round keeps what this one left of the time, about a try a second.
    tries = static_cast<unsigned int>(left / CommonScaledWait(apr_time_from_sec(1))) + 1;
    wait = 1;
  }
}

// Back to AT mode: the module leaves ITP mode by restarting, so the port is reopened and the
// module identified again.
KvoResult LeaveItpMode(KvoDeviceHandle handle, KvoDevicePlatformType type) {
  DeviceInformation* record = &device_information[handle];
  TlResult sent = TlAtSendNoResponse(handle, type == kKvoDevicePlatformTypeCalt ? "KILD" : "KILL");
  if (sent != kTlResultSuccess) TlLogErrorCode(kSender, sent);
  record->itp_mode = kDeviceItpModeOff;
  KvoLogInfo(kSender, "Open port for AT mode by using the same handle.");
  const KvoResult result = ReopenSameModule(
      handle, kReopenByHandleAttempts,
      [=](unsigned int tries, unsigned int) { return TlDeviceReOpenByhandle(handle, tries); },
      kReopenByHandleAttempts, 0,
      [=] {
        KvoResult identified = DeviceSetEchoOff(handle);
        if (identified == kKvoResultSuccess) identified = KvoDeviceForceCacheRefresh(handle);
        if (identified == kKvoResultSuccess) return identified;
        KvoLogErrorCode(kSender, identified);
        return kKvoResultDeviceErrorSettingItpMode;
      },
      kKvoResultDeviceErrorSettingItpMode, kKvoResultDeviceErrorSettingItpMode);
  if (result != kKvoResultSuccess) return result;
  KvoLogInfo(kSender, "Successfully set requested ITP mode, %s, on device %u.",
             ItpModeName(kDeviceItpModeOff), handle);
  return kKvoResultSuccess;
}

// Into ITP mode: the module enters it at its next start after it received an ITP assignment of
// the customization container; the first assignment for its product number that validates is
// sent.
KvoResult EnterItpMode(KvoDeviceHandle handle) {
  CustomAssignmentStructType* list = nullptr;
  size_t size = 0;
  KvoResult result = CustomListAssignments(kCustomAssignmentTypeITP, &list, &size);
  if (result != kKvoResultSuccess) {
    KvoLogErrorCode(kSender, result);
    return result;
  }
  KvoProductNumber product_number = "";
  KvoDeviceGetProductNumber(handle, &product_number);
  const CustomAssignmentStructType* chosen = nullptr;
  for (size_t i = 0; i < size && chosen == nullptr; ++i) {
    if (KvoCustomCompareDeviceProductNumber(product_number, list[i].zrb) != kKvoResultSuccess) {
      continue;
    }
    if (KvoCustomValidateAssignment(handle, list[i].assignment_id) == kKvoResultSuccess) {
      chosen = &list[i];
    } else {
      KvoLogInfo(kSender, "Assignment %d is not applicable for device",
                 static_cast<int>(list[i].assignment_id));
    }
  }
  if (chosen == nullptr) {
    CustomReleaseListAssignments(list);
    KvoLogError(kSender, "No ITP assignment applies to device %u.", handle);
    return kKvoResultDeviceErrorSettingItpMode;
  }
  const CustomAssignmentId id = chosen->assignment_id;
  const bool restarts_itself = chosen->restart_required;
  CustomReleaseListAssignments(list);
  KvoLogInfo(kSender, "Send assignment, assignment_id %d", static_cast<int>(id));
  result = CustomSendContainerAssignment(handle, id);
  if (result != kKvoResultSuccess) return result;
  device_information[handle].itp_mode = kDeviceItpModeOn;
  if (!restarts_itself) {
    KvoLogInfo(kSender, "Restart device to make sure that the device is in the specified mode.");
    result = SendReset(handle);
    if (result != kKvoResultSuccess) return result;
    KvoLogInfo(kSender, "Open ITP port by using the same handle.");
    const TlResult reopened = TlDeviceReOpenByhandle(handle, kReopenByHandleAttempts);
    if (reopened != kTlResultSuccess) {
      TlLogErrorCode(kSender, reopened);
      return kKvoResultDeviceErrorSettingItpMode;
    }
  }
  KvoLogInfo(kSender, "Successfully set requested ITP mode, %s, on device %u.",
             ItpModeName(kDeviceItpModeOn), handle);
  return kKvoResultSuccess;
}

KvoResult SendLedCommand(KvoDeviceHandle handle, const char* command, unsigned int timeout) {
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, command, timeout) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange.Ok()) {
    KvoLogError(kSender, "Command %s returned error.", command);
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

}  // namespace

DeviceInformation* DeviceGetRecord(KvoDeviceHandle handle) {
  return handle < kDeviceMaxDevices ? &device_information[handle] : nullptr;
}

KvoResult DeviceInitialize(void) {
  if (memory_pool != nullptr) DeviceTerminate();
  if (apr_pool_create(&memory_pool, nullptr) != APR_SUCCESS) {
    memory_pool = nullptr;
    KvoLogError(kSender, "Failed to create memory pool.");
    return kKvoResultGeneralErrorMemory;
  }
  for (DeviceInformation& record : device_information) {
    record.itp_mode = kDeviceItpModeOff;
    record.type = kKvoDevicePlatformTypeInvalid;
    record.zrb = kDeviceUnknownZrb;
    record.value_map = apr_hash_make(memory_pool);
    if (apr_pool_create(&record.value_pool, memory_pool) != APR_SUCCESS) {
      apr_pool_destroy(memory_pool);
      memory_pool = nullptr;
      return kKvoResultGeneralErrorMemory;
    }
  }
  initialized = true;
  return kKvoResultSuccess;
}

KvoResult DeviceTerminate(void) {
  initialized = false;
  if (memory_pool != nullptr) apr_pool_destroy(memory_pool);
  memory_pool = nullptr;
  for (DeviceInformation& record : device_information) {
    record.type = kKvoDevicePlatformTypeInvalid;
    record.zrb = kDeviceUnknownZrb;
    record.itp_mode = kDeviceItpModeOff;
    record.value_map = nullptr;
    record.value_pool = nullptr;
  }
  return kKvoResultSuccess;
}

KvoResult DeviceCheckHandle(KvoDeviceHandle handle) {
  if (!initialized) return kKvoResultGeneralErrorNotInitialized;
  if (handle >= kDeviceMaxDevices ||
      device_information[handle].type == kKvoDevicePlatformTypeInvalid) {
    return kKvoResultDeviceErrorInvalidHandle;
  }
  if (TlDeviceIsOpen(handle) == kTlResultSuccess) return kKvoResultSuccess;
  // The transport lost the port.
  device_information[handle].type = kKvoDevicePlatformTypeInvalid;
  return kKvoResultGeneralErrorDeviceNotOpen;
}

KvoResult DeviceIdentifyModule(KvoDeviceHandle handle) {
  KvoLogDebug(kSender, ">>>> DeviceIdentifyModule");
  KvoResult result = CheckInitializedAndRange(handle);
  if (result != kKvoResultSuccess) return result;
  DeviceInformation* record = &device_information[handle];

  {
    DeviceAtExchange exchange;
    TlResult sent = exchange.Send(kSender, handle, "AT", 15);
    if (sent != kTlResultSuccess) {
      KvoLogError(kSender, "Failed to send AT");
      return kKvoResultGeneralErrorAtError;
    }
    if (strstr(exchange.Text(), "CERR:") != nullptr) {
      KvoLogInfo(kSender, "Could not send AT, check if device is in ITP mode.");
      record->itp_mode = kDeviceItpModeOn;
    } else {
      record->itp_mode = kDeviceItpModeOff;
    }
  }

  result =
      record->itp_mode == kDeviceItpModeOff ? IdentifyInAtMode(handle) : IdentifyInItpMode(handle);
  if (result == kKvoResultSuccess) {
    KvoLogDebug(kSender, "<<<< DeviceIdentifyModule (type: %d)", static_cast<int>(record->type));
  }
  return result;
}

KvoResult KvoDeviceGetList(KvoDeviceName** list, size_t* length) {
  if (list == nullptr || length == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  *list = nullptr;
  *length = 0;
  if (!initialized) return kKvoResultGeneralErrorNotInitialized;
  TlDeviceName* names = nullptr;
  TlResult result = TlDeviceGetList(&names, length);
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    *length = 0;
    return kKvoResultDeviceErrorFailedToListDevices;
  }
  *list = reinterpret_cast<KvoDeviceName*>(names);
  return kKvoResultSuccess;
}

KvoResult KvoDeviceReleaseList(KvoDeviceName* list) {
  TlResult result = TlDeviceReleaseList(reinterpret_cast<TlDeviceName*>(list));
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    return kKvoResultGeneralErrorUnknown;
  }
  return kKvoResultSuccess;
}

KvoResult KvoDeviceOpen(const KvoDeviceOpenParameters* parameters, KvoDeviceHandle* handle) {
  if (!initialized) return kKvoResultGeneralErrorNotInitialized;
  if (parameters == nullptr || handle == nullptr) return kKvoResultGeneralErrorInvalidParameter;

  TlDeviceOpenParameters open_parameters;
  memset(&open_parameters, 0, sizeof(open_parameters));
  apr_cpystrn(open_parameters.device_name, parameters->device_name,
              sizeof(open_parameters.device_name));
  open_parameters.baud = parameters->baud;
  TlDeviceHandle opened = 0;
  TlResult open_result = TlDeviceOpen(&open_parameters, &opened);
  if (open_result != kTlResultSuccess) {
    TlLogErrorCode(kSender, open_result);
    return kKvoResultDeviceErrorDeviceNotOpen;
  }

  // A new session starts without the report of whichever module used this handle before: a
  // module found in ITP mode is not asked for its report, and must not inherit another's.
  DeviceInformation* record = &device_information[opened];
  record->type = kKvoDevicePlatformTypeInvalid;
  record->zrb = kDeviceUnknownZrb;
  apr_hash_clear(record->value_map);
  apr_pool_clear(record->value_pool);
  KvoResult result = DeviceIdentifyModule(opened);
  if (result != kKvoResultSuccess) {
    record->type = kKvoDevicePlatformTypeInvalid;
    KvoLogError(kSender, "Failed to identify module. Close device.");
    KvoResult closed = KvoDeviceClose(opened);
    if (closed != kKvoResultSuccess) KvoLogErrorCode(kSender, closed);
    return result;
  }
  *handle = opened;
  return kKvoResultSuccess;
}

KvoResult KvoDeviceClose(KvoDeviceHandle handle) {
  KvoResult result = CheckInitializedAndRange(handle);
  if (result != kKvoResultSuccess) return result;
  device_information[handle].type = kKvoDevicePlatformTypeInvalid;
  TlResult closed = TlDeviceClose(handle);
  if (closed != kTlResultSuccess) {
    TlLogErrorCode(kSender, closed);
    return kKvoResultDeviceErrorDeviceNotClosed;
  }
  return kKvoResultSuccess;
}

KvoResult DeviceReopen(KvoDeviceHandle handle, unsigned int timeout,
                       unsigned int reopen_after_seconds) {
  KvoResult result = CheckInitializedAndRange(handle);
  if (result != kKvoResultSuccess) return result;
  return ReopenSameModule(
      handle, reopen_after_seconds + timeout,
      [=](unsigned int tries, unsigned int wait) { return TlDeviceReopen(handle, tries, wait); },
      timeout, reopen_after_seconds, [=] { return DeviceIdentifyModule(handle); },
      kKvoResultGeneralErrorOperationTimedOut, kKvoResultGeneralErrorUnknown);
}

KvoResult KvoDeviceReopen(KvoDeviceHandle handle, unsigned int timeout) {
  return DeviceReopen(handle, timeout, 5);
}

KvoResult KvoDeviceReset(KvoDeviceHandle handle) {
  KvoResult result = CheckInitializedAndRange(handle);
  if (result != kKvoResultSuccess) return result;
  KvoLogInfo(kSender, "Resetting device %u...", handle);
  result = SendReset(handle);
  if (result != kKvoResultSuccess) return result;
  return KvoDeviceReopen(handle, 300);
}

KvoResult DeviceSetItpMode(KvoDeviceHandle handle, DeviceItpMode mode) {
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  DeviceInformation* record = &device_information[handle];
  if (record->itp_mode == mode) {
    KvoLogDebug(kSender, "Requested ITP mode, %s, already set on device %u.", ItpModeName(mode),
                handle);
    return kKvoResultSuccess;
  }
  KvoLogInfo(kSender, "Trying to set the requested ITP mode, %s, on device %u.", ItpModeName(mode),
             handle);
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  result = KvoDeviceGetType(handle, &type);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to get device type.");
    return result;
  }
  switch (mode) {
    case kDeviceItpModeOff:
      return LeaveItpMode(handle, type);
    case kDeviceItpModeOn:
      return EnterItpMode(handle);
  }
  KvoLogError(kSender, "Unknown ITP mode requested, %d, on device %u.", static_cast<int>(mode),
              handle);
  return kKvoResultDeviceErrorSettingItpMode;
}

KvoResult KvoDeviceForceCacheRefresh(KvoDeviceHandle handle) {
  if (!initialized) return kKvoResultGeneralErrorNotInitialized;
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) return result;
  return DeviceIdentifyModule(handle);
}

KvoResult DeviceSetEchoOff(KvoDeviceHandle handle) {
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  result = ForceAtMode(handle);
  if (result != kKvoResultSuccess) return result;
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, "ATE0", 5) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange.Ok()) {
    KvoLogError(kSender, "Failed to set echo off. Command returned error.");
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

KvoResult DeviceGetRadioMode(KvoDeviceHandle handle, DeviceRadioMode* mode) {
  if (mode == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  result = ForceAtMode(handle);
  if (result != kKvoResultSuccess) return result;
  char command[32];
  apr_snprintf(command, sizeof(command), "%s?", "AT+CFUN");
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, command, 5) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange.Ok()) {
    KvoLogError(kSender, "Failed to set radio mode. Command returned error.");
    return kKvoResultGeneralErrorAtError;
  }
  return DeviceInformationParseRadioMode(exchange.Text(), mode);
}

KvoResult DeviceSetRadioMode(KvoDeviceHandle handle, DeviceRadioMode mode) {
  if (mode != kDeviceRadioModeOn && mode != kDeviceRadioModeOff) {
    return kKvoResultGeneralErrorInvalidParameter;
  }
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  result = ForceAtMode(handle);
  if (result != kKvoResultSuccess) return result;
  char command[32];
  apr_snprintf(command, sizeof(command), "%s=%u", "AT+CFUN", static_cast<unsigned int>(mode));
  {
    DeviceAtExchange exchange;
    if (exchange.Send(kSender, handle, command, 5) != kTlResultSuccess) {
      return kKvoResultGeneralErrorAtError;
    }
    if (!exchange.Ok()) {
      KvoLogError(kSender, "Failed to set radio mode. Command returned error.");
      return kKvoResultGeneralErrorAtError;
    }
  }
  for (unsigned int poll = 0; poll < kRadioSettlePolls; ++poll) {
    DeviceRadioMode current = kDeviceRadioModeOn;
    if (DeviceGetRadioMode(handle, &current) == kKvoResultSuccess && current == mode) {
      return kKvoResultSuccess;
    }
    KvoLogInfo("KVO:Radio", "Waiting for radio to settle.");
    CommonSleep(apr_time_from_sec(1));
  }
  return kKvoResultDeviceErrorFailedToGetInformation;
}

KvoResult DeviceGetUpgradeState(KvoDeviceHandle handle, DeviceUpgradeState* upgrade_state) {
  if (upgrade_state == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  result = ForceAtMode(handle);
  if (result != kKvoResultSuccess) return result;
  char command[32];
  apr_snprintf(command, sizeof(command), "%s%s", "AT*EEUSTATE", "?");
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, command, 2) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange.Ok()) {
    TlLogError(kSender, "Failed to get upgrade state");
    return kKvoResultGeneralErrorAtError;
  }
  return DeviceInformationParseUpgradeState(exchange.Text(), upgrade_state);
}

KvoResult DeviceGetCachedUpgradeState(KvoDeviceHandle handle, DeviceUpgradeState* upgrade_state) {
  if (upgrade_state == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  result = ForceAtMode(handle);
  if (result != kKvoResultSuccess) return result;
  int value = 0;
  result =
      DeviceInformationGetIntValue(device_information[handle].value_map, "UPGRADE_STATE", &value);
  if (result == kKvoResultSuccess) *upgrade_state = static_cast<DeviceUpgradeState>(value);
  return result;
}

KvoResult KvoDeviceSetLedState(KvoDeviceHandle handle, KvoDeviceLedState state) {
  if (!initialized) return kKvoResultGeneralErrorNotInitialized;
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  KvoResult result = KvoDeviceGetType(handle, &type);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to get device type.");
    return result;
  }
  if (state != kKvoDeviceLedStateOn && state != kKvoDeviceLedStateOff) {
    KvoLogError(kSender, "Unknown LED state given, %d, for device %u.", static_cast<int>(state),
                handle);
    return kKvoResultGeneralErrorInvalidParameter;
  }
  char command[64];
  switch (type) {
    case kKvoDevicePlatformTypeCalt:
    case kKvoDevicePlatformTypeDovin:
      result = DeviceCheckHandle(handle);
      if (result != kKvoResultSuccess) return result;
      result = ForceAtMode(handle);
      if (result != kKvoResultSuccess) return result;
      apr_snprintf(command, sizeof(command), state == kKvoDeviceLedStateOn ? "%s=1" : "%s=0",
                   "AT*EEMLED");
      return SendLedCommand(handle, command, 10);
    case kKvoDevicePlatformTypeBrem:
      // Brem switches its LED only with the ITP command set, and stays in ITP mode afterwards.
      result = DeviceSetItpMode(handle, kDeviceItpModeOn);
      if (result != kKvoResultSuccess) {
        KvoLogError(kSender, "Unable to fetch information in ITP mode.");
        return result;
      }
      if (state == kKvoDeviceLedStateOff) {
        apr_snprintf(command, sizeof(command), "%s=%d,%d", "ledc", kDeviceLedControlLed1,
                     kDeviceLedControlLedOff);
        return SendLedCommand(handle, command, 20);
      }
      apr_snprintf(command, sizeof(command), "%s=%d,%d,%d,%d", "ledc", kDeviceLedControlLed1,
                   kDeviceLedControlLedBlinking, kDeviceLedControlPeriod, kDeviceLedControlOnTime);
      result = SendLedCommand(handle, command, 20);
      if (result != kKvoResultSuccess) return result;
      apr_snprintf(command, sizeof(command), "%s=%d,%d,%d", "ledc", kDeviceLedControlLed1,
                   kDeviceLedControlLedIntensity, kDeviceLedControlIntensity21);
      result = SendLedCommand(handle, command, 20);
      if (result != kKvoResultSuccess) return result;
      apr_snprintf(command, sizeof(command), "%s=%d,%d", "ledc", kDeviceLedControlLed1,
                   kDeviceLedControlLedOn);
      return SendLedCommand(handle, command, 20);
    case kKvoDevicePlatformTypeInvalid:
      break;
  }
  return kKvoResultGeneralErrorOperationNotSupported;
}

KvoResult KvoDeviceGetCidType(KvoDeviceHandle handle, KvoDevicePlatformType platform_type,
                              KvoDeviceCidType* cid_type) {
  if (cid_type == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  if (platform_type != kKvoDevicePlatformTypeBrem) return kKvoResultSuccess;
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, "AT*EOTP", 5) != kTlResultSuccess ||
      exchange.Code() == kTlAtResultError) {
    return kKvoResultGeneralErrorAtError;
  }
  // "*EOTP: <cid>"; anything unreadable counts as the class that accepts no assignment.
  *cid_type = kKvoDeviceCid190;
  const char* found = strstr(exchange.Text(), "*EOTP:");
  if (found != nullptr) {
    const char* digits = found + strlen("*EOTP:");
    while (*digits == ' ') ++digits;
    char* end = nullptr;
    unsigned long cid = strtoul(digits, &end, 10);
    if (end != digits) {
      if (cid == 177) *cid_type = kKvoDeviceCid177;
      if (cid == 189) *cid_type = kKvoDeviceCid189;
    }
  }
  KvoLogDebug(kSender, "CID type of device %u is %d.", handle, static_cast<int>(*cid_type));
  return kKvoResultSuccess;
}

KvoResult KvoDeviceGetType(KvoDeviceHandle handle, KvoDevicePlatformType* type) {
  if (type == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  *type = device_information[handle].type;
  return kKvoResultSuccess;
}

KvoResult KvoDeviceGetProductNumber(KvoDeviceHandle handle, KvoProductNumber* product_number) {
  if (product_number == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  (*product_number)[0] = '\0';
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  return DeviceInformationGetStringValue(device_information[handle].value_map, "PRODUCT_NUMBER",
                                         *product_number, sizeof(*product_number));
}
