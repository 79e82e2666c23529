#ifndef TRANSPORT_SRC_AT_AT_PROTOCOL_H_
#define TRANSPORT_SRC_AT_AT_PROTOCOL_H_

// Recognising the final result code of an AT response.

#include <stddef.h>

#include "transport/src/at/at.h"

#ifdef __cplusplus
extern "C" {
#endif

// As AtProtocolIsResponse, for the first `size` bytes of data, which may hold zero bytes (a module
// may send them; they must not hide a final result code that follows).
TlAtResultCode AtProtocolIsResponseLength(const char* data, size_t size,
                                          size_t* response_end_offset);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_AT_AT_PROTOCOL_H_
