// Writing single assignments to a module over its secure-frame or transparent channel, the Set
// operations of each assignment type, and the read-back verification of what was written.

#include <apr_strings.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "kvo/src/custom/custom.h"
#include "kvo/src/device/device.h"
#include "transport/src/common/common.h"
#include "transport/src/secure_frame/secure_frame.h"
#include "transport/src/transparent_channel/transparent_channel.h"

namespace {

const char kSender[] = "KVO:Custom";
// Seconds per read.
const unsigned int kSecureFrameTimeout = 10;
const uint32_t kTransparentChannelTimeout = 2;

const char* Text(const char* value) {
  return value != nullptr ? value : "";
}

const char* MetaData(const CustomAssignmentStructType& assignment, int index) {
  return Text(assignment.meta_data_list[index].value);
}

KvoResult LeaveItpMode(KvoDeviceHandle handle) {
  const KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to set device into proper mode (ITP off)");
  }
  return result;
}

// Logs `message` when `result` is a failure, and returns it.
KvoResult Checked(KvoResult result, const char* message) {
  if (result != kKvoResultSuccess && message != nullptr) KvoLogError(kSender, "%s", message);
  return result;
}

KvoResult GetAssignment(KvoCustomAssignmentId id, CustomAssignmentStructType* assignment) {
  const KvoResult result = CustomGetAssignmentData(id, assignment);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to retrieve assignment for id: %d", static_cast<int>(id));
  }
  return result;
}

// What every Set does before sending: a container, AT mode, and an assignment of the operation's
// own type.
KvoResult SetPrologue(KvoDeviceHandle handle, KvoCustomAssignmentId id, CustomAssignmentType type,
                      CustomAssignmentStructType* assignment) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  KvoResult result = LeaveItpMode(handle);
  if (result != kKvoResultSuccess) return result;
  result = GetAssignment(id, assignment);
  if (result != kKvoResultSuccess) return result;
  if (assignment->assignment_type != type) {
    KvoLogError(kSender,
                "The specified assignment is not of valid type. Expected type: %d, got type: %d",
                static_cast<int>(type), static_cast<int>(assignment->assignment_type));
    return kKvoResultCustomErrorInvalidFileId;
  }
  return kKvoResultSuccess;
}

// What every Verify does before reading back: a container, AT mode, and an assignment that is
// valid for the module.
KvoResult VerifyPrologue(KvoDeviceHandle handle, KvoCustomAssignmentId id,
                         const char* refused_message) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  KvoResult result = LeaveItpMode(handle);
  if (result != kKvoResultSuccess) return result;
  return Checked(KvoCustomValidateAssignment(handle, id), refused_message);
}

// Compares a value the module reports with the assignment's; a difference is logged (module
// value first) under `what` and fails the verification.
KvoResult Compare(const char* module_value, const char* assignment_value, const char* what) {
  if (strcmp(module_value, Text(assignment_value)) == 0) return kKvoResultSuccess;
  if (what != nullptr) {
    KvoLogError(kSender, "%s mismatch. %s != %s", what, module_value, Text(assignment_value));
  }
  return kKvoResultCustomErrorVerifyFailed;
}

KvoResult SendOverSecureFrame(KvoDeviceHandle handle, unsigned char* data, size_t data_size,
                              TlTcProgressCallback* progress_callback) {
  KvoLogInfo(kSender, "Start sending assignment on SF.");
  const TlResult sent = TlSfSend(handle, progress_callback, kSecureFrameTimeout, data, data_size);
  if (sent != kTlResultSuccess) {
    TlLogErrorCode(kSender, sent);
    return kKvoResultCustomDataTransferError;
  }
  KvoLogInfo(kSender, "Assignment was successfully sent.");
  return kKvoResultSuccess;
}

