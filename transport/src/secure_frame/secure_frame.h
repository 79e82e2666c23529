#ifndef TRANSPORT_SRC_SECURE_FRAME_SECURE_FRAME_H_
#define TRANSPORT_SRC_SECURE_FRAME_SECURE_FRAME_H_

// Secure frame protocol: the binary mode in which the module takes a block of customization data
// that it checks for authorization before accepting it. One call does the whole exchange: the
// switch from AT ("AT*EESFUD=3"), request packets of at most 32768 payload bytes each
// acknowledged, a final acknowledgement of the whole data, and the module's own return to AT mode
// ("\r\nOK\r\n"). The packets themselves are in sf_frame.h.

#include <stddef.h>
#include <stdint.h>

#include "transport/src/common/common.h"
#include "transport/src/device/device.h"
#include "transport/src/secure_frame/sf_frame.h"

#ifdef __cplusplus
extern "C" {
#endif

// The mode requested with "AT*EESFUD".
typedef enum TlSfModeEnum { kTlSfModeSerial = 3 } TlSfModeEnum;

// Called on the sender's thread, with the device lock held, after each acknowledged packet.
typedef void TlSfProgressCallback(uint32_t bytes_sent, uint32_t bytes_total);

// Sends `data_size` bytes of `data` (none with a size of 0: only the final acknowledgement is
// awaited). `timeout` is in seconds per read, AT answers and packets alike.
// Results: kTlResultSuccess; kTlResultSecureFrameErrorOpenFailed (not in AT mode, or the switch
// refused); kTlResultSecureFrameErrorTransmissionFailed (a packet not written, or its
// acknowledgement missing or negative); the final acknowledgement's own failure
// (kTlResultSecureFrameErrorReadTimeout, ...ReadPacketError, ...TransmissionFailed,
// ...AssignmentUnknown, ...AuthorizationFailed); kTlResultSecureFrameErrorCloseFailed (the module
// did not return to AT mode). After any failure past the switch the device owner is AT again, so
// that a reopen of the module finds a working AT channel.
TlResult TlSfSend(TlDeviceHandle device, TlSfProgressCallback* progress_callback,
                  unsigned int timeout, uint8_t* data, size_t data_size);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_SECURE_FRAME_SECURE_FRAME_H_
