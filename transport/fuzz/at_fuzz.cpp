// The AT channel against any answer a module may send: the final-result classifier on its own, and
// the response collector of TlAtSend reading the answer in pieces, with a listener that receives
// the text after the final result code.
//
// Input: byte 0 the piece size of the reads (0: whole), byte 1 flags (bit 0: TlAtSendNoResponse
// instead of TlAtSend; bit 1: no command, the bytes arrive on the receive thread, as unsolicited
// text; bit 2: with it, a failed read is reported as well), then the module's bytes.

#include <apr_general.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "testing/fake_device.h"
#include "testing/fuzz.h"
#include "transport/src/at/at.h"
#include "transport/src/at/at_protocol.h"
#include "transport/src/common/common.h"

namespace {

using tarvik_fuzz::Check;

const TlDeviceHandle kHandle = 0;
std::string unsolicited;
int unsolicited_calls = 0;

void Listener(TlResult, TlDeviceHandle, TlAtResult* at_result, const void*) {
  unsolicited.append(at_result->data);
  ++unsolicited_calls;
  TlAtReleaseAtResult(at_result);
}

// The classifier's answer must point just past a final result code that lies in the text.
void CheckClassifier(const char* data, size_t size) {
  size_t end = 0;
  const TlAtResultCode code = AtProtocolIsResponseLength(data, size, &end);
  if (code != kTlAtResultUnknown) {
    Check(end >= 4 && end <= size, "end offset inside the text");
    Check(data[end - 1] == '\n' || data[end - 1] == ':', "end offset after a final result code");
  }
  // The text form stops at the first zero byte and must agree with the sized form on that part.
  const std::string text(data, size);
  size_t text_end = 0;
  size_t prefix_end = 0;
  Check(AtProtocolIsResponse(text.c_str(), &text_end) ==
            AtProtocolIsResponseLength(text.c_str(), strlen(text.c_str()), &prefix_end),
        "text and sized classification agree");
}

// Goes through the reads the collector made: it must stop at the first one after which a final
// result code is in the text, and may stop early only then; zero bytes are no part of an answer
// and are dropped as they arrive. Returns the code of the text read, which `held` receives.
TlAtResultCode Replay(const char* module, size_t piece, std::string* held, size_t* end) {
  const std::vector<size_t>& reads = fake_device::Reads();
  TlAtResultCode code = kTlAtResultUnknown;
  size_t position = 0;
  for (size_t i = 0; i < reads.size(); ++i) {
    Check(code == kTlAtResultUnknown, "no read after the final result code");
    Check(piece == 0 || reads[i] <= piece, "reads no more than arrived");
    for (size_t at = position; at < position + reads[i]; ++at) {
      if (module[at] != '\0') held->push_back(module[at]);
    }
    position += reads[i];
    code = AtProtocolIsResponseLength(held->data(), held->size(), end);
  }
  return code;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  apr_initialize();
  Check(TlInitialize() == kTlResultSuccess, "transport starts");
  // The first command of a handle switches echo off and reads that answer away, then its own.
  static const unsigned char kEchoOff[] = "\r\nOK\r\n\r\nOK\r\n";
  fake_device::Load(kEchoOff, sizeof kEchoOff - 1, 6);
  TlAtResult first = {kTlAtResultUnknown, nullptr};
  fake_device::SetOwner(kTlDeviceOwnerAt);
  Check(TlAtSend(kHandle, "AT", 0, &first) == kTlResultSuccess, "first command");
  TlAtReleaseAtResult(&first);
  Check(TlAtRegisterCallback(kHandle, Listener, nullptr) == kTlResultSuccess, "listener");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const size_t piece = input[0];
  const bool no_response = (input[1] & 1) != 0;
  const char* module = reinterpret_cast<const char*>(input + 2);
  const size_t length = size - 2;

  CheckClassifier(module, length);

  unsolicited.clear();
  unsolicited_calls = 0;
  if ((input[1] & 2) != 0) {
    // What the receive thread hands over goes to the listener piece by piece, each a text of its
    // own (cut at a zero byte).
    TlDeviceCallback* callback = fake_device::ReceiveCallback();
    Check(callback != nullptr, "the channel takes the received bytes");
    std::string expected;
    int pieces = 0;
    for (size_t at = 0; at < length; at += piece == 0 ? length : piece) {
      const size_t count = piece == 0 ? length : std::min(piece, length - at);
      callback(kHandle, kTlResultSuccess, module + at, count);
      expected += std::string(module + at, count).c_str();
      ++pieces;
    }
    if ((input[1] & 4) != 0) {
      callback(kHandle, kTlResultDeviceErrorCouldNotReadFromDevice, nullptr, 0);
      ++pieces;
    }
    Check(unsolicited_calls == pieces, "one listener call per piece");
    Check(unsolicited == expected, "listener gets the bytes as they came");
    return 0;
  }
  fake_device::Load(input + 2, length, piece);
  if (no_response) {
    const TlResult result = TlAtSendNoResponse(kHandle, "AT+CFUN=1");
    std::string held;
    size_t end = 0;
    const TlAtResultCode expected_code = Replay(module, piece, &held, &end);
    Check(result == (expected_code == kTlAtResultUnknown ? kTlResultGeneralErrorOperationTimedOut
                                                         : kTlResultSuccess),
          "read-away result");
    Check(fake_device::Sent() == "AT+CFUN=1\r\n", "command line sent");
    Check(fake_device::LockDepth() == 0, "device lock released");
    return 0;
  }

  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  const TlResult result = TlAtSend(kHandle, "AT*EEVINFO=99", 0, &at_result);
  std::string held;
  size_t expected_end = 0;
  const TlAtResultCode expected_code = Replay(module, piece, &held, &expected_end);
  Check(fake_device::Sent() == "AT*EEVINFO=99\r\n", "command line sent");
  Check(fake_device::LockDepth() == 0, "device lock released");
  if (expected_code == kTlAtResultUnknown) {
    Check(fake_device::Consumed() == length, "reads until nothing more arrives");
    Check(result == kTlResultGeneralErrorOperationTimedOut, "no final result code times out");
    Check(at_result.data == nullptr, "no text handed out on failure");
    return 0;
  }
  Check(result == kTlResultSuccess, "final result code completes the command");
  Check(at_result.result_code == expected_code, "final result code as classified");
  Check(at_result.data != nullptr, "response text handed out");
  Check(held == at_result.data, "response text is the bytes read");
  // Bytes after the final result code go to the listener as one message.
  const std::string after = held.substr(expected_end);
  if (after.empty()) {
    Check(unsolicited_calls == 0, "no unsolicited text, no listener call");
  } else {
    Check(unsolicited_calls == 1, "one listener call for the text after the final result code");
    Check(unsolicited == after, "listener gets the text after the code");
  }
  TlAtReleaseAtResult(&at_result);
  return 0;
}
