#ifndef KVO_SRC_DEVICE_DEVICE_AT_H_
#define KVO_SRC_DEVICE_DEVICE_AT_H_

// One AT exchange whose response text is released on every path out of the caller.

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

#endif  // KVO_SRC_DEVICE_DEVICE_AT_H_
