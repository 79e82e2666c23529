#include "transport/src/common/common.h"

#include <apr_strings.h>
#include <stdarg.h>
#include <string.h>

#include <iterator>

#include "kvo/kvo_common.h"
#include "kvo/src/custom/custom.h"
#include "kvo/src/device/device.h"
#include "kvo/src/radio/radio.h"

namespace {

constexpr char kSender[] = "KVO:Common";
constexpr char kRevision[] = "P1AXX";
constexpr char kProductNumber[] = "ZNL 550 7716/1";

const KvoCommonResultDescriptions kvo_common_error_descriptions[] = {
    {kKvoResultSuccess, "INFO", "The operation completed successfully."},
    {kKvoResultGeneralErrorNotImplemented, "ERROR", "The called method is not implemented."},
    {kKvoResultGeneralErrorInvalidParameter, "ERROR", "An invalid parameter was given."},
    {kKvoResultGeneralErrorMemory, "ERROR", "Failed to allocate memory."},
    {kKvoResultGeneralErrorDeviceNotOpen, "ERROR",
     "The supplied device handle does not point to an open device."},
    {kKvoResultGeneralErrorOperationTimedOut, "ERROR", "The operation timed out."},
    {kKvoResultGeneralErrorUnknownDeviceType, "ERROR", "Unknown device type."},
    {kKvoResultGeneralErrorNotInitialized, "ERROR", "The KVO library has not been initialized."},
    {kKvoResultGeneralErrorOperationNotSupported, "ERROR",
     "The requested operation is not supported for your device."},
    {kKvoResultGeneralErrorApiVersionMismatch, "ERROR",
     "The KVO API version used by this application does not match the existing KVO library."},
    {kKvoResultGeneralErrorParseError, "ERROR", "The function failed in parsing."},
    {kKvoResultGeneralErrorAtError, "ERROR", "An error was returned from the device."},
    {kKvoResultGeneralErrorUnknown, "ERROR", "Unknown error."},
    {kKvoResultDeviceErrorTimeoutWhileWaitingForReady, "ERROR",
     "Timeout while waiting for the device to become ready."},
    {kKvoResultDeviceErrorInvalidHandle, "ERROR", "The supplied handle was invalid."},
    {kKvoResultDeviceErrorSettingItpMode, "ERROR",
     "Could not set device in desired operational mode for the command."},
    {kKvoResultDeviceErrorFailedToReset, "ERROR", "Failed to reset device."},
    {kKvoResultDeviceErrorFailedToGetInformation, "ERROR",
     "Failed to get information from device."},
    {kKvoResultDeviceErrorFailedToIdentify, "ERROR", "Failed to identify device."},
    {kKvoResultDeviceErrorCouldNotConfirmSimUnlock, "ERROR", "Could not confirm SIM unlocking."},
    {kKvoResultDeviceErrorNotSupportedInItpMode, "ERROR",
     "Operation is not supported while device is in ITP mode."},
    {kKvoResultDeviceErrorTransparentChannel, "ERROR",
     "Operation failed due to an error during file transmission."},
    {kKvoResultDeviceErrorFailedToListDevices, "ERROR", "An error occurred while listing devices."},
    {kKvoResultDeviceErrorDeviceNotOpen, "ERROR", "Could not connect to the device."},
    {kKvoResultDeviceErrorDeviceNotClosed, "ERROR",
     "Could not close the connection to the device."},
    {kKvoResultUpdateErrorCouldNotFindPackage, "ERROR",
     "The update package could not be found at the given location."},
    {kKvoResultUpdateErrorNoPackageSet, "ERROR",
     "The update package is not valid for your device."},
    {kKvoResultUpdateErrorNoUpdateNeeded, "INFO", "No update is needed."},
    {kKvoResultUpdateErrorInvalidPackage, "INFO",
     "The update package is not valid for your device."},
    {kKvoResultUpdateErrorFailedToParseInformation, "ERROR",
     "Fail to parse information from the device."},
    {kKvoResultUpdateErrorFailedToLoadDLL, "ERROR", "Failed to load the upgrade package."},
    {kKvoResultUpdateErrorNoPathsFound, "ERROR",
     "Failed to find the upgrade paths in the package."},
    {kKvoResultUpdateErrorNoUpdateAvailable, "INFO",
     "This update package is not valid for your device."},
    {kKvoResultUpdateCouldNotBeVerified, "ERROR", "The update failed to complete."},
    {kKvoResultUpdateErrorMissFilesInPackage, "ERROR",
     "The update package is missing some update files."},
    {kKvoResultRadioErrorCouldNotRegisterCallback, "ERROR",
     "Failed to register a callback in TL for unsolicited RSSI response."},
    {kKvoResultRadioErrorUnexpectedRssiResponse, "ERROR",
     "Unexpected response to RSSI Async. measurement request."},
    {kKvoResultRadioErrorTlCallbackError, "ERROR",
     "Error returned in RSSI Async. callback from TL."},
    {kKvoResultRadioErrorFailedToSendAtCommand, "ERROR", "KvoRadio: Failed to send AT command."},
    {kKvoResultRadioGpsResultNotValid, "ERROR", "GPS test result is not valid."},
    {kKvoResultRadioErrorFailedToAllocateMemory, "ERROR", "Failed to allocate memory."},
    {kKvoResultRadioItpGpsStatusError, "ERROR", "GPS reported status error in ITP mode."},
    {kKvoResultRadioStateError, "ERROR", "The module radio state is not correct."},
    {kKvoResultCustomErrorContainerNotAvailable, "ERROR",
     "The Customization Container file is not available in the working directory of the "
     "program."},
    {kKvoResultCustomErrorContainerLoadFailure, "ERROR", "The container file could not be loaded."},
    {kKvoResultCustomErrorContainerNotLoaded, "ERROR",
     "The container has not been loaded. Please make sure that the Customization Container is "
     "present. See the product documentation for details."},
    {kKvoResultCustomErrorNoFilesFoundForType, "ERROR",
     "No assignments with the specified type (CustomAssignmentType) could be found in the "
     "container."},
    {kKvoResultCustomErrorDeviceNotSupported, "ERROR",
     "The device does not support the assignment type."},
    {kKvoResultCustomErrorDeviceAlreadySimlocked, "ERROR",
     "The device is already SIM-locked. A SIM-lock can only be set to a unlocked module."},
    {kKvoResultCustomErrorOperationNotAllowed, "ERROR",
     "The assignment cannot be sent to the device because the operation is not allowed."},
    {kKvoResultCustomErrorVerifyFailed, "ERROR", "Assignment verification failed."},
    {kKvoResultCustomDeviceSimLockNotSet, "ERROR", "The device SIM-lock was not set."},
    {kKvoResultCustomErrorDeviceRefreshFailed, "ERROR",
     "Device refresh failed. The assignment has been sent but an error occurred while refreshing "
     "the information cache."},
    {kKvoResultCustomDataTransferError, "ERROR",
     "An error occurred while sending data to the device."},
    {kKvoResultCustomSimCardNotPresent, "ERROR",
     "No SIM card is present, but required to perform the requested operation."},
    {kKvoResultCustomErrorInvalidFileId, "ERROR",
     "The container does not contain a file with the specified id."},
};
static_assert(std::size(kvo_common_error_descriptions) == 56, "one row per result value");

// The transport's own code is not passed on: any logger failure is the library's 99.
KvoResult FromTransport(TlResult result) {
  return result == kTlResultSuccess ? kKvoResultSuccess : kKvoResultGeneralErrorUnknown;
}

KvoResult LogWithType(const char* sender, TlLogType type, const char* format, va_list list) {
  return FromTransport(TlLogRaw(sender, type, format, list));
}

}  // namespace

