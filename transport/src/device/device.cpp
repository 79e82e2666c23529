#include "transport/src/device/device.h"

#include <apr_pools.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>
#include <apr_time.h>
#include <string.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "common/src/wait_seam.h"
#include "transport/src/at/at.h"
#include "transport/src/device/posix/serial.h"

namespace {

const char kSender[] = "TL:Device";
const size_t kReceiveBufferSize = 4096;
const int kCallbackSlots = kTlDeviceOwnerInvalid;
const apr_interval_time_t kSecond = apr_time_from_sec(1);

// A binary lock that any thread may give back: the device is released on behalf of whoever holds
// it when a row is closed, which a pthread mutex does not allow. It lives as long as the device
// module, not as long as a row, so that a thread still waiting for it when its row closes wakes
// up to a valid object and sees that the row has gone.
struct BinaryLock {
  apr_thread_mutex_t* mutex = nullptr;
  apr_thread_cond_t* cond = nullptr;
  bool held = false;

  void Take() {
    apr_thread_mutex_lock(mutex);
    while (held) apr_thread_cond_wait(cond, mutex);
    held = true;
    apr_thread_mutex_unlock(mutex);
  }
  void Give() {
    apr_thread_mutex_lock(mutex);
    held = false;
    apr_thread_cond_signal(cond);
    apr_thread_mutex_unlock(mutex);
  }
  void Reset() {
    apr_thread_mutex_lock(mutex);
    held = false;
    apr_thread_cond_broadcast(cond);
    apr_thread_mutex_unlock(mutex);
  }
};

// One row of the device table. Fields read by the receive thread or without the internal lock
// are atomic. `thread` is only touched under the internal lock; `thread_alive` tells whether the
// receive thread still runs (it clears it when it ends after a port failure).
struct TlLocDevice {
  TlDeviceName device_name;
  TlDeviceBaud baud;
  std::atomic<int> owner;
  TlDeviceUniqueIdentifier unique_identifier;
  std::atomic<int> file_descriptor;
  apr_pool_t* memory_pool;
  apr_thread_t* thread;
  std::atomic<bool> thread_alive;
  std::atomic<bool> has_lock;
  std::atomic<bool> to_be_closed;
  std::atomic<TlDeviceCallback*> callbacks[kCallbackSlots];
  // Counts releases, so that a wait for the lock that outlived the row is recognised.
  std::atomic<uint32_t> generation;
};

TlLocDevice devices[kTlDeviceMaxDevices];
BinaryLock device_locks[kTlDeviceMaxDevices];
std::atomic<bool> initialized{false};
apr_thread_mutex_t* device_lock = nullptr;
apr_pool_t* device_memory_pool = nullptr;

void DeviceLockInternal() {
  TlLogInfo(kSender, "Locking internal lock.");
  apr_thread_mutex_lock(device_lock);
  TlLogInfo(kSender, "Locked internal lock.");
}

void DeviceUnlockInternal() {
  TlLogInfo(kSender, "Unlocking internal lock.");
  apr_thread_mutex_unlock(device_lock);
  TlLogInfo(kSender, "Unlocked internal lock.");
}

// Holds the internal lock for a scope.
class InternalLock {
 public:
  InternalLock() { DeviceLockInternal(); }
  ~InternalLock() { DeviceUnlockInternal(); }
  InternalLock(const InternalLock&) = delete;
  InternalLock& operator=(const InternalLock&) = delete;
};

TlResult CheckHandle(TlDeviceHandle handle) {
  if (!initialized.load()) {
    TlLogError(kSender, "Device module is not initialized.");
    return kTlResultGeneralErrorNotInitialized;
  }
  if (handle >= kTlDeviceMaxDevices) {
    TlLogError(kSender, "Could not find a device with handle %u.", handle);
    return kTlResultDeviceErrorInvalidHandle;
  }
  return kTlResultSuccess;
}

void CopyName(char* destination, size_t capacity, const char* source) {
  const size_t length = strnlen(source, capacity - 1);
  memcpy(destination, source, length);
  destination[length] = '\0';
}

void SetRowFree(TlLocDevice& row) {
  row.owner.store(kTlDeviceOwnerInvalid);
  row.baud = 0;
  row.device_name[0] = '\0';
  row.unique_identifier[0] = '\0';
}

// Returns a row to free; the internal lock is held (or the module is stopping).
TlResult DeviceReleaseHandle(TlDeviceHandle handle) {
  if (handle >= kTlDeviceMaxDevices) return kTlResultDeviceErrorInvalidHandle;
  TlLocDevice& row = devices[handle];
  // The handle number goes to the next open, whoever makes it: no listener of this user may be
  // called for that one (a failed reopen, a dead receive thread, a close all end here).
  if (row.owner.load() != kTlDeviceOwnerInvalid) AtClearCallbacksForHandle(handle);
  AtForgetEcho(handle);
  SetRowFree(row);
  row.generation.fetch_add(1);
  if (row.thread != nullptr) {
    TlLogDebug(kSender, "Closing thread for device %d.", static_cast<int>(handle));
    row.to_be_closed.store(true);
    // Whoever holds the lock, the receive thread must get it to see its stop flag.
    device_locks[handle].Give();
    apr_status_t thread_result = APR_SUCCESS;
    apr_thread_join(&thread_result, row.thread);
  }
  row.thread = nullptr;
  row.thread_alive.store(false);
  row.to_be_closed.store(false);
  if (row.file_descriptor.load() > 0) {
    TlLogDebug(kSender, "Closing file descriptor for device %d.", static_cast<int>(handle));
    TlLocDeviceSerialClose(row.file_descriptor.load());
  }
  row.file_descriptor.store(-1);
  if (row.has_lock.load()) {
    TlLogDebug(kSender, "Destroying lock for device %d.", static_cast<int>(handle));
    row.has_lock.store(false);
    // Wakes anyone still waiting; they find the row gone.
    device_locks[handle].Reset();
  }
  if (row.memory_pool != nullptr) {
    TlLogDebug(kSender, "Destroying memory pool for device %d.", static_cast<int>(handle));
    apr_pool_destroy(row.memory_pool);
    row.memory_pool = nullptr;
  }
  return kTlResultSuccess;
}

TlResult DeviceSendCRLF(TlDeviceHandle handle) {
  static const unsigned char kCrLf[] = {'\r', '\n'};
  TlLogDebug(kSender, "Sending CRLF to device %u.", handle);
  const TlResult result = TlDeviceSend(handle, kCrLf, sizeof kCrLf);
  if (result != kTlResultSuccess) TlLogError(kSender, "Unable to send CRLF to the device.");
  return result;
}

void DispatchToCallbacks(TlDeviceHandle handle, TlResult result, const char* data, size_t size) {
  TlLocDevice& row = devices[handle];
  for (auto& slot : row.callbacks) {
    TlDeviceCallback* callback = slot.load();
    if (callback != nullptr) callback(handle, result, data, size);
  }
}

void ReceiveLoop(TlDeviceHandle handle) {
  TlLocDevice& row = devices[handle];
  unsigned char buffer[kReceiveBufferSize];
  for (;;) {
    if (TlDeviceLock(handle) != kTlResultSuccess) return;
    if (row.to_be_closed.load()) {
      TlLogDebug(kSender, "[DeviceReceiveThread]: Device %u has closed while waiting for lock.",
                 handle);
      device_locks[handle].Give();
      return;
    }
    TlLogDebug(kSender, "[DeviceReceiveThread]: Doing a asynchronous read on device %u.", handle);
    size_t count = 0;
    const TlResult result =
        TlLocDeviceSerialReceive(row.file_descriptor.load(), buffer, sizeof buffer, 0, &count);
    if (row.to_be_closed.load()) {
      TlLogDebug(kSender, "[DeviceReceiveThread]: Device %u has closed while reading.", handle);
      device_locks[handle].Give();
      return;
    }
    if (result == kTlResultSuccess) {
      DispatchToCallbacks(handle, kTlResultSuccess, reinterpret_cast<const char*>(buffer), count);
    } else if (result != kTlResultGeneralErrorOperationTimedOut) {
      TlLogDebug(kSender, "[DeviceReceiveThread]: Device %u returned an error on read, will close.",
                 handle);
      DispatchToCallbacks(handle, kTlResultGeneralErrorDeviceNotOpen, nullptr, 0);
      TlLogDebug(kSender, "[DeviceReceiveThread]: Aborting asynch thread.");
      row.thread_alive.store(false);
      device_locks[handle].Give();
      return;
    }
    if (TlDeviceUnlock(handle) != kTlResultSuccess) return;
    CommonSleep(kSecond);
    TlLogDebug(kSender, "[DeviceReceiveThread]: DeviceReceiveThread sleeping");
    if (row.to_be_closed.load()) return;
  }
}

void* APR_THREAD_FUNC DeviceReceiveThread(apr_thread_t*, void* data) {
  const auto handle = static_cast<TlDeviceHandle>(reinterpret_cast<uintptr_t>(data));
  TlLogDebug(kSender, "Started DeviceReceiveThread for device %u.", handle);
  if (!devices[handle].to_be_closed.load()) ReceiveLoop(handle);
  devices[handle].thread_alive.store(false);
  TlLogDebug(kSender, "[DeviceReceiveThread]: Asynchronous thread for device %u exiting.", handle);
  return nullptr;
}

// Starts the receive thread of a row whose lock the caller holds.
TlResult StartReceiveThread(TlDeviceHandle handle) {
  TlLocDevice& row = devices[handle];
  row.to_be_closed.store(false);
  row.thread_alive.store(true);
  if (apr_thread_create(&row.thread, nullptr, DeviceReceiveThread,
                        reinterpret_cast<void*>(static_cast<uintptr_t>(handle)),
                        row.memory_pool) != APR_SUCCESS) {
    row.thread = nullptr;
    row.thread_alive.store(false);
    return kTlResultDeviceErrorCouldNotStartThread;
  }
  return kTlResultSuccess;
}

TlResult OpenPort(TlLocDevice& row, char (*name)[64]) {
  int descriptor = -1;
  const TlResult result = TlLocDeviceSerialOpen(name, row.baud, &descriptor);
  if (result == kTlResultSuccess) row.file_descriptor.store(descriptor);
  return result;
}

void ClosePort(TlLocDevice& row) {
  TlLocDeviceSerialClose(row.file_descriptor.load());
  row.file_descriptor.store(-1);
}

// Whether the port list still gives the row's port name the row's identity. After a restart a
// name is only a hint: the system may have handed it to another module. A row opened under an
// unlisted name has no identity to confirm.
bool NameKeepsIdentity(TlLocDevice& row) {
  if (row.unique_identifier[0] == '\0') return true;
  TlDeviceUniqueIdentifier listed = "";
  TlLocDeviceSerialGetUniqueIdentifier(&row.device_name, &listed);
  return strncmp(listed, row.unique_identifier, sizeof listed) == 0;
}

// The common part of both reopens; the internal lock is held.
TlResult Reopen(TlDeviceHandle handle, unsigned int timeout, unsigned int shut_down_seconds,
                bool by_identity) {
  TlLocDevice& row = devices[handle];
  if (row.owner.load() == kTlDeviceOwnerInvalid) {
    TlLogError(kSender, "Device is not valid, please open");
    return kTlResultGeneralErrorDeviceNotOpen;
  }
  const TlResult lock_result = TlDeviceLock(handle);
  if (lock_result != kTlResultSuccess) return lock_result;

  ClosePort(row);
  if (by_identity) {
    TlLogDebug(kSender,
               "Will wait %u seconds to give device %u time to shut down before trying to reopen.",
               shut_down_seconds, handle);
  } else {
    TlLogDebug(kSender,
               "Will wait 5 seconds to give device %u time to shut down before trying to reopen.",
               handle);
  }
  CommonSleep(apr_time_from_sec(shut_down_seconds));

  const bool has_identity = row.unique_identifier[0] != '\0';
  unsigned int attempts = 0;
  while (row.file_descriptor.load() < 0 && attempts < timeout) {
    TlLogDebug(kSender, "Will try to open %s.", row.device_name);
    bool opened = OpenPort(row, &row.device_name) == kTlResultSuccess;
    if (opened && !NameKeepsIdentity(row)) {
      TlLogDebug(kSender, "%s no longer belongs to the device with identifier %s.", row.device_name,
                 row.unique_identifier);
      ClosePort(row);
      opened = false;
    }
    if (!opened) {
      TlLogDebug(kSender,
                 "Failed to open device using old port name, will try to list available ports.");
      TlLocDeviceItem* list = nullptr;
      size_t length = 0;
      if (TlLocDeviceSerialGetList(&list, &length) != kTlResultSuccess) {
        TlLogDebug(kSender, "Unable to list devices, wait 1 sec and retry.");
        CommonSleep(kSecond);
        continue;
      }
      // By identity only the ports of the row's identity; by trying ports those first (when the
      // row has one), then every other.
      for (int pass = 0; pass < (by_identity ? 1 : 2) && row.file_descriptor.load() < 0; ++pass) {
        for (size_t index = 0; index < length; ++index) {
          TlLocDeviceItem& item = list[index];
          const bool same = strncmp(row.unique_identifier, item.unique_identifier,
                                    sizeof(TlDeviceUniqueIdentifier)) == 0;
          if (by_identity) {
            TlLogDebug(kSender, "Compare %s with %s.", row.unique_identifier,
                       item.unique_identifier);
            if (!same) continue;
            TlLogDebug(kSender, "Found device with same identifier, will try to open %s.",
                       item.device_name);
          } else {
            if (has_identity ? same != (pass == 0) : pass != 0) continue;
            TlLogDebug(kSender, "Found device, will try to open %s.", item.device_name);
          }
          if (OpenPort(row, &item.device_name) == kTlResultSuccess) {
            CopyName(row.device_name, sizeof row.device_name, item.device_name);
            break;
          }
        }
      }
      TlLocDeviceSerialReleaseList(list);
    }
    CommonSleep(kSecond);
    ++attempts;
    if (row.file_descriptor.load() >= 0) {
      TlLogDebug(kSender, "Waiting 3 seconds to allow device %u to settle.", handle);
      CommonSleep(3 * kSecond);
      if (DeviceSendCRLF(handle) == kTlResultSuccess) break;
      ClosePort(row);
      CommonSleep(kSecond);
    }
  }
  if (row.file_descriptor.load() < 0) {
    TlLogDebug(kSender, "Timeout while waiting for device %u to reappear.", handle);
    DeviceReleaseHandle(handle);
    return kTlResultGeneralErrorOperationTimedOut;
  }
  if (!row.thread_alive.load()) {
    // The old thread ended after the port failed; collect it before starting its successor.
    if (row.thread != nullptr) {
      apr_status_t thread_result = APR_SUCCESS;
      apr_thread_join(&thread_result, row.thread);
      row.thread = nullptr;
    }
    if (StartReceiveThread(handle) != kTlResultSuccess) {
      TlLogError(kSender, "Could not start asynchronous thread.");
      DeviceReleaseHandle(handle);
      return kTlResultDeviceErrorCouldNotStartThread;
    }
  }
  TlLogDebug(kSender, "Reopened device %s with handle %u.", row.device_name, handle);
  return TlDeviceUnlock(handle);
}

}  // namespace

