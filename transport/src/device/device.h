#ifndef TRANSPORT_SRC_DEVICE_DEVICE_H_
#define TRANSPORT_SRC_DEVICE_DEVICE_H_

// Device manager: turns serial ports into device handles. A fixed table of ten rows; each open row
// owns its port, a per-device lock that serialises every exchange with the module, a receive thread
// that picks up bytes arriving between exchanges, and the owner (the protocol speaking on the
// port).

#include <stddef.h>
#include <stdint.h>

#include "transport/src/common/common.h"

#ifdef __cplusplus
extern "C" {
#endif

// Index of a row of the device table, 0 to 9.
typedef uint32_t TlDeviceHandle;
typedef uint32_t TlDeviceBaud;
typedef char TlDeviceName[64];
typedef char TlDeviceUniqueIdentifier[32];

enum { kTlDeviceMaxDevices = 10 };

typedef struct TlDeviceOpenParameters {
  TlDeviceName device_name;
  TlDeviceBaud baud;
} TlDeviceOpenParameters;

// Which protocol speaks on a device's port. A row owned by kTlDeviceOwnerInvalid is free.
typedef enum TlDeviceOwner {
  kTlDeviceOwnerAt = 0,
  kTlDeviceOwnerTransparentChannel = 1,
  kTlDeviceOwnerDebugMux = 2,
  kTlDeviceOwnerCrashDump = 3,
  kTlDeviceOwnerSecureFrame = 4,
  kTlDeviceOwnerInvalid = 5
} TlDeviceOwner;

// Called on the receive thread, with the device lock held: result kTlResultSuccess with the bytes
// just read, or result kTlResultGeneralErrorDeviceNotOpen with no data when the port has failed. It
// must not call anything that takes the device lock.
typedef void TlDeviceCallback(TlDeviceHandle handle, TlResult result, const char* data,
                              size_t size);

// Start and stop, called by TlInitialize and TlTerminate.
TlResult TlLocDeviceInitialize(void);
TlResult TlLocDeviceTerminate(void);

// Names of the candidate ports; release with TlDeviceReleaseList.
TlResult TlDeviceGetList(TlDeviceName** list, size_t* length);
TlResult TlDeviceReleaseList(TlDeviceName* list);

TlResult TlDeviceOpen(const TlDeviceOpenParameters* parameters, TlDeviceHandle* handle);
TlResult TlDeviceClose(TlDeviceHandle handle);

// kTlResultSuccess while open and its receive thread alive; kTlResultGeneralErrorDeviceNotOpen for
// a free row; kTlResultDeviceErrorCouldNotStartThread (and the row is freed) when the receive
// thread ended after a port failure.
TlResult TlDeviceIsOpen(TlDeviceHandle handle);

// Raw I/O; callers hold the device lock.
TlResult TlDeviceSend(TlDeviceHandle handle, const unsigned char* data, size_t size);
// timeout in seconds: -1 no limit, 0 one poll, n up to n seconds.
TlResult TlDeviceReceive(TlDeviceHandle handle, unsigned char* data, size_t size, int timeout,
                         size_t* number_of_read_bytes);
// Drops what one poll returns; kTlResultGeneralErrorOperationTimedOut when nothing was waiting.
TlResult TlDeviceClearBuffers(TlDeviceHandle handle);

// Stores callback (or none) in the slot of owner (0 to 4).
TlResult TlDeviceRegisterCallback(TlDeviceHandle handle, TlDeviceOwner owner,
                                  TlDeviceCallback* callback);

// The per-device lock: binary, not recursive, any thread may give it back.
TlResult TlDeviceLock(TlDeviceHandle handle);
TlResult TlDeviceUnlock(TlDeviceHandle handle);

TlResult TlDeviceGetOwner(TlDeviceHandle handle, TlDeviceOwner* owner);
TlResult TlDeviceSetOwner(TlDeviceHandle handle, TlDeviceOwner owner);

// Reopens after a module restart: closes the port, waits reopen_after_seconds, then makes up to
// timeout attempts (about a second apart) to open the same name, when the port list still gives it
// the row's identity, or a port with that identity. The handle, owner, callbacks and lock stay.
// kTlResultGeneralErrorOperationTimedOut, the handle freed and its AT listeners dropped, when it
// failed.
TlResult TlDeviceReopen(TlDeviceHandle handle, unsigned int timeout,
                        unsigned int reopen_after_seconds);
// Reopens under the same handle by trying every listed port, those of the row's identity first;
// clears the AT listeners first.
TlResult TlDeviceReOpenByhandle(TlDeviceHandle handle, unsigned int timeout);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
// Holds the device lock for a scope; every return path gives it back.
class DeviceLockGuard {
 public:
  explicit DeviceLockGuard(TlDeviceHandle handle) : handle_(handle) {
    result_ = TlDeviceLock(handle_);
  }
  ~DeviceLockGuard() {
    if (result_ == kTlResultSuccess) TlDeviceUnlock(handle_);
  }
  DeviceLockGuard(const DeviceLockGuard&) = delete;
  DeviceLockGuard& operator=(const DeviceLockGuard&) = delete;
  TlResult result() const { return result_; }

 private:
  TlDeviceHandle handle_;
  TlResult result_;
};
#endif

#endif  // TRANSPORT_SRC_DEVICE_DEVICE_H_
