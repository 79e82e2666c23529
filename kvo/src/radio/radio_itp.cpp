// Radio tests in the module's ITP mode: supported bands, GSM and WCDMA transmitters, the RSSI scan
// and the GPS single-satellite test. Each switches the module into ITP mode and leaves it there.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "kvo/src/device/device_at.h"
#include "kvo/src/radio/radio.h"
#include "kvo/src/radio/radio_convert.h"
#include "kvo/src/radio/radio_parse.h"

namespace {

constexpr char kSender[] = "KVO:Radio";
constexpr unsigned kItpTimeout = 100;

enum {
  kGdParamWCDMAFreqBand = 404,
  kGdParamWCDMAFreqBandSwEnabled = 417,
  kItpRequestGpsState = 0,
  kItpEnableGpsTestMode = 1,
  kTimeout5seconds = 5000,
  kRadioItpTxEnableModulationWCDMA = 1,
};
constexpr char kRadioItpResponseReadGpsStatusError[] = "GRSD: 3";
// The 3GPP numbers of the WCDMA bands that KvoRadioBand holds (I to IX).
constexpr long kHighestWcdmaBandNumber = 9;
constexpr unsigned kHighestGain = 3;

enum FrequencyBandStatus {
  kFrequencyBandNotSupported = 0,
  kFrequencyBandSupported = 1,
  kFrequencyBandEnabled = 2,
};

bool IsWcdma(KvoRadioBand band) {
  return band > kKvoRadioBandGsm850;
}

// One ITP command of `operation`: a transport failure or an answer other than OK is logged under
// the operation's name and gives kKvoResultGeneralErrorAtError.
KvoResult ItpSend(KvoDeviceHandle handle, const char* operation, const char* command,
                  DeviceAtExchange* at, unsigned timeout = kItpTimeout) {
  KvoLogDebug(kSender, "Sending ITP-command %s", command);
  const TlResult sent = at->Send(kSender, handle, command, timeout);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "%s() failed (tl_result %d).", operation, sent);
    return kKvoResultGeneralErrorAtError;
  }
  if (!at->Ok()) {
    KvoLogError(kSender, "%s() failed (at_result.result_code %d).", operation, at->Code());
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

KvoResult ItpSend(KvoDeviceHandle handle, const char* operation, const char* command) {
  DeviceAtExchange at;
  return ItpSend(handle, operation, command, &at);
}

KvoResult SwitchOn(KvoDeviceHandle handle, const char* failure_format) {
  const KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOn);
  if (result != kKvoResultSuccess) KvoLogError(kSender, failure_format, result);
  return result;
}

// The 3GPP band numbers a "gdre" band answer lists.
KvoResult ReadBandNumbers(KvoDeviceHandle handle, int parameter, std::vector<long>* numbers) {
  char command[32];
  snprintf(command, sizeof command, "gdre=0,%d", parameter);
  DeviceAtExchange at;
  const KvoResult result = ItpSend(handle, "RadioItpGetSupportedBands", command, &at);
  if (result != kKvoResultSuccess) return result;
  if (RadioParseItpBandNumbers(at.Text(), numbers) != kKvoResultSuccess) {
    KvoLogError(kSender, "apr_strtok() failed, return 0.");
    return kKvoResultGeneralErrorParseError;
  }
  return kKvoResultSuccess;
}

int GsmCalibrationParameter(KvoRadioBand band) {
  switch (band) {
    case kKvoRadioBandGsm900:
      return 1244;
    case kKvoRadioBandGsm1900:
      return 1246;
    case kKvoRadioBandGsm1800:
      return 1245;
    case kKvoRadioBandGsm850:
      return 1247;
    default:
      return 0;
  }
}

KvoResult CalculateGsmOffset(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                             int* offset) {
  const int parameter = GsmCalibrationParameter(parameters.band);
  if (parameter == 0) {
    KvoLogError(kSender, "GSM-band out of range, %d.", static_cast<int>(parameters.band));
    return kKvoResultGeneralErrorInvalidParameter;
  }
  char command[32];
  snprintf(command, sizeof command, "gdre=0,%d", parameter);
  DeviceAtExchange at;
  KvoResult result = ItpSend(handle, "RadioITPCalculateGsmOffset", command, &at);
  if (result == kKvoResultSuccess) {
    result = RadioParseItpGsmOffset(at.Text(), parameters.gain, offset);
    if (result != kKvoResultSuccess) KvoLogError(kSender, "apr_strtok() failed, return 0.");
  }
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "RadioITPCalculateGsmOffset() returned error %d", result);
  }
  return result;
}

