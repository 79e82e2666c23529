#include "transport/src/transparent_channel/transparent_channel.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>

#include "transport/src/at/at.h"
#include "transport/src/common/common.h"
#include "transport/src/device/device.h"
#include "transport/src/transparent_channel/tc_frame.h"

namespace {

constexpr const char* kSender = "TL:TC";

// Shared by every handle and never reset: each payload gets the next request id and session.
std::atomic<unsigned> tc_version{kTlTcVersionTwo};
std::atomic<uint16_t> tc_request_id_{0};
std::atomic<uint16_t> tc_session_{0};

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

TlResult TcWrite(TlDeviceHandle handle, const unsigned char* buffer, size_t data_size) {
  if (buffer == nullptr) return kTlResultGeneralErrorInvalidParameter;
  return TlDeviceSend(handle, buffer, data_size);
}

TlResult TcRead(TlDeviceHandle handle, size_t data_size, uint32_t timeout, unsigned char* buffer,
                size_t* received) {
  *received = 0;
  if (buffer == nullptr) return kTlResultGeneralErrorInvalidParameter;
  const TlResult result =
      TlDeviceReceive(handle, buffer, data_size, static_cast<int>(timeout), received);
  TlLogDebug(kSender, "Received %d bytes expected %d within %d s\n", static_cast<int>(*received),
             static_cast<int>(data_size), static_cast<int>(timeout));
  return result;
}

// A frame may arrive in pieces: keep reading, never past `data_size`, until it is complete or a
// read brings nothing within `timeout`. Returns the first failing read's result (a failure after
// some bytes still leaves their count in *received).
TlResult TcReadFull(TlDeviceHandle handle, size_t data_size, uint32_t timeout,
                    unsigned char* buffer, size_t* received) {
  *received = 0;
  while (*received < data_size) {
    size_t got = 0;
    const TlResult result =
        TcRead(handle, data_size - *received, timeout, buffer + *received, &got);
    if (result != kTlResultSuccess) return result;
    if (got == 0) return kTlResultGeneralErrorOperationTimedOut;
    *received += got;
  }
  return kTlResultSuccess;
}

// Logs the first field that does not match; every mismatch fails the send alike.
TlResult TcVerifyAcknowledgement(const TcAcknowledgementStruct& ack, uint16_t session,
                                 uint16_t sequence_number) {
  const uint8_t version = static_cast<uint8_t>(tc_version.load());
  switch (TcCheckAcknowledgement(&ack, version, session, sequence_number)) {
    case kTcAcknowledgementOk:
      return kTlResultSuccess;
    case kTcAcknowledgementBadVersion:
      TlLogError(kSender,
                 "Illegal version of transparent channel received in ACK, received %x -> expected "
                 "%x",
                 ack.version, version);
      break;
    case kTcAcknowledgementBadType:
      TlLogError(kSender, "Unexpected message type received in ACK, received %x -> expected %x",
                 ack.type, kTcTypeAcknowledgement);
      break;
    case kTcAcknowledgementBadProtocol:
      TlLogError(kSender, "Unexpected message protocol received in ACK, received %x -> expected %x",
                 ack.protocol, kTcProtocolApplication);
      break;
    case kTcAcknowledgementBadSession:
      TlLogError(kSender,
                 "Unexpected message session number received in ACK, received %x -> expected %x",
                 ack.session, session);
      break;
    case kTcAcknowledgementBadSequenceNumber:
      TlLogError(
          kSender,
          "Unexpected message sequence number received in ACK, received 0x%x -> expected 0x%x",
          ack.sequence_number, sequence_number);
      break;
    case kTcAcknowledgementNegative:
      TlLogError(kSender, "Received NACK. Result == %x", ack.result);
      break;
  }
  return kTlResultTransparentChannelErrorSentBytesFailed;
}

// Sends one datagram and waits for its acknowledgement.
// `frame` has room for the header and `length` bytes; one buffer serves every datagram of a
// payload.
TlResult TcSendDatagram(TlDeviceHandle handle, uint32_t timeout, unsigned char* frame,
                        const unsigned char* slice, uint16_t length, uint16_t session,
                        uint16_t sequence_number) {
  const unsigned version = tc_version.load();
  TlLogDebug(
      kSender,
      "Datagram: version %x, type %x, protocol %x, session %d, seq_number 0x%x and length %d",
      version, kTcTypeDatagram, kTcProtocolApplication, session, sequence_number, length);
  // TcCreateDatagramHeader: header and slice go out in one write.
  TcEncodeDatagram(frame, static_cast<uint8_t>(version), session, sequence_number, slice, length);
  TlResult result = TcWrite(handle, frame, kTcDatagramHeaderSize + length);
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "Send Data Transfer Packet failed");
    return result;
  }

  unsigned char raw[kTcAcknowledgementSize];
  size_t received = 0;
  result = TcReadFull(handle, sizeof raw, timeout, raw, &received);
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "Error when receiving ACK. Abort!");
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  const TcAcknowledgementStruct ack = TcDecodeAcknowledgement(raw);
  TlLogDebug(
      kSender,
      "Acknowledgment: tc_ver %x, type %x, protocol %x, seq_no 0x%x, session %x and result %x",
      ack.version, ack.type, ack.protocol, ack.sequence_number, ack.session, ack.result);
  return TcVerifyAcknowledgement(ack, session, sequence_number);
}

