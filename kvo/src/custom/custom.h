#ifndef KVO_SRC_CUSTOM_CUSTOM_H_
#define KVO_SRC_CUSTOM_CUSTOM_H_

// The customization container as the library sees it: loaded once at library start from the
// working directory, then asked for its assignments. Records handed out here point into the
// container's memory and stay valid while it is loaded.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "customization_container/include/customization_container.h"
#include "kvo.h"
#include "transport/src/transparent_channel/transparent_channel.h"

typedef uint32_t CustomAssignmentId;

typedef enum CustomAssignmentType {
  kCustomAssignmentTypeSimlock = kCcAssignmentTypeSimlock,
  kCustomAssignmentTypeOperatorDomain = kCcAssignmentTypeOperatorDomain,
  kCustomAssignmentTypeITP = kCcAssignmentTypeITP,
  kCustomAssignmentTypeCustomizationFile = kCcAssignmentTypeCustomizationFile,
  kCustomAssignmentTypeSubDomain = kCcAssignmentTypeSubDomain,
  kCustomAssignmentTypePlatformParameter = kCcAssignmentTypeSetPlatformParameter,
  kCustomAssignmentTypeSize = 6
} CustomAssignmentType;

enum {
  kCustomSimLockMetaDataCommandType = kCcSimLockMetaDataCommandType,
  kCustomSimLockMetaDataTpid = kCcSimLockMetaDataTpid,
  kCustomSimLockMetaDataLockType = kCcSimLockMetaDataLockType,
  kCustomSimLockMetaDataDescription = kCcSimLockMetaDataDescription,
  kCustomSimLockMetaDataId = kCcSimLockMetaDataId,
  kCustomSimLockMetaDataSize = kCcSimLockMetaDataSize
};

enum {
  kCustomGenericMetaDataCommandType = kCcGenericMetaDataCommandType,
  kCustomGenericMetaDataTpid = kCcGenericMetaDataTpid,
  kCustomGenericMetaDataName = kCcGenericMetaDataName,
  kCustomGenericMetaDataId = kCcGenericMetaDataId,
  kCustomGenericMetaDataTcVersion = kCcGenericMetaDataTcVersion,
  kCustomGenericMetaDataSecurityMechanism = kCcGenericMetaDataSecurityMechanism,
  kCustomGenericMetaDataSubDomain = kCcGenericMetaDataSubDomain,
  kCustomGenericMetaDataSize = kCcGenericMetaDataSize
};

typedef struct CustomAssignmentMetaData {
  uint32_t id;
  char* value;
} CustomAssignmentMetaData;

typedef struct CustomAssignmentStructType {
  CustomAssignmentId assignment_id;
  char* zrb;
  char* cid;
  char* revision;
  char* product_number;
  CustomAssignmentType assignment_type;
  bool restart_required;
  char* file_name;
  uint32_t checksum;
  unsigned char* data_start;
  size_t data_size;
  CustomAssignmentMetaData meta_data_list[kCcAssignmentMetaDataCount];
} CustomAssignmentStructType;

typedef struct CustomFeatureConfiguration {
  char* quarn_device_product_number;
  char* quarn_individualization_cid;
  char* quarn_individualization_tpid_range;
  char* quarn_individualization_imei_range;
  bool set_ext_mode_allowed;
  bool set_operator_domain_allowed;
  bool set_sim_autolock_allowed;
  bool set_sim_softlock_allowed;
  bool set_module_customization_allowed;
  bool set_sub_domain_allowed;
  bool set_imei_allowed;
  bool set_tpid_allowed;
  bool set_sim_lock_keys_allowed;
  bool set_platform_parameter_allowed;
} CustomFeatureConfiguration;

// The fixed name looked for in the working directory.
extern const char kCustomContainerFileName[];

// Called by KvoInitialize / KvoTerminate. A missing container file is not an error; a file that
// does not load gives kKvoResultCustomErrorContainerLoadFailure.
KvoResult CustomInitialize(void);
KvoResult CustomTerminate(void);

// A container is loaded (and logs which one).
bool CustomIsInitialized(void);
bool CustomLoadCustomizationContainer(const char* file_path);
void CustomUnloadCustomizationContainer(void);

KvoResult CustomConvertCcResultToKvoResult(CcResult result);
void CustomConvertCcAssignment(const CcAssignmentStructType* source,
                               CustomAssignmentStructType* destination);

KvoResult CustomGetAssignmentData(CustomAssignmentId assignment_id,
                                  CustomAssignmentStructType* assignment);
// What the container allows for a module product number and CID.
KvoResult CustomGetConfiguration(const char* product_number, CcCid cid,
                                 CustomFeatureConfiguration* configuration);

// All assignments of one type, in container order, in a new array freed with
// CustomReleaseListAssignments.
KvoResult CustomListAssignments(CustomAssignmentType type, CustomAssignmentStructType** list,
                                size_t* size);
KvoResult CustomReleaseListAssignments(CustomAssignmentStructType* list);

KvoResult CustomCopyCommonAssignmentData(KvoCustomCommonAssignmentData* destination,
                                         const CustomAssignmentStructType* source);

// Whether `value` is in `source_data`, a list such as "100:199,250": entries separated by
// data_separator; an entry holding range_separator is a range from the number before it to the
// number after it. Numbers are decimal, compared at 64 bits. An entry of more than 255 characters
// is refused rather than cut, so that no cut number can let a value in.
bool CustomCheckDataInRange(uint64_t value, const char* source_data, const char* range_separator,
                            const char* data_separator);

// Sends `data` over the module's channel: the secure frame protocol on Brem, the transparent
// channel elsewhere (always closed again). kKvoResultCustomDataTransferError when either fails.
KvoResult CustomSendAssignment(KvoDeviceHandle handle, unsigned char* data, size_t data_size,
                               TlTcProgressCallback* progress_callback);
// Validates the assignment for the module, sends it, and resets the module when the assignment
// asks for a restart.
KvoResult CustomSendContainerAssignment(KvoDeviceHandle handle, CustomAssignmentId id);
// After a SIM-lock assignment: success when the module reports an active lock.
KvoResult CustomCheckDeviceSimlock(KvoDeviceHandle handle);

#endif  // KVO_SRC_CUSTOM_CUSTOM_H_
