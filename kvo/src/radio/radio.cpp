// Radio tests in AT mode: supported bands, the radio's state around a test, the synchronous RSSI
// scan, the GPS single-satellite test, the transmitter, and the release functions. Brem modules
// (and the transmitter of every platform but Dovin) go to the ITP-mode tests of radio_itp.cpp.

#include "kvo/src/radio/radio.h"

#include <apr_pools.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "common/src/wait_seam.h"
#include "kvo/src/device/device_at.h"
#include "kvo/src/radio/radio_convert.h"
#include "kvo/src/radio/radio_parse.h"

namespace {

constexpr char kSender[] = "KVO:Radio";
constexpr unsigned kRadioAtSendTimeout2 = 2;
constexpr unsigned kRadioAtSendTimeout5 = 5;
constexpr unsigned kRadioAtSendTimeout100 = 100;
constexpr int kRadioOffPolls = 5;
constexpr int kRadioOnAgainSeconds = 3;

enum RadioRssiReportType {
  kRadioRssiReportTypeAverageSamples = 0,
  kRadioRssiReportTypeAllSamples = 1,
};
enum { kRadioGpsDataValid = 1, kRadioGpsSingleSatelliteTestMode = 1 };

constexpr char kGpsQ11Family[] = "ZRB 207 41";
constexpr char kGpsQ12Family[] = "ZRB 207 42";

apr_pool_t* memory_pool = nullptr;

bool IsWcdma(KvoRadioBand band) {
  return band > kKvoRadioBandGsm850;
}

KvoResult GetType(KvoDeviceHandle handle, KvoDevicePlatformType* type, const char* sender) {
  const KvoResult result = KvoDeviceGetType(handle, type);
  if (result != kKvoResultSuccess) KvoLogError(sender, "Unable to get device type.");
  return result;
}

// Switches the radio back on after a scan when it was on before, on every path out of the scan.
class ScanExit {
 public:
  ScanExit(KvoDeviceHandle handle, DeviceRadioMode mode_before)
      : handle_(handle), mode_before_(mode_before) {}
  ~ScanExit() { RadioRssiScanExit(handle_, mode_before_); }
  ScanExit(const ScanExit&) = delete;
  ScanExit& operator=(const ScanExit&) = delete;

 private:
  KvoDeviceHandle handle_;
  DeviceRadioMode mode_before_;
};

KvoResult AtModeGetSupportedBands(KvoDeviceHandle handle, KvoRadioBand** list, size_t* size) {
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) return result;
  KvoLogDebug(kSender, " Entered KvoRadioGetSupportedBands");

  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, "AT*E2BAND?", kRadioAtSendTimeout2);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "Could not get supported bands. TlAtSend failed (tl_result %d).", sent);
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  if (!at.Ok()) {
    KvoLogError(kSender,
                "Could not get supported bands. AT command returned not OK, (at_result %d).",
                at.Code());
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  KvoLogDebug(kSender, "AT*E2Band sent, result kTlResultSuccess.");

  unsigned gsm_mask = 0;
  unsigned wcdma_mask = 0;
  result = RadioParseE2Band(at.Text(), &gsm_mask, &wcdma_mask);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, " Error in response to E2Band. Result %d, Data %s", at.Code(), at.Text());
    return result;
  }
  KvoLogInfo(kSender, " Enabled GSM Bands: %u, Enabled WCDMA Bands: %u", gsm_mask, wcdma_mask);

  const std::vector<KvoRadioBand> bands = RadioBandsFromMasks(gsm_mask, wcdma_mask);
  if (!bands.empty()) {
    *list = static_cast<KvoRadioBand*>(malloc(bands.size() * sizeof(KvoRadioBand)));
    if (*list == nullptr) return kKvoResultGeneralErrorMemory;
    memcpy(*list, bands.data(), bands.size() * sizeof(KvoRadioBand));
  }
  *size = bands.size();
  KvoLogDebug(kSender, " Exit KvoRadioGetSupportedBands");
  return kKvoResultSuccess;
}