extern "C" {

TlResult TlLocDeviceInitialize(void) {
  if (initialized.load()) return kTlResultSuccess;
  if (device_memory_pool == nullptr &&
      apr_pool_create_ex(&device_memory_pool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
    device_memory_pool = nullptr;
    TlLogError(kSender, "Could not allocate memory pool.");
    return kTlResultGeneralErrorMemory;
  }
  if (device_lock == nullptr && apr_thread_mutex_create(&device_lock, APR_THREAD_MUTEX_UNNESTED,
                                                        device_memory_pool) != APR_SUCCESS) {
    device_lock = nullptr;
    return kTlResultGeneralErrorCouldNotCreateMutex;
  }
  for (auto& lock : device_locks) {
    if (lock.mutex != nullptr) continue;
    if (apr_thread_mutex_create(&lock.mutex, APR_THREAD_MUTEX_UNNESTED, device_memory_pool) !=
            APR_SUCCESS ||
        apr_thread_cond_create(&lock.cond, device_memory_pool) != APR_SUCCESS) {
      lock.mutex = nullptr;
      lock.cond = nullptr;
      return kTlResultGeneralErrorCouldNotCreateMutex;
    }
    lock.held = false;
  }
  for (auto& row : devices) {
    SetRowFree(row);
    row.file_descriptor.store(-1);
    row.memory_pool = nullptr;
    row.thread = nullptr;
    row.thread_alive.store(false);
    row.has_lock.store(false);
    row.to_be_closed.store(false);
    for (auto& slot : row.callbacks) slot.store(nullptr);
  }
  initialized.store(true);
  return kTlResultSuccess;
}

TlResult TlLocDeviceTerminate(void) {
  initialized.store(false);
  if (device_memory_pool == nullptr) return kTlResultSuccess;
  for (TlDeviceHandle handle = 0; handle < kTlDeviceMaxDevices; ++handle) {
    DeviceReleaseHandle(handle);
  }
  // The pool owns the internal lock and every device lock.
  apr_pool_destroy(device_memory_pool);
  device_memory_pool = nullptr;
  device_lock = nullptr;
  for (auto& lock : device_locks) lock = BinaryLock();
  return kTlResultSuccess;
}

TlResult TlDeviceGetList(TlDeviceName** list, size_t* length) {
  if (list == nullptr || length == nullptr) return kTlResultGeneralErrorInvalidParameter;
  *list = nullptr;
  *length = 0;
  TlLocDeviceItem* items = nullptr;
  size_t count = 0;
  const TlResult result = TlLocDeviceSerialGetList(&items, &count);
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "Unable to list devices.");
    return result;
  }
  if (count > 0) {
    auto* names = static_cast<TlDeviceName*>(malloc(count * sizeof(TlDeviceName)));
    if (names == nullptr) {
      TlLocDeviceSerialReleaseList(items);
      TlLogError(kSender, "Unable to allocate memory.");
      return kTlResultGeneralErrorMemory;
    }
    for (size_t index = 0; index < count; ++index) {
      CopyName(names[index], sizeof(TlDeviceName), items[index].device_name);
    }
    *list = names;
    *length = count;
  }
  TlLocDeviceSerialReleaseList(items);
  return kTlResultSuccess;
}

