#ifndef TRANSPORT_SRC_TRANSPARENT_CHANNEL_TRANSPARENT_CHANNEL_H_
#define TRANSPORT_SRC_TRANSPARENT_CHANNEL_TRANSPARENT_CHANNEL_H_

// Transparent channel: the binary mode in which the module takes large payloads (firmware packages,
// net configuration, customization data) over its AT port. Stop-and-wait datagrams of up to 65535
// payload bytes, one answer datagram per payload, and a close frame that returns the port to AT.
// The frames themselves are in tc_frame.h.

#include <stddef.h>
#include <stdint.h>

#include "transport/src/common/common.h"
#include "transport/src/device/device.h"
#include "transport/src/transparent_channel/tc_frame.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum TlTcVersion { kTlTcVersionTwo = 2 } TlTcVersion;

// Answer data of a payload; allocated by the channel, released with TlTcReleaseReceivedData.
typedef struct TlTcReceivedData {
  char* data;
  size_t data_length;
} TlTcReceivedData;

// Called on the sender's thread, with the device lock held, after each acknowledged datagram.
typedef void TlTcProgressCallback(unsigned int bytes_sent, unsigned int bytes_total);

typedef enum TcOpenState {
  kTcOpenStateSetEchoOff = 200,
  kTcOpenStateSetSendMode = 201,
  kTcOpenStateEndOpenTc = 202
} TcOpenState;

TlResult TlTcOpen(TlDeviceHandle device, TlTcVersion version, uint32_t timeout);
TlResult TlTcSend(TlDeviceHandle handle, TlTcProgressCallback* progress_callback, uint32_t timeout,
                  unsigned char* payload, size_t payload_size, uint16_t* result_request_id,
                  TlTcReceivedData* received_data);
TlResult TlTcClose(TlDeviceHandle handle, uint32_t timeout);
TlResult TlTcReleaseReceivedData(TlTcReceivedData* received_data);
TlResult TlTcReceive(TlDeviceHandle handle, TlTcProgressCallback* progressCallback,
                     uint16_t request_id, uint32_t timeout, TlTcReceivedData* received_data);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_TRANSPARENT_CHANNEL_TRANSPARENT_CHANNEL_H_
