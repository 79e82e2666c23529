#include "transport/src/secure_frame/secure_frame.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "transport/src/at/at.h"
#include "transport/src/common/common.h"
#include "transport/src/device/device.h"
#include "transport/src/secure_frame/sf_frame.h"

namespace {

constexpr const char* kSender = "TL:SF";
// The module sends only its OK line after the final acknowledgement; a module that keeps talking
// must not keep the close waiting for ever.
constexpr size_t kCloseByteLimit = 64 * 1024;

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

int ReadTimeout(unsigned int timeout) {
  return timeout > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(timeout);
}

// After a failure past the switch the module is in an unknown state, but the owner survives a
// reopen of the port: left at secure frame it would lock the AT channel out of the reopened
// module for good.
class OwnerBackToAtOnFailure {
 public:
  explicit OwnerBackToAtOnFailure(TlDeviceHandle handle) : handle_(handle) {}
  ~OwnerBackToAtOnFailure() {
    if (armed_) TlDeviceSetOwner(handle_, kTlDeviceOwnerAt);
  }
  OwnerBackToAtOnFailure(const OwnerBackToAtOnFailure&) = delete;
  OwnerBackToAtOnFailure& operator=(const OwnerBackToAtOnFailure&) = delete;
  void Disarm() { armed_ = false; }

 private:
  TlDeviceHandle handle_;
  bool armed_ = true;
};

// One AT command that must be answered OK; the result record is released here.
bool SendAtCommand(TlDeviceHandle device, const char* command, unsigned int timeout) {
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  const TlResult result = TlAtSend(device, command, timeout, &at_result);
  const bool ok = result == kTlResultSuccess && at_result.result_code == kTlAtResultOk;
  TlAtReleaseAtResult(&at_result);
  if (result != kTlResultSuccess) TlLogErrorCode(kSender, result);
  return ok;
}

bool SfOpen(TlDeviceHandle device, TlSfModeEnum mode, unsigned int timeout) {
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  const TlResult result = TlDeviceGetOwner(device, &owner);
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    return false;
  }
  if (owner != kTlDeviceOwnerAt) {
    TlLogError(kSender, "SfOpen - Can only open channel from AT mode.");
    return false;
  }
  TlLogDebug(kSender, "Disabling echo.");
  if (!SendAtCommand(device, "ATE0", timeout)) return false;
  char command[32];
  snprintf(command, sizeof command, "%s=%d", "AT*EESFUD", static_cast<int>(mode));
  TlLogDebug(kSender, "Opening Secure Frame channel.");
  if (!SendAtCommand(device, command, timeout)) return false;
  const TlResult changed = TlDeviceSetOwner(device, kTlDeviceOwnerSecureFrame);
  if (changed != kTlResultSuccess) {
    TlLogErrorCode(kSender, changed);
    return false;
  }
  TlLogInfo(kSender, "Secure Frame channel open, device in SF mode.");
  return true;
}

TlResult SfWritePacket(TlDeviceHandle device, const SfPacketStruct& packet) {
  TlLogDebug(kSender, "SfWritePacket - Serializing packet.");
  Buffer serial(static_cast<uint8_t*>(malloc(kSfHeaderSize + packet.header.payload_size)));
  if (!serial) return kTlResultGeneralErrorMemory;
  if (SfSerializePacket(&packet, serial.get()) != kSfSerializationResultSuccess) {
    TlLogError(kSender, "SfWritePacket - Packet serialization failed.");
    TlLogDebug(kSender, "SfWritePacket - The packet was invalid.");
    return kTlResultSecureFrameErrorSerializationFailed;
  }
  if (TlDeviceSend(device, serial.get(), kSfHeaderSize + packet.header.payload_size) !=
      kTlResultSuccess) {
    TlLogError(kSender, "SfWritePacket - Packet transmission failed.");
    return kTlResultSecureFrameErrorTransmissionFailed;
  }
  return kTlResultSuccess;
}

