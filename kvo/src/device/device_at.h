#ifndef KVO_SRC_DEVICE_DEVICE_AT_H_
#define KVO_SRC_DEVICE_DEVICE_AT_H_

// One AT exchange whose response text is released on every path out of the caller.

#include <apr_strings.h>

#include "kvo.h"
#include "transport/src/at/at.h"
#include "transport/src/common/common.h"

class DeviceAtExchange {
 public:
  DeviceAtExchange() = default;
  ~DeviceAtExchange() { Release(); }
  DeviceAtExchange(const DeviceAtExchange&) = delete;
  DeviceAtExchange& operator=(const DeviceAtExchange&) = delete;

  // Sends command (releasing the text of an earlier send first); a transport failure is logged
  // under sender and returned.
  TlResult Send(const char* sender, unsigned int handle, const char* command,
                unsigned int timeout) {
    Release();
    TlResult result = TlAtSend(handle, command, timeout, &result_);
    if (result != kTlResultSuccess) TlLogErrorCode(sender, result);
    return result;
  }

  bool Ok() const { return result_.result_code == kTlAtResultOk; }
  TlAtResultCode Code() const { return result_.result_code; }
  // Never null.
  const char* Text() const { return result_.data != nullptr ? result_.data : ""; }

  void Release() {
    if (result_.data != nullptr) TlAtReleaseAtResult(&result_);
    result_.data = nullptr;
    result_.result_code = kTlAtResultUnknown;
  }

 private:
  TlAtResult result_{kTlAtResultUnknown, nullptr};
};

// Sends "AT*EEVINFO=<selector>" (60 s) into exchange; a transport failure or an answer other than
// OK is logged under sender and gives kKvoResultGeneralErrorAtError.
inline KvoResult DeviceSendEevinfo(const char* sender, unsigned int handle, int selector,
                                   DeviceAtExchange* exchange) {
  char command[32];
  apr_snprintf(command, sizeof(command), "%s=%d", "AT*EEVINFO", selector);
  if (exchange->Send(sender, handle, command, 60) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange->Ok()) {
    KvoLogError(sender, "Unable to execute %s command.", "AT*EEVINFO");
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

#endif  // KVO_SRC_DEVICE_DEVICE_AT_H_