TlResult TlDeviceReleaseList(TlDeviceName* list) {
  free(list);
  return kTlResultSuccess;
}

TlResult TlDeviceOpen(const TlDeviceOpenParameters* parameters, TlDeviceHandle* handle) {
  if (!initialized.load()) {
    TlLogError(kSender, "Device module is not initialized.");
    return kTlResultGeneralErrorNotInitialized;
  }
  if (parameters == nullptr || handle == nullptr) return kTlResultGeneralErrorInvalidParameter;
  InternalLock internal;

  TlDeviceHandle index = 0;
  while (index < kTlDeviceMaxDevices && devices[index].owner.load() != kTlDeviceOwnerInvalid) {
    ++index;
  }
  if (index == kTlDeviceMaxDevices) {
    TlLogError(kSender, "Failed to get a new device handle.");
    return kTlResultDeviceErrorOutOfHandles;
  }
  *handle = index;
  TlLocDevice& row = devices[index];
  BinaryLock& lock = device_locks[index];

  if (apr_pool_create_ex(&row.memory_pool, device_memory_pool, nullptr, nullptr) != APR_SUCCESS) {
    row.memory_pool = nullptr;
    TlLogError(kSender, "Could not allocate memory pool.");
    DeviceReleaseHandle(index);
    return kTlResultGeneralErrorMemory;
  }
  row.has_lock.store(true);

  // Held until the port is ready, so the receive thread cannot touch it before.
  TlLogInfo(kSender, "DeviceOpen: Lock");
  lock.Take();
  TlLogInfo(kSender, "DeviceOpen: Locked");

  char name[64];
  CopyName(name, sizeof name, parameters->device_name);
  row.baud = parameters->baud;
  const TlResult open_result = OpenPort(row, &name);
  if (open_result != kTlResultSuccess) {
    TlLogInfo(kSender, "DeviceOpen: Unlock");
    lock.Give();
    TlLogInfo(kSender, "DeviceOpen: Unlocked");
    TlLogError(kSender, "Failed to open device.");
    DeviceReleaseHandle(index);
    return open_result;
  }
  if (StartReceiveThread(index) != kTlResultSuccess) {
    TlLogInfo(kSender, "DeviceOpen: Unlock");
    lock.Give();
    TlLogInfo(kSender, "DeviceOpen: Unlocked");
    TlLogError(kSender, "Could not start asynchronous thread.");
    DeviceReleaseHandle(index);
    return kTlResultDeviceErrorCouldNotStartThread;
  }
  TlLocDeviceSerialGetUniqueIdentifier(&name, &row.unique_identifier);
  CopyName(row.device_name, sizeof row.device_name, name);
  row.owner.store(kTlDeviceOwnerAt);

  TlLogDebug(kSender, "Waiting for device %u to settle, sleeping for 1 second.", index);
  CommonSleep(kSecond);
  if (DeviceSendCRLF(index) != kTlResultSuccess) {
    DeviceReleaseHandle(index);
    return kTlResultDeviceErrorCouldNotOpenDevice;
  }
  TlLogDebug(kSender, "Opened device %s with handle %u.", row.device_name, index);
  TlLogInfo(kSender, "DeviceOpen: Unlock");
  lock.Give();
  TlLogInfo(kSender, "DeviceOpen: Unlocked");
  return kTlResultSuccess;
}

