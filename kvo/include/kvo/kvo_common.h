#ifndef KVO_KVO_COMMON_H_
#define KVO_KVO_COMMON_H_

// Library core: start and stop, API version and identity, result codes with their descriptions,
// and logging through the one logger of the library.

#include "kvo/kvo_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Major 3, minor 0. A client compares the major number before any other call.
enum { kKvoApiVersionMajor = 3, kKvoApiVersionMinor = 0 };

typedef struct KvoVersion {
  unsigned int major;
  unsigned int minor;
} KvoVersion;

typedef char KvoRevision[64];
typedef char KvoProductNumber[64];
// "INFO" or "ERROR".
typedef char KvoResultType[8];
typedef char KvoResultDescription[256];

// Groups: general 1-99, device 200s, update 300s, radio 400s, customization 600s.
typedef enum KvoResult {
  kKvoResultSuccess = 0,
  kKvoResultGeneralErrorNotImplemented = 1,
  kKvoResultGeneralErrorInvalidParameter = 2,
  kKvoResultGeneralErrorMemory = 3,
  kKvoResultGeneralErrorDeviceNotOpen = 4,
  kKvoResultGeneralErrorOperationTimedOut = 5,
  kKvoResultGeneralErrorUnknownDeviceType = 6,
  kKvoResultGeneralErrorNotInitialized = 7,
  kKvoResultGeneralErrorOperationNotSupported = 8,
  kKvoResultGeneralErrorApiVersionMismatch = 9,
  kKvoResultGeneralErrorParseError = 10,
  kKvoResultGeneralErrorAtError = 11,
  kKvoResultGeneralErrorUnknown = 99,
  kKvoResultDeviceErrorTimeoutWhileWaitingForReady = 200,
  kKvoResultDeviceErrorInvalidHandle = 201,
  kKvoResultDeviceErrorSettingItpMode = 202,
  kKvoResultDeviceErrorFailedToReset = 203,
  kKvoResultDeviceErrorFailedToGetInformation = 204,
  kKvoResultDeviceErrorFailedToIdentify = 205,
  kKvoResultDeviceErrorCouldNotConfirmSimUnlock = 206,
  kKvoResultDeviceErrorNotSupportedInItpMode = 207,
  kKvoResultDeviceErrorTransparentChannel = 208,
  kKvoResultDeviceErrorFailedToListDevices = 209,
  kKvoResultDeviceErrorDeviceNotOpen = 210,
  kKvoResultDeviceErrorDeviceNotClosed = 211,
  kKvoResultUpdateErrorCouldNotFindPackage = 300,
  kKvoResultUpdateErrorNoPackageSet = 301,
  kKvoResultUpdateErrorNoUpdateNeeded = 302,
  kKvoResultUpdateErrorInvalidPackage = 303,
  kKvoResultUpdateErrorFailedToParseInformation = 304,
  kKvoResultUpdateErrorFailedToLoadDLL = 305,
  kKvoResultUpdateErrorNoPathsFound = 306,
  kKvoResultUpdateErrorNoUpdateAvailable = 307,
  kKvoResultUpdateCouldNotBeVerified = 308,
  kKvoResultUpdateErrorMissFilesInPackage = 309,
  kKvoResultRadioErrorCouldNotRegisterCallback = 400,
  kKvoResultRadioErrorUnexpectedRssiResponse = 401,
  kKvoResultRadioErrorTlCallbackError = 402,
  kKvoResultRadioErrorFailedToSendAtCommand = 403,
  kKvoResultRadioGpsResultNotValid = 404,
  kKvoResultRadioErrorFailedToAllocateMemory = 405,
  kKvoResultRadioItpGpsStatusError = 406,
  kKvoResultRadioStateError = 407,
  kKvoResultCustomErrorContainerNotAvailable = 602,
  kKvoResultCustomErrorContainerLoadFailure = 603,
  kKvoResultCustomErrorContainerNotLoaded = 604,
  kKvoResultCustomErrorNoFilesFoundForType = 605,
  kKvoResultCustomErrorDeviceNotSupported = 606,
  kKvoResultCustomErrorDeviceAlreadySimlocked = 607,
  kKvoResultCustomErrorOperationNotAllowed = 608,
  kKvoResultCustomErrorVerifyFailed = 609,
  kKvoResultCustomDeviceSimLockNotSet = 610,
  kKvoResultCustomErrorDeviceRefreshFailed = 611,
  kKvoResultCustomDataTransferError = 612,
  kKvoResultCustomSimCardNotPresent = 613,
  kKvoResultCustomErrorInvalidFileId = 614,
  kKvoResultLast = 615
} KvoResult;

