#include "transport/src/secure_frame/sf_frame.h"

#include <string.h>

namespace {

const uint8_t kFinalOk[] = {'\r', '\n', 'O', 'K', '\r', '\n'};

void PutField(uint8_t* header, size_t position, uint32_t value) {
  TlSerializeUint32(value, header + position);
}

uint32_t GetField(const uint8_t* header, size_t position) {
  uint32_t value = 0;
  TlDeserializeUint32(header + position, &value);
  return value;
}

}  // namespace

extern "C" void SfCreatePacket(uint8_t* payload, uint32_t payload_size, SfPacketStruct* packet) {
  packet->header.command_code = kSfMagicNumber;
  packet->header.version = kSfProtocolVersion;
  packet->header.type = kSfRequestType;
  packet->header.result_code = 0;
  packet->header.sequence_number = kSfSequenceEndMark;
  packet->header.payload_size = payload_size;
  packet->payload = payload;
}

extern "C" SfSerializationResultEnum SfSerializePacket(const SfPacketStruct* packet, uint8_t* out) {
  const SfHeaderStruct& header = packet->header;
  if (header.version != kSfProtocolVersion || header.command_code != kSfMagicNumber) {
    return kSfSerializationResultInvalidPackage;
  }
  if (header.payload_size > kSfMaxPayloadSize) return kSfSerializationResultTooMuchData;
  PutField(out, kSfHeaderCommandCodePosition, header.command_code);
  PutField(out, kSfHeaderVersionPosition, header.version);
  PutField(out, kSfHeaderTypePosition, header.type);
  PutField(out, kSfHeaderResultCodePosition, header.result_code);
  PutField(out, kSfHeaderSequencePosition, header.sequence_number);
  PutField(out, kSfHeaderPayloadSizePosition, header.payload_size);
  if (header.payload_size > 0) memcpy(out + kSfHeaderSize, packet->payload, header.payload_size);
  return kSfSerializationResultSuccess;
}

extern "C" SfSerializationResultEnum SfDeserializeHeader(const uint8_t* data, size_t size,
                                                         SfHeaderStruct* header) {
  if (size < kSfHeaderSize) return kSfSerializationResultNotEnoughData;
  header->command_code = GetField(data, kSfHeaderCommandCodePosition);
  header->version = GetField(data, kSfHeaderVersionPosition);
  header->type = GetField(data, kSfHeaderTypePosition);
  header->result_code = GetField(data, kSfHeaderResultCodePosition);
  header->sequence_number = GetField(data, kSfHeaderSequencePosition);
  header->payload_size = GetField(data, kSfHeaderPayloadSizePosition);
  if (header->version != kSfProtocolVersion || header->command_code != kSfMagicNumber) {
    return kSfSerializationResultInvalidPackage;
  }
  return kSfSerializationResultSuccess;
}

extern "C" size_t SfReadRequestSize(size_t held) {
  if (held < kSfHeaderSize) return kSfHeaderSize - held;
  return held < kSfReceiveBufferSize ? kSfReceiveBufferSize - held : 0;
}

extern "C" TlResult SfAcknowledgementResult(uint32_t result_code) {
  switch (result_code) {
    case kSfPacketResultOk:
    case kSfPacketResultPending:
      return kTlResultSuccess;
    case kSfPacketResultAssignmentUnknown:
      return kTlResultSecureFrameErrorAssignmentUnknown;
    case kSfPacketResultAuthorizationFailed:
      return kTlResultSecureFrameErrorAuthorizationFailed;
    default:
      return kTlResultSecureFrameErrorTransmissionFailed;
  }
}

extern "C" void SfCloseScannerReset(SfCloseScanner* scanner) {
  scanner->tail_size = 0;
}

extern "C" bool SfCloseScannerFeed(SfCloseScanner* scanner, const uint8_t* data, size_t size) {
  // The bytes kept from earlier reads (never a whole OK line) and this read, as one text.
  uint8_t joined[sizeof scanner->tail + kSfReceiveBufferSize];
  size_t length = scanner->tail_size;
  memcpy(joined, scanner->tail, length);
  const size_t taken = size < size_t{kSfReceiveBufferSize} ? size : size_t{kSfReceiveBufferSize};
  memcpy(joined + length, data + (size - taken), taken);
  length += taken;
  for (size_t i = 0; i + sizeof kFinalOk <= length; ++i) {
    if (memcmp(joined + i, kFinalOk, sizeof kFinalOk) != 0) continue;
    const size_t after = i + sizeof kFinalOk;
    if (after == length || joined[after] == 0) return true;
  }
  scanner->tail_size = length < sizeof scanner->tail ? length : sizeof scanner->tail;
  memcpy(scanner->tail, joined + length - scanner->tail_size, scanner->tail_size);
  return false;
}