TlResult TlDeviceClose(TlDeviceHandle handle) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  InternalLock internal;
  TlLogDebug(kSender, "Closing device %u.", handle);
  return DeviceReleaseHandle(handle);
}

TlResult TlDeviceIsOpen(TlDeviceHandle handle) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  TlLocDevice& row = devices[handle];
  if (row.owner.load() == kTlDeviceOwnerInvalid) {
    TlLogError(kSender, "Device handle is invalid.");
    return kTlResultGeneralErrorDeviceNotOpen;
  }
  if (row.thread_alive.load()) return kTlResultSuccess;

  // Freeing the row changes the table: look again under the internal lock.
  InternalLock internal;
  if (row.owner.load() == kTlDeviceOwnerInvalid) {
    TlLogError(kSender, "Device handle is invalid.");
    return kTlResultGeneralErrorDeviceNotOpen;
  }
  if (row.thread_alive.load()) return kTlResultSuccess;
  TlLogError(kSender,
             "Device receive thread has closed but handle is not invalid. Will close handle %d..",
             static_cast<int>(handle));
  DeviceReleaseHandle(handle);
  return kTlResultDeviceErrorCouldNotStartThread;
}

TlResult TlDeviceSend(TlDeviceHandle handle, const unsigned char* data, size_t size) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  const TlResult result = TlLocDeviceSerialSend(devices[handle].file_descriptor.load(), data, size);
  if (result != kTlResultSuccess) {
    TlLogError(kSender, "Failed to send data to device with handle %u.", handle);
  }
  return result;
}