// Set once every layer has started. A second start would build the device layer afresh and so
// orphan the modules its caller has open; like the transport, it changes nothing instead.
static bool library_started = false;

KvoResult KvoInitialize(void) {
  if (library_started) return kKvoResultSuccess;
  const TlResult transport_result = TlInitialize();
  if (transport_result != kTlResultSuccess) {
    TlLogErrorCode(kSender, transport_result);
    return kKvoResultGeneralErrorUnknown;
  }
  // The library's layers start here, after the transport, in the order device, customization,
  // radio; each failure is returned unchanged and leaves the layers before it running.
  KvoResult layer_result = DeviceInitialize();
  if (layer_result != kKvoResultSuccess) return layer_result;
  layer_result = CustomInitialize();
  if (layer_result != kKvoResultSuccess) return layer_result;
  layer_result = RadioInitialize();
  if (layer_result != kKvoResultSuccess) return layer_result;

  KvoLogInfo(kSender,
             "KVO library initialized, revision %s, API version major is %d, API version minor "
             "is %d,",
             kRevision, kKvoApiVersionMajor, kKvoApiVersionMinor);
  library_started = true;
  return kKvoResultSuccess;
}

KvoResult KvoTerminate(void) {
  library_started = false;
  // Every layer is stopped whatever the one before returned. The result of the last layer
  // (radio) is what a clean transport shut-down returns.
  KvoResult result = kKvoResultSuccess;
  KvoResult layer_result = DeviceTerminate();
  if (layer_result != kKvoResultSuccess) KvoLogErrorCode(kSender, layer_result);
  layer_result = CustomTerminate();
  if (layer_result != kKvoResultSuccess) KvoLogErrorCode(kSender, layer_result);
  result = RadioTerminate();
  if (result != kKvoResultSuccess) KvoLogErrorCode(kSender, result);

  const TlResult transport_result = TlTerminate();
  if (transport_result != kTlResultSuccess) {
    TlLogErrorCode(kSender, transport_result);
    return kKvoResultGeneralErrorUnknown;
  }
  return result;
}