KvoResult SendOverTransparentChannel(KvoDeviceHandle handle, const unsigned char* data,
                                     size_t data_size, TlTcProgressCallback* progress_callback) {
  // The channel writes its request id into the first two bytes: a copy keeps the caller's data
  // (and the container's) as they were.
  std::unique_ptr<unsigned char, decltype(&free)> payload(
      static_cast<unsigned char*>(malloc(data_size > 0 ? data_size : 1)), &free);
  if (!payload) {
    KvoLogError(kSender, "Failed to allocate memory for the assignment.");
    return kKvoResultGeneralErrorMemory;
  }
  if (data_size > 0) memcpy(payload.get(), data, data_size);
  KvoLogDebug(kSender, "Open Transparent Channel.");
  if (TlTcOpen(handle, kTlTcVersionTwo, kTransparentChannelTimeout) != kTlResultSuccess) {
    KvoLogError(kSender,
                "Failed to open transparent channel. Make sure the device supports transparent "
                "channel.");
    return kKvoResultCustomDataTransferError;
  }
  KvoLogDebug(kSender, "Prepare to send file.");
  uint16_t request_id = 0;
  TlTcReceivedData received = {nullptr, 0};
  KvoResult result = kKvoResultSuccess;
  if (TlTcSend(handle, progress_callback, kTransparentChannelTimeout, payload.get(), data_size,
               &request_id, &received) != kTlResultSuccess) {
    KvoLogError(kSender, "Failed to send data on transparent channel.");
    result = kKvoResultCustomDataTransferError;
  }
  if (received.data_length != 0) {
    TlTcReleaseReceivedData(&received);
    KvoLogDebug(kSender, "Released received payload.");
  }
  KvoLogDebug(kSender, "Close Transparent Channel.");
  if (TlTcClose(handle, kTransparentChannelTimeout) != kTlResultSuccess) {
    KvoLogError(kSender, "Failed to close transparent channel. Abort.");
    return kKvoResultCustomDataTransferError;
  }
  return result;
}

}  // namespace