TlResult TlDeviceReceive(TlDeviceHandle handle, unsigned char* data, size_t size, int timeout,
                         size_t* number_of_read_bytes) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  TlLogDebug(kSender, "Doing a read on device %u.", handle);
  const TlResult result = TlLocDeviceSerialReceive(devices[handle].file_descriptor.load(), data,
                                                   size, timeout, number_of_read_bytes);
  if (result != kTlResultSuccess && result != kTlResultGeneralErrorOperationTimedOut) {
    TlLogError(kSender, "Failed to read data from device with handle %u.", handle);
  }
  return result;
}

TlResult TlDeviceClearBuffers(TlDeviceHandle handle) {
  unsigned char scratch[kReceiveBufferSize];
  size_t count = 0;
  return TlDeviceReceive(handle, scratch, sizeof scratch, 0, &count);
}

TlResult TlDeviceRegisterCallback(TlDeviceHandle handle, TlDeviceOwner owner,
                                  TlDeviceCallback* callback) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  if (static_cast<unsigned>(owner) >= static_cast<unsigned>(kCallbackSlots)) {
    TlLogError(kSender, "Cannot register a callback for owner %u of device %u.",
               static_cast<unsigned>(owner), handle);
    return kTlResultGeneralErrorInvalidParameter;
  }
  devices[handle].callbacks[owner].store(callback);
  return kTlResultSuccess;
}

