#ifndef KVO_SRC_RADIO_RADIO_H_
#define KVO_SRC_RADIO_RADIO_H_

// The radio test layer inside the library: its start and stop, the radio's state around a test,
// the ITP-mode tests, and the scan lists handed to callers.

#include <stddef.h>
#include <string.h>

#include <new>

#include "kvo.h"
#include "kvo/src/device/device.h"

// The number a caller stored in an enumeration field. A C caller may store any int there, which
// C++ must not load as the enumeration: fields are checked through this before they are used.
template <typename Enum>
int RadioEnumValue(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(int), "C enumerations are ints");
  int value = 0;
  memcpy(&value, &field, sizeof value);
  return value;
}

// Runs `body`; an allocation failure of the standard containers it uses becomes `on_failure`
// instead of an exception through the C interface or out of the receive thread.
template <typename Body>
KvoResult RadioGuarded(KvoResult on_failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    KvoLogError("KVO:Radio", "Failed to allocate memory.");
    return on_failure;
  }
}

// Started last by KvoInitialize and stopped last (before the transport) by KvoTerminate.
KvoResult RadioInitialize(void);
KvoResult RadioTerminate(void);

// The asynchronous scan's share of the start and stop: its lock and condition live in `pool`.
KvoResult RadioAsyncInitialize(apr_pool_t* pool);
void RadioAsyncTerminate(void);

// "AT+CFUN?": kKvoRadioError when the module cannot be asked.
KvoRadioStatus RadioGetRadioStatus(KvoDeviceHandle handle);
// "AT+CFUN=4", then up to 5 seconds for the module to report the radio off.
KvoResult RadioTurnRadioOff(KvoDeviceHandle handle);

// Around an AT-mode scan: the module is taken out of ITP mode and its radio switched off; the exit
// switches the radio on again (after 3 seconds) when it was on before.
KvoResult RadioRssiScanEnter(KvoDeviceHandle handle, DeviceRadioMode* mode_before);
void RadioRssiScanExit(KvoDeviceHandle handle, DeviceRadioMode mode_before);

// Every scan refuses these before anything is sent: a band above 12, an unknown antenna path, a
// step or sample count of 0, a start above the end, and a record count beyond what a list holds.
bool RadioScanParametersValid(const KvoRadioRssiScanParameters& parameters);

// ITP mode.
KvoResult RadioItpGetSupportedBands(KvoDeviceHandle handle, KvoRadioBand** list, size_t* size);
KvoResult RadioItpGsmTxEnable(KvoDeviceHandle handle, const KvoRadioTxEnableParameters* parameters);
KvoResult RadioItpWcdmaTxEnable(KvoDeviceHandle handle,
                                const KvoRadioTxEnableParameters* parameters);
KvoResult RadioItpRssiScan(KvoDeviceHandle handle, const KvoRadioRssiScanParameters* parameters,
                           KvoRadioRssiScanData** data_list, size_t* size);
KvoResult RadioITPGpsTestSingleSatellite(KvoDeviceHandle handle,
                                         KvoRadioGpsSatelliteId satellite_id,
                                         KvoRadioGpsSingleSatelliteTestData* data);

// A scan list being filled: freed, values and all, on every path unless handed out.
class RadioScanList {
 public:
  RadioScanList() = default;
  ~RadioScanList();
  RadioScanList(const RadioScanList&) = delete;
  RadioScanList& operator=(const RadioScanList&) = delete;

  // `count` empty records; false (logged) when they cannot be allocated.
  bool Allocate(size_t count);
  // Fills record `index` with a copy of `count` values; false (logged) when they cannot be
  // allocated.
  bool Set(size_t index, KvoRadioBand band, KvoRadioChannel channel, KvoRadioAntennaPath path,
           const KvoRadioRssiValue* values, size_t count);
  size_t size() const { return size_; }
  // The first record carries the count.
  void HandOut(KvoRadioRssiScanData** list, size_t* size);

 private:
  KvoRadioRssiScanData* list_ = nullptr;
  size_t size_ = 0;
};

#endif  // KVO_SRC_RADIO_RADIO_H_
