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
#include <string.h>

#include <algorithm>
#include <string>

#include "testing/fake_device.h"
#include "testing/fuzz.h"
#include "transport/src/at/at.h"
#include "transport/src/at/at_protocol.h"

namespace {

using tarvik_fuzz::Check;

std::string unsolicited;
int unsolicited_calls = 0;

void Listener(TlResult, TlDeviceHandle, TlAtResult* at_result, const void*) {
  unsolicited.append(at_result->data);
  ++unsolicited_calls;
  TlAtReleaseAtResult(at_result);
}

// Goes through the reads the collector made: it must stop at the first one after which a final
// result code is in the text, and may stop early only then; zero bytes are no part of an answer
// and are dropped as they arrive. Returns the code of the text read, which `held` receives.
TlAtResultCode Replay(const char* module, size_t piece, std::string* held, size_t* end) {
  TlAtResultCode code = kTlAtResultUnknown;
  size_t position = 0;
  for (size_t count : fake_device::Reads()) {
    Check(code == kTlAtResultUnknown, "no read after the final result code");
    Check(piece == 0 || count <= piece, "reads no more than arrived");
    for (size_t at = position; at < position + count; ++at) {
      if (module[at] != '\0') held->push_back(module[at]);
    }
    position += count;
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
  Check(TlAtSend(0, "AT", 0, &first) == kTlResultSuccess, "first command");
  TlAtReleaseAtResult(&first);
  Check(TlAtRegisterCallback(0, Listener, nullptr) == kTlResultSuccess, "listener");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const size_t piece = input[0];
  const char* module = reinterpret_cast<const char*>(input + 2);
  const size_t length = size - 2;

  // The classifier's end points just past a final result code in the text; the text form stops
  // at the first zero byte and agrees with the sized form on that part.
  size_t end = 0;
  if (AtProtocolIsResponseLength(module, length, &end) != kTlAtResultUnknown) {
    Check(end >= 4 && end <= length && (module[end - 1] == '\n' || module[end - 1] == ':'),
          "end offset just after a final result code");
  }
  const std::string text(module, length);
  size_t text_end = 0;
  Check(AtProtocolIsResponse(text.c_str(), &text_end) ==
            AtProtocolIsResponseLength(text.c_str(), strlen(text.c_str()), &end),
        "text and sized classification agree");

  unsolicited.clear();
  unsolicited_calls = 0;
  if ((input[1] & 2) != 0) {
    // What the receive thread hands over goes to the listener piece by piece, each a text of its
    // own (cut at a zero byte).
    TlDeviceCallback* callback = fake_device::ReceiveCallback();
    Check(callback != nullptr, "the channel takes the received bytes");
    std::string expected;
    int pieces = 0;
    for (size_t at = 0; at < length; at += piece == 0 ? length : piece, ++pieces) {
      const size_t count = piece == 0 ? length : std::min(piece, length - at);
      callback(0, kTlResultSuccess, module + at, count);
      expected += std::string(module + at, count).c_str();
    }
    if ((input[1] & 4) != 0) {
      callback(0, kTlResultDeviceErrorCouldNotReadFromDevice, nullptr, 0);
      ++pieces;
    }
    Check(unsolicited_calls == pieces, "one listener call per piece");
    Check(unsolicited == expected, "listener gets the bytes as they came");
    return 0;
  }

  fake_device::Load(input + 2, length, piece);
  const bool no_response = (input[1] & 1) != 0;
  const char* command = no_response ? "AT+CFUN=1" : "AT*EEVINFO=99";
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  const TlResult result =
      no_response ? TlAtSendNoResponse(0, command) : TlAtSend(0, command, 0, &at_result);
  std::string held;
  const TlAtResultCode expected_code = Replay(module, piece, &held, &end);
  Check(fake_device::Sent() == std::string(command) + "\r\n", "command line sent");
  Check(fake_device::LockDepth() == 0, "device lock released");
  if (expected_code == kTlAtResultUnknown) {
    Check(fake_device::Consumed() == length, "reads until nothing more arrives");
    Check(result == kTlResultGeneralErrorOperationTimedOut, "no final result code times out");
    Check(at_result.data == nullptr, "no text handed out on failure");
    return 0;
  }
  Check(result == kTlResultSuccess, "final result code completes the command");
  if (no_response) return 0;
  Check(at_result.result_code == expected_code, "final result code as classified");
  Check(at_result.data != nullptr && held == at_result.data, "response text is the bytes read");
  // Bytes after the final result code go to the listener as one message.
  const std::string after = held.substr(end);
  Check(unsolicited_calls == (after.empty() ? 0 : 1), "one listener call for the text after");
  Check(unsolicited == after, "listener gets the text after the code");
  TlAtReleaseAtResult(&at_result);
  return 0;
}
