#include "common/src/common_functions.h"

#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_pools.h>
#include <string.h>

namespace {

// A pool for the length of one call.
class ScopedPool {
 public:
  ScopedPool() {
    if (apr_pool_create(&pool_, nullptr) != APR_SUCCESS) pool_ = nullptr;
  }
  ~ScopedPool() {
    if (pool_ != nullptr) apr_pool_destroy(pool_);
  }
  ScopedPool(const ScopedPool&) = delete;
  ScopedPool& operator=(const ScopedPool&) = delete;

  apr_pool_t* get() const { return pool_; }

 private:
  apr_pool_t* pool_ = nullptr;
};

// An open file, closed on every path out of the call.
class ScopedFile {
 public:
  ScopedFile(const char* path, apr_int32_t flags, apr_pool_t* pool)
      : status_(apr_file_open(&file_, path, flags, APR_FPROT_OS_DEFAULT, pool)) {
    if (status_ != APR_SUCCESS) file_ = nullptr;
  }
  ~ScopedFile() {
    if (file_ != nullptr) apr_file_close(file_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  bool ok() const { return file_ != nullptr; }
  apr_file_t* get() const { return file_; }

 private:
  apr_file_t* file_ = nullptr;
  apr_status_t status_;
};

}  // namespace

extern "C" {

bool CommonGetFileContents(const char* file_path, char* buffer, size_t size) {
  if (file_path == nullptr || buffer == nullptr || size == 0) return false;
  ScopedPool pool;
  if (pool.get() == nullptr) return false;
  ScopedFile file(file_path, APR_FOPEN_READ, pool.get());
  if (!file.ok()) return false;
  apr_size_t bytes = size;
  return apr_file_read(file.get(), buffer, &bytes) == APR_SUCCESS;
}

bool CommonAppendToFile(const char* file_path, const char* buffer) {
  if (file_path == nullptr || buffer == nullptr) return false;
  const apr_size_t length = strlen(buffer);
  ScopedPool pool;
  if (pool.get() == nullptr) return false;
  ScopedFile file(file_path, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_APPEND, pool.get());
  if (!file.ok()) return false;
  // A short write would leave a cut text behind and still look like success.
  apr_size_t written = 0;
  return apr_file_write_full(file.get(), buffer, length, &written) == APR_SUCCESS;
}

bool CommonIsDirectory(const char* path) {
  if (path == nullptr) return false;
  ScopedPool pool;
  if (pool.get() == nullptr) return false;
  apr_finfo_t info{};
  return apr_stat(&info, path, APR_FINFO_NORM, pool.get()) == APR_SUCCESS &&
         info.filetype == APR_DIR;
}

bool CommonFileExist(const char* file_path) {
  if (file_path == nullptr) return false;
  ScopedPool pool;
  if (pool.get() == nullptr) return false;
  apr_finfo_t info{};
  const apr_status_t status = apr_stat(&info, file_path, APR_FINFO_NORM, pool.get());
  if (status != APR_SUCCESS && status != APR_INCOMPLETE) return false;
  return info.valid != 0 && (info.filetype == APR_REG || info.filetype == APR_LNK);
}

bool CommonTrimString(char* destination, const char* source, const char* char_list, size_t size) {
  if (destination == nullptr || source == nullptr || char_list == nullptr || size == 0) {
    return false;
  }
  const size_t length = strlen(source);
  size_t start = 0;
  while (start < length && strchr(char_list, source[start]) != nullptr) ++start;
  size_t end = length;  // one past the last kept character
  while (end > start && strchr(char_list, source[end - 1]) != nullptr) --end;
  size_t count = end - start;
  if (count > size - 1) count = size - 1;
  memmove(destination, source + start, count);
  destination[count] = '\0';
  return true;
}

}  // extern "C"
