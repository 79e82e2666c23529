#include "transport/src/common/common.h"

#include <apr_file_io.h>
#include <apr_general.h>
#include <apr_pools.h>
#include <apr_strings.h>
#include <apr_thread_mutex.h>
#include <apr_time.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <iterator>

#include "transport/src/at/at.h"
#include "transport/src/device/device.h"

namespace {

constexpr char kSender[] = "TL:Common";
constexpr char kLogFormat[] = "%-35s%-20s%-10s%s\r\n";
constexpr char kBanner[] = "** Log file opened successfully **\n";
constexpr size_t kMessageBufferSize = 8192;
// Room for the three columns and the line end around a message of full length, so that the
// longest message still reaches the file whole.
constexpr size_t kLineBufferSize = kMessageBufferSize + 128;
constexpr size_t kLogFilenameSize = 128;

// Library-wide state. Masks and the started flag are read by every logging thread without the
// log lock, so they are atomic; the log file and its name are only touched under the log lock
// once it exists.
std::atomic<bool> initialized{false};
bool apr_started = false;
apr_pool_t* memory_pool = nullptr;
apr_file_t* log_file = nullptr;
char log_filename[kLogFilenameSize] = "";
std::atomic<TlLogTypeMask> log_type_mask_screen{kTlLogTypeMaskDefaultScreen};
std::atomic<TlLogTypeMask> log_type_mask_file{kTlLogTypeMaskDefaultFile};
std::atomic<apr_thread_mutex_t*> log_lock{nullptr};

const TlCommonErrorDescriptions tl_common_error_descriptions[] = {
    {kTlResultSuccess, "The operation completed successfully."},
    {kTlResultGeneralErrorNotImplemented, "The function is not implemented."},
    {kTlResultGeneralErrorInvalidParameter, "An invalid parameter was given."},
    {kTlResultGeneralErrorMemory, "Failed to allocate memory."},
    {kTlResultGeneralErrorDeviceNotOpen, "The device is not open."},
    {kTlResultGeneralErrorOperationTimedOut, "The operation timed out"},
    {kTlResultGeneralErrorUnknownDeviceType, "Unknown device type."},
    {kTlResultGeneralErrorNotInitialized, "The Transport Layer library has not been initialized."},
    {kTlResultGeneralErrorDevicePartialDataWrite, ""},
    {kTlResultGeneralErrorCouldNotOpenLogFile, "Could not open log file."},
    {kTlResultGeneralErrorCouldNotWriteLogFile, "Could not write to log file."},
    {kTlResultGeneralErrorUnknown, "Unknown error."},
    {kTlResultDeviceErrorInvalidHandle, "The device handle is invalid."},
    {kTlResultDeviceErrorOutOfHandles, "No more devices handles available."},
    {kTlResultDeviceErrorCouldNotOpenDevice, "Could not open device."},
    {kTlResultDeviceErrorCouldNotConfigureDevice, "Could not configure device."},
    {kTlResultDeviceErrorCouldNotWriteToDevice, "Could not write to device."},
    {kTlResultDeviceErrorCouldNotReadFromDevice, "Could not read from device."},
    {kTlResultDeviceErrorNotAllowedInCurrentMode,
     "The attempted action is not allowed in the current mode."},
    {kTlResultDeviceErrorCouldNotStartThread, "Could not start the asynchronous thread."},
    {kTlResultAtErrorDeviceNotInAtMode,
     "AT Command could not be send because the device is not in AT mode."},
    {kTlResultAtErrorMaximumCallbacksExceeded,
     "The maximum number of callbacks have been exceeded. Not possible to register callback."},
    {kTlResultAtErrorNoSuchCallbackRegistered,
     "Could not found callback signature in list of registered callbacks."},
    {kTlResultAtErrorUnknown, "An unknown error occured in the AT module"},
    {kTlResultTransparentChannelErrorFailure, "A response from the device could not be verified."},
    {kTlResultTransparentChannelErrorUnableToOpenTcChannel,
     "Could not set the device mode to transparent channel."},
    {kTlResultTransparentChannelErrorUnableToCloseTcChannel,
     "Could not set the device to AT mode from transparent channel"},
    {kTlResultTransparentChannelErrorCreateHeaderFailed, "Failed to create header."},
    {kTlResultTransparentChannelErrorSentBytesFailed,
     "An error occured while sending data to the device."},
    {kTlResultTransparentChannelErrorReceiveBytesFailed,
     "An error occured while receiving data from the device"},
    {kTlResultTransparentChannelErrorFileTypeNotSupported,
     "The recived data type is not supported."},
    {kTlResultTransparentChannelErrorVersionNotSupported,
     "The requested transparent channel version is not supported."},
    {kTlResultSecureFrameErrorOpenFailed, "Failed to open SF channel."},
    {kTlResultSecureFrameErrorCloseFailed, "Failed to close SF channel."},
    {kTlResultSecureFrameErrorSerializationFailed,
     "An error occurred during packet serialization."},
    {kTlResultSecureFrameErrorDeserializationFailed,
     "An error occurred during packet deserialization"},
    {kTlResultSecureFrameErrorTransmissionFailed, "SF packet transmission failed."},
    {kTlResultSecureFrameErrorReadPacketError, "Failed to read a packet from an SF channel."},
    {kTlResultSecureFrameErrorAuthorizationFailed, "The payload failed authorization."},
    {kTlResultSecureFrameErrorAssignmentUnknown,
     "The assignment was not recognized by the device."},
    {kTlResultSecureFrameErrorModeNotSupported, "The specified SF mode is not supported."},
    {kTlResultSecureFrameErrorReadTimeout, "A timeout occurred when reading from the device."},
};
static_assert(std::size(tl_common_error_descriptions) == 42, "one row per described result");

// Holds the log lock for a scope when it exists; before start-up and after shut-down there is
// none and the caller runs unlocked.
class LogLockGuard {
 public:
  LogLockGuard() : lock_(log_lock.load()) {
    if (lock_ != nullptr) apr_thread_mutex_lock(lock_);
  }
  ~LogLockGuard() {
    if (lock_ != nullptr) apr_thread_mutex_unlock(lock_);
  }
  LogLockGuard(const LogLockGuard&) = delete;
  LogLockGuard& operator=(const LogLockGuard&) = delete;

