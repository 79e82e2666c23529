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

// Writing single assignments to an open module, and reading back what was written.
//
// An assignment reaches a Brem module over the secure frame protocol ("AT*EESFUD=3"; the module
// checks its authorization) and every other module over the transparent channel, whose request id
// takes the first two bytes of the data. Each operation first brings the port into AT mode.
// Common results: kKvoResultSuccess; kKvoResultCustomErrorContainerNotLoaded; the handle and
// AT-mode results; kKvoResultCustomErrorInvalidFileId or kKvoResultGeneralErrorUnknown for an id
// the container does not know; a failing read of a module value, unchanged.

// Whether [in] zrb_sub_str occurs anywhere in [in] device_zrb.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknownDeviceType (it does not, or either is
// null).
KVO_API KvoResult KvoCustomCompareDeviceProductNumber(const char* device_zrb, char* zrb_sub_str);

// Whether assignment [in] id may be written to the module: its product number must hold the
// assignment's. A Brem module is then decided by its CID type alone (see KvoDeviceCidType: CID
// 177 takes assignments of CID "177", CID 189 those of "189", exactly as written). Other modules
// must match the container's configuration for their product number and CID: the same CID, an
// IMEI in the configured ranges ("low:high" entries and single values, comma separated), a TPID
// among the configured values, the permission for the assignment's type, and the assignment's
// CID. Results (besides the common ones): kKvoResultCustomErrorDeviceNotSupported (another
// product, or a Brem CID type not covered); kKvoResultCustomErrorOperationNotAllowed (a check
// against the configuration failed); a container failure to give the configuration.
KVO_API KvoResult KvoCustomValidateAssignment(KvoDeviceHandle handle, KvoCustomAssignmentId id);

// Sends [in] data_size bytes of [in] data to the module as they are (no container, no
// validation, no restart). Over the transparent channel data_size must be at least 2.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (no data); the handle and
// AT-mode results; kKvoResultCustomDataTransferError (a channel could not be opened, written or
// closed).
KVO_API KvoResult KvoCustomSendAssignment(KvoDeviceHandle handle, unsigned char* data,
                                          size_t data_size);

// Set operations: each writes assignment [in] id, which must be of the operation's own type
// (kKvoResultCustomErrorInvalidFileId otherwise), after validating it for the module (any refusal
// gives kKvoResultCustomErrorOperationNotAllowed). An assignment that asks for a restart resets
// and reopens the module afterwards (the results of KvoDeviceReset). A failure after sending
// leaves the assignment written in the module. kKvoResultCustomDataTransferError when the data
// could not be sent.
//
// SIM lock. An automatic lock ("AutoLock") needs a SIM card: kKvoResultCustomSimCardNotPresent,
// with nothing sent, when the module reports no PIN state. After sending, the module is
// identified again and must report an active lock on its network, network subset, service
// provider, corporate or extended SIM lock: kKvoResultCustomDeviceSimLockNotSet otherwise.
KVO_API KvoResult KvoCustomSimlockSet(KvoDeviceHandle handle, KvoCustomAssignmentId id);
// Operator domain; the module is identified again afterwards.
KVO_API KvoResult KvoCustomOperatorDomainSet(KvoDeviceHandle handle, KvoCustomAssignmentId id);
// Customization file; the module is identified again afterwards:
// kKvoResultCustomErrorDeviceRefreshFailed when that fails.
KVO_API KvoResult KvoCustomCustomizationSet(KvoDeviceHandle handle, KvoCustomAssignmentId id);
KVO_API KvoResult KvoCustomSubDomainSet(KvoDeviceHandle handle, KvoCustomAssignmentId id);
KVO_API KvoResult KvoCustomPlatformParameterSet(KvoDeviceHandle handle, KvoCustomAssignmentId id);

// Verify operations: validate assignment [in] id for the module (its refusal is returned as
// is), then compare what the module reports with the assignment: the SIM-lock description,
// product and revision; the customization product (blanks ignored) and revision; the operator
// domain with the assignment's name; the sub-domain number. kKvoResultCustomErrorVerifyFailed on
// the first difference.
KVO_API KvoResult KvoCustomSimlockVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id);
KVO_API KvoResult KvoCustomOperatorDomainVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id);
KVO_API KvoResult KvoCustomCustomizationVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id);
KVO_API KvoResult KvoCustomSubDomainVerify(KvoDeviceHandle handle, KvoCustomAssignmentId id);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_CUSTOM_H_