TlResult TlDeviceLock(TlDeviceHandle handle) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  TlLocDevice& row = devices[handle];
  TlLogDebug(kSender, "Locking device %u.", handle);
  const uint32_t generation = row.generation.load();
  if (!row.has_lock.load()) {
    TlLogError(kSender, "Device %u has been closed while waiting for lock.", handle);
    return kTlResultDeviceErrorCouldNotOpenDevice;
  }
  device_locks[handle].Take();
  // The row may have been closed (and even opened again) while this thread waited.
  if (!row.has_lock.load() || row.owner.load() == kTlDeviceOwnerInvalid ||
      row.generation.load() != generation) {
    device_locks[handle].Give();
    TlLogError(kSender, "Device %u has been closed while waiting for lock.", handle);
    return kTlResultDeviceErrorCouldNotOpenDevice;
  }
  TlLogDebug(kSender, "Locked device %u.", handle);
  return kTlResultSuccess;
}

TlResult TlDeviceUnlock(TlDeviceHandle handle) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  TlLogDebug(kSender, "Unlocking device %u.", handle);
  if (!devices[handle].has_lock.load()) {
    TlLogError(kSender, "Device %u has been closed.", handle);
    return kTlResultDeviceErrorCouldNotOpenDevice;
  }
  device_locks[handle].Give();
  TlLogDebug(kSender, "Unlocked device %u.", handle);
  return kTlResultSuccess;
}

