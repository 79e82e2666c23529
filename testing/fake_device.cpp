#include "testing/fake_device.h"

#include <string.h>

#include <algorithm>

namespace fake_device {
namespace {

std::string stream_bytes;
size_t position = 0;
size_t piece = 0;
std::string sent;
std::vector<size_t> reads;
std::vector<size_t> piece_ends;  // stream offsets no read crosses
TlDeviceOwner owner = kTlDeviceOwnerAt;
int lock_depth = 0;
TlDeviceCallback* receive_callback = nullptr;

}  // namespace

void Load(const unsigned char* stream, size_t size, size_t chunk) {
  stream_bytes.assign(reinterpret_cast<const char*>(stream), size);
  position = 0;
  piece = chunk;
  sent.clear();
  reads.clear();
  piece_ends.clear();
}

void LoadPieces(const std::vector<std::string>& pieces) {
  std::string joined;
  std::vector<size_t> ends;
  for (const std::string& piece_bytes : pieces) {
    joined += piece_bytes;
    ends.push_back(joined.size());
  }
  Load(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), 0);
  piece_ends = ends;
}

size_t Consumed() {
  return position;
}
const std::vector<size_t>& Reads() {
  return reads;
}
const std::string& Sent() {
  return sent;
}
void SetOwner(TlDeviceOwner new_owner) {
  owner = new_owner;
}
TlDeviceOwner Owner() {
  return owner;
}
int LockDepth() {
  return lock_depth;
}
TlDeviceCallback* ReceiveCallback() {
  return receive_callback;
}

}  // namespace fake_device

using namespace fake_device;

extern "C" {

TlResult __wrap_TlDeviceReceive(TlDeviceHandle, unsigned char* data, size_t size, int,
                                size_t* number_of_read_bytes) {
  *number_of_read_bytes = 0;
  size_t count = std::min(size, stream_bytes.size() - position);
  if (piece != 0) count = std::min(count, piece);
  const auto end = std::upper_bound(piece_ends.begin(), piece_ends.end(), position);
  if (end != piece_ends.end()) count = std::min(count, *end - position);
  if (count == 0) return kTlResultGeneralErrorOperationTimedOut;
  memcpy(data, stream_bytes.data() + position, count);
  position += count;
  reads.push_back(count);
  *number_of_read_bytes = count;
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceSend(TlDeviceHandle, const unsigned char* data, size_t size) {
  sent.append(reinterpret_cast<const char*>(data), size);
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceClearBuffers(TlDeviceHandle) {
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceRegisterCallback(TlDeviceHandle, TlDeviceOwner,
                                         TlDeviceCallback* callback) {
  receive_callback = callback;
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceLock(TlDeviceHandle) {
  ++lock_depth;
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceUnlock(TlDeviceHandle) {
  --lock_depth;
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceGetOwner(TlDeviceHandle, TlDeviceOwner* current) {
  *current = owner;
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceSetOwner(TlDeviceHandle, TlDeviceOwner new_owner) {
  owner = new_owner;
  return kTlResultSuccess;
}

}  // extern "C"
