#ifndef TRANSPORT_SRC_COMMON_COMMON_H_
#define TRANSPORT_SRC_COMMON_COMMON_H_

// Transport core: start-up and shut-down of the transport library, the one logger both libraries
// write through, the transport result codes and their texts, and big-endian 32-bit packing.

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum TlResult {
  kTlResultSuccess = 0,
  kTlResultGeneralErrorNotImplemented = 1,
  kTlResultGeneralErrorInvalidParameter = 2,
  kTlResultGeneralErrorMemory = 3,
  kTlResultGeneralErrorDeviceNotOpen = 4,
  kTlResultGeneralErrorOperationTimedOut = 5,
  kTlResultGeneralErrorUnknownDeviceType = 6,
  kTlResultGeneralErrorNotInitialized = 7,
  kTlResultGeneralErrorDevicePartialDataWrite = 8,
  kTlResultGeneralErrorCouldNotOpenLogFile = 9,
  kTlResultGeneralErrorCouldNotWriteLogFile = 10,
  kTlResultGeneralErrorCouldNotCreateMutex = 11,
  kTlResultGeneralErrorUnknown = 99,
  kTlResultDeviceErrorInvalidHandle = 200,
  kTlResultDeviceErrorOutOfHandles = 201,
  kTlResultDeviceErrorCouldNotOpenDevice = 202,
  kTlResultDeviceErrorCouldNotConfigureDevice = 203,
  kTlResultDeviceErrorCouldNotWriteToDevice = 204,
  kTlResultDeviceErrorCouldNotReadFromDevice = 205,
  kTlResultDeviceErrorNotAllowedInCurrentMode = 206,
  kTlResultDeviceErrorCouldNotStartThread = 207,
  kTlResultSecureFrameErrorOpenFailed = 501,
  kTlResultSecureFrameErrorCloseFailed = 502,
  kTlResultSecureFrameErrorSerializationFailed = 505,
  kTlResultSecureFrameErrorDeserializationFailed = 506,
  kTlResultSecureFrameErrorTransmissionFailed = 507,
  kTlResultSecureFrameErrorReadPacketError = 508,
  kTlResultSecureFrameErrorAuthorizationFailed = 510,
  kTlResultSecureFrameErrorAssignmentUnknown = 511,
  kTlResultSecureFrameErrorModeNotSupported = 512,
  kTlResultSecureFrameErrorReadTimeout = 513,
  kTlResultAtErrorDeviceNotInAtMode = 600,
  kTlResultAtErrorMaximumCallbacksExceeded = 690,
  kTlResultAtErrorNoSuchCallbackRegistered = 691,
  kTlResultAtErrorUnknown = 699,
  kTlResultTransparentChannelErrorFailure = 900,
  kTlResultTransparentChannelErrorUnableToOpenTcChannel = 901,
  kTlResultTransparentChannelErrorUnableToCloseTcChannel = 902,
  kTlResultTransparentChannelErrorCreateHeaderFailed = 903,
  kTlResultTransparentChannelErrorSentBytesFailed = 904,
  kTlResultTransparentChannelErrorReceiveBytesFailed = 905,
  kTlResultTransparentChannelErrorFileTypeNotSupported = 906,
  kTlResultTransparentChannelErrorVersionNotSupported = 907,
  kTlResultTransparentChannelNoPayloadInGenericAnswer = 908
} TlResult;

// Log types, one bit each.
typedef enum TlLogType {
  kTlLogTypeApplication = 1,
  kTlLogTypeInfo = 2,
  kTlLogTypeError = 4,
  kTlLogTypeDebug = 8,
  kTlLogTypeTrace = 16
} TlLogType;

typedef uint32_t TlLogTypeMask;
enum {
  kTlLogTypeMaskNone = 0,
  kTlLogTypeMaskDefaultScreen = 1,
  kTlLogTypeMaskDefaultFile = 15,
  kTlLogTypeMaskAll = 65535
};

typedef char TlResultDescription[256];

typedef struct TlCommonErrorDescriptions {
  TlResult result;
  TlResultDescription description;
} TlCommonErrorDescriptions;

TlResult TlInitialize(void);
TlResult TlTerminate(void);
TlResult TlIsInitialized(void);

TlResult TlLogRaw(const char* sender, TlLogType type, const char* format, va_list list);
TlResult TlLogInfo(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
TlResult TlLogError(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
TlResult TlLogDebug(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
TlResult TlLogTrace(const char* sender, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
TlResult TlLogErrorCode(const char* sender, TlResult result);

TlResult TlSetLogFile(const char* file_path);
TlResult TlSetLogTypesForFile(TlLogTypeMask type_mask);
TlResult TlSetLogTypesForScreen(TlLogTypeMask type_mask);

TlResult TlGetResultDescription(TlResult result, TlResultDescription* description);

TlResult TlSerializeUint32(uint32_t value, uint8_t* buffer);
TlResult TlDeserializeUint32(const uint8_t* buffer, uint32_t* value);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_COMMON_COMMON_H_
