#ifndef TRANSPORT_SRC_TRANSPARENT_CHANNEL_TRANSPARENT_CHANNEL_H_
#define TRANSPORT_SRC_TRANSPARENT_CHANNEL_TRANSPARENT_CHANNEL_H_

// Transparent channel: the binary mode in which the module takes large payloads (firmware packages,
// net configuration, customization data) over its AT port. Stop-and-wait datagrams of up to 65535
// payload bytes, one answer datagram per payload, and a close frame that returns the port to AT.
// Every multi-byte field on the wire is little-endian.

#include <stddef.h>
#include <stdint.h>

#include "transport/src/common/common.h"
#include "transport/src/device/device.h"

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

enum {
  kTcTypeControl = 0,
  kTcTypeControlResponse = 1,
  kTcTypeDatagram = 2,
  kTcTypeAcknowledgement = 3
};

enum { kTcCommandClose = 0, kTcCommandCloseAck = 1, kTcCommandStatus = 2 };
enum { kTcControlResultOK = 0, kTcControlResultUnknownVersion = 1 };
enum { kTcProtocolAt = 2, kTcProtocolApplication = 3 };
enum { kTcResultSuccess = 0, kTcResultUnknownProtocol = 1, kTcResultSequenceError = 2 };
enum { kTcPayloadPacketSize = 65535 };

enum {
  kTcServiceLayerSecurityMechanismNone = 0,
  kTcServiceLayerSecurityMechanismSigned = 1,
  kTcServiceLayerSecurityMechanismMessagesSigned = 2,
  kTcServiceLayerSecurityMechanismSignedRSA = 3,
  kTcServiceLayerSecurityMechanismMessagesSignedRSA = 4
};

enum { kTcCommandTypeEvent = 1, kTcCommandTypeAnswer = 2, kTcCommandTypeRequest = 4 };

enum {
  kTcAnswerMessageResultOk = 0,
  kTcAnswerMessageResultNotExpected = 1,
  kTcAnswerMessageResultOkUnauthorized = 2,
  kTcAnswerMessageResultOkMessageNotValid = 3,
  kTcAnswerMessageResultNotOk = 255
};

typedef enum TcOpenState {
  kTcOpenStateSetEchoOff = 200,
  kTcOpenStateSetSendMode = 201,
  kTcOpenStateEndOpenTc = 202
} TcOpenState;

// Wire sizes of the frames.
enum {
  kTcControlSize = 4,
  kTcControlResponseSize = 6,
  kTcDatagramHeaderSize = 10,
  kTcAcknowledgementSize = 10,
  kTcServicePreHeaderSize = 4,
  kTcAnswerHeaderSize = 12
};

// Decoded frames (host order; the wire layout is written and read field by field).
typedef struct TcControlStruct {
  uint8_t version;
  uint8_t type;
  uint16_t command;
} TcControlStruct;

typedef struct TcControlResponseStruct {
  uint8_t version;
  uint8_t type;
  uint16_t command;
  uint16_t control_result;
} TcControlResponseStruct;

typedef struct TcDatagramStruct {
  uint8_t version;
  uint8_t type;
  uint16_t protocol;
  uint16_t session;
  uint16_t sequence_number;
  uint16_t length;
} TcDatagramStruct;

typedef struct TcAcknowledgementStruct {
  uint8_t version;
  uint8_t type;
  uint16_t protocol;
  uint16_t session;
  uint16_t sequence_number;
  uint16_t result;
} TcAcknowledgementStruct;

typedef struct TcServiceHeaderAnswerGenericStruct {
  uint16_t request_id;
  uint8_t security_mechanism;
  uint8_t cmd_type;
  uint16_t cmd_id;
  uint32_t payload_length;
  uint16_t result;
} TcServiceHeaderAnswerGenericStruct;

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
