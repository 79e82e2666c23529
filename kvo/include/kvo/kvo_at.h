#ifndef KVO_KVO_AT_H_
#define KVO_KVO_AT_H_

// Raw AT access to an opened module: any command line, and listeners for the module's unsolicited
// lines. The module is taken out of ITP mode before a command is sent.

#include "kvo/kvo_common.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum KvoAtResultCode {
  kKvoAtResultOk = 0,
  kKvoAtResultError = 1,
  kKvoAtResultNotKnown = 2
} KvoAtResultCode;

// The module's final verdict and the whole response text. data belongs to the record until it is
// given back with KvoAtReleaseAtResult.
typedef struct KvoAtResult {
  KvoAtResultCode result_code;
  char* data;
} KvoAtResult;

// Called on the transport's receive thread, with the transport's own result value in `result`.
// It owns at_result->data and releases it with KvoAtReleaseAtResult. It must not send AT
// commands on the same device.
typedef void KvoAtUnsolicitedCallback(KvoResult result, KvoDeviceHandle handle,
                                      KvoAtResult* at_result, const void* client_data);

// Succeeds whatever the module answered: the verdict is in at_result->result_code. timeout is
// in seconds per read.
KVO_API KvoResult KvoAtSend(KvoDeviceHandle handle, const char* command, unsigned int timeout,
                            KvoAtResult* at_result);
KVO_API KvoResult KvoAtRegisterCallback(KvoDeviceHandle handle, KvoAtUnsolicitedCallback* callback,
                                        const void* client_data);
// KvoAtUnregisterCallback is not exported; the library's own parts find it in kvo/src/at/at.h.
// Frees the text and leaves data empty, so a second release frees nothing.
KVO_API KvoResult KvoAtReleaseAtResult(KvoAtResult* at_result);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_AT_H_
