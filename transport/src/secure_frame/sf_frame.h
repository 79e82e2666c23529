#ifndef TRANSPORT_SRC_SECURE_FRAME_SF_FRAME_H_
#define TRANSPORT_SRC_SECURE_FRAME_SF_FRAME_H_

// The secure frame protocol's packets: the 24-byte header, its encoding, the search for a
// response header among the bytes read, the meaning of a response's result, and the recognition
// of the module's return to AT mode. No I/O and no logging here: secure_frame.cpp does the writes
// and reads and logs what these functions report. Every header field is a 32-bit big-endian
// number.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "transport/src/common/common.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  kSfHeaderSize = 24,
  kSfMaxPayloadSize = 32768,
  // A response and any stray bytes before its header must fit in one receive buffer.
  kSfReceiveBufferSize = 4096,
  kSfHeaderCommandCodePosition = 0,
  kSfHeaderVersionPosition = 4,
  kSfHeaderTypePosition = 8,
  kSfHeaderResultCodePosition = 12,
  kSfHeaderSequencePosition = 16,
  kSfHeaderPayloadSizePosition = 20
};

// "ZAMU" as a big-endian number.
#define kSfMagicNumber 0x5A414D55u
#define kSfSequenceEndMark 0xFFFFFFFFu
enum { kSfProtocolVersion = 32, kSfRequestType = 1, kSfResponseType = 0 };

typedef enum SfPacketResultEnum {
  kSfPacketResultOk = 0,
  kSfPacketResultPending = 1,
  kSfPacketResultFailed = 2,
  kSfPacketResultAssignmentUnknown = 3,
  kSfPacketResultAuthorizationFailed = 4
} SfPacketResultEnum;

typedef enum SfSerializationResultEnum {
  kSfSerializationResultSuccess = 0,
  kSfSerializationResultNotEnoughData = 1,
  kSfSerializationResultTooMuchData = 2,
  kSfSerializationResultInvalidPackage = 3
} SfSerializationResultEnum;

// Host byte order; the wire layout is written and read field by field.
typedef struct SfHeaderStruct {
  uint32_t command_code;
  uint32_t version;
  uint32_t type;
  uint32_t result_code;
  uint32_t sequence_number;
  uint32_t payload_size;
} SfHeaderStruct;

// A request points into the caller's data; a received packet's payload belongs to its reader.
typedef struct SfPacketStruct {
  SfHeaderStruct header;
  uint8_t* payload;
} SfPacketStruct;

// A request packet carrying `payload_size` bytes at `payload`.
void SfCreatePacket(uint8_t* payload, uint32_t payload_size, SfPacketStruct* packet);
// Writes the header and the payload to `out`, which has room for kSfHeaderSize + payload_size
// bytes. kSfSerializationResultInvalidPackage for a packet without the magic or the version,
// kSfSerializationResultTooMuchData for a payload above kSfMaxPayloadSize; nothing is written then.
SfSerializationResultEnum SfSerializePacket(const SfPacketStruct* packet, uint8_t* out);
// Decodes the header at the start of `data` into *header: kSfSerializationResultNotEnoughData
// (header untouched) below kSfHeaderSize bytes, kSfSerializationResultInvalidPackage when the
// magic or the version does not match (the decoded fields are left for the log).
SfSerializationResultEnum SfDeserializeHeader(const uint8_t* data, size_t size,
                                              SfHeaderStruct* header);

// How many bytes the next read asks for when `held` bytes are in the receive buffer: the rest of
// a header first, then whatever room is left.
size_t SfReadRequestSize(size_t held);

// The transport result of an acknowledgement whose result code is `result_code`: Ok and Pending
// acknowledge, every other value fails the send.
TlResult SfAcknowledgementResult(uint32_t result_code);

// Watches the bytes that follow the final acknowledgement for the module's "\r\nOK\r\n", which
// must be followed by a zero byte or end the bytes read so far. The line may arrive split over
// reads: the scanner keeps the last bytes of each read for the next.
typedef struct SfCloseScanner {
  uint8_t tail[5];
  size_t tail_size;
} SfCloseScanner;
void SfCloseScannerReset(SfCloseScanner* scanner);
// Takes the bytes of one read; true once the OK line has been seen.
bool SfCloseScannerFeed(SfCloseScanner* scanner, const uint8_t* data, size_t size);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_SECURE_FRAME_SF_FRAME_H_
