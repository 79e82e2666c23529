#ifndef TESTING_FAKE_DEVICE_H_
#define TESTING_FAKE_DEVICE_H_

// A module that exists only as a byte stream, for tests and fuzz targets of the AT channel and the
// transparent channel. An executable that links the target tarvik_fake_device gets -Wl,--wrap for
// the device manager's functions that those channels call, so that their reads take the stream
// instead of a port (the transport's own device manager is then out of reach in that executable).

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

#include "transport/src/device/device.h"

namespace fake_device {

// Back to the start: no stream, nothing sent, owner AT, lock free, no responder, sends and locks
// succeed.
void Reset();
// The next reads return `stream` in pieces of at most `chunk` bytes (0: no limit); once it is used
// up, a read times out with no bytes.
void Load(const unsigned char* stream, size_t size, size_t chunk);
// As Load without a chunk limit, but no read goes past the end of a piece: the channel reads the
// pieces as the module wrote them (empty pieces are left out).
void LoadPieces(const std::vector<std::string>& pieces);
// Called with the bytes of every send; the pieces it returns follow in the stream, as a module
// answers what it was sent. A piece is at most one read, an empty one a read that brings nothing.
using Responder = std::function<std::vector<std::string>(const std::string& written)>;
void SetResponder(Responder responder);
// Result of the sends from now on; a failing send writes nothing.
void SetSendResult(TlResult result);
// Result of taking the device lock from now on, as when the device closed meanwhile.
void SetLockResult(TlResult result);
// Bytes of the stream the channel has read so far.
size_t Consumed();
// The sizes of the reads that returned bytes since the last Load, in order.
const std::vector<size_t>& Reads();
// The time-out of every read since the last Load, in order, those that brought nothing included.
const std::vector<int>& ReadTimeouts();
// Everything the channel wrote since the last Load.
const std::string& Sent();
// True when a read or a send ran without the device lock since the last Load.
bool UnlockedIo();
void SetOwner(TlDeviceOwner owner);
TlDeviceOwner Owner();
// The receive callback the channel registered last (null: none).
TlDeviceCallback* ReceiveCallback();
// Device lock depth: every path out of a channel function must leave it at 0.
int LockDepth();

}  // namespace fake_device

#endif  // TESTING_FAKE_DEVICE_H_
