// AT round trip against the simulated module with the receive thread running: the time from
// TlAtSend to its return for a few hundred commands, median and 99th percentile.
//
//   transport_at_round_trip_bench [commands] [command]

#include <apr_general.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "transport/src/at/at.h"
#include "transport/src/device/device.h"

namespace {

double Percentile(const std::vector<double>& sorted, double fraction) {
  const size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

int Run(int commands, const char* command) {
  char pattern[] = "/tmp/tl-bench-map-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string map_dir = pattern;
  setenv("TARVIK_DEVICE_MAP", map_dir.c_str(), 1);

  tarvik_sim::Module module;
  tarvik_sim::ModuleOptions options;
  options.map_dir = map_dir;
  std::string error;
  if (!module.Start(tarvik_sim::DefaultProfile(), options, &error)) {
    fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  if (TlInitialize() != kTlResultSuccess) return 1;
  TlDeviceOpenParameters parameters = {};
  module.AtPortPath().copy(parameters.device_name, sizeof parameters.device_name - 1);
  parameters.baud = 115200;
  TlDeviceHandle handle = 0;
  if (TlDeviceOpen(&parameters, &handle) != kTlResultSuccess) return 1;

  // The first command also switches echo off; it is not measured.
  TlAtResult at_result = {kTlAtResultUnknown, nullptr};
  TlAtSend(handle, command, 5, &at_result);
  TlAtReleaseAtResult(&at_result);

  std::vector<double> times_ms;
  int failures = 0;
  for (int index = 0; index < commands; ++index) {
    const auto start = std::chrono::steady_clock::now();
    const TlResult result = TlAtSend(handle, command, 5, &at_result);
    const auto end = std::chrono::steady_clock::now();
    if (result != kTlResultSuccess || at_result.result_code != kTlAtResultOk) ++failures;
    TlAtReleaseAtResult(&at_result);
    times_ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  TlDeviceClose(handle);
  TlTerminate();
  module.Stop();
  std::filesystem::remove_all(map_dir);

  std::sort(times_ms.begin(), times_ms.end());
  printf("AT round trip, %d x \"%s\", receive thread active\n", commands, command);
  printf("  median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms, failures %d\n",
         Percentile(times_ms, 0.5), Percentile(times_ms, 0.99), times_ms.front(), times_ms.back(),
         failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int commands = argc > 1 ? atoi(argv[1]) : 300;
  const char* command = argc > 2 ? argv[2] : "AT+CIMI";
  if (commands < 1) return 2;
  apr_initialize();
  const int result = Run(commands, command);
  apr_terminate();
  return result;
}
