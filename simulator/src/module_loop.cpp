#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "module_impl.h"
#include "text.h"

namespace tarvik_sim {
namespace {

constexpr size_t kMaxQueuedOutput = 1 << 20;  // bytes kept for a host that does not read
constexpr size_t kMaxTranscript = 200000;     // entries
constexpr size_t kTranscriptBinaryCut = 64;   // bytes kept of a binary chunk
constexpr size_t kMaxHeldSlaves = 16;         // old pseudo-terminal numbers kept occupied
constexpr int kGoAwayAfterOkMs = 100;         // lets the host read the OK of a restart
constexpr int kComeBackRetryMs = 500;
constexpr int kStallMs = 50;

}  // namespace

Module::Impl::Impl() : engine(DefaultProfile()) {
  std::fill(timers, timers + kTimerCount, kNever);
}

void Module::Impl::Wake() {
  if (wake_fd >= 0) {
    uint64_t one = 1;
    ssize_t ignored = write(wake_fd, &one, sizeof one);
    (void)ignored;
  }
}

void Module::Impl::Record(TranscriptEntry::Kind kind, int port, const std::string& data) {
  TranscriptEntry entry;
  entry.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  entry.kind = kind;
  entry.port = port;
  entry.data = data;
  if (log != nullptr) {
    static const char* kNames[] = {"<<", ">>", "CMD", "EVENT"};
    fprintf(log, "%10.3f port%d %-5s %s\n", entry.seconds, port, kNames[kind],
            kind == TranscriptEntry::kReceived || kind == TranscriptEntry::kSent
                ? text::Printable(data).c_str()
                : data.c_str());
    fflush(log);
  }
  if (transcript.size() >= kMaxTranscript) {
    transcript.erase(transcript.begin(), transcript.begin() + kMaxTranscript / 10);
  }
  transcript.push_back(std::move(entry));
  changed.notify_all();
}

void Module::Impl::Persist(const std::string& text) {
  if (options.state_file.empty()) return;
  std::string temporary = options.state_file + ".tmp";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << text;
    if (!file) {
      Event("cannot write state file " + temporary);
      return;
    }
  }
  if (rename(temporary.c_str(), options.state_file.c_str()) != 0) {
    Event("cannot replace state file " + options.state_file);
  }
}

void Module::Impl::Apply(const Effects& effects) {
  for (const Effect& effect : effects.list()) {
    switch (effect.kind) {
      case Effect::kSend:
        Enqueue(0, effect.data, effect.delay_ms, effect.go_away, effect.answer);
        break;
      case Effect::kCommand:
        Record(TranscriptEntry::kCommand, 0, effect.data);
        break;
      case Effect::kEvent:
        Event(effect.data);
        break;
      case Effect::kUnsolicited:
        pending_unsolicited += effect.data;
        break;
      case Effect::kPersist:
        Persist(effect.data);
        break;
      case Effect::kStartTimer:
        timers[static_cast<size_t>(effect.timer)] =
            Clock::now() + std::chrono::milliseconds(effect.delay_ms);
        break;
      case Effect::kStopTimer:
        timers[static_cast<size_t>(effect.timer)] = kNever;
        break;
      case Effect::kGoAway:
        GoAway(true);
        break;
    }
  }
  changed.notify_all();
}

void Module::Impl::Fire(Timer timer) {
  timers[static_cast<size_t>(timer)] = kNever;
  Effects effects;
  engine.OnTimer(timer, &effects);
  Apply(effects);
}

void Module::Impl::Enqueue(int index, std::string bytes, int delay_ms, bool go_away,
                           bool is_answer) {
  Port& port = ports[index];
  if (!port.present) return;
  if (port.queued_bytes + bytes.size() > kMaxQueuedOutput) {
    Event("output dropped: the host does not read");
    return;
  }
  Output out;
  const Clock::time_point tail = port.out.empty() ? Clock::now() : port.out.back().due;
  out.due = std::max(tail, Clock::now() + std::chrono::milliseconds(delay_ms));
  port.queued_bytes += bytes.size();
  out.bytes = std::move(bytes);
  out.go_away = go_away;
  out.is_answer = is_answer;
  port.out.push_back(std::move(out));
}

void Module::Impl::FlushOutputs() {
  Clock::time_point now = Clock::now();
  for (int index = 0; index < 2; ++index) {
    Port& port = ports[index];
    while (port.present && !port.out.empty() && port.out.front().due <= now) {
      Output& out = port.out.front();
      ssize_t written = write(port.pty.master, out.bytes.data(), out.bytes.size());
      if (written < 0) {
        if (errno == EAGAIN || errno == EINTR) break;  // POLLOUT wakes us
        // The pseudo-terminal failed under us: drop what is queued.
        Event(std::string("write failed: ") + strerror(errno));
        port.out.clear();
        port.queued_bytes = 0;
        break;
      }
      Record(TranscriptEntry::kSent, index, out.bytes.substr(0, static_cast<size_t>(written)));
      port.queued_bytes -= static_cast<size_t>(written);
      if (static_cast<size_t>(written) < out.bytes.size()) {
        out.bytes.erase(0, static_cast<size_t>(written));
        break;
      }
      const bool go_away = out.go_away;
      port.out.pop_front();
      if (go_away) go_away_at = Clock::now() + std::chrono::milliseconds(kGoAwayAfterOkMs);
    }
  }
}

