// Raw AT access: thin wrappers over the transport's AT channel that first take the module out of
// ITP mode and turn transport failures into library results.

#include "kvo/src/at/at.h"

#include <stddef.h>

#include "kvo/src/device/device.h"
#include "transport/src/at/at.h"

namespace {

const char kSender[] = "KVO:Common";

// The library's records and callbacks are handed to the transport unchanged.
static_assert(sizeof(KvoAtResult) == sizeof(TlAtResult), "AT result layouts differ");
static_assert(offsetof(KvoAtResult, data) == offsetof(TlAtResult, data),
              "AT result layouts differ");
static_assert(sizeof(KvoResult) == sizeof(TlResult), "result types differ in size");
static_assert(static_cast<int>(kKvoAtResultOk) == static_cast<int>(kTlAtResultOk) &&
                  static_cast<int>(kKvoAtResultError) == static_cast<int>(kTlAtResultError) &&
                  static_cast<int>(kKvoAtResultNotKnown) == static_cast<int>(kTlAtResultUnknown),
              "AT result codes differ");

TlAtResult* AsTransport(KvoAtResult* at_result) {
  return reinterpret_cast<TlAtResult*>(at_result);
}

TlAtCallback* AsTransport(KvoAtUnsolicitedCallback* callback) {
  return reinterpret_cast<TlAtCallback*>(callback);
}

}  // namespace

KvoResult KvoAtSend(KvoDeviceHandle handle, const char* command, unsigned int timeout,
                    KvoAtResult* at_result) {
  if (command == nullptr || at_result == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  // A record that is safe to release whatever happens below.
  at_result->result_code = kKvoAtResultNotKnown;
  at_result->data = nullptr;
  KvoResult result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Could not set device in proper ITP mode. Abort.");
    return result;
  }
  TlResult sent = TlAtSend(handle, command, timeout, AsTransport(at_result));
  if (sent != kTlResultSuccess) {
    TlLogErrorCode(kSender, sent);
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

KvoResult KvoAtRegisterCallback(KvoDeviceHandle handle, KvoAtUnsolicitedCallback* callback,
                                const void* client_data) {
  if (callback == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  TlResult result = TlAtRegisterCallback(handle, AsTransport(callback), client_data);
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

KvoResult KvoAtUnregisterCallback(KvoDeviceHandle handle, KvoAtUnsolicitedCallback* callback) {
  TlResult result = TlAtUnregisterCallback(handle, AsTransport(callback));
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    return kKvoResultGeneralErrorUnknown;
  }
  return kKvoResultSuccess;
}

KvoResult KvoAtReleaseAtResult(KvoAtResult* at_result) {
  if (at_result == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  TlResult result = TlAtReleaseAtResult(AsTransport(at_result));
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}