KvoResult AtModeRssiScan(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                         bool average_samples, KvoRadioRssiScanData** data_list, size_t* size) {
  if (parameters.antenna_path != kKvoRadioAntennaPathMain &&
      parameters.antenna_path != kKvoRadioAntennaPathMainAndDiversity) {
    KvoLogError(kSender,
                "Antenna path out of range, %d instead of kKvoRadioAntennaPathMain or "
                "kKvoRadioAntennaPathMainAndDiversity.",
                static_cast<int>(parameters.antenna_path));
    return kKvoResultGeneralErrorInvalidParameter;
  }
  DeviceRadioMode mode_before = kDeviceRadioModeOff;
  KvoResult result = RadioRssiScanEnter(handle, &mode_before);
  if (result != kKvoResultSuccess) return result;
  const ScanExit exit(handle, mode_before);

  const int report_type =
      average_samples ? kRadioRssiReportTypeAverageSamples : kRadioRssiReportTypeAllSamples;
  char command[128];
  if (IsWcdma(parameters.band)) {
    snprintf(command, sizeof command, "AT*EEMRSSI=%d,%u,%u,%d,%zu,%zu,%d",
             static_cast<int>(parameters.band), parameters.start_channel, parameters.end_channel,
             static_cast<int>(parameters.antenna_path), parameters.number_of_samples,
             parameters.step_size, report_type);
  } else {
    snprintf(command, sizeof command, "AT*EEMRSSI=%d,%u,%u,%zu,%zu,%d",
             static_cast<int>(parameters.band), parameters.start_channel, parameters.end_channel,
             parameters.number_of_samples, parameters.step_size, report_type);
  }
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, command, kRadioAtSendTimeout100);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "KvoRadioRssiScan. TlAtSend failed (tl_result %d).", sent);
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  if (!at.Ok()) {
    KvoLogError(kSender, "KvoRadioRssiScan. AT command returned NOT OK, (at_result %d).",
                at.Code());
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }

  const bool both_paths = parameters.antenna_path == kKvoRadioAntennaPathMainAndDiversity;
  const size_t channels = static_cast<size_t>(RadioScanChannelCount(parameters));
  const size_t values_per_record = average_samples ? 1 : parameters.number_of_samples;
  KvoRadioBand band = parameters.band;
  std::vector<RadioRssiRecord> records;
  result = RadioParseRssiSync(at.Text(), channels, values_per_record, both_paths, &band, &records);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "apr_strtok() failed, return 0.");
    return result;
  }
  RadioScanList list;
  if (!list.Allocate(records.size())) return kKvoResultGeneralErrorMemory;
  for (size_t i = 0; i < records.size(); ++i) {
    const RadioRssiRecord& record = records[i];
    if (!list.Set(i, band, record.channel, record.path, record.values.data(),
                  record.values.size())) {
      return kKvoResultGeneralErrorMemory;
    }
  }
  list.HandOut(data_list, size);
  return kKvoResultSuccess;
}

