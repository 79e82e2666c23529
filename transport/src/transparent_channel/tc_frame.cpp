#include "transport/src/transparent_channel/tc_frame.h"

#include <string.h>

namespace {

void PutU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

uint16_t GetU16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (static_cast<uint16_t>(p[1]) << 8));
}

uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" uint16_t TcFirstSequenceNumber(size_t payload_size) {
  const size_t frames = (payload_size + kTcPayloadPacketSize - 1) / kTcPayloadPacketSize;
  return static_cast<uint16_t>(frames - 1);
}

extern "C" uint16_t TcDatagramLength(size_t remaining) {
  return static_cast<uint16_t>(
      remaining >= size_t{kTcPayloadPacketSize} ? size_t{kTcPayloadPacketSize} : remaining);
}

extern "C" void TcEncodeRequestId(unsigned char* payload, uint16_t request_id) {
  PutU16(payload, request_id);
}

extern "C" void TcEncodeControl(unsigned char* out, uint8_t version, uint16_t command) {
  out[0] = version;
  out[1] = kTcTypeControl;
  PutU16(out + 2, command);
}

extern "C" void TcEncodeDatagram(unsigned char* out, uint8_t version, uint16_t session,
                                 uint16_t sequence_number, const unsigned char* slice,
                                 uint16_t length) {
  out[0] = version;
  out[1] = kTcTypeDatagram;
  PutU16(out + 2, kTcProtocolApplication);
  PutU16(out + 4, session);
  PutU16(out + 6, sequence_number);
  PutU16(out + 8, length);
  if (length > 0) memcpy(out + kTcDatagramHeaderSize, slice, length);
}

extern "C" TcAcknowledgementStruct TcDecodeAcknowledgement(const unsigned char* raw) {
  TcAcknowledgementStruct ack;
  ack.version = raw[0];
  ack.type = raw[1];
  ack.protocol = GetU16(raw + 2);
  ack.session = GetU16(raw + 4);
  ack.sequence_number = GetU16(raw + 6);
  ack.result = GetU16(raw + 8);
  return ack;
}

extern "C" TcDatagramStruct TcDecodeDatagramHeader(const unsigned char* raw) {
  TcDatagramStruct header;
  header.version = raw[0];
  header.type = raw[1];
  header.protocol = GetU16(raw + 2);
  header.session = GetU16(raw + 4);
  header.sequence_number = GetU16(raw + 6);
  header.length = GetU16(raw + 8);
  return header;
}

extern "C" TcControlResponseStruct TcDecodeControlResponse(const unsigned char* raw) {
  TcControlResponseStruct reply;
  reply.version = raw[0];
  reply.type = raw[1];
  reply.command = GetU16(raw + 2);
  reply.control_result = GetU16(raw + 4);
  return reply;
}

extern "C" bool TcDecodeAnswerHeader(const unsigned char* answer, size_t length,
                                     TcServiceHeaderAnswerGenericStruct* header) {
  if (length < kTcAnswerHeaderSize) return false;
  header->request_id = GetU16(answer);
  header->security_mechanism = answer[2];
  header->cmd_type = answer[3];
  header->cmd_id = GetU16(answer + 4);
  header->payload_length = GetU32(answer + 6);
  header->result = GetU16(answer + 10);
  return true;
}

extern "C" TcAcknowledgementCheck TcCheckAcknowledgement(const TcAcknowledgementStruct* ack,
                                                         uint8_t version, uint16_t session,
                                                         uint16_t sequence_number) {
  if (ack->version != version) return kTcAcknowledgementBadVersion;
  if (ack->type != kTcTypeAcknowledgement) return kTcAcknowledgementBadType;
  if (ack->protocol != kTcProtocolApplication) return kTcAcknowledgementBadProtocol;
  if (ack->session != session) return kTcAcknowledgementBadSession;
  if (ack->sequence_number != sequence_number) return kTcAcknowledgementBadSequenceNumber;
  if (ack->result != kTcResultSuccess) return kTcAcknowledgementNegative;
  return kTcAcknowledgementOk;
}

extern "C" bool TcControlResponseOk(const TcControlResponseStruct* reply, uint8_t version) {
  return reply->version == version && reply->type == kTcTypeControlResponse &&
         reply->command == kTcCommandClose && reply->control_result == kTcControlResultOK;
}

extern "C" TlResult TcCheckAnswerDatagram(const TcDatagramStruct* header, size_t received) {
  // An answer of more than one datagram is not supported, whatever else is wrong with it.
  if (header->sequence_number != 0) return kTlResultTransparentChannelErrorFileTypeNotSupported;
  if (received < header->length) return kTlResultTransparentChannelErrorReceiveBytesFailed;
  return kTlResultSuccess;
}

extern "C" TlResult TcCheckAnswerHeader(const TcServiceHeaderAnswerGenericStruct* header) {
  return header->result == kTcAnswerMessageResultOk ? kTlResultSuccess
                                                    : kTlResultTransparentChannelErrorFailure;
}
