// Benchmark: how long the program takes to write out the carried update container and load it
// as the update engine does. Built with the project, not run by ctest.
//
//   update_container_bench [DIRECTORY] [ROUNDS]
//
// Prints the median and worst time of each step over ROUNDS rounds (default 20) in DIRECTORY
// (default: a fresh directory under /tmp).
#include <apr_dso.h>
#include <apr_general.h>
#include <apr_pools.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "update_container/include/carried_container.h"
#include "update_container/include/update_container.h"
#include "updater/src/actions/posix/handle_resources.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("%-28s median %8.2f ms   worst %8.2f ms\n", what, times[times.size() / 2],
              times.back());
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  if (argc > 1) {
    dir = argv[1];
  } else {
    char pattern[] = "/tmp/tarvik-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    dir = pattern;
  }
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  if (chdir(dir.c_str()) != 0) {
    std::perror(dir.c_str());
    return 1;
  }
  apr_initialize();
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);

  const char* name = "libupdate_container.dll";
  std::vector<double> extract, load, total;
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    if (!ExtractResource(name)) {
      std::fprintf(stderr, "ExtractResource failed\n");
      return 1;
    }
    const Clock::time_point written = Clock::now();
    apr_dso_handle_t* dso = nullptr;
    apr_dso_handle_sym_t symbol = nullptr;
    if (apr_dso_load(&dso, "./libupdate_container.dll", pool) != APR_SUCCESS ||
        apr_dso_sym(&symbol, dso, "UcGetApiVersion") != APR_SUCCESS) {
      std::fprintf(stderr, "loading the container failed\n");
      return 1;
    }
    UcVersion version{0, 0};
    reinterpret_cast<UcGetApiVersionFunction>(symbol)(&version);
    const Clock::time_point loaded = Clock::now();
    apr_dso_unload(dso);
    DeleteResource(name);
    extract.push_back(Milliseconds(written - start));
    load.push_back(Milliseconds(loaded - written));
    total.push_back(Milliseconds(loaded - start));
  }
  std::printf("carried container: %zu bytes, %d rounds in %s\n",
              binary_libupdate_container_dll_size, rounds, dir.c_str());
  Print("ExtractResource", extract);
  Print("apr_dso_load + first call", load);
  Print("extract and load", total);
  apr_pool_destroy(pool);
  apr_terminate();
  if (argc <= 1) rmdir(dir.c_str());
  return 0;
}
