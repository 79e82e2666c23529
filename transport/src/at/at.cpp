#include "transport/src/at/at.h"

#include <apr_pools.h>
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "transport/src/at/at_protocol.h"

namespace {

const char kSender[] = "TL:At";
// Growth step of the response buffer.
const size_t kAtReceiveBufferSize = 1024;
// Seconds per read while reading a response away.
const unsigned int kDeviceAtReceiveTimeout = 5;
// A module that keeps talking without ever sending a final result code must not hold the command
// (and the device lock) for ever: a response ends within this many bytes, zero bytes included.
const size_t kAtMaxResponseSize = 1024 * 1024;
// Length of the longest final result pattern ("\r\nNO CARRIER\r\n").
const size_t kAtLongestPattern = 14;

enum AtIntAtMode { kAtIntAtModeAt = 0, kAtIntAtModeDm = 1, kAtIntAtModeNone = 2 };

// Listeners of one handle. A close clears them under the device manager's internal lock, not the
// device lock, so the slots have a lock of their own, which a delivery holds while it calls the
// listeners: each listener gets the client data it was registered with, and once a clear returns
// no listener it removed is still running.
struct AtIntDeviceTracker {
  std::mutex slots_lock;
  TlAtCallback* at_callbacks[kTlAtMaxCallbacks];
  const void* at_callbacks_client_data[kTlAtMaxCallbacks];
  int at_callbacks_count;
  // Echo has been switched off on this handle.
  std::atomic<bool> is_initialized;
};

AtIntDeviceTracker device_tracker[kTlDeviceMaxDevices];
apr_pool_t* memory_pool = nullptr;

TlResult CheckHandle(TlDeviceHandle handle) {
  if (handle >= kTlDeviceMaxDevices) {
    TlLogError(kSender, "Invalid device handle %u.", handle);
    return kTlResultDeviceErrorInvalidHandle;
  }
  return TlIsInitialized();
}

// Empties the slots; the caller holds the slots' lock.
void ClearSlots(AtIntDeviceTracker& tracker, bool log) {
  for (unsigned index = 0; index < kTlAtMaxCallbacks; ++index) {
    if (log && tracker.at_callbacks[index] != nullptr) {
      TlLogInfo(kSender, "Clear callback details at index: %u", index);
    }
    tracker.at_callbacks[index] = nullptr;
    tracker.at_callbacks_client_data[index] = nullptr;
  }
  tracker.at_callbacks_count = 0;
}

int ListenerCount(AtIntDeviceTracker& tracker) {
  std::lock_guard<std::mutex> lock(tracker.slots_lock);
  return tracker.at_callbacks_count;
}

// Gives every listener of the handle its own zero-terminated copy of the bytes; the caller holds
// the slots' lock.
TlResult AtIntSendCallbackMessage(TlResult result, TlDeviceHandle handle, const char* data,
                                  size_t size) {
  AtIntDeviceTracker& tracker = device_tracker[handle];
  TlLogDebug(kSender, "Sending response to %d listener(s)", tracker.at_callbacks_count);
  for (unsigned index = 0; index < kTlAtMaxCallbacks; ++index) {
    TlAtCallback* callback = tracker.at_callbacks[index];
    if (callback == nullptr) continue;
    const void* client_data = tracker.at_callbacks_client_data[index];
    char* copy = static_cast<char*>(malloc(size + 1));
    if (copy == nullptr) {
      TlLogError(kSender, "Failed to allocate memory for AtResult data");
      return kTlResultGeneralErrorMemory;
    }
    if (size > 0) memcpy(copy, data, size);
    copy[size] = '\0';
    TlAtResult at_result = {kTlAtResultUnknown, copy};
    callback(result, handle, &at_result, client_data);
  }
  TlLogDebug(kSender, "Responses sent");
  return kTlResultSuccess;
}

TlResult AtIntDeviceData(TlDeviceHandle handle, TlResult result, const char* data, size_t size) {
  TlLogDebug(kSender, ">>>>DeviceDataCallback(device %d, result %d, size %d)",
             static_cast<int>(handle), static_cast<int>(result), static_cast<int>(size));
  if (handle >= kTlDeviceMaxDevices) return kTlResultDeviceErrorInvalidHandle;
  std::lock_guard<std::mutex> lock(device_tracker[handle].slots_lock);
  TlResult delivered = kTlResultSuccess;
  if (result == kTlResultGeneralErrorDeviceNotOpen) {
    TlLogDebug(kSender, "Notification of device %d being closed. Re-sending to listeners",
               static_cast<int>(handle));
    delivered = AtIntSendCallbackMessage(result, handle, "", 0);
    TlLogDebug(kSender, "Destroying device tracker attached to device %d",
               static_cast<int>(handle));
    TlLogDebug(kSender, ">>>>AtIntDeviceClose(device %d)", static_cast<int>(handle));
    AtIntDeviceTracker& tracker = device_tracker[handle];
    ClearSlots(tracker, false);
    // The module echoes again after it comes back.
    tracker.is_initialized.store(false);
    TlLogDebug(kSender, "<<<<AtIntDeviceClose(device %d)", static_cast<int>(handle));
  } else if (result == kTlResultSuccess) {
    TlLogTrace(kSender, "DATA(%d bytes)[[[[%.*s]]]]", static_cast<int>(size),
               static_cast<int>(size), data != nullptr ? data : "");
    delivered = AtIntSendCallbackMessage(result, handle, data, data != nullptr ? size : 0);
  } else {
    delivered = AtIntSendCallbackMessage(result, handle, "", 0);
  }
  TlLogDebug(kSender, "<<<<DeviceDataCallback()");
  return delivered;
}

// The AT owner's receive callback of the device manager.
void AtIntDeviceDataCallback(TlDeviceHandle handle, TlResult result, const char* data,
                             size_t size) {
  AtIntDeviceData(handle, result, data, size);
}

AtIntAtMode GetAtMode(TlDeviceHandle handle) {
  TlLogDebug(kSender, ">>>>GetAtMode(device %d)", static_cast<int>(handle));
  AtIntAtMode mode = kAtIntAtModeNone;
  TlDeviceOwner owner = kTlDeviceOwnerInvalid;
  if (TlDeviceGetOwner(handle, &owner) != kTlResultSuccess) {
    TlLogError(kSender, "Failed to get AT mode");
  } else if (owner == kTlDeviceOwnerAt) {
    TlLogDebug(kSender, "The device is in proper AT mode");
    mode = kAtIntAtModeAt;
  } else if (owner == kTlDeviceOwnerDebugMux) {
    TlLogDebug(kSender, "The device is in DM mode");
    mode = kAtIntAtModeDm;
  } else {
    TlLogDebug(kSender, "The device is in a non-AT-enabled mode");
  }
  static const char* const kModeNames[] = {"kAtModeAt", "kAtModeDm", "kAtModeNone"};
  TlLogDebug(kSender, "<<<<GetAtMode(device %d) = %s", static_cast<int>(handle), kModeNames[mode]);
  return mode;
}

// Mode check and device lock, the common start of both sends.
TlResult AtIntTakeDevice(TlDeviceHandle handle) {
  switch (GetAtMode(handle)) {
    case kAtIntAtModeDm:
      TlLogError(kSender, "DebugMux AT mode not supported.");
      return kTlResultAtErrorDeviceNotInAtMode;
    case kAtIntAtModeNone:
      TlLogError(kSender, "Device %d is not in an AT compatible mode.", static_cast<int>(handle));
      return kTlResultAtErrorDeviceNotInAtMode;
    case kAtIntAtModeAt:
      break;
  }
  TlLogDebug(kSender, "Device %d is in regular AT mode.", static_cast<int>(handle));
  // Without the lock the exchange could interleave with the receive thread or another command;
  // a device closed meanwhile fails here.
  return TlDeviceLock(handle);
}

int ReadTimeout(unsigned int timeout) {
  if (timeout == kTlAtTimeoutInfinite) return -1;
  return timeout > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(timeout);
}

TlResult AtIntReceiveAtResponse(TlDeviceHandle handle, int timeout, TlAtResult* at_result) {
  TlLogDebug(kSender, "Receiving data from device");
  char* buffer = nullptr;
  size_t held = 0;
  size_t capacity = 0;  // without the terminating zero
  size_t received = 0;  // every byte read, the dropped zero bytes too
  size_t end = 0;
  do {
    if (received == kAtMaxResponseSize) {
      TlLogError(kSender, "No final result code within %u bytes.",
                 static_cast<unsigned>(kAtMaxResponseSize));
      TlAtReleaseAtResult(at_result);
      return kTlResultGeneralErrorMemory;
    }
    if (capacity - held < kAtReceiveBufferSize) {
      char* grown = static_cast<char*>(realloc(buffer, held + kAtReceiveBufferSize + 1));
      if (grown == nullptr) {
        TlAtReleaseAtResult(at_result);
        TlLogError(kSender, "Could not allocate more memory.");
        return kTlResultGeneralErrorMemory;
      }
      buffer = grown;
      capacity = held + kAtReceiveBufferSize;
      at_result->data = buffer;
    }
    size_t count = 0;
    const TlResult result =
        TlDeviceReceive(handle, reinterpret_cast<unsigned char*>(buffer + held),
                        std::min(capacity - held, kAtMaxResponseSize - received), timeout, &count);
    if (result != kTlResultSuccess) {
      TlAtReleaseAtResult(at_result);
      TlLogError(kSender, "Failed to read from device.");
      return result;
    }
    received += count;
    // A zero byte is never part of an answer; kept, it would end the response text early and
    // hide the final result code from everyone who reads the text.
    count = static_cast<size_t>(std::remove(buffer + held, buffer + held + count, '\0') -
                                (buffer + held));
    // No final result code lay in the text held so far, so one can only end in the new bytes:
    // searching from just before them gives the same answer as searching the whole text.
    const size_t start = held > kAtLongestPattern ? held - kAtLongestPattern : 0;
    held += count;
    buffer[held] = '\0';
    TlLogTrace(kSender, "DATA(%d bytes)[[[[%s]]]]", static_cast<int>(held), buffer);
    at_result->result_code = AtProtocolIsResponseLength(buffer + start, held - start, &end);
    end += start;
  } while (at_result->result_code == kTlAtResultUnknown);

  TlLogDebug(kSender, "Complete response received, length %d.", static_cast<int>(end));
  if (held > end) {
    TlLogDebug(kSender, "We have received more bytes (%d) then we should.",
               static_cast<int>(held - end));
    // Text after the final result code was not part of the answer: it is unsolicited.
    if (ListenerCount(device_tracker[handle]) > 0 &&
        AtIntDeviceData(handle, kTlResultSuccess, buffer + end, held - end) ==
            kTlResultGeneralErrorMemory) {
      TlLogError(kSender, "Failed to allocate memory for unsolicitied response.");
      TlAtReleaseAtResult(at_result);
      return kTlResultGeneralErrorMemory;
    }
  }
  return kTlResultSuccess;
}

TlResult AtIntReadAndDiscard(TlDeviceHandle handle) {
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  const TlResult result =
      AtIntReceiveAtResponse(handle, static_cast<int>(kDeviceAtReceiveTimeout), &at_result);
  if (result == kTlResultSuccess) TlLogDebug(kSender, "Discarded: %s", at_result.data);
  TlAtReleaseAtResult(&at_result);
  return result;
}

TlResult AtIntSendBytes(TlDeviceHandle handle, const std::string& bytes) {
  return TlDeviceSend(handle, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// Switches echo off on the first use of a handle; the device lock is held.
TlResult AtIntDeviceInit(TlDeviceHandle handle) {
  AtIntDeviceTracker& tracker = device_tracker[handle];
  if (tracker.is_initialized.load()) return kTlResultSuccess;
  TlLogDebug(kSender, ">>>>AtIntDeviceInit(device %d)", static_cast<int>(handle));
  TlDeviceClearBuffers(handle);
  TlLogDebug(kSender, "Sending echo off command to device");
  TlResult result = AtIntSendBytes(handle, "ATE0\r\n");
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "DeviceSend terminated with error %d", static_cast<int>(result));
    return result;
  }
  result = AtIntReadAndDiscard(handle);
  if (result != kTlResultSuccess) return result;
  tracker.is_initialized.store(true);
  TlLogDebug(kSender, "<<<<AtIntDeviceInit()");
  return kTlResultSuccess;
}

// Echo off if needed, drain, send the command line; the device lock is held.
TlResult AtIntSendCommand(TlDeviceHandle handle, const char* command) {
  TlResult result = AtIntDeviceInit(handle);
  if (result != kTlResultSuccess) return result;
  const std::string line = std::string(command) + "\r\n";
  // Whatever is still waiting belongs to no command; it is dropped, also for the listeners.
  TlDeviceClearBuffers(handle);
  TlLogDebug(kSender, "Sending command, \"%s\", to device %d.", command, static_cast<int>(handle));
  result = AtIntSendBytes(handle, line);
  if (result == kTlResultSuccess) TlLogDebug(kSender, "Device send returned OK");
  return result;
}

}  // namespace