// TcReadDatagram: the answer datagram's header and payload. On success *answer owns the payload.
TlResult TcReadDatagram(TlDeviceHandle handle, uint32_t timeout, Buffer* answer,
                        size_t* answer_length) {
  unsigned char raw[kTcDatagramHeaderSize];
  size_t received = 0;
  TcReadFull(handle, sizeof raw, timeout, raw, &received);
  if (received < sizeof raw) {
    TlLogDebug(
        kSender,
        "Read timed out. Expected data did not arrive within %d seconds => returning error %d.",
        static_cast<int>(timeout), kTlResultTransparentChannelErrorReceiveBytesFailed);
    return kTlResultTransparentChannelErrorReceiveBytesFailed;
  }
  const TcDatagramStruct header = TcDecodeDatagramHeader(raw);
  TlLogDebug(
      kSender,
      "Received datagram. Version: %x, Type: %x, Protocol: %x, Session: %x, Sequence number: "
      "0x%x, Length: %x",
      header.version, header.type, header.protocol, header.session, header.sequence_number,
      header.length);
  const bool type_ok = header.type == kTcTypeDatagram;
  if (!type_ok) {
    TlLogDebug(kSender, "ReadDatagram() - Received type not supported = %d", header.type);
  }
  // One spare byte so that an empty answer still gets a buffer.
  Buffer payload(static_cast<unsigned char*>(malloc(static_cast<size_t>(header.length) + 1)));
  if (!payload) {
    TlLogError(kSender, "Could not allocate buffer for payload.");
    return kTlResultGeneralErrorMemory;
  }
  size_t total = 0;
  if (type_ok) {
    while (total < header.length) {
      size_t got = 0;
      const TlResult result =
          TcRead(handle, header.length - total, timeout, payload.get() + total, &got);
      if (result != kTlResultSuccess || got == 0) break;
      total += got;
    }
  }
  const TlResult result = TcCheckAnswerDatagram(&header, total);
  if (result != kTlResultSuccess) return result;
  *answer = std::move(payload);
  *answer_length = total;
  return kTlResultSuccess;
}

TlResult TcConvertToTcServiceHeaderAnswer(const unsigned char* answer, size_t length) {
  TcServiceHeaderAnswerGenericStruct header;
  if (!TcDecodeAnswerHeader(answer, length, &header))
    return kTlResultTransparentChannelErrorFailure;
  TlLogDebug(kSender,
             "Answer: ReqId %x, SM %x, Cmd_type %x, Cmd_ID %x, PayloadLength %x and Result %x",
             header.request_id, header.security_mechanism, header.cmd_type, header.cmd_id,
             header.payload_length, header.result);
  const TlResult result = TcCheckAnswerHeader(&header);
  if (result != kTlResultSuccess) TlLogError(kSender, "Wrong answer result = %x", header.result);
  return result;
}

TlResult ExtractPayloadFromTapAnswer(const unsigned char* answer, size_t length,
                                     TlTcReceivedData* received_data) {
  if (received_data == nullptr) return kTlResultSuccess;
  if (length == kTcAnswerHeaderSize) {
    TlLogDebug(kSender, "Received generic answer - no payload available");
    return kTlResultSuccess;
  }
  TlLogDebug(kSender, "Received data in the answer, copy data to user.");
  const size_t data_length = length - kTcAnswerHeaderSize;
  char* data = static_cast<char*>(malloc(data_length));
  if (data == nullptr) return kTlResultGeneralErrorMemory;
  memcpy(data, answer + kTcAnswerHeaderSize, data_length);
  received_data->data = data;
  received_data->data_length = data_length;
  return kTlResultSuccess;
}

}  // namespace

