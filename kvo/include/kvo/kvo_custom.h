#ifndef KVO_KVO_CUSTOM_H_
#define KVO_KVO_CUSTOM_H_

// Customization: the assignments (SIM locks, operator domains, sub-domains, customization files,
// platform parameters) offered by the customization container "libcustomization_container.dll",
// which the library loads from the working directory when it starts. Without a container every
// operation here gives kKvoResultCustomErrorContainerNotLoaded.
//
// The lists handed out are self-contained copies owned by the caller, who frees each with the
// matching release function.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "kvo/kvo_common.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_export.h"
#include "kvo/kvo_information.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t KvoCustomAssignmentId;
typedef char KvoCustomAssignmentFileName[64];
typedef bool KvoCustomAssignmentRestartRequired;
typedef uint32_t KvoCustomAssignmentChecksum;
typedef char KvoBaseline[64];

// What every listed assignment carries.
typedef struct KvoCustomCommonAssignmentData {
  KvoCustomAssignmentId assignment_id;
  // Product number of the modules the assignment applies to.
  KvoProductNumber zrb;
  KvoProductNumber product_number;
  KvoRevision revision;
  KvoCustomAssignmentFileName file_name;
  KvoCustomAssignmentRestartRequired restart_required;
  KvoCustomAssignmentChecksum checksum;
} KvoCustomCommonAssignmentData;

typedef enum KvoCustomSimLockType {
  kKvoCustomSimLockTypeNetworkLock = 16,
  kKvoCustomSimLockTypeNetworkSubsetLock = 17,
  kKvoCustomSimLockTypeServiceProviderLock = 18,
  kKvoCustomSimLockTypeCorporateLock = 19,
  kKvoCustomSimLockTypeSimLock = 20,
  kKvoCustomSimLockTypeFlexibleEslLock = 21
} KvoCustomSimLockType;

typedef char KvoCustomSimLockDescription[64];
typedef char KvoCustomSimLockId[16];

typedef struct KvoCustomSimLockData {
  KvoCustomCommonAssignmentData common_data;
  KvoCustomSimLockDescription description;
  // Cut to 15 characters.
  KvoCustomSimLockId id;
  KvoCustomSimLockType type;
} KvoCustomSimLockData;

typedef struct KvoCustomOperatorDomainData {
  KvoCustomCommonAssignmentData common_data;
} KvoCustomOperatorDomainData;

typedef char KvoCustomSubDomainName[64];

typedef struct KvoCustomSubDomainData {
  KvoCustomCommonAssignmentData common_data;
  KvoCustomSubDomainName name;
} KvoCustomSubDomainData;

typedef uint32_t KvoCustomCustomizationId;

typedef struct KvoCustomCustomizationData {
  KvoCustomCommonAssignmentData common_data;
  KvoCustomCustomizationId customization_id;
} KvoCustomCustomizationData;

typedef struct KvoCustomPlatformParameterData {
  KvoCustomCommonAssignmentData common_data;
} KvoCustomPlatformParameterData;

// A container failure is passed on as kKvoResultCustomErrorInvalidFileId or
// kKvoResultGeneralErrorUnknown.

// [out] product_number, baseline: the container's, cut to 63 characters; untouched on failure.
// Results: kKvoResultSuccess; kKvoResultCustomErrorContainerNotLoaded;
// kKvoResultGeneralErrorInvalidParameter; a container failure.
KVO_API KvoResult KvoCustomGetContainerInfo(KvoProductNumber* product_number,
                                            KvoBaseline* baseline);

// The assignments of one kind, in container order. [out] list: set to null first, then an array
// allocated by the library; give it back with the Release function of the same kind. [out] size
// (may be null): set to 0 first, then the array's entries.
// Results: kKvoResultSuccess; kKvoResultCustomErrorContainerNotLoaded;
// kKvoResultGeneralErrorInvalidParameter (a null list);
// kKvoResultCustomErrorNoFilesFoundForType (no assignment of the kind);
// kKvoResultGeneralErrorMemory; a container failure.
// Each Release function frees its [in] list (null allowed). Results: kKvoResultSuccess.
KVO_API KvoResult KvoCustomSimlocksGetList(KvoCustomSimLockData** list, size_t* size);
KVO_API KvoResult KvoCustomSimlocksReleaseList(KvoCustomSimLockData* list);
KVO_API KvoResult KvoCustomCustomizationList(KvoCustomCustomizationData** list, size_t* size);
KVO_API KvoResult KvoCustomCustomizationReleaseList(KvoCustomCustomizationData* list);
KVO_API KvoResult KvoCustomOperatorDomainGetList(KvoCustomOperatorDomainData** list, size_t* size);
KVO_API KvoResult KvoCustomOperatorDomainReleaseList(KvoCustomOperatorDomainData* list);
KVO_API KvoResult KvoCustomPlatformParameterGetList(KvoCustomPlatformParameterData** list,
                                                    size_t* size);
KVO_API KvoResult KvoCustomPlatformParameterReleaseList(KvoCustomPlatformParameterData* list);
KVO_API KvoResult KvoCustomSubDomainList(KvoCustomSubDomainData** list, size_t* size);
KVO_API KvoResult KvoCustomSubDomainReleaseList(KvoCustomSubDomainData* list);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_CUSTOM_H_
