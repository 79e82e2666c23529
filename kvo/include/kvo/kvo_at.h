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

// A listener for the module's unsolicited text. Runs with the device lock held: on the transport's
// receive thread for text that arrives between commands, or inside KvoAtSend on the caller's
// thread for text that follows a command's final result. It must not start another exchange on
// the same device: no KvoAtSend, no (un)registration, no library call that talks to the module.
// [in] result: kKvoResultSuccess with the text in at_result->data, or
// kKvoResultGeneralErrorDeviceNotOpen with empty text when the port went away; every listener of
// the device is dropped after that notice. [in] at_result: result_code is kKvoAtResultNotKnown;
// the callback owns data and releases it with KvoAtReleaseAtResult. [in] client_data: as given at
// registration.
typedef void KvoAtUnsolicitedCallback(KvoResult result, KvoDeviceHandle handle,
                                      KvoAtResult* at_result, const void* client_data);

// Sends [in] command (without line end) and collects the response up to its final result code.
// [in] timeout: seconds per read. [out] at_result: first set to kKvoAtResultNotKnown and no text,
// then the module's verdict and the whole response text; release it with KvoAtReleaseAtResult
// whatever the result. Succeeds whatever the module answered: the verdict is in
// at_result->result_code.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter; the AT-mode results;
// kKvoResultGeneralErrorAtError (the command could not be exchanged, a time-out included).
KVO_API KvoResult KvoAtSend(KvoDeviceHandle handle, const char* command, unsigned int timeout,
                            KvoAtResult* at_result);
// Adds [in] callback, with [in] client_data, to the device's listeners (at most 10; the same
// function may take several places). Closing the device or losing its port drops them.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter;
// kKvoResultGeneralErrorAtError (the handle names no open device, or 10 listeners are there).
KVO_API KvoResult KvoAtRegisterCallback(KvoDeviceHandle handle, KvoAtUnsolicitedCallback* callback,
                                        const void* client_data);
// KvoAtUnregisterCallback is not exported; the library's own parts find it in kvo/src/at/at.h.
// [in, out] at_result: its text is freed and data set to null, so a second release frees nothing.
// Results: kKvoResultSuccess; kKvoResultGeneralErrorInvalidParameter (a null record).
KVO_API KvoResult KvoAtReleaseAtResult(KvoAtResult* at_result);

#ifdef __cplusplus
}
#endif

#endif  // KVO_KVO_AT_H_
