// Whether an assignment of the customization container may be written to a particular module.

#include <apr_strings.h>
#include <stdlib.h>
#include <string.h>

#include "kvo/src/custom/custom.h"
#include "kvo/src/device/device.h"

namespace {

const char kSender[] = "KVO:Custom";
// Longest list entry worked on.
const size_t kEntryLength = 255;

const char* Text(const char* value) {
  return value != nullptr ? value : "";
}

uint64_t Number(const char* text) {
  return static_cast<uint64_t>(apr_atoi64(text));
}

// One entry of a list: a single number, or ranges between the numbers split by the separator.
bool EntryHolds(const char* entry, const char* range_separator, uint64_t value) {
  const size_t separator_length = strlen(range_separator);
  if (separator_length == 0 || strstr(entry, range_separator) == nullptr) {
    return entry[0] != '\0' && Number(entry) == value;
  }
  // Each number is a low end; the rest of the entry after its separator reads as the high end.
  for (const char* token = entry; *token != '\0';) {
    const char* separator = strstr(token, range_separator);
    if (separator == token) {  // empty token
      token += separator_length;
      continue;
    }
    char low[kEntryLength + 1];
    const size_t length =
        separator != nullptr ? static_cast<size_t>(separator - token) : strlen(token);
    memcpy(low, token, length);
    low[length] = '\0';
    const char* high = separator != nullptr ? separator + separator_length : "";
    if (Number(low) <= value && value <= Number(high)) return true;
    if (separator == nullptr) break;
    token = separator + separator_length;
  }
  return false;
}

// The first failing module read is logged with `message` and returned.
KvoResult Read(KvoResult result, const char* message) {
  if (result != kKvoResultSuccess) KvoLogError(kSender, "%s", message);
  return result;
}

bool TypeAllowed(const CustomFeatureConfiguration& configuration, CustomAssignmentType type) {
  switch (type) {
    case kCustomAssignmentTypeSimlock:
      return configuration.set_sim_softlock_allowed || configuration.set_sim_autolock_allowed;
    case kCustomAssignmentTypeOperatorDomain:
      return configuration.set_operator_domain_allowed;
    case kCustomAssignmentTypeITP:
      return configuration.set_ext_mode_allowed;
    case kCustomAssignmentTypeCustomizationFile:
      return configuration.set_module_customization_allowed;
    case kCustomAssignmentTypeSubDomain:
      return configuration.set_sub_domain_allowed;
    case kCustomAssignmentTypePlatformParameter:
      KvoLogInfo(kSender, "Assignment type %d, operation allowed %d", 5,
                 configuration.set_platform_parameter_allowed ? 1 : 0);
      return configuration.set_platform_parameter_allowed;
    case kCustomAssignmentTypeSize:
      return false;
  }
  KvoLogError(kSender, "Operation not allowed for unknown type: %x", static_cast<unsigned>(type));
  return false;
}

// Brem modules take an assignment by their CID type alone.
KvoResult ValidateBrem(KvoDeviceHandle handle, const CustomAssignmentStructType& assignment) {
  KvoDeviceCidType cid_type = kKvoDeviceCid190;
  const KvoResult read = KvoDeviceGetCidType(handle, kKvoDevicePlatformTypeBrem, &cid_type);
  const char* cid = Text(assignment.cid);
  if (read == kKvoResultSuccess && ((cid_type == kKvoDeviceCid177 && strcmp(cid, "177") == 0) ||
                                    (cid_type == kKvoDeviceCid189 && strcmp(cid, "189") == 0))) {
    return kKvoResultSuccess;
  }
  KvoLogInfo(
      kSender,
      "KvoCustomValidateAssignment() is not applicable for Q11/Q12 type of module, returning "
      "kKvoResultCustomErrorDeviceNotSupported.");
  return kKvoResultCustomErrorDeviceNotSupported;
}

// Every other module is checked against the container's configuration for it.
KvoResult ValidateAgainstConfiguration(KvoDeviceHandle handle,
                                       const CustomAssignmentStructType& assignment,
                                       const char* product_number) {
  KvoIndividualization individualization = {0, 0};
  KvoResult result =
      Read(KvoDeviceGetIndividualization(handle, &individualization), "Failed to read CID");
  if (result != kKvoResultSuccess) return result;
  KvoImei imei = "";
  result = Read(KvoDeviceGetImei(handle, &imei), "Failed to read IMEI");
  if (result != kKvoResultSuccess) return result;

  CustomFeatureConfiguration configuration;
  memset(&configuration, 0, sizeof configuration);
  result = CustomGetConfiguration(product_number, individualization.cid, &configuration);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Error when reading configuration data.");
    return result;
  }
  const unsigned configured_cid =
      static_cast<unsigned>(atoi(Text(configuration.quarn_individualization_cid)));
  if (configured_cid != individualization.cid) {
    KvoLogError(kSender, "Error when verifying if CID is supported in the container. %u != %u",
                configured_cid, individualization.cid);
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  KvoLogInfo(kSender, "IMEI: %s", imei);
  if (!CustomCheckDataInRange(Number(imei), Text(configuration.quarn_individualization_imei_range),
                              ":", ",")) {
    KvoLogError(kSender, "Error when verifying if IMEI is within the allowed range.");
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  // "," as the range separator too: TPIDs are single values only.
  if (!CustomCheckDataInRange(individualization.tpid,
                              Text(configuration.quarn_individualization_tpid_range), ",", ",")) {
    KvoLogError(kSender,
                "Error when verifing if TPID is within the allowed range. Tpid in device: %d, in "
                "container: %s",
                static_cast<int>(individualization.tpid),
                Text(configuration.quarn_individualization_tpid_range));
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  KvoLogDebug(kSender, "Check if operation is allowed for assignment type: %x",
              static_cast<unsigned>(assignment.assignment_type));
  if (!TypeAllowed(configuration, assignment.assignment_type)) {
    KvoLogError(kSender, "Operation not allowed for type: %x",
                static_cast<unsigned>(assignment.assignment_type));
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  const unsigned assignment_cid = static_cast<unsigned>(atoi(Text(assignment.cid)));
  if (assignment_cid != individualization.cid) {
    KvoLogError(kSender,
                "Module cid does not correspond to the cid found in container. Device CID: %u, "
                "Assignment CID: %u",
                individualization.cid, assignment_cid);
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  if (strstr(product_number, Text(assignment.zrb)) == nullptr) {
    KvoLogError(kSender,
                "Assignment type does not correspond to the type fetched from container. Abort");
    return kKvoResultCustomErrorOperationNotAllowed;
  }
  return kKvoResultSuccess;
}

}  // namespace

bool CustomCheckDataInRange(uint64_t value, const char* source_data, const char* range_separator,
                            const char* data_separator) {
  if (source_data == nullptr || data_separator == nullptr || data_separator[0] == '\0') {
    return false;
  }
  const size_t separator_length = strlen(data_separator);
  for (const char* position = source_data;;) {
    const char* end = strstr(position, data_separator);
    if (end == nullptr && *position == '\0') return false;
    const size_t length = end != nullptr ? static_cast<size_t>(end - position) : strlen(position);
    if (length > kEntryLength) {
      KvoLogError(kSender, "List entry of %u characters refused.", static_cast<unsigned>(length));
    } else {
      char entry[kEntryLength + 1];
      memcpy(entry, position, length);
      entry[length] = '\0';
      if (EntryHolds(entry, Text(range_separator), value)) return true;
    }
    if (end == nullptr) return false;
    position = end + separator_length;
  }
}

KvoResult KvoCustomCompareDeviceProductNumber(const char* device_zrb, char* zrb_sub_str) {
  if (device_zrb == nullptr || zrb_sub_str == nullptr ||
      strstr(device_zrb, zrb_sub_str) == nullptr) {
    return kKvoResultGeneralErrorUnknownDeviceType;
  }
  return kKvoResultSuccess;
}

KvoResult KvoCustomValidateAssignment(KvoDeviceHandle handle, KvoCustomAssignmentId id) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  KvoLogInfo(kSender, "Validate assignment: %d", static_cast<int>(id));
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to set device into proper mode (ITP off)");
    return result;
  }
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  result = Read(KvoDeviceGetType(handle, &type), "Unable to get device platform type.");
  if (result != kKvoResultSuccess) return result;
  CustomAssignmentStructType assignment;
  result =
      Read(CustomGetAssignmentData(id, &assignment), "Assignment does not exist in container.");
  if (result != kKvoResultSuccess) return result;

  // A failed read leaves the product number empty, which no assignment matches.
  KvoProductNumber product_number = "";
  KvoDeviceGetProductNumber(handle, &product_number);
  if (KvoCustomCompareDeviceProductNumber(product_number, assignment.zrb) != kKvoResultSuccess) {
    KvoLogError(kSender, "Assignment does not support this device type.");
    return kKvoResultCustomErrorDeviceNotSupported;
  }
  result = type == kKvoDevicePlatformTypeBrem
               ? ValidateBrem(handle, assignment)
               : ValidateAgainstConfiguration(handle, assignment, product_number);
  if (result != kKvoResultSuccess) return result;
  KvoLogInfo(kSender, "Assignment validation was successful");
  return kKvoResultSuccess;
}
