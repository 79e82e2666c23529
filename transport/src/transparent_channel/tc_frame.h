#ifndef TRANSPORT_SRC_TRANSPARENT_CHANNEL_TC_FRAME_H_
#define TRANSPORT_SRC_TRANSPARENT_CHANNEL_TC_FRAME_H_

// The transparent channel's frames: their layouts, their encoding into wire bytes and the decoding
// and checking of what the module sends back. No I/O and no logging here: the channel does the
// writes and reads and logs what a check reports. Every multi-byte field on the wire is
// little-endian.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "transport/src/common/common.h"

#ifdef __cplusplus
extern "C" {
#endif

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

// The first field of an acknowledgement that does not match, in the order they are checked.
typedef enum TcAcknowledgementCheck {
  kTcAcknowledgementOk = 0,
  kTcAcknowledgementBadVersion,
  kTcAcknowledgementBadType,
  kTcAcknowledgementBadProtocol,
  kTcAcknowledgementBadSession,
  kTcAcknowledgementBadSequenceNumber,
  kTcAcknowledgementNegative
} TcAcknowledgementCheck;

// Sequence number of a payload's first datagram: the datagrams still to follow it. An empty
// payload wraps to 0xFFFF.
uint16_t TcFirstSequenceNumber(size_t payload_size);
// Payload bytes of the next datagram when `remaining` bytes are left to send.
uint16_t TcDatagramLength(size_t remaining);

// The request id goes into the payload's first two bytes.
void TcEncodeRequestId(unsigned char* payload, uint16_t request_id);
// A close control frame of kTcControlSize bytes.
void TcEncodeControl(unsigned char* out, uint8_t version, uint16_t command);
// An application datagram: the kTcDatagramHeaderSize-byte header, then `length` bytes of `slice`.
// `out` has room for both.
void TcEncodeDatagram(unsigned char* out, uint8_t version, uint16_t session,
                      uint16_t sequence_number, const unsigned char* slice, uint16_t length);

// Decoders of complete frames; `raw` holds at least the frame's size.
TcAcknowledgementStruct TcDecodeAcknowledgement(const unsigned char* raw);
TcDatagramStruct TcDecodeDatagramHeader(const unsigned char* raw);
TcControlResponseStruct TcDecodeControlResponse(const unsigned char* raw);
// The answer's service header; false when `length` is shorter than kTcAnswerHeaderSize.
bool TcDecodeAnswerHeader(const unsigned char* answer, size_t length,
                          TcServiceHeaderAnswerGenericStruct* header);

// Acknowledgement of the datagram sent with `session` and `sequence_number`.
TcAcknowledgementCheck TcCheckAcknowledgement(const TcAcknowledgementStruct* ack, uint8_t version,
                                              uint16_t session, uint16_t sequence_number);
// Whether the module confirms the close command.
bool TcControlResponseOk(const TcControlResponseStruct* reply, uint8_t version);
// Result of an answer datagram whose header is `header` and of whose payload `received` bytes
// came in: one datagram, complete. The type is not checked here: the channel reads no payload of
// a datagram of another type, so such an answer is incomplete unless it is empty, and an empty one
// fails as too short for an answer header. Version, protocol and session are the module's affair.
TlResult TcCheckAnswerDatagram(const TcDatagramStruct* header, size_t received);
// Result of a decoded answer header: only kTcAnswerMessageResultOk succeeds.
TlResult TcCheckAnswerHeader(const TcServiceHeaderAnswerGenericStruct* header);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_TRANSPARENT_CHANNEL_TC_FRAME_H_
