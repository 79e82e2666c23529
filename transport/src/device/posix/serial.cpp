#include "transport/src/device/posix/serial.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char kSender[] = "TL:Device";
const char kDefaultDeviceMap[] = "/dev/serial/by-id";

// A port that accepts no byte at all for this many one-second waits is given up, so that a module
// that stopped reading cannot hang a send for ever.
const int kMaxStalledWrites = 10;
const int kWriteWaitMs = 1000;

// Operating-system handles by descriptor; -1 is an empty slot, slot 0 is never handed out. The
// slots are atomic because the receive thread of one device reads its slot while another device
// is opened or closed.
std::atomic<int> handles[kDeviceSerialMaxDescriptors];
std::atomic<bool> handles_initialized{false};

void InitializeHandles() {
  if (handles_initialized.load()) return;
  for (auto& slot : handles) slot.store(-1);
  handles_initialized.store(true);
}

int HandleOf(int file_descriptor) {
  if (file_descriptor < 1 || file_descriptor >= kDeviceSerialMaxDescriptors) return -1;
  if (!handles_initialized.load()) return -1;
  return handles[file_descriptor].load();
}

std::string ErrorText(int error) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? text : "";
}

void CopyCut(char* destination, size_t capacity, const std::string& source) {
  const size_t length = std::min(source.size(), capacity - 1);
  memcpy(destination, source.data(), length);
  destination[length] = '\0';
}

std::string DeviceMapDirectory() {
  const char* value = getenv("TARVIK_DEVICE_MAP");
  return value != nullptr && value[0] != '\0' ? value : kDefaultDeviceMap;
}

// Joins a relative link target to the map directory and folds "." and ".." lexically, so that
// the listed name is the plain path of the port (no further links are followed).
std::string ResolveTarget(const std::string& directory, const std::string& target) {
  const std::string joined = target[0] == '/' ? target : directory + "/" + target;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const auto& part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

bool IsCandidate(const std::string& lower_name) {
  return lower_name.find("mdm") != std::string::npos ||
         lower_name.find("usbser") != std::string::npos ||
         lower_name.find("mgmt") != std::string::npos;
}

bool BaudToSpeed(TlDeviceBaud baud, speed_t* speed) {
  static const struct {
    TlDeviceBaud baud;
    speed_t speed;
  } kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

TlResult FailOpen(int os_handle) {
  close(os_handle);
  return kTlResultDeviceErrorCouldNotOpenDevice;
}

TlResult RefuseOpen(const char* name, int error) {
  TlLogError(kSender, "Could not open %s.", name);
  TlLogError(kSender, "ErrorFlags %d, GetLastError %d", 0, error);
  if (error == EBUSY || error == EWOULDBLOCK) {
    TlLogError(kSender, "%s is in use by another program or handle.", name);
  }
  return kTlResultDeviceErrorCouldNotOpenDevice;
}

}  // namespace

extern "C" {

TlResult TlLocDeviceSerialGetList(TlLocDeviceItem** list, size_t* length) {
  if (list == nullptr || length == nullptr) return kTlResultGeneralErrorInvalidParameter;
  *list = nullptr;
  *length = 0;

  const std::string directory = DeviceMapDirectory();
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    TlLogError(kSender, "Unable to open register key for serialcomm\n");
    return kTlResultSuccess;
  }
  // The order of the list is the ascending order of the link names.
  std::vector<std::string> names;
  while (const struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '\0') names.push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());

  TlLocDeviceItem* rows = nullptr;
  size_t count = 0;
  for (const auto& name : names) {
    const std::string path = directory + "/" + name;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) continue;
    char target[4096];
    const ssize_t target_length = readlink(path.c_str(), target, sizeof target - 1);
    if (target_length <= 0) {
      TlLogError(kSender, "0 based index = %d, reg_value = %d, ValueLen = %d\n",
                 static_cast<int>(count), errno, static_cast<int>(name.size()));
      continue;
    }
    target[target_length] = '\0';

    std::string lower = name;
    for (auto& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (!IsCandidate(lower)) continue;

    auto* grown =
        static_cast<TlLocDeviceItem*>(realloc(rows, (count + 1) * sizeof(TlLocDeviceItem)));
    if (grown == nullptr) {
      free(rows);
      TlLogError(kSender, "Could not allocate memory!");
      return kTlResultGeneralErrorMemory;
    }
    rows = grown;
    TlLocDeviceItem& row = rows[count];
    CopyCut(row.unique_identifier, sizeof row.unique_identifier, lower);
    CopyCut(row.device_name, sizeof row.device_name, ResolveTarget(directory, target));
    TlLogDebug(kSender, "Found serial port: %s using identifier: %s", row.device_name,
               row.unique_identifier);
    ++count;
  }
  *list = rows;
  *length = count;
  return kTlResultSuccess;
}