KvoResult CustomSendAssignment(KvoDeviceHandle handle, unsigned char* data, size_t data_size,
                               TlTcProgressCallback* progress_callback) {
  if (data == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  KvoDeviceGetType(handle, &type);
  KvoLogInfo(kSender, "Get device type.");
  if (type == kKvoDevicePlatformTypeBrem) {
    return SendOverSecureFrame(handle, data, data_size, progress_callback);
  }
  return SendOverTransparentChannel(handle, data, data_size, progress_callback);
}

KvoResult CustomSendContainerAssignment(KvoDeviceHandle handle, CustomAssignmentId id) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  if (KvoCustomValidateAssignment(handle, id) != kKvoResultSuccess) {
    KvoLogError(kSender, "Not allowed to send assignment for device. Abort.");
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  CustomAssignmentStructType assignment;
  KvoResult result =
      Checked(CustomGetAssignmentData(id, &assignment), "Assignment does not exist in container.");
  if (result != kKvoResultSuccess) return result;
  KvoLogInfo(kSender, "Send assignment.");
  result = CustomSendAssignment(handle, assignment.data_start, assignment.data_size, nullptr);
  if (result != kKvoResultSuccess) return result;
  if (assignment.restart_required) {
    KvoLogInfo(kSender, "Assignment requires module restart");
    result = Checked(KvoDeviceReset(handle), "Failed to restart module");
  }
  return result;
}

KvoResult CustomCheckDeviceSimlock(KvoDeviceHandle handle) {
  KvoDeviceLockInformation locks;
  memset(&locks, 0, sizeof locks);
  const KvoResult result = Checked(KvoDeviceGetLockInformation(handle, &locks),
                                   "Failed to get sim lock information from device. Abort");
  if (result != kKvoResultSuccess) return result;
  // The plain SIM lock and the automatic lock flag do not count as a lock here.
  const struct {
    const char* value;
    const char* message;
  } fields[] = {
      {locks.network, "Device is locked to network."},
      {locks.network_subset, "Device is locked to network subset."},
      {locks.service_provider, "Device is locked to network service provider."},
      {locks.corporate, "Device is locked to network corporate"},
      {locks.extended_sim_lock, "Device is locked to extended network."},
  };
  for (const auto& field : fields) {
    if (strcmp(field.value, "2") == 0) {
      KvoLogInfo(kSender, "%s", field.message);
      return kKvoResultSuccess;
    }
  }
  KvoLogError(kSender, "Device does not have any sim locks activated.");
  return kKvoResultCustomDeviceSimLockNotSet;
}

KvoResult KvoCustomSendAssignment(KvoDeviceHandle handle, unsigned char* data, size_t data_size) {
  if (data == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  const KvoResult result = LeaveItpMode(handle);
  if (result != kKvoResultSuccess) return result;
  return CustomSendAssignment(handle, data, data_size, nullptr);
}

KvoResult KvoCustomSimlockSet(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  CustomAssignmentStructType assignment;
  KvoResult result = SetPrologue(handle, id, kCustomAssignmentTypeSimlock, &assignment);
  if (result != kKvoResultSuccess) return result;
  if (strcmp(MetaData(assignment, kCustomSimLockMetaDataCommandType), "AutoLock") == 0) {
    KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
    result = KvoDeviceGetPinCodeState(handle, &state);
    // The state of a module without a SIM card names no known state, which the getter reports as
    // a parse error.
    if (state == kKvoDevicePinCodeStateUnknown &&
        (result == kKvoResultSuccess || result == kKvoResultGeneralErrorParseError)) {
      KvoLogError(kSender, "SIM card must be present for this operation. Abort.");
      return kKvoResultCustomSimCardNotPresent;
    }
    if (Checked(result, "Failed to retrieve SIM PIN state. Abort") != kKvoResultSuccess) {
      return result;
    }
  }
  result = Checked(CustomSendContainerAssignment(handle, id), "Failed to send assignment.");
  if (result != kKvoResultSuccess) return result;
  result = Checked(
      KvoDeviceForceCacheRefresh(handle),
      "Failed to refresh module information. Abort. Try to run SimLockVerify to verify lock.");
  if (result != kKvoResultSuccess) return result;
  return CustomCheckDeviceSimlock(handle);
}

KvoResult KvoCustomOperatorDomainSet(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  CustomAssignmentStructType assignment;
  KvoResult result = SetPrologue(handle, id, kCustomAssignmentTypeOperatorDomain, &assignment);
  if (result != kKvoResultSuccess) return result;
  KvoNetworkName name = "";
  if (KvoDeviceGetCurrentNetworkName(handle, &name) == kKvoResultSuccess) {
    KvoLogInfo(kSender, "Operator domain = %s", name);
  }
  result = CustomSendContainerAssignment(handle, id);
  if (result != kKvoResultSuccess) return result;
  result =
      Checked(KvoDeviceForceCacheRefresh(handle), "Failed to refresh module information. Abort.");
  if (result != kKvoResultSuccess) return result;
  result = KvoDeviceGetCurrentNetworkName(handle, &name);
  if (result != kKvoResultSuccess) return result;
  KvoLogInfo(kSender, "Operator domain = %s", name);
  return kKvoResultSuccess;
}

KvoResult KvoCustomCustomizationSet(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  CustomAssignmentStructType assignment;
  KvoResult result = SetPrologue(handle, id, kCustomAssignmentTypeCustomizationFile, &assignment);
  if (result != kKvoResultSuccess) return result;
  result = CustomSendContainerAssignment(handle, id);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to send customization to module. Reason: %d",
                static_cast<int>(result));
    return result;
  }
  if (KvoDeviceForceCacheRefresh(handle) != kKvoResultSuccess) {
    KvoLogInfo(kSender, "Failed to refresh module data.");
    return kKvoResultCustomErrorDeviceRefreshFailed;
  }
  return kKvoResultSuccess;
}

KvoResult KvoCustomSubDomainSet(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  CustomAssignmentStructType assignment;
  KvoResult result = SetPrologue(handle, id, kCustomAssignmentTypeSubDomain, &assignment);
  if (result != kKvoResultSuccess) return result;
  result = CustomSendContainerAssignment(handle, id);
  if (result != kKvoResultSuccess) return result;
  // The sub-domain is read from the report of the last identification: read it afresh so that a
  // verification sees the new value.
  return Checked(KvoDeviceForceCacheRefresh(handle), "Failed to refresh module information.");
}

