#ifndef UPDATER_TESTS_SUPPORT_FRONTEND_SUPPORT_H_
#define UPDATER_TESTS_SUPPORT_FRONTEND_SUPPORT_H_

// The front end's console stream redirected into a file, for tests that run the front end in
// process.

#include <apr_file_io.h>

#include <string>

#include "testing/files.h"

namespace frontend_test {

// Sends the front end's console stream into a file for the lifetime of the object; creates the
// process pool when there is none yet.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  // Everything written so far.
  std::string Text() const;

 private:
  tarvik_test::TempDir dir_;
  std::string path_;
  apr_file_t* saved_ = nullptr;
  apr_file_t* file_ = nullptr;
};

}  // namespace frontend_test

#endif  // UPDATER_TESTS_SUPPORT_FRONTEND_SUPPORT_H_
