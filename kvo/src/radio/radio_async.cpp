// The asynchronous RSSI scan: the module reports each measurement as an unsolicited line, which the
// AT channel hands to KvoRadioRssiCallback on the device's receive thread (or, for lines that came
// with the command's final result, inside TlAtSend on the caller's thread). The caller waits until
// the handler reports the scan complete or failed.

#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_time.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "kvo/src/radio/radio.h"
#include "kvo/src/radio/radio_parse.h"
#include "transport/src/at/at.h"

namespace {

constexpr char kSender[] = "KVO:Radio";
constexpr unsigned kRadioAtSendTimeout2 = 2;
// A module that stops reporting ends the scan after this long without a line, as a synchronous
// scan's read would.
constexpr apr_interval_time_t kSilenceTimeout = apr_time_from_sec(100);
constexpr int kRadioRssiReportTypeUnsolicited = 2;

struct RadioRssiUserData {
  KvoRadioRssiScanParameters parameters;
  KvoRadioRssiScanCallback* callback;
  void* client_data;
};

// One scan at a time. `mutex` guards running, done, result and last_line; the rest is written by
// the caller before the handler is registered and afterwards only by the handler, which the
// device lock keeps to one thread at a time.
struct AsyncScan {
  apr_thread_mutex_t* mutex = nullptr;
  apr_thread_cond_t* condition = nullptr;
  bool running = false;
  bool done = false;
  KvoResult result = kKvoResultSuccess;
  apr_time_t last_line = 0;

