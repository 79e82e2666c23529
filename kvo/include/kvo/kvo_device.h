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

// The candidate ports; release the list with KvoDeviceReleaseList.
KVO_API KvoResult KvoDeviceGetList(KvoDeviceName** list, size_t* length);
KVO_API KvoResult KvoDeviceReleaseList(KvoDeviceName* list);

// Opens the port and identifies the module. A module whose product number belongs to no known
// platform is closed again and gives kKvoResultGeneralErrorUnknownDeviceType.
KVO_API KvoResult KvoDeviceOpen(const KvoDeviceOpenParameters* parameters, KvoDeviceHandle* handle);
KVO_API KvoResult KvoDeviceClose(KvoDeviceHandle handle);

// Reopens the module after it went away (timeout counts attempts about a second apart) and
// identifies it again.
KVO_API KvoResult KvoDeviceReopen(KvoDeviceHandle handle, unsigned int timeout);
// Restarts the module ("AT*E2RESET") and reopens it.
KVO_API KvoResult KvoDeviceReset(KvoDeviceHandle handle);

// The stored platform type and product number; the module is not contacted.
KVO_API KvoResult KvoDeviceGetType(KvoDeviceHandle handle, KvoDevicePlatformType* type);
KVO_API KvoResult KvoDeviceGetProductNumber(KvoDeviceHandle handle,
                                            KvoProductNumber* product_number);

// Brings the port into AT mode and reads the module's information report again.
KVO_API KvoResult KvoDeviceForceCacheRefresh(KvoDeviceHandle handle);

// Calt and Dovin switch the LED with an AT command; Brem needs ITP mode and is left in it.
KVO_API KvoResult KvoDeviceSetLedState(KvoDeviceHandle handle, KvoDeviceLedState state);

// For a Brem module (platform_type) asks the module; for the others succeeds without sending
// anything and leaves cid_type untouched.
KVO_API KvoResult KvoDeviceGetCidType(KvoDeviceHandle handle, KvoDevicePlatformType platform_type,
                                      KvoDeviceCidType* cid_type);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_DEVICE_H_
