#include "updater/tests/support/frontend_support.h"

#include <apr_pools.h>
#include <gtest/gtest.h>

#include "updater/src/quarn.h"

namespace frontend_test {

ConsoleCapture::ConsoleCapture() : path_(dir_.File("console")) {
  if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
  saved_ = quarn_stdout;
  if (apr_file_open(&file_, path_.c_str(), APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE,
                    APR_OS_DEFAULT, quarn_pool) != APR_SUCCESS) {
    ADD_FAILURE() << "cannot open " << path_;
    file_ = nullptr;
  }
  quarn_stdout = file_;
}

ConsoleCapture::~ConsoleCapture() {
  quarn_stdout = saved_;
  if (file_ != nullptr) apr_file_close(file_);
}

std::string ConsoleCapture::Text() const {
  return tarvik_test::ReadFile(path_);
}

}  // namespace frontend_test
