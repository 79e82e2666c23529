// TlSfSend against any bytes a module may send back once it took the switch into the secure frame
// protocol: the acknowledgement reader (stray bytes, headers, payloads, results) and the wait for
// the final OK line.
//
// Input: byte 0 the piece size of the reads (0: whole), bytes 1-2 the data size (big-endian, times
// 8 so that the data can take two packets), then the module's bytes after its two OK answers.

#include <apr_general.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "testing/fake_device.h"
#include "testing/fuzz.h"
#include "transport/src/at/at.h"
#include "transport/src/common/common.h"
#include "transport/src/secure_frame/secure_frame.h"

namespace {

using tarvik_fuzz::Check;

const TlDeviceHandle kHandle = 0;
const std::string kOk = "\r\nOK\r\n";
uint32_t last_sent = 0;

void Progress(uint32_t bytes_sent, uint32_t bytes_total) {
  Check(bytes_sent > last_sent && bytes_sent <= bytes_total, "progress grows up to the total");
  last_sent = bytes_sent;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  apr_initialize();
  Check(TlInitialize() == kTlResultSuccess, "transport starts");
  // The first AT command of a handle also switches echo off.
  fake_device::LoadPieces({kOk, kOk});
  fake_device::SetOwner(kTlDeviceOwnerAt);
  TlAtResult first = {kTlAtResultUnknown, nullptr};
  Check(TlAtSend(kHandle, "AT", 0, &first) == kTlResultSuccess, "first command");
  TlAtReleaseAtResult(&first);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 3) return 0;
  const size_t piece = input[0];
  const size_t data_size = 8u * ((static_cast<size_t>(input[1]) << 8) | input[2]);
  const std::string module(reinterpret_cast<const char*>(input + 3), size - 3);
  std::vector<std::string> pieces = {kOk, kOk};
  for (size_t at = 0; at < module.size(); at += piece == 0 ? module.size() : piece) {
    pieces.push_back(module.substr(at, piece == 0 ? std::string::npos : piece));
  }
  fake_device::LoadPieces(pieces);
  fake_device::SetOwner(kTlDeviceOwnerAt);

  std::vector<uint8_t> data(data_size, 0x5a);
  last_sent = 0;
  const TlResult result = TlSfSend(kHandle, Progress, 0, data.data(), data.size());
  Check(fake_device::LockDepth() == 0, "device lock released");
  Check(!fake_device::UnlockedIo(), "every read and send with the device lock");
  Check(fake_device::Owner() == kTlDeviceOwnerAt, "the port speaks AT again");
  Check(fake_device::Consumed() <= kOk.size() * 2 + module.size(), "reads stay in the stream");
  if (result == kTlResultSuccess) Check(last_sent == data_size, "progress reaches the total");
  Check(result == kTlResultSuccess ||
            (result >= kTlResultSecureFrameErrorOpenFailed &&
             result <= kTlResultSecureFrameErrorReadTimeout) ||
            result == kTlResultGeneralErrorMemory,
        "a secure frame result");
  return 0;
}
