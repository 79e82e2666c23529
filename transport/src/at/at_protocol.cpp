#include "transport/src/at/at_protocol.h"

#include <string.h>

namespace {

const char kSender[] = "TL:At";

struct FinalResultPattern {
  const char* text;
  size_t length;
  TlAtResultCode code;
};

#define PATTERN(text, code) \
  { text, sizeof(text) - 1, code }

// Searched in this order; the first pattern found anywhere decides, so a success code wins over
// an error code in the same text.
const FinalResultPattern kPatterns[] = {
    PATTERN("OK\r\n", kTlAtResultOk),
    PATTERN("\r\nCONNECT\r\n", kTlAtResultOk),
    PATTERN("\r\nERROR\r\n", kTlAtResultError),
    PATTERN("\r\n+CME ERROR:", kTlAtResultError),
    PATTERN("\r\n+CMS ERROR:", kTlAtResultError),
    PATTERN("\r\nNO CARRIER\r\n", kTlAtResultError),
    PATTERN("\r\nCERR:", kTlAtResultError),
    PATTERN(", ERR\r\n", kTlAtResultError),
};

#undef PATTERN

}  // namespace

extern "C" {

TlAtResultCode AtProtocolIsResponseLength(const char* data, size_t size,
                                          size_t* response_end_offset) {
  TlLogDebug(kSender, ">>>>IsResponse(data size %d)", static_cast<int>(size));
  if (data == nullptr || size == 0) {
    TlLogDebug(kSender, "No data, return 0");
    return kTlAtResultUnknown;
  }
  for (const auto& pattern : kPatterns) {
    const void* found = memmem(data, size, pattern.text, pattern.length);
    if (found == nullptr) continue;
    if (response_end_offset != nullptr) {
      *response_end_offset =
          static_cast<size_t>(static_cast<const char*>(found) - data) + pattern.length;
    }
    TlLogDebug(kSender, "%s",
               pattern.code == kTlAtResultOk ? "<<<<IsResponse() = IsSuccess"
                                             : "<<<<IsResponse() = IsError");
    return pattern.code;
  }
  TlLogDebug(kSender, "<<<<IsResponse() = NoResponse");
  return kTlAtResultUnknown;
}

TlAtResultCode AtProtocolIsResponse(const char* data, size_t* response_end_offset) {
  return AtProtocolIsResponseLength(data, data == nullptr ? 0 : strlen(data), response_end_offset);
}

}  // extern "C"