 private:
  apr_thread_mutex_t* lock_;
};

const char* TypeTag(TlLogType type) {
  switch (type) {
    case kTlLogTypeApplication:
      return "APP";
    case kTlLogTypeInfo:
      return "INFO";
    case kTlLogTypeError:
      return "ERROR";
    case kTlLogTypeDebug:
      return "DEBUG";
    case kTlLogTypeTrace:
      return "TRACE";
  }
  return "";
}

void CloseLogFileLocked() {
  if (log_file != nullptr) {
    apr_file_close(log_file);
    log_file = nullptr;
  }
}

// (Re)opens log_filename in append mode and writes the banner. Caller holds the log lock (if
// any) and must not log until it is released: the lock is not recursive.
TlResult OpenLogFileLocked() {
  CloseLogFileLocked();
  if (memory_pool == nullptr) return kTlResultGeneralErrorCouldNotOpenLogFile;
  apr_file_t* file = nullptr;
  if (apr_file_open(&file, log_filename, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_APPEND,
                    APR_FPROT_OS_DEFAULT, memory_pool) != APR_SUCCESS) {
    return kTlResultGeneralErrorCouldNotOpenLogFile;
  }
  log_file = file;
  apr_size_t written = 0;
  if (apr_file_write_full(log_file, kBanner, sizeof(kBanner) - 1, &written) != APR_SUCCESS) {
    return kTlResultGeneralErrorCouldNotWriteLogFile;
  }
  return kTlResultSuccess;
}

// Logs from this core; nothing of the core's own logging needs a result.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogError(const char* format, ...) {
  va_list list;
  va_start(list, format);
  TlLogRaw(kSender, kTlLogTypeError, format, list);
  va_end(list);
}

}  // namespace

