// The transparent channel against any bytes a module may send back: the acknowledgement and
// answer readers of TlTcSend, the close reply reader of TlTcClose, and the AT answers of TlTcOpen.
//
// Input: byte 0 the operation (bits 0-6: 0 open, 1 close, else send; bit 7: the acknowledgements
// carry the session the channel uses, which changes with every payload), byte 1 the piece size of
// the reads (0: whole), bytes 2-3 the payload size for a send (little-endian, times 2 so that a
// payload can take two datagrams), then the module's bytes.

#include <apr_general.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "testing/fake_device.h"
#include "testing/fuzz.h"
#include "transport/src/at/at.h"
#include "transport/src/common/common.h"
#include "transport/src/transparent_channel/transparent_channel.h"

namespace {

using tarvik_fuzz::Check;

const TlDeviceHandle kHandle = 0;
unsigned last_sent = 0;
// The session of the next payload: the channel counts them over the whole process.
uint16_t next_session = 1;

void Progress(unsigned bytes_sent, unsigned bytes_total) {
  Check(bytes_sent >= last_sent && bytes_sent <= bytes_total, "progress grows up to the total");
  last_sent = bytes_sent;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  apr_initialize();
  Check(TlInitialize() == kTlResultSuccess, "transport starts");
  // The first AT command of a handle also switches echo off; done here so that every input meets
  // the same channel.
  static const unsigned char kEchoOff[] = "\r\nOK\r\n\r\nOK\r\n";
  fake_device::Load(kEchoOff, sizeof kEchoOff - 1, 6);
  fake_device::SetOwner(kTlDeviceOwnerAt);
  TlAtResult first = {kTlAtResultUnknown, nullptr};
  Check(TlAtSend(kHandle, "AT", 0, &first) == kTlResultSuccess, "first command");
  TlAtReleaseAtResult(&first);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 4) return 0;
  const uint8_t operation = input[0] & 0x7f;
  const bool own_session = (input[0] & 0x80) != 0;
  const size_t piece = input[1];
  const size_t payload_size = 2u * (input[2] | (static_cast<size_t>(input[3]) << 8));
  std::vector<unsigned char> stream(input + 4, input + size);
  const unsigned char* module = stream.data();
  const size_t length = stream.size();

  if (operation != 0 && operation != 1 && payload_size > 0 && own_session) {
    // The acknowledgement of datagram k is the k-th 10-byte frame; its session is at bytes 4-5.
    const size_t frames = (payload_size + kTcPayloadPacketSize - 1) / kTcPayloadPacketSize;
    for (size_t k = 0; k < frames; ++k) {
      const size_t at = k * kTcAcknowledgementSize + 4;
      if (at + 1 < length) {
        stream[at] = static_cast<unsigned char>(next_session & 0xff);
        stream[at + 1] = static_cast<unsigned char>(next_session >> 8);
      }
    }
  }
  fake_device::Load(module, length, piece);

  if (operation == 0) {
    fake_device::SetOwner(kTlDeviceOwnerAt);
    const TlResult result = TlTcOpen(kHandle, kTlTcVersionTwo, 0);
    Check(fake_device::LockDepth() == 0, "device lock released");
    Check(
        (result == kTlResultSuccess) == (fake_device::Owner() == kTlDeviceOwnerTransparentChannel),
        "owner is the channel exactly when it opened");
    if (result == kTlResultSuccess) TlTcClose(kHandle, 0);
    return 0;
  }

  fake_device::SetOwner(kTlDeviceOwnerTransparentChannel);
  if (operation == 1) {
    TlTcClose(kHandle, 0);
    Check(fake_device::LockDepth() == 0, "device lock released");
    Check(fake_device::Owner() == kTlDeviceOwnerAt, "owner is AT after a close");
    return 0;
  }

  if (payload_size == 0) return 0;
  std::vector<unsigned char> payload(payload_size, 0x5a);
  uint16_t request_id = 0;
  TlTcReceivedData answer = {nullptr, 0};
  last_sent = 0;
  const TlResult result =
      TlTcSend(kHandle, Progress, 0, payload.data(), payload.size(), &request_id, &answer);
  ++next_session;
  Check(fake_device::LockDepth() == 0, "device lock released");
  Check(fake_device::Consumed() <= length, "reads stay inside the stream");
  if (result != kTlResultSuccess) {
    Check(answer.data == nullptr && answer.data_length == 0, "no answer handed out on failure");
    return 0;
  }
  Check(last_sent == payload_size, "progress reaches the total");
  Check((answer.data == nullptr) == (answer.data_length == 0), "answer pointer and length agree");
  if (answer.data_length > 0) {
    // The answer's data are bytes the module sent.
    const std::string stream(reinterpret_cast<const char*>(module), fake_device::Consumed());
    Check(stream.find(std::string(answer.data, answer.data_length)) != std::string::npos,
          "answer data come from the stream");
  }
  TlTcReleaseReceivedData(&answer);
  return 0;
}
