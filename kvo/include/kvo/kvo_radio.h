#ifndef KVO_KVO_RADIO_H_
#define KVO_KVO_RADIO_H_

// Radio tests of an opened module: the bands it supports, conversion between downlink carrier
// frequencies and channel numbers, received signal strength (RSSI) over a range of channels, a
// GPS single-satellite measurement, and a continuous transmitter switched on and off.
//
// Which command set a test uses depends on the platform: Brem modules run bands, RSSI scans and
// GPS in ITP mode; Brem and Calt modules run the transmitter in ITP mode; everything else uses
// AT commands. A test that needs ITP mode switches the module into it and leaves it there (the
// next function that needs AT mode switches back); one that needs AT mode takes the module out
// of ITP mode first ("AT-mode results" in kvo.h).

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "kvo/kvo_common.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// ARFCN for GSM bands, UARFCN for WCDMA bands.
typedef uint32_t KvoRadioChannel;
// MHz.
typedef float KvoRadioFrequency;
typedef uint32_t KvoRadioPowerLevel;
// Receiver gain step of an ITP scan, 0 to 3.
typedef uint32_t KvoRadioRssiGain;
// dBm.
typedef float KvoRadioRssiValue;
typedef int32_t KvoRadioGpsSignalStrength;
typedef int32_t KvoRadioGpsSignalToNoiseRatio;
typedef int32_t KvoRadioGpsFrequencyOffset;

// Values 0 to 3 are GSM bands, 4 to 12 WCDMA bands (3GPP band I is 4).
typedef enum KvoRadioBand {
  kKvoRadioBandGsm900 = 0,
  kKvoRadioBandGsm1900 = 1,
  kKvoRadioBandGsm1800 = 2,
  kKvoRadioBandGsm850 = 3,
  kKvoRadioBandWcdmaI = 4,
  kKvoRadioBandWcdmaII = 5,
  kKvoRadioBandWcdmaIII = 6,
  kKvoRadioBandWcdmaIV = 7,
  kKvoRadioBandWcdmaV = 8,
  kKvoRadioBandWcdmaVI = 9,
  kKvoRadioBandWcdmaVII = 10,
  kKvoRadioBandWcdmaVIII = 11,
  kKvoRadioBandWcdmaIX = 12,
  kKvoRadioBandMax = 13
} KvoRadioBand;

typedef enum KvoRadioGsmTxMode {
  kKvoRadioGsmTxModeStatic = 0,
  kKvoRadioGsmTxModeSwitched = 1
} KvoRadioGsmTxMode;

typedef enum KvoRadioStatus {
  kKvoRadioOff = 0,
  kKvoRadioOn = 1,
  kKvoRadioError = 2
} KvoRadioStatus;

typedef enum KvoRadioModulation {
  kKvoRadioModulationSine = 0,
  kKvoRadioModulationGMSK = 2,
  kKvoRadioModulation8PSK = 3,
  kKvoRadioModulationWCDMA = 4
} KvoRadioModulation;

typedef enum KvoRadioAntennaPath {
  kKvoRadioAntennaPathMain = 0,
  kKvoRadioAntennaPathDiversity = 1,
  kKvoRadioAntennaPathMainAndDiversity = 2
} KvoRadioAntennaPath;

typedef enum KvoRadioGpsSatelliteId {
  kKvoRadioGpsSatelliteId1 = 1,
  kKvoRadioGpsSatelliteId2,
  kKvoRadioGpsSatelliteId3,
  kKvoRadioGpsSatelliteId4,
  kKvoRadioGpsSatelliteId5,
  kKvoRadioGpsSatelliteId6,
  kKvoRadioGpsSatelliteId7,
  kKvoRadioGpsSatelliteId8,
  kKvoRadioGpsSatelliteId9,
  kKvoRadioGpsSatelliteId10,
  kKvoRadioGpsSatelliteId11,
  kKvoRadioGpsSatelliteId12,
  kKvoRadioGpsSatelliteId13,
  kKvoRadioGpsSatelliteId14,
  kKvoRadioGpsSatelliteId15,
  kKvoRadioGpsSatelliteId16,
  kKvoRadioGpsSatelliteId17,
  kKvoRadioGpsSatelliteId18,
  kKvoRadioGpsSatelliteId19,
  kKvoRadioGpsSatelliteId20,
  kKvoRadioGpsSatelliteId21,
  kKvoRadioGpsSatelliteId22,
  kKvoRadioGpsSatelliteId23,
  kKvoRadioGpsSatelliteId24,
  kKvoRadioGpsSatelliteId25,
  kKvoRadioGpsSatelliteId26,
  kKvoRadioGpsSatelliteId27,
  kKvoRadioGpsSatelliteId28,
  kKvoRadioGpsSatelliteId29,
  kKvoRadioGpsSatelliteId30,
  kKvoRadioGpsSatelliteId31,
  kKvoRadioGpsSatelliteId32 = 32
} KvoRadioGpsSatelliteId;