// The mean level of number_of_samples "rxbr" bursts on the channel that "swrx" tuned to.
KvoResult MeasureGsmChannel(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                            KvoRadioChannel channel, int offset, KvoRadioRssiValue* mean) {
  char command[48];
  snprintf(command, sizeof command, "swrx=%u,%u", channel, parameters.gain);
  KvoResult result = ItpSend(handle, "RadioGetItpGSMBandMeasurement", command);
  if (result != kKvoResultSuccess) return result;
  double sum = 0;
  for (size_t sample = 0; sample < parameters.number_of_samples; ++sample) {
    DeviceAtExchange at;
    result = ItpSend(handle, "RadioGetItpGSMBandMeasurement", "rxbr=5", &at);
    if (result != kKvoResultSuccess) return result;
    long raw = 0;
    switch (RadioParseItpRxbr(at.Text(), &raw)) {
      case RadioRxbrStatus::kOk:
        break;
      case RadioRxbrStatus::kUnknownResponse:
        KvoLogError(kSender, "RadioFormatRssiSyncData(): unknown ITP response.");
        return kKvoResultGeneralErrorParseError;
      case RadioRxbrStatus::kNoLevel:
        KvoLogError(kSender, "RadioItpGSMBandMeasurement - No Rssi value found. Channel %u.",
                    channel);
        return kKvoResultRadioErrorUnexpectedRssiResponse;
      case RadioRxbrStatus::kNegativeLevel:
        KvoLogError(kSender, "RadioItpGSMBandMeasurement - Invalid Rssi value.");
        return kKvoResultRadioErrorUnexpectedRssiResponse;
    }
    KvoLogDebug(kSender, "ITP-command %s sent, response %s.", "rxbr=5", at.Text());
    KvoLogDebug(kSender, "Parsed response %s.", at.Text());
    const double level = RadioItpGsmLevel(raw, offset);
    KvoLogInfo(kSender, "RadioItpGSMBandMeasurement - Rssi value: %f (offset: %d)", level, offset);
    sum += level;
  }
  *mean = static_cast<KvoRadioRssiValue>(sum / static_cast<double>(parameters.number_of_samples));
  KvoLogDebug(kSender, "RadioFormatRssiSyncData(): channel %u", channel);
  KvoLogDebug(kSender, "RadioFormatRssiSyncData(), average RSSI %f, sample number %zu.",
              static_cast<double>(*mean), parameters.number_of_samples);
  return kKvoResultSuccess;
}

KvoResult ScanGsm(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                  RadioScanList* list) {
  int offset = 0;
  KvoResult result = CalculateGsmOffset(handle, parameters, &offset);
  if (result != kKvoResultSuccess) return result;
  KvoRadioChannel channel = parameters.start_channel;
  for (size_t index = 0; index < list->size(); ++index, channel += parameters.step_size) {
    KvoLogDebug(kSender, "list_index = %zu, size = %zu, radio band %u.", index, list->size(),
                static_cast<unsigned>(parameters.band));
    KvoRadioRssiValue mean = 0;
    result = MeasureGsmChannel(handle, parameters, channel, offset, &mean);
    if (result != kKvoResultSuccess) return result;
    if (!list->Set(index, parameters.band, channel, parameters.antenna_path, &mean, 1)) {
      return kKvoResultGeneralErrorMemory;
    }
  }
  return kKvoResultSuccess;
}

