#ifndef KVO_KVO_DEVICE_H_
#define KVO_KVO_DEVICE_H_

// Device sessions: listing the ports, opening a module and identifying its platform, closing,
// reopening and resetting it, and a few module-wide controls (LED, CID type).

#include <stddef.h>

#include "kvo/kvo_common.h"
#include "kvo/kvo_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// A row of the device table, 0 to 9, issued by KvoDeviceOpen.
typedef unsigned int KvoDeviceHandle;

// A port name as listed by KvoDeviceGetList.
typedef char KvoDeviceName[64];

typedef struct KvoDeviceOpenParameters {
  KvoDeviceName device_name;
  unsigned int baud;
} KvoDeviceOpenParameters;

// The module family, decided from the product number when the module is identified.
typedef enum KvoDevicePlatformType {
  kKvoDevicePlatformTypeInvalid = 0,
  kKvoDevicePlatformTypeBrem = 1,
  kKvoDevicePlatformTypeCalt = 2,
  kKvoDevicePlatformTypeDovin = 3
} KvoDevicePlatformType;

typedef enum KvoDeviceLedState {
  kKvoDeviceLedStateOn = 0,
  kKvoDeviceLedStateOff = 1
} KvoDeviceLedState;

// The customer-identifier class burnt into a Brem module. KvoDeviceGetCidType reads it from the
// module's answer to "AT*EOTP", which is expected to hold "*EOTP: <cid>" with the decimal CID:
//   177 -> kKvoDeviceCid177, 189 -> kKvoDeviceCid189,
//   190, any other number, or no readable number -> kKvoDeviceCid190.
// kKvoDeviceCid190 is the class for which no customization assignment is accepted, so an answer
// that cannot be read never lets an assignment of another CID through.
typedef enum KvoDeviceCidType {
  kKvoDeviceCid177 = 0,
  kKvoDeviceCid189 = 1,
  kKvoDeviceCid190 = 2
} KvoDeviceCidType;

// [out] list: the names of the ports a module may be on, allocated by the library (null when there
// are none); give it back with KvoDeviceReleaseList. [out] length: its entries. Both are emptied
// first. Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter;
// kKvoResultGeneralErrorNotInitialized; kKvoResultDeviceErrorFailedToListDevices.
KVO_API KvoResult KvoDeviceGetList(KvoDeviceName** list, size_t* length);
// [in] list: from KvoDeviceGetList, or null; freed.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknown should the transport fail.
KVO_API KvoResult KvoDeviceReleaseList(KvoDeviceName* list);

// Opens the port [in] parameters->device_name at parameters->baud and identifies the module: it
// waits until the module reports ready (up to 10 queries a second apart), reads its information
// report and decides the platform from the product number. A module that answers in ITP mode is
// identified from its answer to "VERS"; when that answer names no known platform the open
// succeeds but the handle gives kKvoResultDeviceErrorInvalidHandle afterwards.
// [out] handle: written on success only. A failed open closes the port again.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorNotInitialized;
// kKvoResultGeneralErrorInvalidParameter; kKvoResultDeviceErrorDeviceNotOpen (the port cannot be
// opened, or all 10 handles are taken); kKvoResultGeneralErrorAtError;
// kKvoResultDeviceErrorTimeoutWhileWaitingForReady; kKvoResultDeviceErrorFailedToGetInformation
// (a report without a product number); kKvoResultGeneralErrorUnknownDeviceType (no known
// platform); kKvoResultDeviceErrorFailedToIdentify (no answer to "VERS").
KVO_API KvoResult KvoDeviceOpen(const KvoDeviceOpenParameters* parameters, KvoDeviceHandle* handle);
// Closes the port; the handle is invalid afterwards, also when closing failed.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorNotInitialized;
// kKvoResultDeviceErrorInvalidHandle (above 9); kKvoResultDeviceErrorDeviceNotClosed.
KVO_API KvoResult KvoDeviceClose(KvoDeviceHandle handle);

// Reopens the module after it went away: closes the port, waits 5 seconds, then makes up to
// [in] timeout attempts about a second apart to open the same port, or the port that now carries
// the same device, and identifies the module again. A port that holds another module (another
// IMEI) is not taken: the search goes on for what is left of the attempts. The handle stays the
// same.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorNotInitialized;
// kKvoResultDeviceErrorInvalidHandle (above 9); kKvoResultGeneralErrorOperationTimedOut (the
// module did not come back) or kKvoResultGeneralErrorUnknown (another transport failure), after
// which the handle is invalid; the identification results of KvoDeviceOpen.
KVO_API KvoResult KvoDeviceReopen(KvoDeviceHandle handle, unsigned int timeout);
// Restarts the module ("AT*E2RESET") and reopens it as KvoDeviceReopen with 300 attempts.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorNotInitialized;
// kKvoResultDeviceErrorInvalidHandle (above 9); kKvoResultGeneralErrorAtError (not sent);
// kKvoResultDeviceErrorFailedToReset (the module answered ERROR); the results of
// KvoDeviceReopen.
KVO_API KvoResult KvoDeviceReset(KvoDeviceHandle handle);

// [out] type: the platform stored at identification; the module is not contacted.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the handle results.
KVO_API KvoResult KvoDeviceGetType(KvoDeviceHandle handle, KvoDevicePlatformType* type);
// [out] product_number: the product number of the stored report (emptied first); the module is
// not contacted and its mode not changed.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the handle results;
// kKvoResultDeviceErrorFailedToGetInformation (the report had none).
KVO_API KvoResult KvoDeviceGetProductNumber(KvoDeviceHandle handle,
                                            KvoProductNumber* product_number);

// Brings the port into AT mode and identifies the module again, which reads its information
// report afresh. Results: kKvoResultSuccess; the AT-mode results; the identification results of
// KvoDeviceOpen.
KVO_API KvoResult KvoDeviceForceCacheRefresh(KvoDeviceHandle handle);

// [in] state: kKvoDeviceLedStateOn or kKvoDeviceLedStateOff. Calt and Dovin switch the LED with
// "AT*EEMLED" in AT mode; Brem needs ITP mode and is left in it.
// Results: kKvoResultSuccess; the handle results; kKvoResultGeneralErrorInvalidParameter (another
// state); for Calt and Dovin the AT-mode results; for Brem the result of the switch into ITP
// mode; kKvoResultGeneralErrorAtError (a command not sent or answered with ERROR).
KVO_API KvoResult KvoDeviceSetLedState(KvoDeviceHandle handle, KvoDeviceLedState state);

// [in] platform_type: the module's platform as the caller knows it. For a Brem module sends
// "AT*EOTP" in whatever mode the port is and writes [out] cid_type (see KvoDeviceCidType); for
// any other platform sends nothing and leaves cid_type untouched.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; for Brem the handle results
// and kKvoResultGeneralErrorAtError.
KVO_API KvoResult KvoDeviceGetCidType(KvoDeviceHandle handle, KvoDevicePlatformType platform_type,
                                      KvoDeviceCidType* cid_type);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_DEVICE_H_