typedef struct KvoRadioTxEnableParameters {
  KvoRadioBand band;
  // GSM bands in ITP mode only.
  KvoRadioGsmTxMode gsm_tx_mode;
  // The uplink channel.
  KvoRadioChannel channel;
  // Used in ITP mode only.
  KvoRadioModulation modulation;
  KvoRadioPowerLevel power_level;
} KvoRadioTxEnableParameters;

typedef struct KvoRadioRssiScanParameters {
  KvoRadioBand band;
  // Downlink channels, both measured.
  KvoRadioChannel start_channel;
  KvoRadioChannel end_channel;
  KvoRadioAntennaPath antenna_path;
  // ITP mode only, GSM bands.
  KvoRadioRssiGain gain;
  // Channels from one measurement to the next; at least 1.
  size_t step_size;
  // Measurements per channel; at least 1.
  size_t number_of_samples;
} KvoRadioRssiScanParameters;

// One measured channel on one antenna path.
typedef struct KvoRadioRssiScanData {
  KvoRadioBand band;
  // In a list from KvoRadioRssiScan the first record holds the number of records in the list
  // (the others hold 0); a record from KvoRadioRssiScanAsync holds 1.
  size_t number_of_channel_items;
  KvoRadioAntennaPath path;
  KvoRadioChannel channel;
  // Number of entries in values.
  size_t number_of_samples;
  KvoRadioRssiValue* values;
} KvoRadioRssiScanData;

typedef struct KvoRadioGpsSingleSatelliteTestData {
  KvoRadioGpsSatelliteId satellite_id;
  KvoRadioGpsSignalStrength signal_strength;
  KvoRadioGpsSignalToNoiseRatio signal_to_noise_ratio;
} KvoRadioGpsSingleSatelliteTestData;

typedef struct KvoRadioGpsCarrierWaveTestData {
  KvoRadioGpsSignalStrength signal_strength;
  KvoRadioGpsFrequencyOffset frequency_offset;
} KvoRadioGpsCarrierWaveTestData;

// Receives the records of an asynchronous scan one by one: [in] result kKvoResultSuccess with a
// record that the callback owns and gives back with KvoRadioRssiReleaseScanData. It runs on the
// device's receive thread, or on the caller's thread inside KvoRadioRssiScanAsync, with the
// device lock held: it must not call the library for the same device.
typedef void KvoRadioRssiScanCallback(KvoDeviceHandle handle, KvoResult result,
                                      KvoRadioRssiScanData* record, void* client_data);

// [out] list: the bands the module supports, allocated by the library; give it back with
// KvoRadioReleaseSupportedBands. [out] size: its entries. Both are emptied first. In AT mode the
// list follows the module's band masks bit by bit (GSM 850, GSM 900 for either of two bits,
// GSM 1800, GSM 1900, then WCDMA I, II, III, IV, V, VI, VIII, IX), so a band may appear twice; in
// ITP mode (Brem) it holds the four GSM bands and then every WCDMA band that the module both
// supports and has enabled, in ascending order.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the handle results; the
// AT-mode results, or for Brem the result of the switch into ITP mode;
// kKvoResultRadioErrorFailedToSendAtCommand (AT mode); kKvoResultGeneralErrorAtError (ITP mode);
// kKvoResultGeneralErrorParseError; kKvoResultGeneralErrorMemory.
KVO_API KvoResult KvoRadioGetSupportedBands(KvoDeviceHandle handle, KvoRadioBand** list,
                                            size_t* size);