TlResult TlLocDeviceSerialReleaseList(TlLocDeviceItem* list) {
  free(list);
  return kTlResultSuccess;
}

TlResult TlLocDeviceSerialOpen(char (*device_name)[64], TlDeviceBaud baud, int* file_descriptor) {
  if (device_name == nullptr || file_descriptor == nullptr) {
    return kTlResultGeneralErrorInvalidParameter;
  }
  InitializeHandles();
  char name[64];
  CopyCut(name, sizeof name, std::string(*device_name, strnlen(*device_name, sizeof name)));

  // Opened without waiting for a carrier; reads and writes wait through poll() with bounds.
  const int os_handle = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (os_handle < 0) return RefuseOpen(name, errno);
  // The port is not shared: a second holder (another update, a modem prober, a second handle)
  // would take the module's answers or write into an exchange. The lock goes with the close.
  if (flock(os_handle, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(os_handle);
    return RefuseOpen(name, error);
  }
  struct termios settings;
  if (tcgetattr(os_handle, &settings) != 0) {
    TlLogError(kSender, "Error retrieving serial port settings for device %s.", name);
    return FailOpen(os_handle);
  }
  speed_t speed;
  if (!BaudToSpeed(baud, &speed)) {
    TlLogError(kSender, "Error setting serial settings for device %s.", name);
    return FailOpen(os_handle);
  }
  cfmakeraw(&settings);
  settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0 ||
      tcsetattr(os_handle, TCSANOW, &settings) != 0) {
    TlLogError(kSender, "Error setting serial settings for device %s.", name);
    return FailOpen(os_handle);
  }
  // Assert DTR and RTS where the device has modem lines; a pseudo-terminal refuses this.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(os_handle, TIOCMBIS, &lines);

  // Drop whatever the port held from before: a stale answer must not be taken for a new one.
  (void)tcflush(os_handle, TCIOFLUSH);

  int descriptor = -1;
  for (int index = 1; index < kDeviceSerialMaxDescriptors; ++index) {
    if (handles[index].load() < 0) {
      descriptor = index;
      break;
    }
  }
  if (descriptor < 0) {
    TlLogError(kSender, "No free file descriptor for device %s.", name);
    return FailOpen(os_handle);
  }
  // Also refuse openers that do not ask for the lock; undone on close.
  (void)ioctl(os_handle, TIOCEXCL);
  handles[descriptor].store(os_handle);
  *file_descriptor = descriptor;
  (void)tcdrain(os_handle);
  return kTlResultSuccess;
}

TlResult TlLocDeviceSerialClose(int file_descriptor) {
  TlLogDebug(kSender, "Closing file descriptor %d.", file_descriptor);
  const int os_handle = HandleOf(file_descriptor);
  if (os_handle < 0) return kTlResultSuccess;
  TlLogDebug(kSender, "File descriptor is valid, will close file descriptor %d.", file_descriptor);
  (void)ioctl(os_handle, TIOCNXCL);
  // Discarding pending output first keeps close() from waiting for a module that reads nothing.
  (void)tcflush(os_handle, TCIOFLUSH);
  close(os_handle);
  handles[file_descriptor].store(-1);
  return kTlResultSuccess;
}

TlResult TlLocDeviceSerialGetUniqueIdentifier(char (*device_name)[64],
                                              TlDeviceUniqueIdentifier* unique_identifier) {
  if (device_name == nullptr || unique_identifier == nullptr) return kTlResultSuccess;
  TlLocDeviceItem* list = nullptr;
  size_t length = 0;
  if (TlLocDeviceSerialGetList(&list, &length) != kTlResultSuccess) return kTlResultSuccess;
  for (size_t index = 0; index < length; ++index) {
    if (strncmp(list[index].device_name, *device_name, sizeof(TlDeviceName)) == 0) {
      CopyCut(*unique_identifier, sizeof(TlDeviceUniqueIdentifier), list[index].unique_identifier);
      break;
    }
  }
  TlLocDeviceSerialReleaseList(list);
  return kTlResultSuccess;
}

