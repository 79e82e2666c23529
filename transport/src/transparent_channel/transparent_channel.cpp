#include "transport/src/transparent_channel/transparent_channel.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>

#include "transport/src/at/at.h"
#include "transport/src/common/common.h"
#include "transport/src/device/device.h"

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

// Holds the device lock for a scope; every return path gives it back.
class DeviceLockGuard {
 public:
  explicit DeviceLockGuard(TlDeviceHandle handle) : handle_(handle) {
    result_ = TlDeviceLock(handle_);
  }
  ~DeviceLockGuard() {
    if (result_ == kTlResultSuccess) TlDeviceUnlock(handle_);
  }
  DeviceLockGuard(const DeviceLockGuard&) = delete;
  DeviceLockGuard& operator=(const DeviceLockGuard&) = delete;
  TlResult result() const { return result_; }

 private:
  TlDeviceHandle handle_;
  TlResult result_;
};

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

TlResult TcVerifyAcknowledgement(const TcAcknowledgementStruct& ack, uint16_t session,
                                 uint16_t sequence_number) {
  const unsigned version = tc_version.load();
  if (ack.version != version) {
    TlLogError(kSender,
               "Illegal version of transparent channel received in ACK, received %x -> expected %x",
               ack.version, version);
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  if (ack.type != kTcTypeAcknowledgement) {
    TlLogError(kSender, "Unexpected message type received in ACK, received %x -> expected %x",
               ack.type, kTcTypeAcknowledgement);
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  if (ack.protocol != kTcProtocolApplication) {
    TlLogError(kSender, "Unexpected message protocol received in ACK, received %x -> expected %x",
               ack.protocol, kTcProtocolApplication);
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  if (ack.session != session) {
    TlLogError(kSender,
               "Unexpected message session number received in ACK, received %x -> expected %x",
               ack.session, session);
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  if (ack.sequence_number != sequence_number) {
    TlLogError(kSender,
               "Unexpected message sequence number received in ACK, received 0x%x -> expected 0x%x",
               ack.sequence_number, sequence_number);
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  if (ack.result != kTcResultSuccess) {
    TlLogError(kSender, "Received NACK. Result == %x", ack.result);
    return kTlResultTransparentChannelErrorSentBytesFailed;
  }
  return kTlResultSuccess;
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
  unsigned char* p = frame;
  p[0] = static_cast<unsigned char>(version);
  p[1] = kTcTypeDatagram;
  PutU16(p + 2, kTcProtocolApplication);
  PutU16(p + 4, session);
  PutU16(p + 6, sequence_number);
  PutU16(p + 8, length);
  if (length > 0) memcpy(p + kTcDatagramHeaderSize, slice, length);
  TlResult result = TcWrite(handle, p, kTcDatagramHeaderSize + length);
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
  TcAcknowledgementStruct ack;
  ack.version = raw[0];
  ack.type = raw[1];
  ack.protocol = GetU16(raw + 2);
  ack.session = GetU16(raw + 4);
  ack.sequence_number = GetU16(raw + 6);
  ack.result = GetU16(raw + 8);
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
  TcDatagramStruct header;
  header.version = raw[0];
  header.type = raw[1];
  header.protocol = GetU16(raw + 2);
  header.session = GetU16(raw + 4);
  header.sequence_number = GetU16(raw + 6);
  header.length = GetU16(raw + 8);
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
  if (header.sequence_number != 0) return kTlResultTransparentChannelErrorFileTypeNotSupported;
  if (total < header.length) return kTlResultTransparentChannelErrorReceiveBytesFailed;
  if (!type_ok) return kTlResultTransparentChannelErrorReceiveBytesFailed;
  *answer = std::move(payload);
  *answer_length = total;
  return kTlResultSuccess;
}

TlResult TcConvertToTcServiceHeaderAnswer(const unsigned char* answer, size_t length) {
  if (length < kTcAnswerHeaderSize) return kTlResultTransparentChannelErrorFailure;
  TcServiceHeaderAnswerGenericStruct header;
  header.request_id = GetU16(answer);
  header.security_mechanism = answer[2];
  header.cmd_type = answer[3];
  header.cmd_id = GetU16(answer + 4);
  header.payload_length = GetU32(answer + 6);
  header.result = GetU16(answer + 10);
  TlLogDebug(kSender,
             "Answer: ReqId %x, SM %x, Cmd_type %x, Cmd_ID %x, PayloadLength %x and Result %x",
             header.request_id, header.security_mechanism, header.cmd_type, header.cmd_id,
             header.payload_length, header.result);
  if (header.result != kTcAnswerMessageResultOk) {
    TlLogError(kSender, "Wrong answer result = %x", header.result);
    return kTlResultTransparentChannelErrorFailure;
  }
  return kTlResultSuccess;
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
    return kTlResultGeneralErrorInvalidParameter;
  }

  const size_t frames = (payload_size + kTcPayloadPacketSize - 1) / kTcPayloadPacketSize;
  uint16_t sequence_number = static_cast<uint16_t>(frames - 1);
  TlLogDebug(kSender, "Parameters: tc_version: %d, total payload size: %d, frames: 0x%x",
             tc_version.load(), static_cast<int>(payload_size), sequence_number);

  DeviceLockGuard lock(handle);
  if (lock.result() != kTlResultSuccess) return lock.result();

  const uint16_t request_id = static_cast<uint16_t>(tc_request_id_.fetch_add(1) + 1);
  const uint16_t session = static_cast<uint16_t>(tc_session_.fetch_add(1) + 1);
  PutU16(payload, request_id);

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
    const size_t remaining = payload_size - position;
    const uint16_t length = static_cast<uint16_t>(
        remaining >= size_t{kTcPayloadPacketSize} ? size_t{kTcPayloadPacketSize} : remaining);
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
  frame[0] = static_cast<unsigned char>(version);
  frame[1] = kTcTypeControl;
  PutU16(frame + 2, kTcCommandClose);

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
  TcControlResponseStruct reply;
  reply.version = raw[0];
  reply.type = raw[1];
  reply.command = GetU16(raw + 2);
  reply.control_result = GetU16(raw + 4);
  TlLogDebug(kSender, "Received parameters: TC Version %x, Type %x, CMD %x, Result %x",
             reply.version, reply.type, reply.command, reply.control_result);
  if (reply.version != version || reply.type != kTcTypeControlResponse ||
      reply.command != kTcCommandClose || reply.control_result != kTcControlResultOK) {
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
