#ifndef KVO_SRC_DEVICE_INFORMATION_H_
#define KVO_SRC_DEVICE_INFORMATION_H_

// Parsers of the module's answers. They work only on the text they are given; the upgrade-state
// parser is also used on the transport's receive thread.

#include <apr_hash.h>
#include <apr_pools.h>
#include <stddef.h>

#include "kvo.h"
#include "kvo/src/device/device.h"

// SIM access (AT+CRSM).
enum {
  kDeviceSimCommandReadBinary = 176,
  kDeviceSimCommandReadRecord = 178,
  kDeviceSimCommandGetResponse = 192,
  kDeviceSimCommandUpdateBinary = 214,
  kDeviceSimCommandUpdateRecord = 220,
  kDeviceSimCommandStatus = 242,
  kDeviceSimFileIdIccid = 12258
};

// Clears value_map and fills it from the report text; keys and values are allocated in pool.
// Always succeeds.
KvoResult DeviceInformationParseEevinfo(apr_pool_t* pool, const char* response,
                                        apr_hash_t* value_map);
KvoResult DeviceInformationGetStringValue(apr_hash_t* value_map, const char* key, char* value,
                                          size_t size);
KvoResult DeviceInformationGetIntValue(apr_hash_t* value_map, const char* key, int* value);

KvoResult DeviceInformationParseCpin(apr_pool_t* pool, const char* response,
                                     KvoDevicePinCodeState* state);
KvoResult DeviceInformationParseE2otr(apr_pool_t* pool, const char* response,
                                      KvoTemperature* temperature);
KvoResult DeviceInformationParseIccid(apr_pool_t* pool, const char* response, KvoIccid* iccid);
KvoResult DeviceInformationParseImsi(apr_pool_t* pool, const char* response, KvoImsi* imsi);
KvoResult DeviceInformationParseRadioMode(const char* response, DeviceRadioMode* mode);
KvoResult DeviceInformationGetOperatorDomain(const char* response, KvoNetworkName* name);
KvoResult DeviceInformationParseUpgradeState(const char* response,
                                             DeviceUpgradeState* upgrade_state);

#endif  // KVO_SRC_DEVICE_INFORMATION_H_
