#include "updater/src/actions/posix/handle_resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "update_container/include/carried_container.h"

bool ResourceExist(const char* filename) {
  struct stat info;
  return filename != nullptr && lstat(filename, &info) == 0;
}

bool DeleteResource(const char* filename) {
  return filename != nullptr && unlink(filename) == 0;
}

namespace {

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool ExtractResource(const char* filename) {
  if (filename == nullptr || filename[0] == '\0') return false;
  // A link of that name is removed rather than written through; whether the old file could be
  // removed is decided by the create below.
  if (ResourceExist(filename)) DeleteResource(filename);
  // Created afresh and for the owner alone: a file that someone planted under this name after
  // the removal makes the create fail instead of being written into and loaded.
  const int fd =
      open(filename, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  const bool written =
      WriteAll(fd, binary_libupdate_container_dll_start, binary_libupdate_container_dll_size);
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    // A cut-off library must not be left for the loader.
    unlink(filename);
    return false;
  }
  return ResourceExist(filename);
}