KvoResult KvoCustomPlatformParameterSet(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  CustomAssignmentStructType assignment;
  KvoResult result = SetPrologue(handle, id, kCustomAssignmentTypePlatformParameter, &assignment);
  if (result != kKvoResultSuccess) return result;
  return CustomSendContainerAssignment(handle, id);
}

KvoResult KvoCustomSimlockVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  KvoResult result = VerifyPrologue(handle, id, "Failed to validate simlock assignment.");
  if (result != kKvoResultSuccess) return result;
  CustomAssignmentStructType assignment;
  result = GetAssignment(id, &assignment);
  if (result != kKvoResultSuccess) return result;
  KvoSimlockDescription description = "";
  result = Checked(KvoDeviceGetSimlockDescription(handle, &description),
                   "Failed to retrieve Simlock description");
  if (result != kKvoResultSuccess) return result;
  KvoProductNumber product = "";
  result =
      Checked(KvoDeviceGetSimlockProduct(handle, &product), "Failed to retrieve Simlock product");
  if (result != kKvoResultSuccess) return result;
  KvoRevision revision = "";
  result = Checked(KvoDeviceGetSimlockRevision(handle, &revision),
                   "Failed to retrieve Simlock revision");
  if (result != kKvoResultSuccess) return result;
  result = Compare(description, MetaData(assignment, kCustomSimLockMetaDataDescription),
                   "Sim lock description");
  if (result == kKvoResultSuccess) {
    result = Compare(product, assignment.product_number, "Sim lock product number");
  }
  if (result == kKvoResultSuccess) {
    result = Compare(revision, assignment.revision, "Sim lock revision");
  }
  return result;
}

KvoResult KvoCustomCustomizationVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  KvoResult result = VerifyPrologue(handle, id, "Failed to validate customization assignment.");
  if (result != kKvoResultSuccess) return result;
  CustomAssignmentStructType assignment;
  result = GetAssignment(id, &assignment);
  if (result != kKvoResultSuccess) return result;
  KvoProductNumber product = "";
  result = Checked(KvoDeviceGetCustomizationProduct(handle, &product),
                   "Failed to retrieve Customization product number");
  if (result != kKvoResultSuccess) return result;
  KvoRevision revision = "";
  result = Checked(KvoDeviceGetCustomizationRevision(handle, &revision),
                   "Failed to retrieve Customization revision");
  if (result != kKvoResultSuccess) return result;
  apr_collapse_spaces(product, product);
  result = Compare(product, assignment.product_number, "Customization product number");
  if (result != kKvoResultSuccess) return result;
  return Compare(revision, assignment.revision, "Customization revision");
}

KvoResult KvoCustomOperatorDomainVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  KvoResult result = VerifyPrologue(handle, id, "Failed to validate assignment, abort.");
  if (result != kKvoResultSuccess) return result;
  KvoNetworkName domain = "";
  result = KvoDeviceGetCurrentOperatorDomain(handle, &domain);
  if (result != kKvoResultSuccess) return result;
  KvoLogInfo(kSender, "Operator domain = %s", domain);
  CustomAssignmentStructType assignment;
  result =
      Checked(CustomGetAssignmentData(id, &assignment), "Failed to get assignment from container.");
  if (result != kKvoResultSuccess) return result;
  return Compare(domain, MetaData(assignment, kCustomGenericMetaDataName), nullptr);
}

KvoResult KvoCustomSubDomainVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  KvoResult result = VerifyPrologue(handle, id, nullptr);
  if (result != kKvoResultSuccess) return result;
  CustomAssignmentStructType assignment;
  result = CustomGetAssignmentData(id, &assignment);
  if (result != kKvoResultSuccess) return result;
  KvoDomain domain = {kKvoProductDomainFactory, kKvoSubDomainFactory};
  result = KvoDeviceGetDomain(handle, &domain);
  if (result != kKvoResultSuccess) return result;
  const int expected = atoi(MetaData(assignment, kCustomGenericMetaDataSubDomain));
  if (static_cast<int>(domain.sub_domain) != expected) {
    KvoLogError(kSender, "Sub domain verify failed. Expected %d but got %d",
                static_cast<int>(domain.sub_domain), expected);
    return kKvoResultCustomErrorVerifyFailed;
  }
  return kKvoResultSuccess;
}