KvoResult AtModeGpsTest(KvoDeviceHandle handle, KvoRadioGpsSatelliteId satellite_id,
                        KvoRadioGpsSingleSatelliteTestData* data) {
  if (DeviceSetItpMode(handle, kDeviceItpModeOff) != kKvoResultSuccess) {
    return kKvoResultDeviceErrorSettingItpMode;
  }
  char command[64];
  snprintf(command, sizeof command, "AT*EEMGPSMEASURE=%d,%d", kRadioGpsSingleSatelliteTestMode,
           static_cast<int>(satellite_id));
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, command, kRadioAtSendTimeout100);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "KvoRadioGpsTestSingleSatellite. TlAtSend failed (tl_result %d).", sent);
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  if (!at.Ok()) {
    KvoLogError(kSender,
                "KvoRadioGpsTestSingleSatellite. AT command returned NOT OK, (at_result %d).",
                at.Code());
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  KvoLogInfo(kSender, "KvoRadioGpsTestSingleSatellite(): satellite_id %d",
             static_cast<int>(satellite_id));

  RadioGpsReport report;
  if (RadioParseGpsReport(at.Text(), &report) != kKvoResultSuccess) {
    KvoLogError(kSender, "apr_strtok() failed, return 0.");
    return kKvoResultGeneralErrorParseError;
  }
  KvoResult result = kKvoResultSuccess;
  if (report.validity != kRadioGpsDataValid) {
    KvoLogError(kSender, "Satellite Test Report is not valid (%ld).", report.validity);
    result = kKvoResultRadioGpsResultNotValid;
  }
  // An invalid report still hands out what the module measured.
  *data = report.data;
  KvoLogDebug(kSender, "data->satellite_id %d.", static_cast<int>(data->satellite_id));
  KvoLogDebug(kSender, "data->signal_strength %d.", data->signal_strength);
  KvoLogDebug(kSender, "data->signal_to_noise_ratio %d.", data->signal_to_noise_ratio);
  KvoLogDebug(kSender, "Returning from KvoRadioGpsTestSingleSatellite(), return code %d", result);
  return result;
}

KvoResult DovinTxEnable(KvoDeviceHandle handle, const KvoRadioTxEnableParameters& parameters) {
  KvoLogDebug(kSender, "KvoRadioTxEnable - Q21 type module, will use probe.");
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to disable ITP.");
    return result;
  }
  if (RadioGetRadioStatus(handle) == kKvoRadioOn) {
    result = RadioTurnRadioOff(handle);
    if (result != kKvoResultSuccess) {
      KvoLogErrorCode(kSender, result);
      KvoLogError(kSender, "Failed to disable radio.");
      return kKvoResultRadioStateError;
    }
  }
  // The module is told the downlink channel of a WCDMA uplink.
  KvoRadioChannel channel = parameters.channel;
  if (IsWcdma(parameters.band)) {
    RadioConvertDlChannelToUlChannel(parameters.band, parameters.channel, &channel);
  }
  char command[96];
  snprintf(command, sizeof command, "AT*EEMENABLETX = %d, %u, 0, %u",
           static_cast<int>(parameters.band), channel, parameters.power_level);
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, command, kRadioAtSendTimeout2);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "KvoRadioTxEnable - Failed to enable radio.");
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  if (!at.Ok()) {
    KvoLogError(kSender, "KvoRadioTxEnable - Enable TX command returned %d", at.Code());
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  return kKvoResultSuccess;
}

KvoResult DovinTxDisable(KvoDeviceHandle handle) {
  // A radio that stays on does not keep the transmitter from being stopped.
  RadioTurnRadioOff(handle);
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, "AT*EEMENABLETX=99", kRadioAtSendTimeout2);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "KvoRadioTxDisable - Failed to disable radio.");
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  if (!at.Ok()) {
    KvoLogError(kSender, "KvoRadioTxEnable - Disable TX command returned %d", at.Code());
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  const KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) KvoLogError(kSender, "Failed to set device to AT mode");
  return result;
}

KvoResult ItpTxDisable(KvoDeviceHandle handle) {
  const KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOn);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to enable ITP.");
    return result;
  }
  KvoLogDebug(kSender, "Sending ITP-command %s", "rera");
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, "rera", kRadioAtSendTimeout100);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "KvoRadioTxDisable() failed (tl_result %d).", sent);
    return kKvoResultGeneralErrorAtError;
  }
  if (!at.Ok()) {
    KvoLogError(kSender, "KvoRadioTxDisable. AT command returned NOT OK, (at_result %d).",
                at.Code());
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  return kKvoResultSuccess;
}

}  // namespace

KvoResult RadioInitialize(void) {
  if (memory_pool != nullptr) RadioTerminate();
  if (apr_pool_create(&memory_pool, nullptr) != APR_SUCCESS) {
    memory_pool = nullptr;
    KvoLogError(kSender, "Failed to create memory pool.");
    return kKvoResultGeneralErrorMemory;
  }
  const KvoResult result = RadioAsyncInitialize(memory_pool);
  if (result != kKvoResultSuccess) {
    apr_pool_destroy(memory_pool);
    memory_pool = nullptr;
  }
  return result;
}