void Module::Impl::FlushUnsolicited() {
  Port& at = ports[0];
  if (pending_unsolicited.empty() || !at.present || !engine.ReadyForUnsolicited()) return;
  for (const Output& out : at.out) {
    if (out.is_answer) return;  // not between a command and its answer
  }
  Enqueue(0, pending_unsolicited, 0, false, false);
  pending_unsolicited.clear();
}

std::string Module::Impl::PortNamePath(const Port& port) const {
  return options.map_dir + "/" + port.port_name;
}

bool Module::Impl::OpenPorts(std::string* error) {
  // Names given by Rename take effect now.
  ports[0].link_name = options.at_link_name;
  ports[0].port_name = options.port_name;
  for (Port& port : ports) {
    PtyPair pair;
    if (!OpenPty(&pair, error)) return false;
    std::string target = pair.slave_path;
    if (!port.port_name.empty()) {
      target = PortNamePath(port);
      if (!PublishLink(options.map_dir, port.port_name, pair.slave_path, error)) {
        close(pair.master);
        close(pair.slave);
        return false;
      }
    }
    if (!PublishLink(options.map_dir, port.link_name, target, error)) {
      close(pair.master);
      close(pair.slave);
      return false;
    }
    port.pty = pair;
    port.present = true;
    port.out.clear();
    port.queued_bytes = 0;
  }
  present = true;
  engine.OnAppear();
  pending_unsolicited.clear();
  Event("present on " + ports[0].pty.slave_path + " and " + ports[1].pty.slave_path);
  changed.notify_all();
  return true;
}

void Module::Impl::ClosePorts() {
  for (Port& port : ports) {
    if (!port.present) continue;
    // Another module may have taken a name over meanwhile; only our own links go.
    const std::string target = port.port_name.empty() ? port.pty.slave_path : PortNamePath(port);
    UnlinkIfPointingAt(options.map_dir + "/" + port.link_name, target);
    if (!port.port_name.empty()) UnlinkIfPointingAt(PortNamePath(port), port.pty.slave_path);
    close(port.pty.master);
    held_slaves.push_back(port.pty.slave);
    port.pty = PtyPair();
    port.present = false;
    port.out.clear();
    port.queued_bytes = 0;
  }
  engine.OnPortsClosed();
  while (held_slaves.size() > kMaxHeldSlaves) {
    close(held_slaves.front());
    held_slaves.erase(held_slaves.begin());
  }
  present = false;
  changed.notify_all();
}

void Module::Impl::GoAway(bool come_back) {
  go_away_at = kNever;
  engine.state().restart_pending = false;
  if (!present) {
    if (!come_back) come_back_at = kNever;
    return;
  }
  ClosePorts();
  ++restart_count;
  Effects effects;
  engine.OnRestart(&effects);
  Apply(effects);
  const int away_ms = engine.state().profile.restart_away_ms;
  if (come_back && !engine.state().faults.stay_away) {
    come_back_at = Clock::now() + std::chrono::milliseconds(away_ms);
    Event("away for " + std::to_string(away_ms) + " ms");
  } else {
    come_back_at = kNever;
    Event("away for good");
  }
}

void Module::Impl::ComeBack() {
  come_back_at = kNever;
  if (present || !running) return;
  std::string error;
  if (!OpenPorts(&error)) {
    Event("cannot come back: " + error + "; retrying");
    ClosePorts();
    come_back_at = Clock::now() + std::chrono::milliseconds(kComeBackRetryMs);
  }
}

void Module::Impl::ReadPort(int index) {
  Port& port = ports[index];
  char buffer[4096];
  ssize_t got = read(port.pty.master, buffer, sizeof buffer);
  if (got <= 0) {
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // Not expected while we hold a slave open; back off instead of spinning.
    port.stalled_until = Clock::now() + std::chrono::milliseconds(kStallMs);
    return;
  }
  std::string bytes(buffer, static_cast<size_t>(got));
  if (engine.state().mode != Mode::kAt) {
    std::string kept = bytes.substr(0, kTranscriptBinaryCut);
    if (bytes.size() > kTranscriptBinaryCut) kept += "...";
    Record(TranscriptEntry::kReceived, index, kept);
  } else {
    Record(TranscriptEntry::kReceived, index, bytes);
  }
  if (index != 0) return;  // the second port takes what it is given and says nothing
  Effects effects;
  engine.OnAtBytes(bytes, &effects);
  Apply(effects);
}

void Module::Impl::RunTimers() {
  const Clock::time_point now = Clock::now();
  auto due = [&](Timer timer) { return timers[static_cast<size_t>(timer)] <= now; };
  if (go_away_at <= now) GoAway(true);
  if (due(Timer::kSelfRestart)) Fire(Timer::kSelfRestart);
  if (come_back_at <= now) ComeBack();
  for (Timer timer :
       {Timer::kEnterInstalling, Timer::kInstallDone, Timer::kSfQuiet, Timer::kTcStale}) {
    if (due(timer)) Fire(timer);
  }
}

