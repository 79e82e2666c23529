#ifndef KVO_SRC_DEVICE_DEVICE_H_
#define KVO_SRC_DEVICE_DEVICE_H_

// The library's view of the opened modules: one record per device handle, the platform decided at
// identification, the port's mode (AT or ITP) and the values of the module's information report.

#include <apr_hash.h>
#include <apr_pools.h>

#include "kvo.h"

// On is 0: the port speaks the module's ITP command set; Off: ordinary AT commands.
typedef enum DeviceItpMode { kDeviceItpModeOn = 0, kDeviceItpModeOff = 1 } DeviceItpMode;

// The values of "AT+CFUN".
typedef enum DeviceRadioMode { kDeviceRadioModeOn = 1, kDeviceRadioModeOff = 4 } DeviceRadioMode;

// The module's upgrade state, 0 to 13.
typedef unsigned int DeviceUpgradeState;

enum { kDeviceMaxDevices = 10 };

// Arguments of the ITP command "ledc".
enum {
  kDeviceLedControlLed1 = 1,
  kDeviceLedControlLedOff = 0,
  kDeviceLedControlLedOn = 1,
  kDeviceLedControlLedBlinking = 2,
  kDeviceLedControlLedIntensity = 3,
  kDeviceLedControlPeriod = 2000,
  kDeviceLedControlOnTime = 100,
  kDeviceLedControlIntensity21 = 21
};

// The product-number text stored when no platform matched.
extern const char* const kDeviceUnknownZrb;

typedef struct DeviceInformation {
  KvoDevicePlatformType type;
  // The product-number text of the platform row that matched, or kDeviceUnknownZrb.
  const char* zrb;
  DeviceItpMode itp_mode;
  // Key string to value string, from the information report.
  apr_hash_t* value_map;
  // Owns the strings of value_map; cleared before each new report so that repeated
  // identifications do not grow the library's memory.
  apr_pool_t* value_pool;
} DeviceInformation;

KvoResult DeviceInitialize(void);
KvoResult DeviceTerminate(void);

// Initialized, handle in range, record identified and port still open. A port the transport lost
// invalidates the record (kKvoResultGeneralErrorDeviceNotOpen).
KvoResult DeviceCheckHandle(KvoDeviceHandle handle);

KvoResult DeviceIdentifyModule(KvoDeviceHandle handle);
KvoResult DeviceReopen(KvoDeviceHandle handle, unsigned int timeout,
                       unsigned int reopen_after_seconds);

KvoResult DeviceSetItpMode(KvoDeviceHandle handle, DeviceItpMode mode);
KvoResult DeviceSetEchoOff(KvoDeviceHandle handle);

KvoResult DeviceGetRadioMode(KvoDeviceHandle handle, DeviceRadioMode* mode);
// Sets the mode and waits up to 20 seconds for the module to report it.
KvoResult DeviceSetRadioMode(KvoDeviceHandle handle, DeviceRadioMode mode);

// Asks the module.
KvoResult DeviceGetUpgradeState(KvoDeviceHandle handle, DeviceUpgradeState* upgrade_state);
// The state reported at the last identification.
KvoResult DeviceGetCachedUpgradeState(KvoDeviceHandle handle, DeviceUpgradeState* upgrade_state);

// The record of a handle in range (nullptr otherwise); for the information getters.
DeviceInformation* DeviceGetRecord(KvoDeviceHandle handle);

#endif  // KVO_SRC_DEVICE_DEVICE_H_