KvoResult RadioTerminate(void) {
  RadioAsyncTerminate();
  if (memory_pool != nullptr) apr_pool_destroy(memory_pool);
  memory_pool = nullptr;
  return kKvoResultSuccess;
}

KvoRadioStatus RadioGetRadioStatus(KvoDeviceHandle handle) {
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, "AT+CFUN?", kRadioAtSendTimeout2);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "TlAtSend failed (tl_result %d).", sent);
    return kKvoRadioError;
  }
  if (!at.Ok()) {
    KvoLogError(kSender, "Radio switch on failed since AT command returned not OK, (at_result %d).",
                at.Code());
    return kKvoRadioError;
  }
  if (strstr(at.Text(), "+CFUN: 4") != nullptr) {
    KvoLogDebug(kSender, "Radio status is OFF.");
    return kKvoRadioOff;
  }
  KvoLogDebug(kSender, "Radio status is ON.");
  return kKvoRadioOn;
}

KvoResult RadioTurnRadioOff(KvoDeviceHandle handle) {
  {
    DeviceAtExchange at;
    const TlResult sent = at.Send(kSender, handle, "AT+CFUN=4", kRadioAtSendTimeout5);
    if (sent != kTlResultSuccess) {
      KvoLogError(kSender, "Could not turn radio off. TlAtSend failed (tl_result %d).", sent);
      return kKvoResultRadioErrorFailedToSendAtCommand;
    }
    if (!at.Ok()) {
      KvoLogError(kSender, "Could not turn radio off. AT command returned not OK, (at_result %d).",
                  at.Code());
      return kKvoResultRadioErrorFailedToSendAtCommand;
    }
  }
  for (int poll = 0; poll < kRadioOffPolls && RadioGetRadioStatus(handle) == kKvoRadioOn; ++poll) {
    KvoLogDebug(kSender, "Waiting for radio off.");
    CommonSleep(apr_time_from_sec(1));
  }
  return kKvoResultSuccess;
}

KvoResult RadioRssiScanEnter(KvoDeviceHandle handle, DeviceRadioMode* mode_before) {
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "DeviceSetItpMode -> kDeviceItpModeOff failed, result %d", result);
    return result;
  }
  result = DeviceGetRadioMode(handle, mode_before);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "DeviceGetRadioMode() returned error %d", result);
    return result;
  }
  if (*mode_before == kDeviceRadioModeOn) {
    result = DeviceSetRadioMode(handle, kDeviceRadioModeOff);
    if (result != kKvoResultSuccess) {
      KvoLogError(kSender, "Failed to turn radio off, DeviceSetRadioMode() returned error %d",
                  result);
      return result;
    }
  }
  return kKvoResultSuccess;
}

void RadioRssiScanExit(KvoDeviceHandle handle, DeviceRadioMode mode_before) {
  if (mode_before != kDeviceRadioModeOn) return;
  CommonSleep(apr_time_from_sec(kRadioOnAgainSeconds));
  const KvoResult result = DeviceSetRadioMode(handle, kDeviceRadioModeOn);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Trying to turn radio on again but DeviceSetRadioMode() returned error %d",
                result);
  }
}

bool RadioScanParametersValid(const KvoRadioRssiScanParameters& parameters) {
  const unsigned band = static_cast<unsigned>(RadioEnumValue(parameters.band));
  const unsigned path = static_cast<unsigned>(RadioEnumValue(parameters.antenna_path));
  if (band >= kKvoRadioBandMax || path > kKvoRadioAntennaPathMainAndDiversity ||
      parameters.number_of_samples == 0) {
    return false;
  }
  const uint64_t channels = RadioScanChannelCount(parameters);
  // Two records per channel at most, each of number_of_samples values.
  return channels != 0 && channels <= SIZE_MAX / 2 / sizeof(KvoRadioRssiScanData) &&
         parameters.number_of_samples <= SIZE_MAX / 2 / channels;
}