// One pass over the channels, writing every `stride`-th record from `first`.
KvoResult ScanWcdmaPass(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                        size_t first, size_t stride, RadioScanList* list) {
  KvoRadioChannel channel = parameters.start_channel;
  for (size_t index = first; index < list->size(); index += stride) {
    char command[48];
    snprintf(command, sizeof command, "wrxc=%u", channel);
    KvoResult result = ItpSend(handle, "RadioGetItpWcdmaBandMeasurment", command);
    if (result != kKvoResultSuccess) return result;
    snprintf(command, sizeof command, "rxpw=%zu", parameters.number_of_samples);
    DeviceAtExchange at;
    result = ItpSend(handle, "RadioGetItpWcdmaBandMeasurment", command, &at);
    if (result != kKvoResultSuccess) return result;
    KvoLogDebug(kSender, "RadioGetItpWcdmaBandMeasurment(), list_index %zu", index);
    KvoLogDebug(kSender, "RadioParseItpRssiWcdmaData(): temp_buffer == %s\n", at.Text());
    KvoRadioRssiValue value = 0;
    if (RadioParseItpRssiWcdmaData(at.Text(), &value) != kKvoResultSuccess) {
      KvoLogError(kSender,
                  "apr_strtok(), token is NULL, failed during parse of response to AT*EEMRSSI.");
      KvoLogError(kSender, "RadioFormatRssiSyncData(): Parsing of rssi data failed.");
      return kKvoResultGeneralErrorParseError;
    }
    if (!list->Set(index, parameters.band, channel, parameters.antenna_path, &value, 1)) {
      return kKvoResultGeneralErrorMemory;
    }
    KvoLogDebug(kSender, "Incrementing list_index by %zu.", stride);
    channel += parameters.step_size;
  }
  return kKvoResultSuccess;
}

KvoResult ScanWcdma(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                    RadioScanList* list) {
  if (parameters.antenna_path != kKvoRadioAntennaPathMainAndDiversity) {
    return ScanWcdmaPass(handle, parameters, 0, 1, list);
  }
  // Main receiver at even records, then the diversity receiver at odd ones.
  KvoResult result = ScanWcdmaPass(handle, parameters, 0, 2, list);
  if (result != kKvoResultSuccess) return result;
  result = ItpSend(handle, "RadioITPRssiScan", "rdiv=2");
  if (result != kKvoResultSuccess) return result;
  return ScanWcdmaPass(handle, parameters, 1, 2, list);
}

bool ItpScanParametersValid(const KvoRadioRssiScanParameters& parameters) {
  if (!RadioScanParametersValid(parameters)) return false;
  if (IsWcdma(parameters.band)) return true;
  // A GSM scan measures one path with one gain step.
  return parameters.antenna_path != kKvoRadioAntennaPathMainAndDiversity &&
         parameters.gain <= kHighestGain;
}

}  // namespace

KvoResult RadioItpGetSupportedBands(KvoDeviceHandle handle, KvoRadioBand** list, size_t* size) {
  KvoResult result = SwitchOn(handle, "DeviceSetItpMode() failed, result %d.");
  if (result != kKvoResultSuccess) return result;
  FrequencyBandStatus status[kKvoRadioBandMax];
  for (FrequencyBandStatus& band : status) band = kFrequencyBandNotSupported;

  std::vector<long> numbers;
  result = ReadBandNumbers(handle, kGdParamWCDMAFreqBand, &numbers);
  if (result != kKvoResultSuccess) return result;
  for (long number : numbers) {
    if (number >= 1 && number <= kHighestWcdmaBandNumber) {
      status[number + kKvoRadioBandGsm850] = kFrequencyBandSupported;
      KvoLogInfo(kSender, "Frequency band %ld is supported.", number);
    } else {
      KvoLogInfo(kSender, "Frequency band %ld is out of range.", number);
    }
  }

  result = ReadBandNumbers(handle, kGdParamWCDMAFreqBandSwEnabled, &numbers);
  if (result != kKvoResultSuccess) return result;
  for (long number : numbers) {
    if (number > kHighestWcdmaBandNumber) {
      KvoLogError(kSender, "Frequency band %ld is out of range.", number);
      return kKvoResultGeneralErrorParseError;
    }
    if (number >= 1 && status[number + kKvoRadioBandGsm850] != kFrequencyBandNotSupported) {
      status[number + kKvoRadioBandGsm850] = kFrequencyBandEnabled;
    } else {
      KvoLogError(kSender, "Frequency band %ld enabled but not supported.", number);
    }
  }

  for (int band = kKvoRadioBandGsm900; band <= kKvoRadioBandGsm850; ++band) {
    status[band] = kFrequencyBandEnabled;
  }
  std::vector<KvoRadioBand> enabled;
  for (int band = 0; band < kKvoRadioBandMax; ++band) {
    if (status[band] != kFrequencyBandEnabled) continue;
    KvoLogInfo(kSender, "Frequency band %d enabled.", band);
    enabled.push_back(static_cast<KvoRadioBand>(band));
  }
  *list = static_cast<KvoRadioBand*>(malloc(enabled.size() * sizeof(KvoRadioBand)));
  if (*list == nullptr) return kKvoResultGeneralErrorMemory;
  memcpy(*list, enabled.data(), enabled.size() * sizeof(KvoRadioBand));
  *size = enabled.size();
  return kKvoResultSuccess;
}

