// The command interface's option parsing and command lookup against any argument vector. The run
// happens in a scratch working directory with an empty device map, so that no module is ever
// found or opened: a known command word ends at the device search, and files named by -d stay in
// the scratch directory (input words with a '/' are skipped).
//
// Input: the argument words after the program name, separated by zero bytes.

#include <apr_file_io.h>
#include <apr_general.h>
#include <apr_getopt.h>
#include <apr_pools.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "kvo.h"
#include "testing/fuzz.h"
#include "updater/src/commands.h"
#include "updater/src/quarn.h"

namespace {

const size_t kMaxWords = 64;
std::string scratch;
apr_file_t* null_stream = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = tarvik_fuzz::ScratchDir("options_fuzz");
  if (mkdir((scratch + "/map").c_str(), 0700) != 0) abort();
  setenv("TARVIK_DEVICE_MAP", (scratch + "/map").c_str(), 1);
  if (chdir(scratch.c_str()) != 0) abort();

  apr_initialize();
  if (KvoInitialize() != kKvoResultSuccess) abort();
  if (apr_pool_create(&quarn_pool, nullptr) != APR_SUCCESS) abort();
  if (apr_file_open(&null_stream, "/dev/null", APR_FOPEN_WRITE, APR_FPROT_OS_DEFAULT, quarn_pool) !=
      APR_SUCCESS) {
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  std::vector<std::string> words = {"dralmoor"};
  const std::string text(reinterpret_cast<const char*>(input), size);
  for (const std::string& word : tarvik_fuzz::SplitAt(text, '\0')) {
    if (words.size() == kMaxWords) break;
    if (word.find('/') != std::string::npos) return 0;
    words.push_back(word);
  }

  // The vector as the start-up hands it over: no null end entry, argc bounds it.
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());

  apr_pool_t* pool = nullptr;
  if (apr_pool_create(&pool, quarn_pool) != APR_SUCCESS) abort();
  apr_getopt_t* options = nullptr;
  if (apr_getopt_init(&options, pool, static_cast<int>(argv.size()), argv.data()) != APR_SUCCESS) {
    abort();
  }
  options->errfn = nullptr;  // apr_getopt's own complaints would go to stderr

  quarn_quiet = false;
  quarn_stdout = null_stream;
  memset(&device_open_parameters, 0, sizeof device_open_parameters);
  const int result = CommandInterface(options);
  // Nothing can be opened here, so no command may have run.
  if (result == kQuarnResultSuccess) {
    bool help = false;
    for (size_t i = 1; i < words.size(); ++i) help |= words[i].size() >= 2 && words[i][0] == '-';
    if (!help) {
      fprintf(stderr, "a command ran without a device\n");
      abort();
    }
  }

  // Back to the start state: no log file, default log masks, no report file.
  KvoSetLogFile("");
  KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
  apr_pool_destroy(pool);
  // Log and report files the run left.
  tarvik_fuzz::ClearDir(scratch, "map");
  return 0;
}