TlResult TlLocDeviceSerialSend(int file_descriptor, const unsigned char* data, size_t size) {
  if (size == 0) return kTlResultSuccess;
  const int os_handle = HandleOf(file_descriptor);
  if (os_handle < 0 || data == nullptr) {
    TlLogError(kSender, "Failed to write to file descriptor %d.", file_descriptor);
    return kTlResultDeviceErrorCouldNotWriteToDevice;
  }
  size_t written = 0;
  int stalled = 0;
  while (written < size) {
    const ssize_t n = write(os_handle, data + written, size - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      stalled = 0;
      continue;
    }
    const int error = n < 0 ? errno : EAGAIN;
    if (error == EINTR) continue;
    if (error == EAGAIN) {
      struct pollfd wait = {os_handle, POLLOUT, 0};
      const int ready = poll(&wait, 1, kWriteWaitMs);
      if (ready > 0 && (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) continue;
      if (ready == 0 || (ready < 0 && errno == EINTR)) {
        if (++stalled < kMaxStalledWrites) continue;
        TlLogError(kSender, "ErrorFlags %d, GetLastError %d: %s", 0, ETIMEDOUT,
                   ErrorText(ETIMEDOUT).c_str());
        TlLogError(kSender, "Failed to write to file descriptor %d.", file_descriptor);
        return kTlResultDeviceErrorCouldNotWriteToDevice;
      }
      const int poll_error = ready < 0 ? errno : EIO;
      TlLogError(kSender, "ErrorFlags %d, GetLastError %d: %s", 0, poll_error,
                 ErrorText(poll_error).c_str());
      TlLogError(kSender, "Failed to write to file descriptor %d.", file_descriptor);
      return kTlResultDeviceErrorCouldNotWriteToDevice;
    }
    TlLogError(kSender, "ErrorFlags %d, GetLastError %d: %s", 0, error, ErrorText(error).c_str());
    TlLogError(kSender, "Failed to write to file descriptor %d.", file_descriptor);
    return kTlResultDeviceErrorCouldNotWriteToDevice;
  }
  return kTlResultSuccess;
}

TlResult TlLocDeviceSerialReceive(int file_descriptor, unsigned char* data, size_t size,
                                  int timeout, size_t* number_of_read_bytes) {
  if (number_of_read_bytes != nullptr) *number_of_read_bytes = 0;
  TlLogDebug(kSender, ">>>> TlLocDeviceSerialReceive()");
  const int os_handle = HandleOf(file_descriptor);
  if (os_handle < 0) {
    TlLogError(kSender,
               "File descriptor is invalid, read operation can not continue on file "
               "descriptor %d.",
               file_descriptor);
    return kTlResultDeviceErrorCouldNotReadFromDevice;
  }
  TlLogDebug(kSender, "Doing read on file descriptor %d with timeout = %d", file_descriptor,
             timeout);
  if (timeout < -1) {
    TlLogError(kSender, "TlLocDeviceSerialReceive - Invalid timeout specified: %d.", timeout);
    return kTlResultGeneralErrorInvalidParameter;
  }
  if (data == nullptr || number_of_read_bytes == nullptr || size == 0) {
    return kTlResultGeneralErrorInvalidParameter;
  }

  const bool unlimited = timeout == -1;
  int64_t budget_ms = static_cast<int64_t>(timeout) * 1000;
  for (;;) {
    struct pollfd wait = {os_handle, POLLIN, 0};
    const int ready = poll(&wait, 1, kDeviceSerialReadTimeoutMs);
    int error = 0;
    if (ready > 0 && (wait.revents & POLLIN) != 0) {
      // Data that came before a hang-up is still delivered; the hang-up shows on the next read.
      const ssize_t n = read(os_handle, data, size);
      if (n > 0) {
        TlLogTrace(kSender, "TlLocDeviceSerialReceive - received %u bytes.",
                   static_cast<unsigned>(n));
        *number_of_read_bytes = static_cast<size_t>(n);
        TlLogDebug(kSender, "<<<< TlLocDeviceSerialReceive() - Success.");
        return kTlResultSuccess;
      }
      // End of file on a readable port means the other side has gone.
      error = n == 0 ? EIO : errno;
    } else if (ready > 0) {
      error = (wait.revents & POLLNVAL) != 0 ? EBADF : EIO;
    } else if (ready < 0) {
      error = errno;
    }

    if (error != 0 && error != EINTR && error != EAGAIN) {
      TlLogError(kSender, "ErrorFlags %d, GetLastError %d: %s", 0, error, ErrorText(error).c_str());
      TlLogError(kSender, "Failed to read to file descriptor %d.", file_descriptor);
      return kTlResultDeviceErrorCouldNotReadFromDevice;
    }
    if (unlimited) continue;
    budget_ms -= kDeviceSerialReadTimeoutMs;
    if (budget_ms <= 0) {
      TlLogDebug(kSender, "<<<< TlLocDeviceSerialReceive() - Timeout.");
      return kTlResultGeneralErrorOperationTimedOut;
    }
  }
}

}  // extern "C"