extern "C" {

TlResult TlAtSend(TlDeviceHandle handle, const char* command, unsigned int timeout,
                  TlAtResult* at_result) {
  TlLogDebug(kSender, ">>>>TlAtSend(device %d, command %s, timeout %d", static_cast<int>(handle),
             command != nullptr ? command : "", static_cast<int>(timeout));
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  if (command == nullptr || at_result == nullptr) return kTlResultGeneralErrorInvalidParameter;
  at_result->result_code = kTlAtResultUnknown;
  at_result->data = nullptr;

  TlResult result = AtIntTakeDevice(handle);
  if (result != kTlResultSuccess) return result;
  result = AtIntSendCommand(handle, command);
  if (result == kTlResultSuccess) {
    result = AtIntReceiveAtResponse(handle, ReadTimeout(timeout), at_result);
  }
  TlDeviceUnlock(handle);
  TlLogDebug(kSender, "<<<<TlAtSend()");
  return result;
}

TlResult TlAtSendNoResponse(TlDeviceHandle handle, const char* command) {
  TlLogDebug(kSender, ">>>>TlAtSendNoResponse(device %d, command %s)", static_cast<int>(handle),
             command != nullptr ? command : "");
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  if (command == nullptr) return kTlResultGeneralErrorInvalidParameter;

  TlResult result = AtIntTakeDevice(handle);
  if (result != kTlResultSuccess) return result;
  result = AtIntSendCommand(handle, command);
  if (result == kTlResultSuccess) result = AtIntReadAndDiscard(handle);
  TlDeviceUnlock(handle);
  TlLogDebug(kSender, "<<<<TlAtSendNoResponse()");
  return result;
}

TlResult TlAtReleaseAtResult(TlAtResult* at_result) {
  if (at_result == nullptr) return kTlResultGeneralErrorInvalidParameter;
  free(at_result->data);
  at_result->data = nullptr;
  return kTlResultSuccess;
}

TlResult TlAtRegisterCallback(TlDeviceHandle handle, TlAtCallback* callback,
                              const void* client_data) {
  TlLogDebug(kSender, ">>>>TlAtRegisterCallback for device %d", static_cast<int>(handle));
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  if (callback == nullptr) return kTlResultGeneralErrorInvalidParameter;
  TlResult result = TlDeviceLock(handle);
  if (result != kTlResultSuccess) return result;

  AtIntDeviceTracker& tracker = device_tracker[handle];
  std::unique_lock<std::mutex> slots(tracker.slots_lock);
  if (tracker.at_callbacks_count < static_cast<int>(kTlAtMaxCallbacks)) {
    TlLogDebug(kSender, "Adding TlAtCallback to internal list");
    for (auto index = 0u; index < kTlAtMaxCallbacks; ++index) {
      if (tracker.at_callbacks[index] != nullptr) continue;
      tracker.at_callbacks_client_data[index] = client_data;
      tracker.at_callbacks[index] = callback;
      break;
    }
    const int count = ++tracker.at_callbacks_count;
    slots.unlock();
    TlLogDebug(kSender, "Current TlAtCallback count for device: %d", count);
    result = TlDeviceRegisterCallback(handle, kTlDeviceOwnerAt, AtIntDeviceDataCallback);
    TlLogDebug(kSender, "<<<<TlAtRegisterCallback for device %d", static_cast<int>(handle));
  } else {
    TlLogError(kSender, "No more TlAtCallbacks allowed for device!");
    result = kTlResultAtErrorMaximumCallbacksExceeded;
  }
  TlDeviceUnlock(handle);
  return result;
}

TlResult TlAtUnregisterCallback(TlDeviceHandle handle, TlAtCallback* callback) {
  TlLogDebug(kSender, ">>>>TlAtUnregisterCallback for device %d", static_cast<int>(handle));
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  TlResult result = TlDeviceLock(handle);
  if (result != kTlResultSuccess) return result;

  AtIntDeviceTracker& tracker = device_tracker[handle];
  std::unique_lock<std::mutex> slots(tracker.slots_lock);
  unsigned index = 0;
  while (index < kTlAtMaxCallbacks &&
         (callback == nullptr || tracker.at_callbacks[index] != callback)) {
    ++index;
  }
  if (index == kTlAtMaxCallbacks) {
    slots.unlock();
    result = kTlResultAtErrorNoSuchCallbackRegistered;
  } else {
    TlLogDebug(kSender, "Removing TlAtCallback from internal list");
    tracker.at_callbacks[index] = nullptr;
    tracker.at_callbacks_client_data[index] = nullptr;
    const int count = --tracker.at_callbacks_count;
    slots.unlock();
    TlLogDebug(kSender, "Current TlAtCallback count for device: %d", count);
    if (count == 0) result = TlDeviceRegisterCallback(handle, kTlDeviceOwnerAt, nullptr);
  }
  TlLogDebug(kSender, "<<<<TlAtUnregisterCallback for device %d", static_cast<int>(handle));
  TlDeviceUnlock(handle);
  return result;
}

TlResult AtClearCallbacksForHandle(TlDeviceHandle handle) {
  TlLogDebug(kSender, ">>>>TlAtClearCallbacksForHandle for device %d", static_cast<int>(handle));
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  {
    // Waits for a delivery in progress: its listeners may be about to lose their client data.
    std::lock_guard<std::mutex> lock(device_tracker[handle].slots_lock);
    ClearSlots(device_tracker[handle], true);
  }
  TlLogDebug(kSender, "<<<<TlAtClearCallbacksForHandle");
  return kTlResultSuccess;
}

void AtForgetEcho(TlDeviceHandle handle) {
  if (handle < kTlDeviceMaxDevices) device_tracker[handle].is_initialized.store(false);
}

TlResult AtInitialize(void) {
  if (memory_pool == nullptr &&
      apr_pool_create_ex(&memory_pool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
    memory_pool = nullptr;
    return kTlResultGeneralErrorMemory;
  }
  for (auto& tracker : device_tracker) {
    std::lock_guard<std::mutex> lock(tracker.slots_lock);
    ClearSlots(tracker, false);
    tracker.is_initialized.store(false);
  }
  return kTlResultSuccess;
}

TlResult AtTerminate(void) {
  if (TlIsInitialized() != kTlResultSuccess) return kTlResultGeneralErrorNotInitialized;
  if (memory_pool != nullptr) {
    apr_pool_destroy(memory_pool);
    memory_pool = nullptr;
  }
  return kTlResultSuccess;
}

}  // extern "C"
