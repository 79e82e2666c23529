#ifndef KVO_KVO_INFORMATION_H_
#define KVO_KVO_INFORMATION_H_

// Information about an opened module. Most values come from the information report read when the
// module was identified (no exchange with the module); PIN state, temperature, lock information,
// operator domain, ICCID and IMSI are read live. Every getter first brings the port into AT mode.
// Texts are zero-terminated and cut silently to 63 characters.

#include "kvo/kvo_common.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef char KvoSerialNumber[64];
typedef char KvoDateAndTime[64];
typedef char KvoSvn[64];
typedef char KvoImei[64];
typedef char KvoDeviceModel[64];
typedef char KvoIccid[64];
typedef char KvoImsi[64];
typedef char KvoNetworkName[64];
typedef char KvoSimlockDescription[64];

typedef unsigned int KvoNetworkSetting;
// Degrees Celsius.
typedef int KvoTemperature;
typedef unsigned int KvoCid;
typedef unsigned int KvoTpid;

typedef struct KvoIndividualization {
  KvoCid cid;
  KvoTpid tpid;
} KvoIndividualization;

typedef enum KvoProductDomain {
  kKvoProductDomainFactory = 1,
  kKvoProductDomainDevelopment = 2,
  kKvoProductDomainProduct = 3
} KvoProductDomain;

typedef enum KvoSubDomain {
  kKvoSubDomainFactory = 0,
  kKvoSubDomainCustomization = 1,
  kKvoSubDomainAssembly = 2,
  kKvoSubDomainUser = 3
} KvoSubDomain;

typedef struct KvoDomain {
  KvoProductDomain product_domain;
  KvoSubDomain sub_domain;
} KvoDomain;

typedef char KvoLockedNetwork[64];
typedef char KvoLockedNetworkSubset[64];
typedef char KvoLockedServiceProvider[64];
typedef char KvoLockedCorporate[64];
typedef char KvoLockedSimLock[64];
typedef char KvoLockedExtendedSimLock[64];
typedef char KvoAutoLockActivated[64];

typedef struct KvoDeviceLockInformation {
  KvoLockedNetwork network;
  KvoLockedNetworkSubset network_subset;
  KvoLockedServiceProvider service_provider;
  KvoLockedCorporate corporate;
  KvoLockedSimLock sim_lock;
  KvoLockedExtendedSimLock extended_sim_lock;
  KvoAutoLockActivated auto_lock_activated;
} KvoDeviceLockInformation;

typedef enum KvoDevicePinCodeState {
  kKvoDevicePinCodeStateUnknown = 0,
  kKvoDevicePinCodeStateUnlocked = 1,
  kKvoDevicePinCodeStatePinLocked = 2,
  kKvoDevicePinCodeStatePukLocked = 3,
  kKvoDevicePinCodeStatePHNETLocked = 4,
  kKvoDevicePinCodeStatePHNETSUBLocked = 5,
  kKvoDevicePinCodeStatePHSPLocked = 6,
  kKvoDevicePinCodeStatePHCORPLocked = 7,
  kKvoDevicePinCodeStatePHSIMLocked = 8,
  kKvoDevicePinCodeStatePHESLLocked = 9
} KvoDevicePinCodeState;

// Values of the information report. A value the report did not carry gives
// kKvoResultDeviceErrorFailedToGetInformation and an empty text.
KVO_API KvoResult KvoDeviceGetModel(KvoDeviceHandle handle, KvoDeviceModel* model);
KVO_API KvoResult KvoDeviceGetImei(KvoDeviceHandle handle, KvoImei* imei);
KVO_API KvoResult KvoDeviceGetSvn(KvoDeviceHandle handle, KvoSvn* svn);
KVO_API KvoResult KvoDeviceGetSerialNumber(KvoDeviceHandle handle, KvoSerialNumber* serial_number);
KVO_API KvoResult KvoDeviceGetProductRevision(KvoDeviceHandle handle, KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetFirmwareProduct(KvoDeviceHandle handle,
                                              KvoProductNumber* product_number);
KVO_API KvoResult KvoDeviceGetFirmwareRevision(KvoDeviceHandle handle, KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetFirmwareBuildDate(KvoDeviceHandle handle,
                                                KvoDateAndTime* date_and_time);
KVO_API KvoResult KvoDeviceGetCustomizationProduct(KvoDeviceHandle handle,
                                                   KvoProductNumber* product_number);
KVO_API KvoResult KvoDeviceGetCustomizationRevision(KvoDeviceHandle handle, KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetNetworkListProduct(KvoDeviceHandle handle,
                                                 KvoProductNumber* product_number);
KVO_API KvoResult KvoDeviceGetNetworkListRevision(KvoDeviceHandle handle, KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetNetworkCustomizationProduct(KvoDeviceHandle handle,
                                                          KvoProductNumber* product_number);
KVO_API KvoResult KvoDeviceGetNetworkCustomizationRevision(KvoDeviceHandle handle,
                                                           KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetConfigurationSetProduct(KvoDeviceHandle handle,
                                                      KvoProductNumber* product_number);
KVO_API KvoResult KvoDeviceGetConfigurationSetRevision(KvoDeviceHandle handle,
                                                       KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetSimlockProduct(KvoDeviceHandle handle,
                                             KvoProductNumber* product_number);
KVO_API KvoResult KvoDeviceGetSimlockRevision(KvoDeviceHandle handle, KvoRevision* revision);
KVO_API KvoResult KvoDeviceGetSimlockDescription(KvoDeviceHandle handle,
                                                 KvoSimlockDescription* description);
KVO_API KvoResult KvoDeviceGetCurrentNetworkName(KvoDeviceHandle handle,
                                                 KvoNetworkName* network_name);
KVO_API KvoResult KvoDeviceGetCurrentNetworkSetting(KvoDeviceHandle handle,
                                                    KvoNetworkSetting* network_setting);
// Fills product_domain, then sub_domain; stops at the first value the report did not carry.
KVO_API KvoResult KvoDeviceGetDomain(KvoDeviceHandle handle, KvoDomain* domain);
// Fills cid, then tpid; stops at the first value the report did not carry.
KVO_API KvoResult KvoDeviceGetIndividualization(KvoDeviceHandle handle,
                                                KvoIndividualization* individualization);

// Live queries.
KVO_API KvoResult KvoDeviceGetPinCodeState(KvoDeviceHandle handle, KvoDevicePinCodeState* state);
// Enters the PIN (cut to fit a 31-character command) and waits up to ten seconds for the SIM
// state to change; an unlocked SIM is left alone.
KVO_API KvoResult KvoDeviceSetPinCode(KvoDeviceHandle handle, const char* pin,
                                      KvoDevicePinCodeState* state);
KVO_API KvoResult KvoDeviceGetTemperature(KvoDeviceHandle handle, KvoTemperature* temperature);
KVO_API KvoResult KvoDeviceGetLockInformation(KvoDeviceHandle handle,
                                              KvoDeviceLockInformation* lock_information);
KVO_API KvoResult KvoDeviceGetCurrentOperatorDomain(KvoDeviceHandle handle,
                                                    KvoNetworkName* operator_domain);
KVO_API KvoResult KvoDeviceGetIccid(KvoDeviceHandle handle, KvoIccid* iccid);
KVO_API KvoResult KvoDeviceGetImsi(KvoDeviceHandle handle, KvoImsi* imsi);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_INFORMATION_H_
