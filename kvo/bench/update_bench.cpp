// Benchmark of the firmware update (not a test: it measures, it does not judge).
//
//   build/bin/update_bench [--quick]
//
// 1. A whole update against the in-process simulated module with the carried container, once with
//    every fixed wait in full and once with the waits divided by 100. From the two the time spent
//    in fixed waits (settle pauses, the module restart, the update loop's waits) and the rest
//    (exchanges, transfers, identification) follow. --quick skips the full run.
// 2. Transparent-channel throughput: TlTcSend of an 8 MiB payload to a module that acknowledges
//    every datagram at once, against a raw write of the same bytes over the same pseudo-terminal.
// 3. Peak resident set and CPU time of the whole process.

#include <apr_general.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/src/wait_seam.h"
#include "kvo.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "transport/src/common/common.h"
#include "transport/src/device/device.h"
#include "transport/src/transparent_channel/transparent_channel.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// One whole update; returns the wall time in seconds, or a negative value on failure.
double WholeUpdate(int divisor) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("update-bench-" + std::to_string(getpid()));
  fs::create_directories(dir / "map");
  setenv("TARVIK_DEVICE_MAP", (dir / "map").c_str(), 1);
  CommonSetWaitDivisor(divisor);
  KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
  KvoSetLogTypesForFile(kKvoLogTypeMaskNone);

  tarvik_sim::Module module;
  tarvik_sim::ModuleOptions options;
  options.map_dir = (dir / "map").string();
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  // Module-side times stay the same in both runs.
  profile.install_ms = 3000;
  profile.restart_away_ms = 100;
  std::string error;
  double seconds = -1;
  if (!module.Start(profile, options, &error)) {
    fprintf(stderr, "simulator: %s\n", error.c_str());
  } else if (KvoInitialize() == kKvoResultSuccess) {
    const Clock::time_point start = Clock::now();
    KvoDeviceOpenParameters parameters = {};
    snprintf(parameters.device_name, sizeof parameters.device_name, "%s",
             module.AtPortPath().c_str());
    parameters.baud = 115200;
    KvoDeviceHandle handle = 0;
    KvoResult result = KvoDeviceOpen(&parameters, &handle);
    if (result == kKvoResultSuccess) {
      KvoUpdateRegisterCallback(handle, nullptr, nullptr);
      result = KvoUpdateStart(handle, TARVIK_LIB_DIR "/libupdate_container.dll");
    }
    if (result == kKvoResultSuccess)
      seconds = Seconds(start, Clock::now());
    else
      fprintf(stderr, "update ended with %d\n", result);
    KvoTerminate();
  }
  module.Stop();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  CommonSetWaitDivisor(1);
  return seconds;
}

// The module side of the channel for the throughput run: acknowledges each datagram at once and
// answers the last one; in raw mode it only counts bytes.
class Responder {
 public:
  explicit Responder(int master) : master_(master) {}
  void Start(bool channel) {
    channel_ = channel;
    received_ = 0;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    stop_ = true;
    thread_.join();
  }
  size_t Received() const { return received_; }