TlResult TlDeviceGetOwner(TlDeviceHandle handle, TlDeviceOwner* owner) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  if (owner == nullptr) return kTlResultGeneralErrorInvalidParameter;
  *owner = static_cast<TlDeviceOwner>(devices[handle].owner.load());
  TlLogDebug(kSender, "Owner of device %u is %u.", handle, static_cast<unsigned>(*owner));
  return kTlResultSuccess;
}

TlResult TlDeviceSetOwner(TlDeviceHandle handle, TlDeviceOwner owner) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  // Only a release may make a row free; an owner of "invalid" would orphan its port and thread.
  if (static_cast<unsigned>(owner) >= static_cast<unsigned>(kTlDeviceOwnerInvalid)) {
    return kTlResultGeneralErrorInvalidParameter;
  }
  TlLocDevice& row = devices[handle];
  int expected = row.owner.load();
  do {
    if (expected == kTlDeviceOwnerInvalid) return kTlResultGeneralErrorDeviceNotOpen;
  } while (!row.owner.compare_exchange_weak(expected, owner));
  TlLogDebug(kSender, "Owner of device %u has changed to %u.", handle,
             static_cast<unsigned>(owner));
  return kTlResultSuccess;
}

TlResult TlDeviceReopen(TlDeviceHandle handle, unsigned int timeout,
                        unsigned int reopen_after_seconds) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  TlLogInfo(kSender, ">>>> TlDeviceReopen: device_handle = %u, timeout = %u", handle, timeout);
  InternalLock internal;
  return Reopen(handle, timeout, reopen_after_seconds, true);
}

TlResult TlDeviceReOpenByhandle(TlDeviceHandle handle, unsigned int timeout) {
  const TlResult check = CheckHandle(handle);
  if (check != kTlResultSuccess) return check;
  InternalLock internal;
  TlLogDebug(kSender, "Closing device %u.", handle);
  AtClearCallbacksForHandle(handle);
  TlLogInfo(kSender, ">>>> TlDeviceReOpenByHandle: device_handle = %u, timeout = %u", handle,
            timeout);
  return Reopen(handle, timeout, 5, false);
}

}  // extern "C"