RadioScanList::~RadioScanList() {
  if (list_ == nullptr) return;
  for (size_t i = 0; i < size_; ++i) free(list_[i].values);
  free(list_);
}

bool RadioScanList::Allocate(size_t count) {
  list_ = static_cast<KvoRadioRssiScanData*>(calloc(count, sizeof(KvoRadioRssiScanData)));
  if (list_ == nullptr) {
    KvoLogError(kSender, "Could not allocate needed memory in RadioHandleRssiSyncData()");
    return false;
  }
  size_ = count;
  return true;
}

bool RadioScanList::Set(size_t index, KvoRadioBand band, KvoRadioChannel channel,
                        KvoRadioAntennaPath path, const KvoRadioRssiValue* values, size_t count) {
  KvoRadioRssiScanData& record = list_[index];
  record.values = static_cast<KvoRadioRssiValue*>(calloc(count, sizeof(KvoRadioRssiValue)));
  if (record.values == nullptr) {
    KvoLogError(kSender, "Could not allocate memory for data_list[iterator].values.");
    return false;
  }
  memcpy(record.values, values, count * sizeof(KvoRadioRssiValue));
  record.band = band;
  record.channel = channel;
  record.path = path;
  record.number_of_samples = count;
  return true;
}

void RadioScanList::HandOut(KvoRadioRssiScanData** list, size_t* size) {
  if (list_ != nullptr && size_ > 0) list_[0].number_of_channel_items = size_;
  *list = list_;
  *size = size_;
  list_ = nullptr;
  size_ = 0;
}