extern "C" {

TlResult TlInitialize(void) {
  // The library is started once per run. A second call while started changes nothing and
  // reports success; after a failed start-up it resumes with the pool and lock already made,
  // so nothing is created twice.
  if (initialized.load()) return kTlResultSuccess;

  if (!apr_started) {
    if (apr_initialize() != APR_SUCCESS) {
      LogError("Could not initialize APR.");
      return kTlResultGeneralErrorUnknown;
    }
    apr_started = true;
  }
  if (memory_pool == nullptr &&
      apr_pool_create_ex(&memory_pool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
    memory_pool = nullptr;
    return kTlResultGeneralErrorMemory;
  }
  if (log_lock.load() == nullptr) {
    apr_thread_mutex_t* lock = nullptr;
    if (apr_thread_mutex_create(&lock, APR_THREAD_MUTEX_UNNESTED, memory_pool) != APR_SUCCESS) {
      LogError("Could not start create mutex.");
      return kTlResultGeneralErrorUnknown;
    }
    log_lock.store(lock);
  }
  setbuf(stdout, nullptr);

  {
    LogLockGuard guard;
    if (log_filename[0] != '\0') {
      const TlResult result = OpenLogFileLocked();
      if (result != kTlResultSuccess) return result;
    }
  }

  TlResult result = TlLocDeviceInitialize();
  if (result != kTlResultSuccess) return result;
  result = AtInitialize();
  if (result != kTlResultSuccess) return result;

  initialized.store(true);
  return kTlResultSuccess;
}

TlResult TlTerminate(void) {
  const TlResult device_result = TlLocDeviceTerminate();
  if (device_result != kTlResultSuccess) TlLogErrorCode(kSender, device_result);
  const TlResult at_result = AtTerminate();
  if (at_result != kTlResultSuccess) TlLogErrorCode(kSender, at_result);

  {
    LogLockGuard guard;
    CloseLogFileLocked();
  }
  apr_thread_mutex_t* lock = log_lock.exchange(nullptr);
  if (lock != nullptr) apr_thread_mutex_destroy(lock);
  if (memory_pool != nullptr) {
    apr_pool_destroy(memory_pool);
    memory_pool = nullptr;
  }
  // Only balance our own apr_initialize: an extra apr_terminate would tear down APR under
  // the caller, who started it too.
  if (apr_started) {
    apr_terminate();
    apr_started = false;
  }
  initialized.store(false);
  return at_result;
}

TlResult TlIsInitialized(void) {
  return initialized.load() ? kTlResultSuccess : kTlResultGeneralErrorNotInitialized;
}

TlResult TlLogRaw(const char* sender, TlLogType type, const char* format, va_list list) {
  if (format == nullptr) return kTlResultGeneralErrorInvalidParameter;
  if (sender == nullptr) sender = "";

  LogLockGuard guard;
  const TlLogTypeMask type_bits = static_cast<TlLogTypeMask>(type);
  const bool to_screen = (type_bits & log_type_mask_screen.load()) != 0;
  const bool to_file = (type_bits & log_type_mask_file.load()) != 0;
  if (!to_screen && !to_file) return kTlResultSuccess;

  char message[kMessageBufferSize];
  // The C library's formatter: callers' formats are checked as printf formats, and APR's own
  // formatter reads %zu, %lld or %p differently, which would shift every later argument.
  vsnprintf(message, sizeof(message), format, list);
  char date[APR_RFC822_DATE_LEN];
  apr_rfc822_date(date, apr_time_now());
  const char* tag = TypeTag(type);

  if (to_screen) printf(kLogFormat, date, sender, tag, message);

  TlResult result = kTlResultSuccess;
  if (to_file && log_file != nullptr) {
    char line[kLineBufferSize];
    size_t length = static_cast<size_t>(
        apr_snprintf(line, sizeof(line), kLogFormat, date, sender, tag, message));
    // Only an outsized sender can fill the buffer; the line must still end, or the next line
    // would be glued onto it.
    if (length == sizeof(line) - 1) memcpy(line + length - 2, "\r\n", 2);
    apr_size_t written = 0;
    if (apr_file_write_full(log_file, line, length, &written) != APR_SUCCESS) {
      printf(kLogFormat, date, kSender, "ERROR", "Could not write to log file.");
      result = kTlResultGeneralErrorCouldNotWriteLogFile;
    } else {
      apr_file_datasync(log_file);
    }
  }
  return result;
}

#define TL_DEFINE_LOG_WRAPPER(name, type)                         \
  TlResult name(const char* sender, const char* format, ...) {    \
    va_list list;                                                 \
    va_start(list, format);                                       \
    const TlResult result = TlLogRaw(sender, type, format, list); \
    va_end(list);                                                 \
    return result;                                                \
  }

TL_DEFINE_LOG_WRAPPER(TlLogInfo, kTlLogTypeInfo)
TL_DEFINE_LOG_WRAPPER(TlLogError, kTlLogTypeError)
TL_DEFINE_LOG_WRAPPER(TlLogDebug, kTlLogTypeDebug)
TL_DEFINE_LOG_WRAPPER(TlLogTrace, kTlLogTypeTrace)

#undef TL_DEFINE_LOG_WRAPPER

TlResult TlLogErrorCode(const char* sender, TlResult result) {
  TlResultDescription description = "";
  TlGetResultDescription(result, &description);
  return TlLogError(sender, "%s", description);
}

TlResult TlSetLogFile(const char* file_path) {
  if (file_path == nullptr) return kTlResultGeneralErrorInvalidParameter;
  LogLockGuard guard;
  apr_cpystrn(log_filename, file_path, sizeof(log_filename));
  if (!initialized.load()) return kTlResultSuccess;
  // An empty name means no log file: stop writing to the old one instead of failing to open "".
  if (log_filename[0] == '\0') {
    CloseLogFileLocked();
    return kTlResultSuccess;
  }
  return OpenLogFileLocked();
}

TlResult TlSetLogTypesForFile(TlLogTypeMask type_mask) {
  log_type_mask_file.store(type_mask);
  return kTlResultSuccess;
}

TlResult TlSetLogTypesForScreen(TlLogTypeMask type_mask) {
  log_type_mask_screen.store(type_mask);
  return kTlResultSuccess;
}

TlResult TlGetResultDescription(TlResult result, TlResultDescription* description) {
  if (description == nullptr) return kTlResultGeneralErrorInvalidParameter;
  const TlCommonErrorDescriptions* row = nullptr;
  if (result == kTlResultSuccess) {
    row = &tl_common_error_descriptions[0];
  } else {
    for (size_t i = 1; i < std::size(tl_common_error_descriptions); ++i) {
      if (tl_common_error_descriptions[i].result == result) {
        row = &tl_common_error_descriptions[i];
        break;
      }
    }
  }
  if (row == nullptr) {
    apr_snprintf(*description, sizeof(*description),
                 "%d - \"Unknown error code, no description found\".", static_cast<int>(result));
    return kTlResultGeneralErrorUnknown;
  }
  apr_snprintf(*description, sizeof(*description), "%d - %s", static_cast<int>(result),
               row->description);
  return kTlResultSuccess;
}

TlResult TlSerializeUint32(uint32_t value, uint8_t* buffer) {
  if (buffer == nullptr) return kTlResultGeneralErrorInvalidParameter;
  buffer[0] = static_cast<uint8_t>(value >> 24);
  buffer[1] = static_cast<uint8_t>(value >> 16);
  buffer[2] = static_cast<uint8_t>(value >> 8);
  buffer[3] = static_cast<uint8_t>(value);
  return kTlResultSuccess;
}

TlResult TlDeserializeUint32(const uint8_t* buffer, uint32_t* value) {
  if (buffer == nullptr || value == nullptr) {
    // The addresses are shown cut to unsigned int: enough to tell which one is missing.
    LogError("TlDeserializeUint32 - NULL parameter: &buffer = %u, &value = %u.",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer)),
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(value)));
    return kTlResultGeneralErrorInvalidParameter;
  }
  *value = (static_cast<uint32_t>(buffer[0]) << 24) | (static_cast<uint32_t>(buffer[1]) << 16) |
           (static_cast<uint32_t>(buffer[2]) << 8) | static_cast<uint32_t>(buffer[3]);
  return kTlResultSuccess;
}

}  // extern "C"
