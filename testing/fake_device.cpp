#include "testing/fake_device.h"

#include <string.h>

#include <algorithm>
#include <deque>

namespace fake_device {
namespace {

std::deque<std::string> pieces;
size_t offset = 0;  // into pieces.front()
size_t position = 0;
size_t chunk_limit = 0;
std::string sent;
std::vector<size_t> reads;
std::vector<int> timeouts;
bool unlocked_io = false;
TlDeviceOwner owner = kTlDeviceOwnerAt;
int lock_depth = 0;
TlDeviceCallback* receive_callback = nullptr;
Responder responder;
TlResult send_result = kTlResultSuccess;
TlResult lock_result = kTlResultSuccess;

}  // namespace

void Reset() {
  Load(nullptr, 0, 0);
  owner = kTlDeviceOwnerAt;
  lock_depth = 0;
  responder = nullptr;
  send_result = kTlResultSuccess;
  lock_result = kTlResultSuccess;
}

void Load(const unsigned char* stream, size_t size, size_t chunk) {
  pieces.clear();
  if (size > 0) pieces.emplace_back(reinterpret_cast<const char*>(stream), size);
  offset = 0;
  position = 0;
  chunk_limit = chunk;
  sent.clear();
  reads.clear();
  timeouts.clear();
  unlocked_io = false;
}

void LoadPieces(const std::vector<std::string>& new_pieces) {
  Load(nullptr, 0, 0);
  for (const std::string& piece : new_pieces) {
    if (!piece.empty()) pieces.push_back(piece);
  }
}
void SetResponder(Responder new_responder) {
  responder = std::move(new_responder);
}
void SetSendResult(TlResult result) {
  send_result = result;
}
void SetLockResult(TlResult result) {
  lock_result = result;
}
size_t Consumed() {
  return position;
}
const std::vector<size_t>& Reads() {
  return reads;
}
const std::vector<int>& ReadTimeouts() {
  return timeouts;
}
const std::string& Sent() {
  return sent;
}
bool UnlockedIo() {
  return unlocked_io;
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

TlResult __wrap_TlDeviceReceive(TlDeviceHandle, unsigned char* data, size_t size, int timeout,
                                size_t* number_of_read_bytes) {
  *number_of_read_bytes = 0;
  timeouts.push_back(timeout);
  unlocked_io = unlocked_io || lock_depth == 0;
  if (pieces.empty()) return kTlResultGeneralErrorOperationTimedOut;
  const std::string& piece = pieces.front();
  size_t count = std::min(size, piece.size() - offset);
  if (chunk_limit != 0) count = std::min(count, chunk_limit);
  if (count > 0) memcpy(data, piece.data() + offset, count);
  offset += count;
  if (offset == piece.size()) {
    pieces.pop_front();
    offset = 0;
  }
  if (count == 0) return kTlResultGeneralErrorOperationTimedOut;
  position += count;
  reads.push_back(count);
  *number_of_read_bytes = count;
  return kTlResultSuccess;
}

TlResult __wrap_TlDeviceSend(TlDeviceHandle, const unsigned char* data, size_t size) {
  unlocked_io = unlocked_io || lock_depth == 0;
  if (send_result != kTlResultSuccess) return send_result;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  sent += bytes;
  if (responder) {
    for (const std::string& piece : responder(bytes)) pieces.push_back(piece);
  }
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
  if (lock_result != kTlResultSuccess) return lock_result;
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