Clock::time_point Module::Impl::NextDeadline() const {
  Clock::time_point next = std::min(come_back_at, go_away_at);
  for (Clock::time_point timer : timers) next = std::min(next, timer);
  for (const Port& port : ports) {
    // Output already due waits for POLLOUT (the host is not reading), not for a timer.
    if (port.present && !port.out.empty() && port.out.front().due > Clock::now()) {
      next = std::min(next, port.out.front().due);
    }
    if (port.stalled_until > Clock::now()) next = std::min(next, port.stalled_until);
  }
  return next;
}

void Module::Impl::Loop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (running) {
    RunTimers();
    FlushUnsolicited();
    FlushOutputs();
    // An answer just written may have freed the way for a waiting unsolicited line.
    FlushUnsolicited();
    FlushOutputs();
    struct pollfd fds[3];
    int indexes[3] = {-1, -1, -1};
    nfds_t count = 0;
    fds[count].fd = wake_fd;
    fds[count].events = POLLIN;
    fds[count].revents = 0;
    ++count;
    const Clock::time_point now = Clock::now();
    for (int index = 0; index < 2; ++index) {
      Port& port = ports[index];
      if (!port.present || port.stalled_until > now) continue;
      fds[count].fd = port.pty.master;
      fds[count].events = POLLIN;
      if (!port.out.empty() && port.out.front().due <= now) fds[count].events |= POLLOUT;
      fds[count].revents = 0;
      indexes[count] = index;
      ++count;
    }
    int timeout = -1;
    Clock::time_point next = NextDeadline();
    if (next != kNever) {
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(wait + 1, 60000)));
    }
    lock.unlock();
    int ready = poll(fds, count, timeout);
    lock.lock();
    if (!running) break;
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) {
      uint64_t value = 0;
      ssize_t ignored = read(wake_fd, &value, sizeof value);
      (void)ignored;
    }
    for (nfds_t i = 1; i < count; ++i) {
      const int index = indexes[i];
      Port& port = ports[index];
      // The port may have gone away while the lock was free.
      if (!port.present || port.pty.master != fds[i].fd) continue;
      if (fds[i].revents & POLLIN) {
        ReadPort(index);
      } else if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        port.stalled_until = Clock::now() + std::chrono::milliseconds(kStallMs);
      }
    }
  }
}

bool Module::Impl::Start(const Profile& initial, const ModuleOptions& opts, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex);
  if (running) {
    if (error != nullptr) *error = "module already started";
    return false;
  }
  struct stat info;
  if (opts.map_dir.empty() || stat(opts.map_dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (error != nullptr) *error = "device map directory '" + opts.map_dir + "' does not exist";
    return false;
  }
  engine.state().profile = initial;
  Profile& profile = engine.state().profile;
  options = opts;
  bool from_state_file = false;
  if (!options.state_file.empty() && access(options.state_file.c_str(), F_OK) == 0) {
    if (!LoadProfileFile(options.state_file, &profile, error)) return false;
    from_state_file = true;
  }
  if (!options.log_file.empty()) {
    log = fopen(options.log_file.c_str(), "a");
    if (log == nullptr) {
      if (error != nullptr) *error = "cannot open log file '" + options.log_file + "'";
      return false;
    }
  }
  started = Clock::now();
  transcript.clear();
  restart_count = 0;
  engine.state().datagrams_seen = 0;
  ports[0] = Port();
  ports[1] = Port();
  ports[0].link_name = options.at_link_name;
  ports[1].link_name = options.second_link_name;
  wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd < 0) {
    if (error != nullptr) *error = std::string("eventfd: ") + strerror(errno);
    if (log != nullptr) fclose(log);
    log = nullptr;
    return false;
  }
  running = true;
  if (!OpenPorts(error)) {
    ClosePorts();
    for (int fd : held_slaves) close(fd);
    held_slaves.clear();
    running = false;
    close(wake_fd);
    wake_fd = -1;
    if (log != nullptr) fclose(log);
    log = nullptr;
    return false;
  }
  Event("started: " + profile.Get("Product Number") + ", upgrade state " +
        std::to_string(profile.UpgradeState()) + ", revision " +
        profile.Get("Config. Set Revision"));
  // A module powered up again (its state from an earlier run) while it was installing boots
  // into what it installed, as after any other restart.
  const int state = profile.UpgradeState();
  if (from_state_file && (state == 3 || state == 4 || state == 5)) {
    Effects effects;
    engine.upgrade().FinishInstallation(&effects);
    Apply(effects);
  }
  thread = std::thread([this] { Loop(); });
  return true;
}

void Module::Impl::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!running) return;
    running = false;
    Wake();
  }
  thread.join();
  std::lock_guard<std::mutex> lock(mutex);
  ClosePorts();
  for (int fd : held_slaves) close(fd);
  held_slaves.clear();
  Event("stopped");
  if (log != nullptr) fclose(log);
  log = nullptr;
  close(wake_fd);
  wake_fd = -1;
  changed.notify_all();
}

}  // namespace tarvik_sim