extern "C" TlResult TlTcOpen(TlDeviceHandle device, TlTcVersion version, uint32_t timeout) {
  if (version != kTlTcVersionTwo) {
    TlLogError(kSender, "The specified version is not supported: %x.",
               static_cast<unsigned>(version));
    return kTlResultTransparentChannelErrorVersionNotSupported;
  }
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  TlResult result = TlDeviceGetOwner(device, &owner);
  if (result != kTlResultSuccess) return result;
  if (owner == kTlDeviceOwnerDebugMux || owner == kTlDeviceOwnerTransparentChannel) {
    return kTlResultTransparentChannelErrorUnableToOpenTcChannel;
  }

  TlLogDebug(kSender, "Go to state %d.", kTcOpenStateSetEchoOff);
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  result = TlAtSend(device, "ATE0", timeout, &at_result);
  const bool echo_off = result == kTlResultSuccess && at_result.result_code == kTlAtResultOk;
  TlAtReleaseAtResult(&at_result);
  if (!echo_off) return kTlResultTransparentChannelErrorUnableToOpenTcChannel;

  TlLogDebug(kSender, "Go to state %d.", kTcOpenStateSetSendMode);
  char command[32];
  snprintf(command, sizeof command, "%s=%d", "AT*EETC", 2);
  at_result = {kTlAtResultUnknown, nullptr};
  result = TlAtSend(device, command, timeout, &at_result);
  const TlAtResultCode code = at_result.result_code;
  TlAtReleaseAtResult(&at_result);
  if (result != kTlResultSuccess) return result;
  if (code != kTlAtResultOk) return kTlResultTransparentChannelErrorUnableToOpenTcChannel;

  {
    DeviceLockGuard lock(device);
    if (lock.result() != kTlResultSuccess) return lock.result();
    result = TlDeviceSetOwner(device, kTlDeviceOwnerTransparentChannel);
    if (result != kTlResultSuccess) return result;
  }
  tc_version.store(kTlTcVersionTwo);
  TlLogInfo(kSender, "Transparent Channel is open");
  return kTlResultSuccess;
}

extern "C" TlResult TlTcSend(TlDeviceHandle handle, TlTcProgressCallback* progress_callback,
                             uint32_t timeout, unsigned char* payload, size_t payload_size,
                             uint16_t* result_request_id, TlTcReceivedData* received_data) {
  if (payload == nullptr) {
    TlLogError(kSender, "Invalid input parameters. A valid payload must be specified.");
    TlLogErrorCode(kSender, kTlResultGeneralErrorInvalidParameter);
    return kTlResultGeneralErrorInvalidParameter;
  }
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  if (TlDeviceGetOwner(handle, &owner) != kTlResultSuccess ||
      owner != kTlDeviceOwnerTransparentChannel) {
    return kTlResultGeneralErrorInvalidParameter;
  }
  // The request id overwrites the first two payload bytes.
  if (payload_size < 2) {
    TlLogError(kSender, "Invalid input parameters. A valid payload must be specified.");
    TlLogErrorCode(kSender, kTlResultGeneralErrorInvalidParameter);
    return kTlResultGeneralErrorInvalidParameter;
  }

  uint16_t sequence_number = TcFirstSequenceNumber(payload_size);
  TlLogDebug(kSender, "Parameters: tc_version: %d, total payload size: %d, frames: 0x%x",
             tc_version.load(), static_cast<int>(payload_size), sequence_number);

  DeviceLockGuard lock(handle);
  if (lock.result() != kTlResultSuccess) return lock.result();

  const uint16_t request_id = static_cast<uint16_t>(tc_request_id_.fetch_add(1) + 1);
  const uint16_t session = static_cast<uint16_t>(tc_session_.fetch_add(1) + 1);
  TcEncodeRequestId(payload, request_id);

  const size_t largest =
      payload_size < size_t{kTcPayloadPacketSize} ? payload_size : size_t{kTcPayloadPacketSize};
  Buffer frame(static_cast<unsigned char*>(malloc(kTcDatagramHeaderSize + largest)));
  if (!frame) {
    TlLogError(kSender, "Unable to allocate memory for send buffer. Abort!");
    TlLogErrorCode(kSender, kTlResultGeneralErrorMemory);
    return kTlResultGeneralErrorMemory;
  }
  size_t position = 0;
  while (position < payload_size) {
    TlLogDebug(kSender, "Sequence number == 0x%x", sequence_number);
    const uint16_t length = TcDatagramLength(payload_size - position);
    const TlResult result = TcSendDatagram(handle, timeout, frame.get(), payload + position, length,
                                           session, sequence_number);
    if (result != kTlResultSuccess) {
      TlLogErrorCode(kSender, result);
      return result;
    }
    position += length;
    if (progress_callback != nullptr) {
      progress_callback(static_cast<unsigned>(position), static_cast<unsigned>(payload_size));
    }
    TlLogInfo(kSender, "Current file position: %d, payload size %d, sent bytes %d (%d)\n",
              static_cast<int>(position), static_cast<int>(payload_size),
              static_cast<int>(length + kTcDatagramHeaderSize),
              static_cast<int>(position / payload_size));
    if (position < payload_size) --sequence_number;
  }

  Buffer answer;
  size_t answer_length = 0;
  TlResult result = TcReadDatagram(handle, timeout, &answer, &answer_length);
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "Unable to receive answer after data was sent to device. Abort!");
    return result;
  }
  result = TcConvertToTcServiceHeaderAnswer(answer.get(), answer_length);
  if (result != kTlResultSuccess) return result;
  result = ExtractPayloadFromTapAnswer(answer.get(), answer_length, received_data);
  if (result != kTlResultSuccess) return result;
  answer.reset();
  if (result_request_id != nullptr) *result_request_id = request_id;
  TlLogInfo(kSender, "Payload was successfully sent to the device.");
  return kTlResultSuccess;
}