KvoResult KvoGetApiVersion(KvoVersion* version) {
  if (version == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  version->major = kKvoApiVersionMajor;
  version->minor = kKvoApiVersionMinor;
  return kKvoResultSuccess;
}

KvoResult KvoGetRevision(KvoRevision* revision) {
  if (revision == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  apr_cpystrn(*revision, kRevision, sizeof(*revision));
  return kKvoResultSuccess;
}

KvoResult KvoGetProduct(KvoProductNumber* product_number) {
  if (product_number == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  apr_cpystrn(*product_number, kProductNumber, sizeof(*product_number));
  return kKvoResultSuccess;
}

KvoResult KvoGetResultDescription(KvoResult result, KvoResultDescription* description) {
  if (description == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  const KvoCommonResultDescriptions* row = nullptr;
  if (result == kKvoResultSuccess) {
    row = &kvo_common_error_descriptions[0];
  } else {
    for (size_t i = 1; i < std::size(kvo_common_error_descriptions); ++i) {
      if (kvo_common_error_descriptions[i].result == result) {
        row = &kvo_common_error_descriptions[i];
        break;
      }
    }
  }
  if (row == nullptr) {
    apr_snprintf(*description, sizeof(*description),
                 "%d - \"Unknown result code, no description found\".", static_cast<int>(result));
    return kKvoResultGeneralErrorUnknown;
  }
  apr_snprintf(*description, sizeof(*description), "%s %d - %s", row->type,
               static_cast<int>(result), row->description);
  return kKvoResultSuccess;
}

#define KVO_DEFINE_LOG_FUNCTION(name, type)                           \
  KvoResult name(const char* sender, const char* format, ...) {       \
    va_list list;                                                     \
    va_start(list, format);                                           \
    const KvoResult result = LogWithType(sender, type, format, list); \
    va_end(list);                                                     \
    return result;                                                    \
  }

KVO_DEFINE_LOG_FUNCTION(KvoLog, kTlLogTypeApplication)
KVO_DEFINE_LOG_FUNCTION(KvoLogInfo, kTlLogTypeInfo)
KVO_DEFINE_LOG_FUNCTION(KvoLogError, kTlLogTypeError)
KVO_DEFINE_LOG_FUNCTION(KvoLogDebug, kTlLogTypeDebug)
KVO_DEFINE_LOG_FUNCTION(KvoLogTrace, kTlLogTypeTrace)

#undef KVO_DEFINE_LOG_FUNCTION

KvoResult KvoLogErrorCode(const char* sender, KvoResult result) {
  KvoResultDescription text;
  memset(text, 0, sizeof(text));
  KvoGetResultDescription(result, &text);
  return KvoLogError(sender, "%s", text);
}

KvoResult KvoSetLogFile(const char* file_path) {
  return FromTransport(TlSetLogFile(file_path));
}

KvoResult KvoSetLogTypesForFile(KvoLogTypeMask type_mask) {
  return FromTransport(TlSetLogTypesForFile(type_mask));
}

KvoResult KvoSetLogTypesForScreen(KvoLogTypeMask type_mask) {
  return FromTransport(TlSetLogTypesForScreen(type_mask));
}