KvoResult RadioItpGsmTxEnable(KvoDeviceHandle handle,
                              const KvoRadioTxEnableParameters* parameters) {
  constexpr char kOperation[] = "RadioItpGsmTxEnable";
  char command[48];
  snprintf(command, sizeof command, "mode=%d,%d", static_cast<int>(parameters->band),
           RadioEnumValue(parameters->modulation));
  KvoResult result = ItpSend(handle, kOperation, command);
  if (result != kKvoResultSuccess) return result;
  const int mode = RadioEnumValue(parameters->gsm_tx_mode);
  if (mode != kKvoRadioGsmTxModeStatic && mode != kKvoRadioGsmTxModeSwitched) {
    KvoLogError(kSender, "RadioItpGsmTxEnable() failed, invalid GSM Tx Mode %d.", mode);
    return kKvoResultGeneralErrorInvalidParameter;
  }
  const bool is_static = mode == kKvoRadioGsmTxModeStatic;
  snprintf(command, sizeof command, is_static ? "sttx=0,%u" : "swtx=0,%u", parameters->channel);
  KvoLogDebug(kSender, "Sending ITP-command %s", command);
  DeviceAtExchange at;
  const TlResult sent = at.Send(kSender, handle, command, kItpTimeout);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender,
                is_static ? "RadioItpGsmTxEnable(), static, failed (tl_result %d)."
                          : "RadioItpGsmTxEnable(), switched, failed (tl_result %d).",
                sent);
    return kKvoResultGeneralErrorAtError;
  }
  if (!at.Ok()) {
    KvoLogError(kSender, "RadioItpGsmTxEnable() failed (at_result.result_code %d).", at.Code());
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

KvoResult RadioItpWcdmaTxEnable(KvoDeviceHandle handle,
                                const KvoRadioTxEnableParameters* parameters) {
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  KvoResult result = KvoDeviceGetType(handle, &type);
  if (result != kKvoResultSuccess) {
    KvoLogError("KVO:Custom", "Unable to get device type.");
    return result;
  }
  char command[64];
  if (type == kKvoDevicePlatformTypeBrem) {
    constexpr char kOperation[] = "RadioItpWcdmaTxEnableQ1x";
    KvoLogInfo("KVO:Custom", "RadioItpWcdmaTxEnable(), Q1x type of module => use ITP.");
    if (parameters->band < kKvoRadioBandGsm1900 || parameters->band > kKvoRadioBandWcdmaIX) {
      return kKvoResultGeneralErrorInvalidParameter;
    }
    snprintf(command, sizeof command, "mode=%d", static_cast<int>(parameters->band));
    result = ItpSend(handle, kOperation, command);
    if (result != kKvoResultSuccess) return result;
    snprintf(command, sizeof command, "wtxc=%u,%d,%u", parameters->channel,
             RadioEnumValue(parameters->modulation), parameters->power_level);
    return ItpSend(handle, kOperation, command);
  }

  constexpr char kOperation[] = "RadioItpWcdmaTxEnable";
  result = ItpSend(handle, kOperation, "wbsl=1");
  if (result != kKvoResultSuccess) return result;
  result = ItpSend(handle, kOperation, "wsta=1");
  if (result != kKvoResultSuccess) return result;
  KvoRadioChannel channel = parameters->channel;
  RadioConvertDlChannelToUlChannel(parameters->band, parameters->channel, &channel);
  switch (RadioEnumValue(parameters->modulation)) {
    case kKvoRadioModulationSine:
      snprintf(command, sizeof command, "wtrx=%u,%d,0,%u", channel, 0, parameters->power_level);
      result = ItpSend(handle, kOperation, command);
      if (result != kKvoResultSuccess) return result;
      return ItpSend(handle, kOperation, "tx3c=1,1,8,0,0");
    case kKvoRadioModulationWCDMA:
      snprintf(command, sizeof command, "wtrx=%u,%d,1,%u", channel,
               kRadioItpTxEnableModulationWCDMA, parameters->power_level);
      return ItpSend(handle, kOperation, command);
    default:
      return kKvoResultSuccess;
  }
}

KvoResult RadioItpRssiScan(KvoDeviceHandle handle, const KvoRadioRssiScanParameters* parameters,
                           KvoRadioRssiScanData** data_list, size_t* size) {
  if (!ItpScanParametersValid(*parameters)) return kKvoResultGeneralErrorInvalidParameter;
  KvoLogDebug(kSender, "RadioItpRssiScan()");
  KvoResult result = SwitchOn(handle, "DeviceSetItpMode -> kDeviceItpModeOn failed, result %d");
  if (result != kKvoResultSuccess) return result;

  constexpr char kOperation[] = "RadioITPRssiScan";
  char command[32];
  snprintf(command, sizeof command, "mode=%d", static_cast<int>(parameters->band));
  result = ItpSend(handle, kOperation, command);
  if (result == kKvoResultSuccess && IsWcdma(parameters->band)) {
    result = ItpSend(handle, kOperation, "wcmp=1");
  }
  if (result == kKvoResultSuccess) {
    const bool diversity = parameters->antenna_path == kKvoRadioAntennaPathDiversity;
    result = ItpSend(handle, kOperation, diversity ? "rdiv=2" : "rdiv=1");
  }
  if (result != kKvoResultSuccess) return result;

  size_t records = static_cast<size_t>(RadioScanChannelCount(*parameters));
  if (parameters->antenna_path == kKvoRadioAntennaPathMainAndDiversity) records *= 2;
  RadioScanList list;
  if (!list.Allocate(records)) return kKvoResultGeneralErrorMemory;
  KvoLogInfo(kSender, "Memory allocated for data_list: (*size) * sizeof(KvoRadioRssiValue) %zu",
             records * sizeof(KvoRadioRssiValue));

  result = IsWcdma(parameters->band) ? ScanWcdma(handle, *parameters, &list)
                                     : ScanGsm(handle, *parameters, &list);
  if (result != kKvoResultSuccess) return result;
  list.HandOut(data_list, size);
  return kKvoResultSuccess;
}

KvoResult RadioITPGpsTestSingleSatellite(KvoDeviceHandle handle, KvoRadioGpsSatelliteId,
                                         KvoRadioGpsSingleSatelliteTestData* data) {
  constexpr char kOperation[] = "RadioITPGpsTestSingleSatellite";
  KvoResult result = SwitchOn(handle, "DeviceSetItpMode -> kDeviceItpModeOn failed, result %d");
  if (result != kKvoResultSuccess) return result;

  char command[32];
  snprintf(command, sizeof command, "grsd=%d", kItpRequestGpsState);
  {
    DeviceAtExchange at;
    result = ItpSend(handle, kOperation, command, &at);
    if (result != kKvoResultSuccess) return result;
    if (strstr(at.Text(), kRadioItpResponseReadGpsStatusError) != nullptr) {
      KvoLogError(kSender,
                  "RadioITPGpsTestSingleSatellite() failed, module returned status Error on "
                  "ITP-command grsd = 0.");
      return kKvoResultRadioItpGpsStatusError;
    }
  }
  // The module picks the satellite itself; its answer names the one it measured.
  snprintf(command, sizeof command, "grsd=%d,%d", kItpEnableGpsTestMode, kTimeout5seconds);
  DeviceAtExchange at;
  result = ItpSend(handle, kOperation, command, &at, kTimeout5seconds);
  if (result != kKvoResultSuccess) return result;
  if (RadioParseItpGps(at.Text(), data) != kKvoResultSuccess) {
    KvoLogError(kSender, "apr_strtok() failed, return 0.");
    return kKvoResultGeneralErrorParseError;
  }
  KvoLogInfo(kSender,
             "RadioITPGpsTestSingleSatellite(): satellite_id %d, signal_strength %d, signal to "
             "noise ratio %d.",
             static_cast<int>(data->satellite_id), data->signal_strength,
             data->signal_to_noise_ratio);
  return kKvoResultSuccess;
}