 private:
  void Run() {
    std::string pending;
    std::vector<char> buffer(1 << 17);
    while (!stop_) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = read(master_, buffer.data(), buffer.size());
      if (n <= 0) continue;
      received_ += static_cast<size_t>(n);
      if (!channel_) continue;
      pending.append(buffer.data(), static_cast<size_t>(n));
      while (pending.size() >= 10) {
        const size_t length =
            static_cast<unsigned char>(pending[8]) | (static_cast<unsigned char>(pending[9]) << 8);
        if (pending.size() < 10 + length) break;
        std::string ack = pending.substr(0, 10);
        ack[1] = 3;
        ack[8] = 0;
        ack[9] = 0;
        const bool last = pending[6] == 0 && pending[7] == 0;
        std::string out = ack;
        if (last) {
          std::string answer = pending.substr(0, 10);
          answer[6] = 0;
          answer[7] = 0;
          answer[8] = 12;
          answer[9] = 0;
          out += answer + std::string(12, '\0');
        }
        pending.erase(0, 10 + length);
        if (write(master_, out.data(), out.size()) < 0) return;
      }
    }
  }

  int master_;
  bool channel_ = false;
  std::atomic<size_t> received_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Throughput() {
  int master = -1;
  int slave = -1;
  char name[64];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    perror("openpty");
    return;
  }
  struct termios settings;
  tcgetattr(master, &settings);
  cfmakeraw(&settings);
  tcsetattr(master, TCSANOW, &settings);
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  TlSetLogTypesForFile(kTlLogTypeMaskNone);
  CommonSetWaitDivisor(100);
  if (TlInitialize() != kTlResultSuccess) return;
  TlDeviceOpenParameters parameters = {};
  snprintf(parameters.device_name, sizeof parameters.device_name, "%s", name);
  parameters.baud = 115200;
  TlDeviceHandle handle = 0;
  Responder responder(master);
  responder.Start(false);
  if (TlDeviceOpen(&parameters, &handle) != kTlResultSuccess) {
    fprintf(stderr, "cannot open %s\n", name);
    responder.Stop();
    TlTerminate();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  responder.Stop();

  const size_t size = 8u << 20;
  std::vector<unsigned char> payload(size);
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<unsigned char>(i * 31);

  // Alternating rounds, medians: the machine's load changes while the benchmark runs.
  constexpr int kRounds = 7;
  std::vector<double> raw_times;
  std::vector<double> channel_times;
  TlResult sent = kTlResultSuccess;
  for (int round = 0; round < kRounds; ++round) {
    // Raw: the same bytes through the device layer's write, until the other side has them all.
    TlDeviceLock(handle);
    responder.Start(false);
    Clock::time_point start = Clock::now();
    TlDeviceSend(handle, payload.data(), size);
    while (responder.Received() < size) std::this_thread::yield();
    raw_times.push_back(Seconds(start, Clock::now()));
    responder.Stop();
    TlDeviceUnlock(handle);

    TlDeviceSetOwner(handle, kTlDeviceOwnerTransparentChannel);
    responder.Start(true);
    start = Clock::now();
    const TlResult result = TlTcSend(handle, nullptr, 5, payload.data(), size, nullptr, nullptr);
    channel_times.push_back(Seconds(start, Clock::now()));
    if (result != kTlResultSuccess) sent = result;
    responder.Stop();
    TlDeviceSetOwner(handle, kTlDeviceOwnerAt);
  }
  std::sort(raw_times.begin(), raw_times.end());
  std::sort(channel_times.begin(), channel_times.end());
  const double raw = raw_times[kRounds / 2];
  const double channel = channel_times[kRounds / 2];

  const double mib = static_cast<double>(size) / (1 << 20);
  printf("transparent channel, 8 MiB payload over one pseudo-terminal (median of %d):\n", kRounds);
  printf("  raw write        %8.3f s  %8.1f MiB/s\n", raw, mib / raw);
  printf("  TlTcSend         %8.3f s  %8.1f MiB/s  (result %d)\n", channel, mib / channel, sent);
  printf("  ratio            %8.2f  (TlTcSend / raw)\n", raw / channel);
  TlDeviceClose(handle);
  TlTerminate();
  CommonSetWaitDivisor(1);
  close(master);
  close(slave);
}

}  // namespace

int main(int argc, char** argv) {
  apr_initialize();
  const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;

  // Waits shortened 100 times still leave the module time to restart before the reopen gives up.
  constexpr int kDivisor = 100;
  const double shortened = WholeUpdate(kDivisor);
  printf("whole update against the simulated module (carried container, 8.4 MB of packages):\n");
  printf("  waits shortened %d times     %8.2f s\n", kDivisor, shortened);
  if (!quick && shortened > 0) {
    const double full = WholeUpdate(1);
    // full = waits + rest and shortened = waits / divisor + rest.
    const double waits = (full - shortened) * kDivisor / (kDivisor - 1);
    printf("  every wait in full          %8.2f s\n", full);
    printf("  of which fixed waits        %8.2f s\n", waits);
    printf(
        "  the rest                    %8.2f s  (exchanges, transfers, identification, the\n"
        "                                         module's own install and restart times)\n",
        full - waits);
  }

  Throughput();

  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("process:\n");
  printf("  peak RSS         %8.1f MiB\n", usage.ru_maxrss / 1024.0);
  printf("  CPU time         %8.2f s user, %.2f s system\n",
         usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
         usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6);
  apr_terminate();
  return 0;
}