// [in] list: from KvoRadioGetSupportedBands; freed.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorOperationNotSupported for a null list.
KVO_API KvoResult KvoRadioReleaseSupportedBands(KvoRadioBand* list);

// Downlink frequency to channel number: [in] frequency must lie in one of the band's ranges,
// limits included (compared as 32-bit floats, so 2112.4f is inside WCDMA I); [out] channel is
// the nearest channel. GSM 900 covers channels 975 to 1023 (925.2 to 934.8 MHz) and 0 to 124
// (935.2 to 959.8 MHz). No module is contacted.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (band unknown, frequency
// outside the band, or a null channel), with channel left as it was.
KVO_API KvoResult KvoRadioConvertFrequencyToChannel(KvoRadioBand band, KvoRadioFrequency frequency,
                                                    KvoRadioChannel* channel);
// Downlink channel number to frequency, the inverse of KvoRadioConvertFrequencyToChannel on the
// band's channel ranges. GSM 900 channel 0 gives 935.0 MHz, which the opposite conversion
// refuses.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (band unknown, channel
// outside the band, or a null frequency), with frequency left as it was.
KVO_API KvoResult KvoRadioConvertChannelToFrequency(KvoRadioBand band, KvoRadioChannel channel,
                                                    KvoRadioFrequency* frequency);

// Measures the channels start_channel, start_channel + step_size, ... up to end_channel of
// [in] parameters->band and returns one record per channel and antenna path in [out] data_list
// (give it back with KvoRadioRssiReleaseScanData) and their number in [out] size (0 and null on
// failure).
// AT mode (Calt, Dovin): the radio is switched off for the measurement and, if it was on, on
// again 3 seconds after it. Path kKvoRadioAntennaPathMain gives one record per channel;
// kKvoRadioAntennaPathMainAndDiversity two, main then diversity. Each record holds
// number_of_samples values, or their mean when [in] average_samples is true.
// ITP mode (Brem; average_samples is not used): every record holds the mean of
// number_of_samples measurements. GSM bands measure the main path with parameters->gain and the
// module's calibration offset for that gain; WCDMA bands measure main or diversity, or both in two
// passes (main records at even, diversity records at odd positions, each with the path
// kKvoRadioAntennaPathMainAndDiversity).
// Invalid parameters are refused before anything is sent, leaving the radio as it was: a band
// above 12, step_size or number_of_samples 0, start_channel above end_channel, in AT mode the
// path kKvoRadioAntennaPathDiversity, in ITP mode a GSM scan of both paths or a gain above 3.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the handle results; the
// AT-mode results or the result of the switch into ITP mode; the results of reading and setting
// the radio mode (kKvoResultGeneralErrorAtError, kKvoResultDeviceErrorFailedToGetInformation);
// kKvoResultRadioErrorFailedToSendAtCommand (AT mode); kKvoResultGeneralErrorAtError (ITP mode);
// kKvoResultGeneralErrorParseError; kKvoResultRadioErrorUnexpectedRssiResponse (ITP mode: an
// answer without a level); kKvoResultGeneralErrorMemory.
KVO_API KvoResult KvoRadioRssiScan(KvoDeviceHandle handle,
                                   const KvoRadioRssiScanParameters* parameters,
                                   bool average_samples, KvoRadioRssiScanData** data_list,
                                   size_t* size);