KvoResult KvoRadioGetSupportedBands(KvoDeviceHandle handle, KvoRadioBand** list, size_t* size) {
  if (list == nullptr || size == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  *list = nullptr;
  *size = 0;
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  const KvoResult result = GetType(handle, &type, "KVO:Device");
  if (result != kKvoResultSuccess) return result;
  return RadioGuarded(kKvoResultGeneralErrorMemory, [&] {
    if (type == kKvoDevicePlatformTypeBrem) {
      KvoLogInfo(kSender, "KvoRadioGetSupportedBands(), Q1x get supported bands.");
      return RadioItpGetSupportedBands(handle, list, size);
    }
    return AtModeGetSupportedBands(handle, list, size);
  });
}

KvoResult KvoRadioReleaseSupportedBands(KvoRadioBand* list) {
  if (list == nullptr) return kKvoResultGeneralErrorOperationNotSupported;
  free(list);
  return kKvoResultSuccess;
}

KvoResult KvoRadioRssiScan(KvoDeviceHandle handle, const KvoRadioRssiScanParameters* parameters,
                           bool average_samples, KvoRadioRssiScanData** data_list, size_t* size) {
  if (parameters == nullptr || data_list == nullptr || size == nullptr) {
    return kKvoResultGeneralErrorInvalidParameter;
  }
  *data_list = nullptr;
  *size = 0;
  KvoLogDebug(kSender, "KvoRadioRssiScan()");
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  const KvoResult result = GetType(handle, &type, kSender);
  if (result != kKvoResultSuccess) return result;
  KvoLogDebug(kSender, "Type of module is: %d", static_cast<int>(type));
  if (type == kKvoDevicePlatformTypeBrem) {
    KvoLogDebug(kSender, "KvoRadioRssiScan(), Q11/Q12 type of module => use ITP.");
    return RadioGuarded(kKvoResultGeneralErrorMemory,
                        [&] { return RadioItpRssiScan(handle, parameters, data_list, size); });
  }
  if (!RadioScanParametersValid(*parameters)) return kKvoResultGeneralErrorInvalidParameter;
  return RadioGuarded(kKvoResultGeneralErrorMemory, [&] {
    return AtModeRssiScan(handle, *parameters, average_samples, data_list, size);
  });
}

KvoResult KvoRadioRssiReleaseScanData(KvoRadioRssiScanData* data_list) {
  if (data_list == nullptr) {
    KvoLogError(kSender, "KvoRadioRssiReleaseScanData. Can not release data, pointer is NULL.");
    return kKvoResultGeneralErrorMemory;
  }
  KvoLogInfo(kSender, "KvoRadioRssiReleaseScanData release value-buffer: number_of_samples %zu",
             data_list[0].number_of_samples);
  const size_t count = data_list[0].number_of_channel_items;
  for (size_t i = 0; i < count; ++i) {
    if (data_list[i].values == nullptr) {
      KvoLogError(kSender,
                  "KvoRadioRssiReleaseScanData. Can not release values data, pointer is NULL.");
      continue;
    }
    KvoLogDebug(kSender, "About to free values buffer, iterator %zu.", i);
    free(data_list[i].values);
  }
  free(data_list);
  return kKvoResultSuccess;
}

KvoResult KvoRadioGpsTestSingleSatellite(KvoDeviceHandle handle,
                                         KvoRadioGpsSatelliteId satellite_id,
                                         KvoRadioGpsSingleSatelliteTestData* data) {
  if (data == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  if (GetType(handle, &type, "KVO:Custom") != kKvoResultSuccess) {
    return kKvoResultDeviceErrorFailedToIdentify;
  }
  KvoProductNumber product_number;
  const KvoResult result = KvoDeviceGetProductNumber(handle, &product_number);
  if (result != kKvoResultSuccess) {
    KvoLogError("KVO:Device", "Unable to get device product number.");
    return result;
  }
  if (type == kKvoDevicePlatformTypeBrem) {
    if (strstr(product_number, kGpsQ12Family) != nullptr) {
      KvoLogInfo("KVO:Custom", "KvoRadioGpsTestSingleSatellite(), Q12 type of module => use ITP.");
      return RadioGuarded(kKvoResultGeneralErrorMemory, [&] {
        return RadioITPGpsTestSingleSatellite(handle, satellite_id, data);
      });
    }
    if (strstr(product_number, kGpsQ11Family) != nullptr) {
      KvoLogInfo("KVO:Custom",
                 "KvoRadioGpsTestSingleSatellite(), Q11 type of module => GPS not available.");
      return kKvoResultGeneralErrorOperationNotSupported;
    }
  }
  return RadioGuarded(kKvoResultGeneralErrorMemory,
                      [&] { return AtModeGpsTest(handle, satellite_id, data); });
}

KvoResult KvoRadioGpsTestCarrierWave(KvoDeviceHandle, KvoRadioGpsSatelliteId,
                                     KvoRadioGpsCarrierWaveTestData*) {
  return kKvoResultGeneralErrorNotImplemented;
}

KvoResult KvoRadioTxEnable(KvoDeviceHandle handle, const KvoRadioTxEnableParameters* parameters) {
  if (parameters == nullptr ||
      static_cast<unsigned>(RadioEnumValue(parameters->band)) >= kKvoRadioBandMax) {
    return kKvoResultGeneralErrorInvalidParameter;
  }
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  KvoResult result = GetType(handle, &type, kSender);
  if (result != kKvoResultSuccess) return result;
  if (type == kKvoDevicePlatformTypeDovin) return DovinTxEnable(handle, *parameters);
  result = DeviceSetItpMode(handle, kDeviceItpModeOn);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to enable ITP.");
    return result;
  }
  return IsWcdma(parameters->band) ? RadioItpWcdmaTxEnable(handle, parameters)
                                   : RadioItpGsmTxEnable(handle, parameters);
}

KvoResult KvoRadioTxDisable(KvoDeviceHandle handle) {
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  const KvoResult result = GetType(handle, &type, kSender);
  if (result != kKvoResultSuccess) return result;
  return type == kKvoDevicePlatformTypeDovin ? DovinTxDisable(handle) : ItpTxDisable(handle);
}
