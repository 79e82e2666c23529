#ifndef KVO_KVO_INFORMATION_H_
#define KVO_KVO_INFORMATION_H_

// Information about an opened module. Most values come from the information report read when the
// module was identified (no exchange with the module); PIN state, temperature, lock information,
// operator domain, ICCID and IMSI are read live. Every getter first brings the port into AT mode,
// which re-identifies a module that was in ITP mode. Texts are zero-terminated and cut silently
// to 63 characters. On a failure the device record is left as it was.

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

// Values of the stored information report, each into its [out] text (emptied first).
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the AT-mode results;
// kKvoResultDeviceErrorFailedToGetInformation when the report did not carry the value.
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
// The name before the ';' of the report's network customization value ("<name>;<setting>").
KVO_API KvoResult KvoDeviceGetCurrentNetworkName(KvoDeviceHandle handle,
                                                 KvoNetworkName* network_name);
// The same three kinds of results for the numeric values below, whose [out] records are written
// only as far as the report carried their parts.
// The number after that ';' (or, without one, the whole value; without a network customization
// value, the report's own network setting line).
KVO_API KvoResult KvoDeviceGetCurrentNetworkSetting(KvoDeviceHandle handle,
                                                    KvoNetworkSetting* network_setting);
// Fills product_domain, then sub_domain; stops at the first value the report did not carry.
KVO_API KvoResult KvoDeviceGetDomain(KvoDeviceHandle handle, KvoDomain* domain);
// Fills cid, then tpid; stops at the first value the report did not carry.
KVO_API KvoResult KvoDeviceGetIndividualization(KvoDeviceHandle handle,
                                                KvoIndividualization* individualization);

// Live queries: each sends its command (timeout per read in brackets) and parses the answer.
// Common results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the AT-mode results;
// kKvoResultGeneralErrorAtError; kKvoResultGeneralErrorParseError for an answer of another shape.

// "AT+CPIN?" (10 s). [out] state; kKvoDevicePinCodeStateUnknown with
// kKvoResultGeneralErrorParseError when the answer names no known state.
KVO_API KvoResult KvoDeviceGetPinCodeState(KvoDeviceHandle handle, KvoDevicePinCodeState* state);
// [in] pin: entered with "AT+CPIN" (10 s; the command is cut to 31 characters), after which the
// SIM state is read once a second, up to ten times, until it changes. An unlocked SIM is left
// alone. [out] state: the new state (kKvoDevicePinCodeStateUnlocked for an unlocked SIM).
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (also for a PIN that is
// empty or holds anything but digits, before anything is sent); the handle results;
// kKvoResultGeneralErrorAtError (the state could not be read, or the PIN not sent);
// kKvoResultDeviceErrorCouldNotConfirmSimUnlock (the PIN was refused, or the state did not
// change).
KVO_API KvoResult KvoDeviceSetPinCode(KvoDeviceHandle handle, const char* pin,
                                      KvoDevicePinCodeState* state);
// "AT*E2OTR?" (10 s). [out] temperature in degrees Celsius.
KVO_API KvoResult KvoDeviceGetTemperature(KvoDeviceHandle handle, KvoTemperature* temperature);
// "AT*EEVINFO=2" (60 s). [out] lock_information: the seven fields in order; the first value the
// answer lacks stops with kKvoResultDeviceErrorFailedToGetInformation and leaves the fields after
// it as they were. kKvoResultGeneralErrorMemory when no memory for the parse.
KVO_API KvoResult KvoDeviceGetLockInformation(KvoDeviceHandle handle,
                                              KvoDeviceLockInformation* lock_information);
// "AT*EERCUST=0,"TRV_OPERATOR_DOMAIN"" (10 s). [out] operator_domain. A command that cannot be
// sent gives kKvoResultDeviceErrorFailedToGetInformation instead of kKvoResultGeneralErrorAtError;
// the module's final result code is not looked at.
KVO_API KvoResult KvoDeviceGetCurrentOperatorDomain(KvoDeviceHandle handle,
                                                    KvoNetworkName* operator_domain);
// "AT+CRSM=176,12258,0,0,10" (10 s), the SIM's ICCID file. [out] iccid: its digits.
KVO_API KvoResult KvoDeviceGetIccid(KvoDeviceHandle handle, KvoIccid* iccid);
// "AT+CIMI" (10 s). [out] imsi: the answer's first line, possibly empty; never a parse error.
KVO_API KvoResult KvoDeviceGetImsi(KvoDeviceHandle handle, KvoImsi* imsi);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_INFORMATION_H_
