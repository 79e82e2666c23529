#ifndef TRANSPORT_SRC_AT_AT_H_
#define TRANSPORT_SRC_AT_AT_H_

// AT channel: sends AT commands and collects the response up to its final result code, and fans
// out unsolicited text to listeners registered per device handle. Works only while the device's
// owner is AT.

#include <stddef.h>

#include "transport/src/common/common.h"
#include "transport/src/device/device.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum TlAtResultCode {
  kTlAtResultOk = 0,
  kTlAtResultError = 1,
  // No final result code recognised (yet).
  kTlAtResultUnknown = 2
} TlAtResultCode;

// data is a zero-terminated text owned by whoever received the record; give it back with
// TlAtReleaseAtResult.
typedef struct TlAtResult {
  TlAtResultCode result_code;
  char* data;
} TlAtResult;

// A listener for unsolicited text. Runs with the device lock held (on the receive thread, or
// inside TlAtSend for text after a final result code): it must not send AT commands or
// (un)register listeners. It owns at_result->data and releases it with TlAtReleaseAtResult.
typedef void TlAtCallback(TlResult result, TlDeviceHandle handle, TlAtResult* at_result,
                          const void* client_data);

enum { kTlAtMaxCallbacks = 10 };

// Time-out that never ends (all bits set).
#define kTlAtTimeoutInfinite (~0u)

// Sends command followed by CR LF and collects the response. timeout is in seconds per read. A
// module answer of ERROR still returns kTlResultSuccess, with kTlAtResultError in the record.
TlResult TlAtSend(TlDeviceHandle handle, const char* command, unsigned int timeout,
                  TlAtResult* at_result);
// Sends the command and reads the response away.
TlResult TlAtSendNoResponse(TlDeviceHandle handle, const char* command);
TlResult TlAtReleaseAtResult(TlAtResult* at_result);

// Up to ten listeners per handle; the same function may take several slots.
TlResult TlAtRegisterCallback(TlDeviceHandle handle, TlAtCallback* callback,
                              const void* client_data);
TlResult TlAtUnregisterCallback(TlDeviceHandle handle, TlAtCallback* callback);

// Drops all listeners of a handle, after a delivery in progress has ended; its callers hold the
// device manager's internal lock.
TlResult AtClearCallbacksForHandle(TlDeviceHandle handle);
// Forgets that echo is off on a handle, so that its next command switches it off again: a
// released handle goes to the next open, perhaps of another module that still echoes.
void AtForgetEcho(TlDeviceHandle handle);

// Start and stop, called by TlInitialize and TlTerminate.
TlResult AtInitialize(void);
TlResult AtTerminate(void);

// Classifies a response text by its final result code; on OK or ERROR writes the offset of the
// first byte after the code.
TlAtResultCode AtProtocolIsResponse(const char* data, size_t* response_end_offset);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_AT_AT_H_
