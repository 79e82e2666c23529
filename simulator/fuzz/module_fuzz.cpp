// The simulated module's input side against any bytes: its AT and ITP command parser and its
// transparent channel frame reader (bytes written to its AT port), and the control lines of
// scenarios and the control socket (fault and profile settings included).
//
// Input: byte 0 even: the rest is control lines, one per '\n'; odd: the rest is written to the AT
// port. The module keeps its state from one input to the next, as a real one would; faults and
// profile changes made by control lines are undone after each input.

#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "tarvik_sim/control.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/fuzz.h"

namespace {

// How long the module may stay silent before its answer to an input counts as complete, and the
// longest time spent on one input.
const int kQuietMs = 15;
const int kMaxWaitMs = 300;

tarvik_sim::Module* module = nullptr;
std::string map_dir;
std::string port_path;
int port = -1;

void ClosePort() {
  if (port >= 0) close(port);
  port = -1;
  port_path.clear();
}

// The host side of the AT port, raw, as the transport opens it.
bool OpenPort() {
  if (!module->IsPresent()) {
    module->Plug();
    if (!module->WaitPresent(3000)) return false;
  }
  const std::string path = module->AtPortPath();
  if (port >= 0 && path == port_path) return true;
  ClosePort();
  port = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (port < 0) return false;
  struct termios settings;
  if (tcgetattr(port, &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(port, TCSANOW, &settings);
  }
  port_path = path;
  return true;
}

// Reads the module's answers away until it has been quiet for a while.
void Drain() {
  int waited = 0;
  while (waited < kMaxWaitMs && port >= 0) {
    struct pollfd ready = {port, POLLIN, 0};
    const int count = poll(&ready, 1, kQuietMs);
    waited += kQuietMs;
    if (count <= 0) return;
    if ((ready.revents & POLLIN) == 0) {
      ClosePort();  // hung up: the module went away
      return;
    }
    char buffer[4096];
    if (read(port, buffer, sizeof buffer) <= 0) {
      ClosePort();
      return;
    }
  }
}

void Stop() {
  ClosePort();
  if (module != nullptr) module->Stop();
  delete module;
  module = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  map_dir = tarvik_fuzz::ScratchDir("module_fuzz");
  module = new tarvik_sim::Module;
  tarvik_sim::ModuleOptions options;
  options.map_dir = map_dir;
  std::string error;
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  // Restarts come back at once, so that inputs after one find the module.
  profile.restart_away_ms = 10;
  profile.install_ms = 10;
  if (!module->Start(profile, options, &error)) {
    fprintf(stderr, "cannot start the module: %s\n", error.c_str());
    abort();
  }
  atexit(Stop);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char*>(input + 1), size - 1);
  if ((input[0] & 1) == 0) {
    const tarvik_sim::Profile profile = module->CurrentProfile();
    for (const std::string& line : tarvik_fuzz::SplitAt(rest, '\n')) {
      std::string reply;
      tarvik_sim::RunControlLine(module, line, &reply);
    }
    module->SetFaults(tarvik_sim::Faults());
    module->SetProfile(profile);
  } else if (OpenPort()) {
    size_t written = 0;
    while (written < rest.size()) {
      const ssize_t count = write(port, rest.data() + written, rest.size() - written);
      if (count <= 0) break;
      written += static_cast<size_t>(count);
      Drain();
    }
    Drain();
  }
  return 0;
}