extern "C" TlResult TlTcClose(TlDeviceHandle handle, uint32_t timeout) {
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  if (TlDeviceGetOwner(handle, &owner) != kTlResultSuccess ||
      owner != kTlDeviceOwnerTransparentChannel) {
    TlLogError(kSender, "The device owner is not set to Transparent Channel. Abort!");
    return kTlResultTransparentChannelErrorFailure;
  }
  const unsigned version = tc_version.load();
  unsigned char frame[kTcControlSize];
  TcEncodeControl(frame, static_cast<uint8_t>(version), kTcCommandClose);

  DeviceLockGuard lock(handle);
  if (lock.result() != kTlResultSuccess) return lock.result();
  if (TcWrite(handle, frame, sizeof frame) != kTlResultSuccess) {
    TlLogError(kSender, "Send Data Transfer Packet failed");
    // The port failed under the channel. A module that comes back speaks AT, and the owner
    // survives a reopen: left on the channel, it would lock the AT channel out for good.
    TlDeviceSetOwner(handle, kTlDeviceOwnerAt);
    return kTlResultTransparentChannelErrorUnableToCloseTcChannel;
  }
  // Back to AT at once: whatever the reply, the module no longer takes datagrams.
  TlDeviceSetOwner(handle, kTlDeviceOwnerAt);

  unsigned char raw[kTcControlResponseSize];
  size_t received = 0;
  TlResult result = TcReadFull(handle, sizeof raw, timeout, raw, &received);
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "Failed to receive ack from device.");
    TlLogErrorCode(kSender, result);
    return result;
  }
  const TcControlResponseStruct reply = TcDecodeControlResponse(raw);
  TlLogDebug(kSender, "Received parameters: TC Version %x, Type %x, CMD %x, Result %x",
             reply.version, reply.type, reply.command, reply.control_result);
  if (!TcControlResponseOk(&reply, static_cast<uint8_t>(version))) {
    TlLogError(kSender,
               "Error when closing Transparent Channel. Received parameters: TC Version %x, Type "
               "%x, Command %x",
               reply.version, reply.type, reply.command);
    return kTlResultTransparentChannelErrorUnableToCloseTcChannel;
  }
  // The module announces its return to AT mode; drop that text.
  unsigned char trailer[kTcControlResponseSize];
  TcRead(handle, sizeof trailer, timeout, trailer, &received);
  TlLogDebug(kSender, "Transparent Channel is closed.");
  return kTlResultSuccess;
}

extern "C" TlResult TlTcReleaseReceivedData(TlTcReceivedData* received_data) {
  if (received_data == nullptr) return kTlResultSuccess;
  free(received_data->data);
  received_data->data = nullptr;
  received_data->data_length = 0;
  return kTlResultSuccess;
}

extern "C" TlResult TlTcReceive(TlDeviceHandle, TlTcProgressCallback*, uint16_t, uint32_t,
                                TlTcReceivedData*) {
  return kTlResultGeneralErrorNotImplemented;
}
