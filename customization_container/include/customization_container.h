#ifndef CUSTOMIZATION_CONTAINER_INCLUDE_CUSTOMIZATION_CONTAINER_H_
#define CUSTOMIZATION_CONTAINER_INCLUDE_CUSTOMIZATION_CONTAINER_H_

// The binary interface of a customization container: the library the module-control library
// loads from "libcustomization_container.dll" in the working directory. Field order and widths
// are fixed. Strings are zero-terminated, owned by the container and valid while it is loaded.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum CcResult {
  kCcResultSuccess = 0,
  kCcResultFailure = 1,
  kCcResultInvalidFileId = 2
} CcResult;

typedef uint32_t CcAssignmentId;
typedef uint32_t CcCid;
typedef char CcRevision[64];
typedef char CcProductNumber[64];
typedef char CcBaseline[64];

typedef struct CcVersion {
  uint32_t major;
  uint32_t minor;
} CcVersion;

// The interface version a container must report (major; the minor is free).
enum { kCcApiVersionMajor = 3, kCcApiVersionMinor = 0 };

typedef enum CcAssignmentType {
  kCcAssignmentTypeSimlock = 0,
  kCcAssignmentTypeOperatorDomain = 1,
  kCcAssignmentTypeITP = 2,
  kCcAssignmentTypeCustomizationFile = 3,
  kCcAssignmentTypeSubDomain = 4,
  kCcAssignmentTypeSetPlatformParameter = 5
} CcAssignmentType;

typedef struct CcAssignmentMetaData {
  uint32_t id;
  char* value;
} CcAssignmentMetaData;

enum { kCcAssignmentMetaDataCount = 10 };

// Positions in meta_data_list of a SIM-lock assignment.
enum {
  kCcSimLockMetaDataCommandType = 0,  // "AutoLock" marks an automatic lock
  kCcSimLockMetaDataTpid = 1,
  kCcSimLockMetaDataLockType = 2,  // decimal lock type, 16 to 21
  kCcSimLockMetaDataDescription = 3,
  kCcSimLockMetaDataId = 4,
  kCcSimLockMetaDataSize = 5
};

// Positions in meta_data_list of every other assignment type.
enum {
  kCcGenericMetaDataCommandType = 0,
  kCcGenericMetaDataTpid = 1,
  kCcGenericMetaDataName = 2,
  kCcGenericMetaDataId = 3,
  kCcGenericMetaDataTcVersion = 4,
  kCcGenericMetaDataSecurityMechanism = 5,
  kCcGenericMetaDataSubDomain = 6,
  kCcGenericMetaDataSize = 7
};

typedef struct CcAssignmentStructType {
  CcAssignmentId assignment_id;
  char* zrb;
  char* cid;
  char* revision;
  char* product_number;
  CcAssignmentType assignment_type;
  bool restart_required;
  char* file_name;
  uint32_t checksum;
  unsigned char* data_start;
  size_t data_size;
  CcAssignmentMetaData meta_data_list[kCcAssignmentMetaDataCount];
} CcAssignmentStructType;

typedef struct CcFeatureConfiguration {
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
} CcFeatureConfiguration;

// The seven entry points, resolved by these names.
typedef CcResult CcGetApiVersionDelegate(CcVersion* version);
typedef CcResult CcGetRevisionDelegate(CcRevision* revision);
typedef CcResult CcGetProductDelegate(CcProductNumber* product_number);
// The array stays owned by the container.
typedef CcResult CcGetAssignmentListDelegate(CcAssignmentStructType** list, size_t* size);
typedef CcResult CcGetConfigurationDelegate(CcFeatureConfiguration* configuration,
                                            CcProductNumber* product_number, CcCid cid);
typedef CcResult CcGetContainerInfoDelegate(CcProductNumber* product_number, CcBaseline* baseline);
typedef CcResult CcGetAssignmentDataDelegate(CcAssignmentId assignment_id,
                                             CcAssignmentStructType* assignment);

#ifdef __cplusplus
}
#endif

#endif  // CUSTOMIZATION_CONTAINER_INCLUDE_CUSTOMIZATION_CONTAINER_H_