// Runs a scan whose measurements the module reports one line at a time ("*EEMRSSI: band,channel,
// main[,diversity]"), each handed to [in] callback as a record of one value, with
// [in] client_data; returns when number_of_samples lines per channel have arrived (one record
// each, two with kKvoRadioAntennaPathMainAndDiversity: main, then diversity), at the first line
// that cannot be read, when the port fails, or after 100 seconds without a line. Records carry
// the path they were measured on. The radio is handled as by KvoRadioRssiScan. One scan at a
// time per process; not for Brem modules.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (as KvoRadioRssiScan in AT
// mode, and a null callback); kKvoResultGeneralErrorOperationNotSupported (Brem);
// kKvoResultRadioErrorCouldNotRegisterCallback (a scan is running, or the listener could not be
// registered); the handle and AT-mode results; the results of reading and setting the radio
// mode; kKvoResultRadioErrorFailedToSendAtCommand; kKvoResultRadioErrorUnexpectedRssiResponse
// (a line that cannot be read); kKvoResultRadioErrorFailedToAllocateMemory;
// kKvoResultGeneralErrorDeviceNotOpen (the port failed); kKvoResultRadioErrorTlCallbackError
// (another transport failure); kKvoResultGeneralErrorOperationTimedOut.
KVO_API KvoResult KvoRadioRssiScanAsync(KvoDeviceHandle handle,
                                        const KvoRadioRssiScanParameters* parameters,
                                        KvoRadioRssiScanCallback* callback,
                                        const void* client_data);

// [in] data_list: a list from KvoRadioRssiScan or a record from KvoRadioRssiScanAsync; the values
// of its first number_of_channel_items records and the list are freed.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorMemory for a null list.
KVO_API KvoResult KvoRadioRssiReleaseScanData(KvoRadioRssiScanData* data_list);

// Measures one GPS satellite into [out] data. In AT mode the module measures [in] satellite_id;
// Brem modules of the family "ZRB 207 42" run the test in ITP mode, where the module picks the
// satellite and data->satellite_id says which; the family "ZRB 207 41" has no GPS.
// Results: kKvoResultSuccess; kKvoResultRadioGpsResultNotValid (the module marked the report
// invalid; data holds its values all the same); kKvoResultGeneralErrorInvalidParameter;
// kKvoResultDeviceErrorFailedToIdentify (the handle is not usable);
// kKvoResultDeviceErrorFailedToGetInformation (no product number);
// kKvoResultGeneralErrorOperationNotSupported ("ZRB 207 41"); kKvoResultDeviceErrorSettingItpMode
// or the result of the switch into ITP mode; kKvoResultRadioErrorFailedToSendAtCommand (AT
// mode); kKvoResultGeneralErrorAtError (ITP mode); kKvoResultRadioItpGpsStatusError (ITP mode:
// the module's GPS reports an error); kKvoResultGeneralErrorParseError.
KVO_API KvoResult KvoRadioGpsTestSingleSatellite(KvoDeviceHandle handle,
                                                 KvoRadioGpsSatelliteId satellite_id,
                                                 KvoRadioGpsSingleSatelliteTestData* data);
// Not available. Results: kKvoResultGeneralErrorNotImplemented.
KVO_API KvoResult KvoRadioGpsTestCarrierWave(KvoDeviceHandle handle,
                                             KvoRadioGpsSatelliteId satellite_id,
                                             KvoRadioGpsCarrierWaveTestData* data);

// Starts a continuous transmission on [in] parameters->channel (uplink) of parameters->band at
// parameters->power_level. Dovin: in AT mode with the radio switched off first; gsm_tx_mode and
// modulation are not used. Other platforms: in ITP mode, where the module is left; GSM bands
// transmit static or switched (gsm_tx_mode) with the modulation; WCDMA bands a sine or WCDMA
// modulation (any other modulation sets the band up and transmits nothing).
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (a null parameters, a band
// above 12, a GSM gsm_tx_mode above 1); the handle results; the AT-mode results or the result of
// the switch into ITP mode; kKvoResultRadioStateError (Dovin: the radio could not be switched
// off); kKvoResultRadioErrorFailedToSendAtCommand (Dovin); kKvoResultGeneralErrorAtError (ITP).
KVO_API KvoResult KvoRadioTxEnable(KvoDeviceHandle handle,
                                   const KvoRadioTxEnableParameters* parameters);
// Stops the transmission. Dovin: switches the radio off, stops it with an AT command and leaves
// the module in AT mode; other platforms stop it in ITP mode and leave the module there.
// Results: kKvoResultSuccess; the handle results; the AT-mode results or the result of the
// switch into ITP mode; kKvoResultRadioErrorFailedToSendAtCommand;
// kKvoResultGeneralErrorAtError.
KVO_API KvoResult KvoRadioTxDisable(KvoDeviceHandle handle);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_RADIO_H_