// Reads one response packet; the bytes before its header are skipped, those after its payload
// dropped. On success packet->payload is the reader's allocation (none for an empty payload).
TlResult SfReadPacket(TlDeviceHandle device, unsigned int timeout, SfPacketStruct* packet) {
  if (packet == nullptr) {
    TlLogError(kSender, "SfReadPacket - Invalid parameter: \"packet\" is a NULL pointer.");
    return kTlResultGeneralErrorInvalidParameter;
  }
  memset(packet, 0, sizeof *packet);
  uint8_t buffer[kSfReceiveBufferSize] = {0};
  size_t held = 0;
  // An offset refused once stays refused: its bytes do not change.
  size_t scan_from = 0;
  for (;;) {
    size_t count = 0;
    const TlResult result = TlDeviceReceive(device, buffer + held, SfReadRequestSize(held),
                                            ReadTimeout(timeout), &count);
    TlLogDebug(kSender, "SfReadPacket - Read %u bytes.", static_cast<unsigned>(count));
    if (result == kTlResultGeneralErrorOperationTimedOut)
      return kTlResultSecureFrameErrorReadTimeout;
    if (result != kTlResultSuccess || count == 0) return kTlResultSecureFrameErrorReadPacketError;
    held += count;

    for (; scan_from + kSfHeaderSize <= held; ++scan_from) {
      SfHeaderStruct header;
      if (SfDeserializeHeader(buffer + scan_from, held - scan_from, &header) !=
          kSfSerializationResultSuccess) {
        TlLogDebug(kSender,
                   "SfDeserializePacket - The parsed header is invalid. Command code = %08x, "
                   "version = %u. Increasing index...",
                   header.command_code, header.version);
        continue;
      }
      TlLogDebug(kSender, "SfDeserializePacket - Header verified.");
      const size_t following = held - kSfHeaderSize - scan_from;
      if (following < header.payload_size) break;
      uint8_t* payload = nullptr;
      if (header.payload_size > 0) {
        payload = static_cast<uint8_t*>(malloc(header.payload_size));
        // The caller learns that the packet came but could not be kept.
        if (payload == nullptr) return kTlResultGeneralErrorMemory;
        memcpy(payload, buffer + scan_from + kSfHeaderSize, header.payload_size);
      }
      if (following > header.payload_size) {
        TlLogDebug(kSender, "SfReadPacket - Surplus data found when parsing.");
      }
      packet->header = header;
      packet->payload = payload;
      return kTlResultSuccess;
    }
    TlLogDebug(kSender, "SfReadPacket - Need more data to deserialize, currently have %u bytes.",
               static_cast<unsigned>(held));
    if (held == kSfReceiveBufferSize) return kTlResultSecureFrameErrorReadPacketError;
  }
}

TlResult SfReadAck(TlDeviceHandle device, unsigned int timeout) {
  SfPacketStruct packet;
  const TlResult read = SfReadPacket(device, timeout, &packet);
  if (read == kTlResultSecureFrameErrorReadTimeout) {
    TlLogError(kSender, "SfReadAck - Timeout when waiting for ACK.");
    return read;
  }
  if (read != kTlResultSuccess) {
    TlLogError(kSender, "SfReadAck - No ACK received.");
    return read;
  }
  free(packet.payload);
  const uint32_t code = packet.header.result_code;
  switch (code) {
    case kSfPacketResultOk:
    case kSfPacketResultPending:
      break;
    case kSfPacketResultFailed:
      TlLogError(kSender, "SfReadAck - Packet failure.");
      break;
    case kSfPacketResultAssignmentUnknown:
      TlLogError(kSender, "SfReadAck - Assignment unknown on module side.");
      break;
    case kSfPacketResultAuthorizationFailed:
      TlLogError(kSender, "SfReadAck - Assignment authorization failed on module side.");
      break;
    default:
      TlLogError(kSender, "SfReadAck - Unknown packet result: %u.", code);
      break;
  }
  return SfAcknowledgementResult(code);
}

// The host sends nothing: the module prints its final OK line as it returns to AT mode.
TlResult SfClose(TlDeviceHandle device, unsigned int timeout) {
  SfCloseScanner scanner;
  SfCloseScannerReset(&scanner);
  size_t total = 0;
  while (total < kCloseByteLimit) {
    uint8_t buffer[kSfReceiveBufferSize] = {0};
    size_t count = 0;
    const TlResult result =
        TlDeviceReceive(device, buffer, sizeof buffer, ReadTimeout(timeout), &count);
    if (result == kTlResultGeneralErrorOperationTimedOut ||
        (result == kTlResultSuccess && count == 0)) {
      TlLogError(kSender, "SfClose - Timed out when waiting for the channel to close.");
      return kTlResultSecureFrameErrorCloseFailed;
    }
    if (result != kTlResultSuccess) break;
    total += count;
    if (SfCloseScannerFeed(&scanner, buffer, count)) {
      TlLogInfo(kSender, "SfClose - Secure Frame channel closed, device returned to AT mode.");
      if (TlDeviceSetOwner(device, kTlDeviceOwnerAt) != kTlResultSuccess) {
        TlLogError(kSender, "SfClose - Failed to return device ownership to AT.");
        return kTlResultSecureFrameErrorCloseFailed;
      }
      return kTlResultSuccess;
    }
  }
  TlLogError(kSender, "SfClose - Failed to close the channel.");
  return kTlResultSecureFrameErrorCloseFailed;
}

