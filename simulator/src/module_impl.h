// The inside of `Module`: an Engine run on two pseudo-terminals by one thread with a timer loop.
#ifndef TARVIK_SIM_SRC_MODULE_IMPL_H_
#define TARVIK_SIM_SRC_MODULE_IMPL_H_

#include <stdio.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty.h"
#include "tarvik_sim/engine.h"
#include "tarvik_sim/module.h"

namespace tarvik_sim {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();
constexpr size_t kTimerCount = static_cast<size_t>(Timer::kCount);

class Module::Impl {
 public:
  struct Output {
    Clock::time_point due;
    std::string bytes;
    bool go_away = false;  // restart once written
    bool is_answer = false;
  };

  struct Port {
    std::string link_name;
    std::string port_name;  // the tty name the link points at; empty: the pseudo-terminal
    PtyPair pty;
    bool present = false;
    std::deque<Output> out;
    size_t queued_bytes = 0;
    Clock::time_point stalled_until;
  };

  Impl();
  ~Impl() { Stop(); }

  bool Start(const Profile& profile, const ModuleOptions& options, std::string* error);
  void Stop();

  mutable std::mutex mutex;
  mutable std::condition_variable changed;

  // Everything below is guarded by `mutex`.
  Engine engine;
  ModuleOptions options;
  Port ports[2];
  bool running = false;
  bool present = false;
  int restart_count = 0;
  std::string pending_unsolicited;
  std::vector<int> held_slaves;
  std::vector<TranscriptEntry> transcript;
  Clock::time_point started;
  FILE* log = nullptr;

  Clock::time_point come_back_at = kNever;
  Clock::time_point go_away_at = kNever;
  Clock::time_point timers[kTimerCount];  // the engine's

  int wake_fd = -1;
  std::thread thread;

  void Wake();
  void Record(TranscriptEntry::Kind kind, int port, const std::string& data);
  void Event(const std::string& text) { Record(TranscriptEntry::kEvent, 0, text); }
  // Writes the state file (when there is one) through a temporary file.
  void Persist(const std::string& text);
  // Carries out what the engine asked for, in order.
  void Apply(const Effects& effects);
  void Fire(Timer timer);

  // Output waits in the port's queue until it is due and the host takes it.
  void Enqueue(int index, std::string bytes, int delay_ms, bool go_away, bool is_answer);
  void FlushOutputs();
  void FlushUnsolicited();

  // map_dir/<port_name> of a port that has a port name.
  std::string PortNamePath(const Port& port) const;
  bool OpenPorts(std::string* error);
  // Closes the masters (the host's reads fail with hang-up), removes the links and keeps the old
  // slave descriptors so that the numbers stay taken while the module is away.
  void ClosePorts();
  void GoAway(bool come_back);
  void ComeBack();

  void ReadPort(int index);
  void RunTimers();
  Clock::time_point NextDeadline() const;
  void Loop();
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_SRC_MODULE_IMPL_H_