// One row of the description table.
typedef struct KvoCommonResultDescriptions {
  KvoResult result;
  KvoResultType type;
  KvoResultDescription description;
} KvoCommonResultDescriptions;

// Log type bits and masks. Bit 16 (trace) exists too and is what KvoLogTrace uses.
typedef unsigned int KvoLogTypeMask;
enum {
  kKvoLogTypeApplication = 1,
  kKvoLogTypeInfo = 2,
  kKvoLogTypeError = 4,
  kKvoLogTypeDebug = 8,
  kKvoLogTypeMaskNone = 0,
  kKvoLogTypeMaskDefaultScreen = 1,
  kKvoLogTypeMaskDefaultFile = 15,
  kKvoLogTypeMaskAll = 65535
};

// Starts the transport, then the device layer, then customization, which loads
// "libcustomization_container.dll" from the working directory when that file is there. Comes
// before every other call except KvoGetApiVersion, KvoGetRevision, KvoGetProduct,
// KvoGetResultDescription and the logging functions. Call it while no other library call runs.
// A second call while started changes nothing.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknown when the transport does not start or
// customization gets no memory; kKvoResultGeneralErrorMemory when the device layer gets none;
// kKvoResultCustomErrorContainerLoadFailure when the customization container is there but cannot
// be loaded. A failure leaves the layers started before it running: call KvoTerminate.
KVO_API KvoResult KvoInitialize(void);
// Stops the device layer, customization and the transport, each whatever the one before returned;
// the transport closes devices still open and the log file. Layer failures are logged.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknown when the transport does not stop.
KVO_API KvoResult KvoTerminate(void);

// [out] version: kKvoApiVersionMajor and kKvoApiVersionMinor. Any time, also before
// KvoInitialize. Results: kKvoResultSuccess, kKvoResultGeneralErrorInvalidParameter.
KVO_API KvoResult KvoGetApiVersion(KvoVersion* version);
// [out] revision: the library's revision text. Any time.
// Results: kKvoResultSuccess, kKvoResultGeneralErrorInvalidParameter.
KVO_API KvoResult KvoGetRevision(KvoRevision* revision);
// [out] product_number: the library's product number. Any time.
// Results: kKvoResultSuccess, kKvoResultGeneralErrorInvalidParameter.
KVO_API KvoResult KvoGetProduct(KvoProductNumber* product_number);

// [in] result: any value. [out] description: "TYPE value - text" (for example "ERROR 201 - The
// supplied handle was invalid."), cut to 255 characters. Any time.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknown for a value that is no KvoResult,
// with the text "<value> - "Unknown result code, no description found"."; and
// kKvoResultGeneralErrorInvalidParameter.
KVO_API KvoResult KvoGetResultDescription(KvoResult result, KvoResultDescription* description);

// printf-style logging through the library's one logger, with the [in] sender's tag (null: no
// tag); the type is application, info, error, debug or trace. Any thread, any time. A type that
// the masks leave out is dropped, and that is still kKvoResultSuccess.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknown when the logger fails (a null format
// included).
KVO_API KvoResult KvoLog(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
KVO_API KvoResult KvoLogInfo(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
KVO_API KvoResult KvoLogError(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
KVO_API KvoResult KvoLogDebug(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
KVO_API KvoResult KvoLogTrace(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Logs the KvoGetResultDescription line of [in] result as an error, with the [in] sender's tag.
// Results: as KvoLogError.
KVO_API KvoResult KvoLogErrorCode(const char* sender, KvoResult result);

// [in] file_path: the log file, appended to; "" writes no file. Before KvoInitialize the name is
// kept and the file opened when the library starts.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorUnknown when the file cannot be opened or
// file_path is null.
KVO_API KvoResult KvoSetLogFile(const char* file_path);
// [in] type_mask: the log types that go to the log file (default kKvoLogTypeMaskDefaultFile) or
// to the console (default kKvoLogTypeMaskDefaultScreen). Results: kKvoResultSuccess.
KVO_API KvoResult KvoSetLogTypesForFile(KvoLogTypeMask type_mask);
KVO_API KvoResult KvoSetLogTypesForScreen(KvoLogTypeMask type_mask);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_COMMON_H_