  RadioRssiUserData user_data = {};
  size_t number_of_async_samples_to_receive = 0;
  size_t number_of_samples_received = 0;
  RadioRssiLineReader reader;
};

AsyncScan scan;

// The first outcome counts; later ones (lines after an error) change nothing.
void Finish(KvoResult result) {
  apr_thread_mutex_lock(scan.mutex);
  if (!scan.done) {
    scan.done = true;
    scan.result = result;
  }
  apr_thread_cond_signal(scan.condition);
  apr_thread_mutex_unlock(scan.mutex);
}

// Hands one measurement to the user as a record of one value; the user owns it.
KvoResult Deliver(KvoDeviceHandle handle, long band, KvoRadioChannel channel,
                  KvoRadioAntennaPath path, KvoRadioRssiValue value) {
  KvoRadioRssiScanData* record =
      static_cast<KvoRadioRssiScanData*>(calloc(1, sizeof(KvoRadioRssiScanData)));
  KvoRadioRssiValue* values = static_cast<KvoRadioRssiValue*>(calloc(1, sizeof(value)));
  if (record == nullptr || values == nullptr) {
    free(record);
    free(values);
    KvoLogError(kSender, "Could not allocate memory for data_list[iterator].values.");
    return kKvoResultRadioErrorFailedToAllocateMemory;
  }
  values[0] = value;
  record->band = static_cast<KvoRadioBand>(band);
  record->number_of_channel_items = 1;
  record->path = path;
  record->channel = channel;
  record->number_of_samples = 1;
  record->values = values;
  ++scan.number_of_samples_received;
  KvoLogDebug(kSender, "Band %ld, Channel %u, Value %f.", band, channel,
              static_cast<double>(value));
  scan.user_data.callback(handle, kKvoResultSuccess, record, scan.user_data.client_data);
  return kKvoResultSuccess;
}

// Every whole measurement line of the text, in order, until the scan is complete or a line fails.
KvoResult RadioHandleRssiAsyncData(KvoDeviceHandle handle, const char* text, bool* complete) {
  const KvoRadioAntennaPath requested = scan.user_data.parameters.antenna_path;
  const bool both_paths = requested == kKvoRadioAntennaPathMainAndDiversity;
  std::vector<std::string> measurements;
  scan.reader.Feed(text, &measurements);
  for (const std::string& measurement : measurements) {
    KvoLogDebug(kSender, "\nscan_data_pointer == %s\nnumber_of_samples_received = %zu.",
                measurement.c_str(), scan.number_of_samples_received);
    RadioRssiSample sample;
    switch (RadioParseRssiLine(measurement, both_paths, &sample)) {
      case RadioLineStatus::kOk:
        break;
      case RadioLineStatus::kMissingField:
        KvoLogError(kSender,
                    "apr_strtok(), token is NULL, failed during parse of response to AT*EEMRSSI.");
        return kKvoResultRadioErrorUnexpectedRssiResponse;
      case RadioLineStatus::kMissingDiversity:
        KvoLogError(kSender,
                    "The values of antenna path %d does not match the length of the response to "
                    "AT*EEMRSSI.",
                    static_cast<int>(requested));
        return kKvoResultRadioErrorUnexpectedRssiResponse;
    }
    KvoLogDebug(kSender,
                "Identified using strtok: Band %ld, kKvoRadioAntennaPathMain %d, channel %u, "
                "value_main %f",
                sample.band, static_cast<int>(kKvoRadioAntennaPathMain), sample.channel,
                static_cast<double>(sample.main));
    // A scan of the diversity path alone reports that path's values in the main field.
    const KvoRadioAntennaPath first_path = requested == kKvoRadioAntennaPathDiversity
                                               ? kKvoRadioAntennaPathDiversity
                                               : kKvoRadioAntennaPathMain;
    KvoResult result = Deliver(handle, sample.band, sample.channel, first_path, sample.main);
    if (result != kKvoResultSuccess) return result;
    if (both_paths) {
      result = Deliver(handle, sample.band, sample.channel, kKvoRadioAntennaPathDiversity,
                       sample.diversity);
      if (result != kKvoResultSuccess) return result;
    }
    if (scan.number_of_samples_received >= scan.number_of_async_samples_to_receive) {
      *complete = true;
      return kKvoResultSuccess;
    }
  }
  return kKvoResultSuccess;
}

void KvoRadioRssiCallback(TlResult result, TlDeviceHandle handle, TlAtResult* at_result,
                          const void*) {
  apr_thread_mutex_lock(scan.mutex);
  const bool listening = scan.running && !scan.done;
  scan.last_line = apr_time_now();
  apr_thread_mutex_unlock(scan.mutex);
  if (!listening) {
    if (at_result != nullptr) TlAtReleaseAtResult(at_result);
    return;
  }
  if (result != kTlResultSuccess || scan.user_data.callback == nullptr) {
    KvoLogError(kSender, "kKvoResultRadioErrorTlCallbackError, result %d", result);
    if (scan.user_data.callback == nullptr) {
      KvoLogError(kSender, "User has not registered a callback.");
    }
    // A port that failed or could not be opened is a device that is not open.
    const bool port_gone = result == kTlResultDeviceErrorCouldNotOpenDevice ||
                           result == kTlResultGeneralErrorDeviceNotOpen;
    Finish(port_gone ? kKvoResultGeneralErrorDeviceNotOpen : kKvoResultRadioErrorTlCallbackError);
    if (at_result != nullptr) TlAtReleaseAtResult(at_result);
    return;
  }
  bool complete = false;
  const char* text = at_result != nullptr && at_result->data != nullptr ? at_result->data : "";
  const KvoResult handled = RadioGuarded(kKvoResultRadioErrorFailedToAllocateMemory, [&] {
    return RadioHandleRssiAsyncData(handle, text, &complete);
  });
  if (at_result != nullptr) TlAtReleaseAtResult(at_result);
  KvoLogDebug(kSender, "Number of samples to receive/Number of samples received: %zu/%zu",
              scan.number_of_async_samples_to_receive, scan.number_of_samples_received);
  KvoLogDebug(kSender, "KvoRadioRssiCallback, kvo_result %d.", handled);
  if (handled != kKvoResultSuccess) {
    Finish(handled);
  } else if (complete) {
    scan.number_of_async_samples_to_receive = 0;
    scan.number_of_samples_received = 0;
    Finish(kKvoResultSuccess);
  }
}

// Claims the one scan slot.
bool Claim() {
  apr_thread_mutex_lock(scan.mutex);
  const bool free_slot = !scan.running;
  scan.running = true;
  apr_thread_mutex_unlock(scan.mutex);
  return free_slot;
}

void ReleaseClaim() {
  apr_thread_mutex_lock(scan.mutex);
  scan.running = false;
  scan.user_data.callback = nullptr;
  apr_thread_mutex_unlock(scan.mutex);
}

// Until the handler reports the end, or the module has been silent for too long.
KvoResult WaitForEnd() {
  KvoLogDebug(kSender, "About to lock mutex and wait.");
  apr_thread_mutex_lock(scan.mutex);
  scan.last_line = apr_time_now();
  while (!scan.done) {
    const apr_interval_time_t silent = apr_time_now() - scan.last_line;
    if (silent >= kSilenceTimeout) {
      KvoLogError(kSender, "No RSSI measurement from the module for %d seconds.",
                  static_cast<int>(apr_time_sec(kSilenceTimeout)));
      scan.done = true;
      scan.result = kKvoResultGeneralErrorOperationTimedOut;
      break;
    }
    apr_thread_cond_timedwait(scan.condition, scan.mutex, kSilenceTimeout - silent);
  }
  const KvoResult result = scan.result;
  apr_thread_mutex_unlock(scan.mutex);
  KvoLogDebug(kSender, "Main thread executing again.");
  return result;
}

KvoResult SendScanCommand(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters) {
  char command[160];
  if (parameters.band > kKvoRadioBandGsm850) {
    snprintf(command, sizeof command, "AT*EEMRSSI=%d, %u, %u, %d, %zu, %zu, %d",
             static_cast<int>(parameters.band), parameters.start_channel, parameters.end_channel,
             static_cast<int>(parameters.antenna_path), parameters.number_of_samples,
             parameters.step_size, kRadioRssiReportTypeUnsolicited);
  } else {
    snprintf(command, sizeof command, "AT*EEMRSSI=%d, %u, %u, %zu, %zu, %d",
             static_cast<int>(parameters.band), parameters.start_channel, parameters.end_channel,
             parameters.number_of_samples, parameters.step_size, kRadioRssiReportTypeUnsolicited);
  }
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  const TlResult sent = TlAtSend(handle, command, kRadioAtSendTimeout2, &at_result);
  const TlAtResultCode code = at_result.result_code;
  if (at_result.data != nullptr) TlAtReleaseAtResult(&at_result);
  if (sent != kTlResultSuccess) {
    KvoLogError(kSender, "KvoRadioRssiScanAsync. TlAtSend failed (tl_result %d).", sent);
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  if (code != kTlAtResultOk) {
    KvoLogError(kSender, "KvoRadioRssiScanAsync. AT command returned NOT OK, (at_result %d).",
                code);
    return kKvoResultRadioErrorFailedToSendAtCommand;
  }
  return kKvoResultSuccess;
}

KvoResult RunScan(KvoDeviceHandle handle, const KvoRadioRssiScanParameters& parameters,
                  KvoRadioRssiScanCallback* callback, const void* client_data) {
  DeviceRadioMode mode_before = kDeviceRadioModeOff;
  KvoResult result = RadioRssiScanEnter(handle, &mode_before);
  if (result != kKvoResultSuccess) return result;

  const bool both_paths = parameters.antenna_path == kKvoRadioAntennaPathMainAndDiversity;
  scan.user_data.parameters = parameters;
  scan.user_data.callback = callback;
  // The interface hands the caller's data back to the caller's own callback.
  scan.user_data.client_data = const_cast<void*>(client_data);
  scan.number_of_async_samples_to_receive = static_cast<size_t>(RadioScanChannelCount(parameters)) *
                                            parameters.number_of_samples * (both_paths ? 2 : 1);
  scan.number_of_samples_received = 0;
  scan.reader.Clear();
  apr_thread_mutex_lock(scan.mutex);
  scan.done = false;
  scan.result = kKvoResultSuccess;
  apr_thread_mutex_unlock(scan.mutex);
  KvoLogDebug(kSender, "Number of async samples to receive: %zu\n",
              scan.number_of_async_samples_to_receive);

  const TlResult registered = TlAtRegisterCallback(handle, KvoRadioRssiCallback, &scan.user_data);
  if (registered != kTlResultSuccess) {
    KvoLogError(kSender, "Could not register callback in TL, return code: %d.", registered);
    RadioRssiScanExit(handle, mode_before);
    return kKvoResultRadioErrorCouldNotRegisterCallback;
  }
  result = SendScanCommand(handle, parameters);
  if (result == kKvoResultSuccess) result = WaitForEnd();

  const TlResult unregistered = TlAtUnregisterCallback(handle, KvoRadioRssiCallback);
  // A failed port takes its listeners along; that is no further fault of the scan.
  if (unregistered != kTlResultSuccess) {
    KvoLogDebug(kSender, "The listener was no longer registered (tl_result %d).", unregistered);
  }
  RadioRssiScanExit(handle, mode_before);
  return result;
}

}  // namespace

KvoResult RadioAsyncInitialize(apr_pool_t* pool) {
  scan.running = false;
  scan.user_data = RadioRssiUserData{};
  if (apr_thread_mutex_create(&scan.mutex, APR_THREAD_MUTEX_UNNESTED, pool) != APR_SUCCESS ||
      apr_thread_cond_create(&scan.condition, pool) != APR_SUCCESS) {
    KvoLogError(kSender, "Failed to create the RSSI scan's mutex or condition.");
    scan.mutex = nullptr;
    scan.condition = nullptr;
    return kKvoResultGeneralErrorMemory;
  }
  return kKvoResultSuccess;
}

void RadioAsyncTerminate(void) {
  // The pool that holds them goes with the radio layer.
  scan.mutex = nullptr;
  scan.condition = nullptr;
  scan.running = false;
  scan.user_data = RadioRssiUserData{};
}

KvoResult KvoRadioRssiScanAsync(KvoDeviceHandle handle,
                                const KvoRadioRssiScanParameters* parameters,
                                KvoRadioRssiScanCallback* callback, const void* client_data) {
  if (parameters == nullptr || callback == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  const KvoResult result = KvoDeviceGetType(handle, &type);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to get device type.");
    return result;
  }
  if (type == kKvoDevicePlatformTypeBrem) {
    KvoLogInfo(kSender,
               "KvoRadioRssiScan(), For this type of module is RSSI Async. not supported.");
    return kKvoResultGeneralErrorOperationNotSupported;
  }
  if (!RadioScanParametersValid(*parameters)) return kKvoResultGeneralErrorInvalidParameter;
  if (scan.mutex == nullptr) return kKvoResultGeneralErrorNotInitialized;
  if (!Claim()) {
    KvoLogError(kSender,
                "Callback in KvoRadioRssiScanAsync() has already been registered. Can only do this "
                "once.");
    return kKvoResultRadioErrorCouldNotRegisterCallback;
  }
  const KvoResult scanned = RunScan(handle, *parameters, callback, client_data);
  ReleaseClaim();
  return scanned;
}