// Sends the data in packets, each acknowledged, then waits for the acknowledgement of the whole.
TlResult SfTransmit(TlDeviceHandle device, TlSfProgressCallback* progress_callback,
                    unsigned int timeout, uint8_t* data, size_t data_size) {
  const unsigned total = static_cast<unsigned>(data_size);
  for (size_t start = 0; start < data_size; start += kSfMaxPayloadSize) {
    const size_t size =
        data_size - start < kSfMaxPayloadSize ? data_size - start : size_t{kSfMaxPayloadSize};
    const unsigned end = static_cast<unsigned>(start + size);
    TlLogDebug(kSender, "TlSfSend - Creating packet with bytes %u-%u as payload.",
               static_cast<unsigned>(start), end);
    SfPacketStruct packet;
    SfCreatePacket(data + start, static_cast<uint32_t>(size), &packet);
    TlLogDebug(kSender, "TlSfSend - Transmitting packet.");
    TlResult result = SfWritePacket(device, packet);
    if (result != kTlResultSuccess) {
      TlLogErrorCode(kSender, result);
      TlLogError(kSender, "TlSfSend - An error occurred when sending bytes %u - %u of %u.",
                 static_cast<unsigned>(start), end, total);
      return kTlResultSecureFrameErrorTransmissionFailed;
    }
    TlLogDebug(kSender, "TlSfSend - Waiting for ACK of packet.");
    result = SfReadAck(device, timeout);
    if (result != kTlResultSuccess) {
      TlLogErrorCode(kSender, result);
      TlLogError(kSender, "TlSfSend - No ACK received for the packet.");
      return kTlResultSecureFrameErrorTransmissionFailed;
    }
    TlLogDebug(kSender, "TlSfSend - Packet ACK received.");
    if (progress_callback != nullptr) progress_callback(end, total);
  }
  TlLogDebug(kSender, "TlSfSend - Waiting for ACK of data.");
  const TlResult result = SfReadAck(device, timeout);
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    TlLogError(kSender, "TlSfSend - No ACK received for the sent data.");
    return result;
  }
  TlLogInfo(kSender, "TlSfSend - Data has been sent and accepted.");
  return kTlResultSuccess;
}

}  // namespace

extern "C" TlResult TlSfSend(TlDeviceHandle device, TlSfProgressCallback* progress_callback,
                             unsigned int timeout, uint8_t* data, size_t data_size) {
  TlLogDebug(kSender, ">>>>> TlSfSend - data_size = %u, device=%d.",
             static_cast<unsigned>(data_size), static_cast<int>(device));
  if (data == nullptr && data_size > 0) {
    TlLogError(kSender, "TlSfSend - No data given.");
    return kTlResultGeneralErrorInvalidParameter;
  }
  if (!SfOpen(device, kTlSfModeSerial, timeout)) {
    TlLogErrorCode(kSender, kTlResultSecureFrameErrorOpenFailed);
    TlLogError(kSender, "TlSfSend - Failed to open the channel.");
    return kTlResultSecureFrameErrorOpenFailed;
  }
  OwnerBackToAtOnFailure owner(device);
  TlLogDebug(kSender, "TlSfSend - Locking device for transmission.");
  DeviceLockGuard lock(device);
  if (lock.result() != kTlResultSuccess) return lock.result();

  TlResult result = SfTransmit(device, progress_callback, timeout, data, data_size);
  if (result != kTlResultSuccess) return result;
  result = SfClose(device, timeout);
  if (result != kTlResultSuccess) {
    TlLogErrorCode(kSender, result);
    TlLogError(kSender,
               "TlSfSend - Failed to close the channel. Close and reopen the module to force the "
               "channel to close.");
    return kTlResultSecureFrameErrorCloseFailed;
  }
  owner.Disarm();
  TlLogDebug(kSender, "<<<<< TlSfSend - Success");
  return kTlResultSuccess;
}
