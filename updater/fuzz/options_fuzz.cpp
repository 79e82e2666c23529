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
#include <dirent.h>
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
#include "updater/src/commands.h"
#include "updater/src/quarn.h"

namespace {

const size_t kMaxWords = 64;
std::string scratch;
apr_file_t* null_stream = nullptr;

// Removes every file the run left in the scratch directory (log and report files).
void ClearScratch() {
  DIR* dir = opendir(scratch.c_str());
  if (dir == nullptr) return;
  while (const struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "map") continue;
    const std::string path = scratch + "/" + name;
    if (unlink(path.c_str()) != 0) rmdir(path.c_str());
  }
  closedir(dir);
}

void RemoveScratch() {
  ClearScratch();
  rmdir((scratch + "/map").c_str());
  rmdir(scratch.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/options_fuzz.XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  scratch = pattern;
  if (mkdir((scratch + "/map").c_str(), 0700) != 0) abort();
  atexit(RemoveScratch);
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
  size_t start = 0;
  for (size_t i = 0; i <= size && words.size() < kMaxWords; ++i) {
    if (i < size && input[i] != '\0') continue;
    std::string word(reinterpret_cast<const char*>(input + start), i - start);
    start = i + 1;
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
  ClearScratch();
  return 0;
}
