#include "tarvik_sim/module.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "pty.h"
#include "text.h"

namespace tarvik_sim {
namespace {

using text::Printable;
using text::Trim;
using text::Unescape;
using text::Upper;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxLine = 4096;             // longer command lines are refused
constexpr size_t kMaxQueuedOutput = 1 << 20;  // bytes kept for a host that does not read
constexpr size_t kMaxTranscript = 200000;     // entries
constexpr size_t kTranscriptBinaryCut = 64;   // bytes kept of a binary chunk
constexpr size_t kMaxHeldSlaves = 16;         // old pseudo-terminal numbers kept occupied
constexpr int kGoAwayAfterOkMs = 100;         // lets the host read the OK of a restart
constexpr int kTcStaleFrameMs = 2000;         // a half frame older than this is dropped

constexpr uint8_t kTcVersion = 2;
constexpr uint8_t kTcTypeControl = 0;
constexpr uint8_t kTcTypeControlResponse = 1;
constexpr uint8_t kTcTypeDatagram = 2;
constexpr uint8_t kTcTypeAcknowledgement = 3;
constexpr uint16_t kTcProtocolApplication = 3;
constexpr uint16_t kTcCommandClose = 0;

constexpr size_t kSfHeaderSize = 24;
constexpr uint32_t kSfMagic = 0x5A414D55;  // "ZAMU"
constexpr uint32_t kSfVersion = 32;
constexpr uint32_t kSfMaxPayload = 32768;
constexpr int kSfQuietMs = 1000;  // no further packet this long after a full one: data complete
constexpr int kSfAnswerGapMs = 20;

uint16_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

void PutLe16(std::string* bytes, uint16_t value) {
  bytes->push_back(static_cast<char>(value & 0xff));
  bytes->push_back(static_cast<char>(value >> 8));
}

void PutLe32(std::string* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Splits "a,b" style argument text; quotes are removed.
std::vector<std::string> Arguments(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      args.push_back(Trim(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  args.push_back(Trim(current));
  return args;
}

const char* kOk = "\r\nOK\r\n";
const char* kError = "\r\nERROR\r\n";

std::string Info(const std::string& info) {
  return "\r\n" + info + "\r\n\r\nOK\r\n";
}
std::string CmeError(int code) {
  return "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
}

enum class PostAction { kNone, kGoAway };

struct Output {
  Clock::time_point due;
  std::string bytes;
  PostAction action = PostAction::kNone;
  bool is_answer = false;
};

struct Port {
  std::string link_name;
  PtyPair pty;
  bool present = false;
  std::string line;
  bool line_overflow = false;
  bool in_tc = false;
  bool in_sf = false;
  std::string sf_input;
  std::string tc_input;
  Clock::time_point tc_last_input;
  std::deque<Output> out;
  size_t queued_bytes = 0;
  Clock::time_point stalled_until;
};

// The datagram being assembled in the transparent channel.
struct TcAssembly {
  bool active = false;
  uint16_t session = 0;
  uint16_t expected_sequence = 0;
  std::string payload;
};

}  // namespace

bool ApplyFaultSetting(Faults* f, const std::string& raw_key, const std::string& raw_value,
                       std::string* error) {
  std::string key = Trim(raw_key);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string value = Trim(raw_value);
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = "fault '" + key + "': " + why;
    return false;
  };
  auto number = [&](long min, long max, long* out) {
    if (value.empty()) return false;
    char* end = nullptr;
    long parsed = std::strtol(value.c_str(), &end, 10);
    if (*end != '\0' || parsed < min || parsed > max) return false;
    *out = parsed;
    return true;
  };
  auto flag = [&](bool* out) {
    if (value == "1" || value == "true" || value == "on" || value == "yes") {
      *out = true;
    } else if (value == "0" || value == "false" || value == "off" || value == "no") {
      *out = false;
    } else {
      return false;
    }
    return true;
  };
  long n = 0;
  if (key == "clear") {
    *f = Faults();
  } else if (key == "never_ready") {
    if (!flag(&f->never_ready)) return fail("expected 0 or 1");
  } else if (key == "split_offsets") {
    std::vector<size_t> offsets;
    std::stringstream stream(value);
    std::string item;
    while (std::getline(stream, item, ',')) {
      item = Trim(item);
      if (item.empty()) continue;
      char* end = nullptr;
      long offset = std::strtol(item.c_str(), &end, 10);
      if (*end != '\0' || offset <= 0) return fail("expected positive offsets");
      offsets.push_back(static_cast<size_t>(offset));
    }
    std::sort(offsets.begin(), offsets.end());
    f->split_offsets = offsets;
  } else if (key == "split_pause_ms") {
    if (!number(0, 60000, &n)) return fail("expected milliseconds");
    f->split_pause_ms = static_cast<int>(n);
  } else if (key == "answer_delay_ms") {
    if (!number(0, 600000, &n)) return fail("expected milliseconds");
    f->answer_delay_ms = static_cast<int>(n);
  } else if (key == "garbage_before_answer") {
    f->garbage_before_answer = Unescape(value);
  } else if (key == "error_commands") {
    f->error_commands.clear();
    std::stringstream stream(value);
    std::string item;
    while (std::getline(stream, item, '|')) {
      item = Trim(item);
      if (!item.empty()) f->error_commands.push_back(item);
    }
  } else if (key == "no_unsolicited") {
    if (!flag(&f->no_unsolicited)) return fail("expected 0 or 1");
  } else if (key == "unplug_after_bytes") {
    if (!number(-1, 0x7fffffff, &n)) return fail("expected a byte count or -1");
    f->unplug_after_bytes = n;
  } else if (key == "stay_away") {
    if (!flag(&f->stay_away)) return fail("expected 0 or 1");
  } else if (key == "tc_nack_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_nack_datagram = static_cast<int>(n);
  } else if (key == "tc_nack_result") {
    if (!number(1, 65535, &n)) return fail("expected 1 to 65535");
    f->tc_nack_result = static_cast<int>(n);
  } else if (key == "tc_bad_version_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_bad_version_datagram = static_cast<int>(n);
  } else if (key == "tc_bad_session_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_bad_session_datagram = static_cast<int>(n);
  } else if (key == "tc_no_ack_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_no_ack_datagram = static_cast<int>(n);
  } else if (key == "tc_split_frames") {
    if (!flag(&f->tc_split_frames)) return fail("expected 0 or 1");
  } else if (key == "tc_unplug_after_payload_bytes") {
    if (!number(-1, 0x7fffffff, &n)) return fail("expected a byte count or -1");
    f->tc_unplug_after_payload_bytes = n;
  } else if (key == "sf_ack_result") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a result code");
    f->sf_ack_result = static_cast<int>(n);
  } else if (key == "sf_final_result") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a result code");
    f->sf_final_result = static_cast<int>(n);
  } else if (key == "sf_no_return") {
    if (!flag(&f->sf_no_return)) return fail("expected 0 or 1");
  } else if (key == "sf_stray_bytes") {
    f->sf_stray_bytes = Unescape(value);
  } else if (key == "tc_answer_result") {
    if (!number(0, 65535, &n)) return fail("expected 0 to 65535");
    f->tc_answer_result = static_cast<int>(n);
  } else {
    return fail("unknown fault");
  }
  return true;
}

class Module::Impl {
 public:
  ~Impl() { Stop(); }

  bool Start(const Profile& profile, const ModuleOptions& options, std::string* error);
  void Stop();

  mutable std::mutex mutex;
  mutable std::condition_variable changed;

  // Everything below is guarded by `mutex`.
  Profile profile;
  ModuleOptions options;
  Faults faults;
  Port ports[2];
  bool running = false;
  bool present = false;
  bool echo = true;
  bool ustate_reports = false;
  int ready_queries = 0;
  int restart_count = 0;
  long datagrams_seen = 0;  // since the faults were set
  std::string pending_unsolicited;
  TcAssembly assembly;
  std::vector<int> held_slaves;
  std::vector<TranscriptEntry> transcript;
  Clock::time_point started;
  FILE* log = nullptr;

  // Timers (Clock::time_point::max() when off).
  Clock::time_point come_back_at = Clock::time_point::max();
  Clock::time_point go_away_at = Clock::time_point::max();
  Clock::time_point install_done_at = Clock::time_point::max();
  Clock::time_point self_restart_at = Clock::time_point::max();
  Clock::time_point enter_installing_at = Clock::time_point::max();
  bool come_back_after_go_away = true;
  bool restart_pending = false;    // a restart was answered: input is ignored until it happens
  bool itp_after_restart = false;  // an ITP assignment arrived
  bool at_after_restart = false;   // ITP mode was left with KILL or KILD
  std::string sf_data;             // the secure-frame data received so far
  Clock::time_point sf_final_at = Clock::time_point::max();

  int wake_fd = -1;
  std::thread thread;

  void Wake() {
    if (wake_fd >= 0) {
      uint64_t one = 1;
      ssize_t ignored = write(wake_fd, &one, sizeof one);
      (void)ignored;
    }
  }

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - started).count(); }

  void Record(TranscriptEntry::Kind kind, int port, const std::string& data) {
    TranscriptEntry entry;
    entry.seconds = Seconds();
    entry.kind = kind;
    entry.port = port;
    entry.data = data;
    if (log != nullptr) {
      static const char* kNames[] = {"<<", ">>", "CMD", "EVENT"};
      fprintf(log, "%10.3f port%d %-5s %s\n", entry.seconds, port, kNames[kind],
              kind == TranscriptEntry::kReceived || kind == TranscriptEntry::kSent
                  ? Printable(data).c_str()
                  : data.c_str());
      fflush(log);
    }
    if (transcript.size() >= kMaxTranscript) {
      transcript.erase(transcript.begin(), transcript.begin() + kMaxTranscript / 10);
    }
    transcript.push_back(std::move(entry));
    changed.notify_all();
  }

  void Event(const std::string& text) { Record(TranscriptEntry::kEvent, 0, text); }

  // ---- output ----

  Clock::time_point QueueTail(const Port& port) const {
    return port.out.empty() ? Clock::now() : port.out.back().due;
  }

  void Enqueue(int index, std::string bytes, int delay_ms, PostAction action, bool is_answer) {
    Port& port = ports[index];
    if (!port.present) return;
    if (port.queued_bytes + bytes.size() > kMaxQueuedOutput) {
      Event("output dropped: the host does not read");
      return;
    }
    Output out;
    out.due = std::max(QueueTail(port), Clock::now() + std::chrono::milliseconds(delay_ms));
    port.queued_bytes += bytes.size();
    out.bytes = std::move(bytes);
    out.action = action;
    out.is_answer = is_answer;
    port.out.push_back(std::move(out));
  }

  // An answer to a command, with the answer faults applied.
  void Answer(const std::string& text, PostAction action = PostAction::kNone) {
    int delay = faults.answer_delay_ms;
    if (!faults.garbage_before_answer.empty()) {
      Enqueue(0, faults.garbage_before_answer, delay, PostAction::kNone, true);
      delay = 0;
    }
    size_t previous = 0;
    for (size_t offset : faults.split_offsets) {
      if (offset <= previous || offset >= text.size()) continue;
      Enqueue(0, text.substr(previous, offset - previous), delay, PostAction::kNone, true);
      delay = faults.split_pause_ms;
      previous = offset;
    }
    if (action == PostAction::kGoAway) restart_pending = true;
    Enqueue(0, text.substr(previous), delay, action, true);
  }

  // A frame of the transparent channel, in pieces when that fault is on.
  void SendFrame(const std::string& frame) {
    if (faults.tc_split_frames && frame.size() >= 3) {
      size_t third = frame.size() / 3;
      Enqueue(0, frame.substr(0, third), 0, PostAction::kNone, true);
      Enqueue(0, frame.substr(third, third), faults.split_pause_ms, PostAction::kNone, true);
      Enqueue(0, frame.substr(2 * third), faults.split_pause_ms, PostAction::kNone, true);
    } else {
      Enqueue(0, frame, 0, PostAction::kNone, true);
    }
  }

  void FlushOutputs() {
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
        PostAction action = out.action;
        port.out.pop_front();
        if (action == PostAction::kGoAway) {
          go_away_at = Clock::now() + std::chrono::milliseconds(kGoAwayAfterOkMs);
        }
      }
    }
  }

  bool WantsWrite(const Port& port) const {
    return port.present && !port.out.empty() && port.out.front().due <= Clock::now();
  }

  // ---- presence ----

  bool OpenPorts(std::string* error) {
    for (int index = 0; index < 2; ++index) {
      Port& port = ports[index];
      PtyPair pair;
      if (!OpenPty(&pair, error)) return false;
      if (!PublishLink(options.map_dir, port.link_name, pair.slave_path, error)) {
        close(pair.master);
        close(pair.slave);
        return false;
      }
      port.pty = pair;
      port.present = true;
      port.line.clear();
      port.line_overflow = false;
      port.in_tc = false;
      port.tc_input.clear();
      port.in_sf = false;
      port.sf_input.clear();
      port.out.clear();
      port.queued_bytes = 0;
    }
    present = true;
    restart_pending = false;
    echo = true;
    ustate_reports = false;
    ready_queries = 0;
    assembly = TcAssembly();
    pending_unsolicited.clear();
    Event("present on " + ports[0].pty.slave_path + " and " + ports[1].pty.slave_path);
    changed.notify_all();
    return true;
  }

  // Closes the masters (the host's reads fail with hang-up), removes the links and keeps the old
  // slave descriptors so that the numbers stay taken while the module is away.
  void ClosePorts() {
    for (Port& port : ports) {
      if (!port.present) continue;
      std::string link = options.map_dir + "/" + port.link_name;
      unlink(link.c_str());
      close(port.pty.master);
      held_slaves.push_back(port.pty.slave);
      port.pty = PtyPair();
      port.present = false;
      port.out.clear();
      port.queued_bytes = 0;
      port.line.clear();
      port.tc_input.clear();
      port.in_tc = false;
      port.in_sf = false;
      port.sf_input.clear();
    }
    while (held_slaves.size() > kMaxHeldSlaves) {
      close(held_slaves.front());
      held_slaves.erase(held_slaves.begin());
    }
    present = false;
    changed.notify_all();
  }

  void GoAway(bool come_back) {
    go_away_at = Clock::time_point::max();
    restart_pending = false;
    if (!present) {
      if (!come_back) come_back_at = Clock::time_point::max();
      return;
    }
    ClosePorts();
    ++restart_count;
    // The command set is a setting of the module: an ITP assignment turns ITP mode on and
    // "KILL"/"KILD" turn it off, each taking effect as the module starts again.
    if (itp_after_restart) profile.itp_mode = true;
    if (at_after_restart) profile.itp_mode = false;
    itp_after_restart = false;
    at_after_restart = false;
    sf_final_at = Clock::time_point::max();
    // Whatever was being installed completes while the module boots.
    int state = profile.UpgradeState();
    if (state == 3 || state == 4 || state == 5) FinishInstallation();
    install_done_at = Clock::time_point::max();
    self_restart_at = Clock::time_point::max();
    if (come_back && !faults.stay_away) {
      come_back_at = Clock::now() + std::chrono::milliseconds(profile.restart_away_ms);
      Event("away for " + std::to_string(profile.restart_away_ms) + " ms");
    } else {
      come_back_at = Clock::time_point::max();
      Event("away for good");
    }
  }

  void ComeBack() {
    come_back_at = Clock::time_point::max();
    if (present || !running) return;
    std::string error;
    if (!OpenPorts(&error)) {
      Event("cannot come back: " + error + "; retrying");
      ClosePorts();
      come_back_at = Clock::now() + std::chrono::milliseconds(500);
    }
  }

  // ---- update state machine ----

  void PersistState() {
    if (options.state_file.empty()) return;
    std::string temporary = options.state_file + ".tmp";
    {
      std::ofstream file(temporary, std::ios::trunc);
      file << SaveUpdateState(profile);
      if (!file) {
        Event("cannot write state file " + temporary);
        return;
      }
    }
    if (rename(temporary.c_str(), options.state_file.c_str()) != 0) {
      Event("cannot replace state file " + options.state_file);
    }
  }

  void Unsolicited(const std::string& text) {
    if (faults.no_unsolicited) {
      Event("unsolicited suppressed: " + Printable(text));
      return;
    }
    pending_unsolicited += text;
  }

  void ChangeUpgradeState(int state) {
    profile.SetUpgradeState(state);
    Event("upgrade state " + std::to_string(state));
    PersistState();
    if (ustate_reports) Unsolicited("\r\n*EEUSTATE:1," + std::to_string(state) + "\r\n");
    changed.notify_all();
  }

  std::vector<Package> MissingPackages() const {
    std::vector<Package> missing;
    for (const Package& package : profile.wanted_packages) {
      if (std::find(profile.received_packages.begin(), profile.received_packages.end(),
                    package.name) == profile.received_packages.end()) {
        missing.push_back(package);
      }
    }
    return missing;
  }

  void FinishInstallation() {
    if (!profile.target_revision.empty()) {
      profile.Set("Config. Set Revision", profile.target_revision);
    }
    profile.target_revision.clear();
    profile.received_packages.clear();
    profile.SetUpgradeState(1);
    Event("installation complete, revision " + profile.Get("Config. Set Revision"));
    PersistState();
  }

  void StartInstalling() {
    enter_installing_at = Clock::time_point::max();
    ChangeUpgradeState(3);
    install_done_at = Clock::now() + std::chrono::milliseconds(profile.install_ms);
  }

  void InstallDone() {
    install_done_at = Clock::time_point::max();
    if (profile.self_restart) {
      ChangeUpgradeState(5);
      self_restart_at = Clock::now() + std::chrono::milliseconds(profile.self_restart_ms);
    } else {
      ChangeUpgradeState(4);
    }
  }

  // A whole payload arrived; returns the answer result.
  void CheckItpAssignment(const std::string& data) {
    if (!profile.itp_marker.empty() && data.find(profile.itp_marker) != std::string::npos) {
      itp_after_restart = true;
      Event("ITP assignment received: ITP mode after the next restart");
    }
  }

  uint16_t OnPayload(const std::string& payload) {
    CheckItpAssignment(payload);
    if (faults.tc_answer_result != 0) {
      Event("payload of " + std::to_string(payload.size()) + " bytes refused by fault");
      return static_cast<uint16_t>(faults.tc_answer_result);
    }
    const size_t length = payload.size();
    const int state = profile.UpgradeState();
    const Package* net_config = nullptr;
    for (const Package& package : KnownNetConfigurations()) {
      if (package.length == length) net_config = &package;
    }
    if (net_config != nullptr && (state == 0 || state == 1 || state == 2)) {
      if (state == 2 && profile.target_revision == net_config->name) {
        Event("net configuration " + net_config->name + " again");
        return 0;
      }
      profile.target_revision = net_config->name;
      profile.Set("Config. Set Revision", net_config->name);
      profile.received_packages.clear();
      Event("net configuration for " + net_config->name + " received");
      ChangeUpgradeState(2);
      if (MissingPackages().empty()) {
        enter_installing_at = Clock::now() + std::chrono::milliseconds(100);
      }
      return 0;
    }
    if (state == 2) {
      for (const Package& package : MissingPackages()) {
        if (package.length == length) {
          profile.received_packages.push_back(package.name);
          Event("package " + package.name + " received");
          PersistState();
          if (MissingPackages().empty()) StartInstalling();
          return 0;
        }
      }
      Event("payload of " + std::to_string(length) + " bytes matches no package still wanted");
      return 255;
    }
    if (state == 0 || state == 1) {
      Event("payload of " + std::to_string(length) + " bytes accepted");
      return 0;
    }
    Event("payload of " + std::to_string(length) + " bytes refused in state " +
          std::to_string(state));
    return 255;
  }

  // ---- transparent channel ----

  void LeaveTc(Port& port) {
    port.in_tc = false;
    assembly = TcAssembly();
  }

  // Consumes frames from the channel input; returns bytes that follow a close (AT text again).
  std::string ProcessTc() {
    Port& port = ports[0];
    std::string& in = port.tc_input;
    while (in.size() >= 2) {
      const uint8_t version = static_cast<uint8_t>(in[0]);
      const uint8_t type = static_cast<uint8_t>(in[1]);
      if (type == kTcTypeControl) {
        if (in.size() < 4) break;
        const uint16_t command = Le16(in, 2);
        in.erase(0, 4);
        Record(TranscriptEntry::kCommand, 0,
               "TC control version " + std::to_string(version) + " command " +
                   std::to_string(command));
        std::string reply;
        reply.push_back(static_cast<char>(kTcVersion));
        reply.push_back(static_cast<char>(kTcTypeControlResponse));
        PutLe16(&reply, command);
        PutLe16(&reply, version == kTcVersion ? 0 : 1);
        SendFrame(reply);
        if (command == kTcCommandClose) {
          LeaveTc(port);
          Enqueue(0, kOk, 5, PostAction::kNone, true);
          Event("transparent channel closed");
          std::string rest = in;
          in.clear();
          return rest;
        }
        continue;
      }
      if (type != kTcTypeDatagram) {
        Event("transparent channel: dropped a byte of unknown frame type " + std::to_string(type));
        in.erase(0, 1);
        continue;
      }
      if (in.size() < 10) break;
      const uint16_t length = Le16(in, 8);
      if (in.size() < 10u + length) break;
      std::string frame = in.substr(0, 10u + length);
      in.erase(0, 10u + length);
      Datagram(frame);
      if (!present) return std::string();
    }
    return std::string();
  }

  void Datagram(const std::string& frame) {
    const uint8_t version = static_cast<uint8_t>(frame[0]);
    const uint16_t protocol = Le16(frame, 2);
    const uint16_t session = Le16(frame, 4);
    const uint16_t sequence = Le16(frame, 6);
    const uint16_t length = Le16(frame, 8);
    ++datagrams_seen;
    Record(TranscriptEntry::kCommand, 0,
           "TC datagram version " + std::to_string(version) + " protocol " +
               std::to_string(protocol) + " session " + std::to_string(session) + " sequence " +
               std::to_string(sequence) + " length " + std::to_string(length));
    if (faults.tc_no_ack_datagram != 0 && datagrams_seen == faults.tc_no_ack_datagram) {
      faults.tc_no_ack_datagram = 0;
      assembly = TcAssembly();
      Event("fault: datagram not acknowledged");
      return;
    }
    uint16_t result = 0;
    if (version != kTcVersion || protocol != kTcProtocolApplication) {
      result = 1;
    } else if (assembly.active && assembly.session == session) {
      if (sequence != assembly.expected_sequence) result = 2;
    } else {
      assembly = TcAssembly();
      assembly.active = true;
      assembly.session = session;
    }
    if (result == 0) {
      assembly.payload.append(frame, 10, length);
      assembly.expected_sequence = static_cast<uint16_t>(sequence - 1);
    }
    uint8_t ack_version = version;
    uint16_t ack_session = session;
    if (faults.tc_nack_datagram != 0 && datagrams_seen == faults.tc_nack_datagram) {
      faults.tc_nack_datagram = 0;
      result = static_cast<uint16_t>(faults.tc_nack_result);
      Event("fault: negative acknowledgement " + std::to_string(result));
    }
    if (faults.tc_bad_version_datagram != 0 && datagrams_seen == faults.tc_bad_version_datagram) {
      faults.tc_bad_version_datagram = 0;
      ack_version = static_cast<uint8_t>(version + 1);
      Event("fault: acknowledgement with a wrong version");
    }
    if (faults.tc_bad_session_datagram != 0 && datagrams_seen == faults.tc_bad_session_datagram) {
      faults.tc_bad_session_datagram = 0;
      ack_session = static_cast<uint16_t>(session + 1);
      Event("fault: acknowledgement with a wrong session");
    }
    std::string ack;
    ack.push_back(static_cast<char>(ack_version));
    ack.push_back(static_cast<char>(kTcTypeAcknowledgement));
    PutLe16(&ack, protocol);
    PutLe16(&ack, ack_session);
    PutLe16(&ack, sequence);
    PutLe16(&ack, result);
    SendFrame(ack);
    if (result != 0) {
      assembly = TcAssembly();
      return;
    }
    if (sequence != 0) return;
    std::string payload = std::move(assembly.payload);
    assembly = TcAssembly();
    const uint16_t answer_result = OnPayload(payload);
    std::string answer;
    answer.push_back(static_cast<char>(kTcVersion));
    answer.push_back(static_cast<char>(kTcTypeDatagram));
    PutLe16(&answer, kTcProtocolApplication);
    PutLe16(&answer, session);
    PutLe16(&answer, 0);
    PutLe16(&answer, 12);
    // Answer header: request id and security mechanism echo the request.
    answer.push_back(payload.size() > 0 ? payload[0] : 0);
    answer.push_back(payload.size() > 1 ? payload[1] : 0);
    answer.push_back(payload.size() > 2 ? payload[2] : 0);
    answer.push_back(2);  // answer
    PutLe16(&answer, 0);
    PutLe32(&answer, 0);
    PutLe16(&answer, answer_result);
    SendFrame(answer);
  }

  // ---- secure frame ----

  static void PutBe32(std::string* bytes, uint32_t value) {
    for (int i = 3; i >= 0; --i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
  }

  static uint32_t Be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
  }

  void SfResponse(uint32_t result, int delay_ms = 0) {
    std::string packet;
    PutBe32(&packet, kSfMagic);
    PutBe32(&packet, kSfVersion);
    PutBe32(&packet, 0);  // response
    PutBe32(&packet, result);
    PutBe32(&packet, 0xFFFFFFFFu);
    PutBe32(&packet, 0);
    if (!faults.sf_stray_bytes.empty()) packet = faults.sf_stray_bytes + packet;
    Enqueue(0, packet, delay_ms, PostAction::kNone, true);
  }

  void LeaveSf() {
    ports[0].in_sf = false;
    ports[0].sf_input.clear();
    sf_data.clear();
    sf_final_at = Clock::time_point::max();
  }

  // The data is complete: the final acknowledgement, then back to AT mode with OK.
  void SfFinish() {
    sf_final_at = Clock::time_point::max();
    CheckItpAssignment(sf_data);
    const uint32_t result = static_cast<uint32_t>(faults.sf_final_result);
    Event("secure frame: " + std::to_string(sf_data.size()) + " bytes, final result " +
          std::to_string(result));
    // The module checks the data before it answers for the whole: the final acknowledgement and
    // the OK come a moment after the last packet's acknowledgement, not in the same read.
    SfResponse(result, kSfAnswerGapMs);
    if (faults.sf_no_return) {
      Event("fault: secure frame never returns to AT mode");
      ports[0].sf_input.clear();
      sf_data.clear();
      return;
    }
    Enqueue(0, kOk, 2 * kSfAnswerGapMs, PostAction::kNone, true);
    LeaveSf();
  }

  void ProcessSf() {
    std::string& in = ports[0].sf_input;
    while (ports[0].in_sf && in.size() >= kSfHeaderSize) {
      if (Be32(in, 0) != kSfMagic || Be32(in, 4) != kSfVersion) {
        in.erase(0, 1);  // not a header here: look one byte further
        continue;
      }
      const uint32_t size = Be32(in, 20);
      if (size > kSfMaxPayload) {
        Record(TranscriptEntry::kCommand, 0, "SF packet of " + std::to_string(size) + " bytes");
        in.erase(0, kSfHeaderSize);
        SfResponse(2);
        continue;
      }
      if (in.size() < kSfHeaderSize + size) break;
      Record(TranscriptEntry::kCommand, 0, "SF packet of " + std::to_string(size) + " bytes");
      sf_data.append(in, kSfHeaderSize, size);
      in.erase(0, kSfHeaderSize + size);
      if (faults.sf_ack_result != 0) {
        Event("fault: secure frame packet refused");
        SfResponse(static_cast<uint32_t>(faults.sf_ack_result));
        LeaveSf();
        return;
      }
      SfResponse(0);
      if (size < kSfMaxPayload) {
        SfFinish();
      } else {
        sf_final_at = Clock::now() + std::chrono::milliseconds(kSfQuietMs);
      }
    }
  }

  // ---- AT and ITP commands ----

  bool IsErrorCommand(const std::string& upper) const {
    for (const std::string& command : faults.error_commands) {
      if (Upper(command) == upper) return true;
    }
    return false;
  }

  std::string Report(const std::vector<std::string>& names) const {
    std::string text = "\r\n";
    for (const std::string& name : names) text += ReportLabel(name) + profile.Get(name) + "\r\n";
    return text;
  }

  std::string CpinText() const {
    switch (profile.sim) {
      case SimState::kReady:
        return "+CPIN: READY";
      case SimState::kPinLocked:
        return "+CPIN: SIM PIN";
      case SimState::kPukLocked:
        return "+CPIN: SIM PUK";
      case SimState::kPhNetLocked:
        return "+CPIN: PH-NET PIN";
      case SimState::kPhNetSubLocked:
        return "+CPIN: PH-NETSUB PIN";
      case SimState::kPhSpLocked:
        return "+CPIN: PH-SP PIN";
      case SimState::kPhCorpLocked:
        return "+CPIN: PH-CORP PIN";
      case SimState::kPhSimLocked:
        return "+CPIN: PH-SIMLOCK PIN";
      case SimState::kPhEslLocked:
        return "+CPIN: PH-ESL PIN";
      case SimState::kAbsent:
        break;
    }
    return std::string();
  }

  // The error a SIM command gets when the SIM cannot be used, or "" when it can.
  std::string SimBlocked() const {
    switch (profile.sim) {
      case SimState::kReady:
        return std::string();
      case SimState::kAbsent:
        return CmeError(10);
      case SimState::kPinLocked:
        return CmeError(11);
      case SimState::kPukLocked:
        return CmeError(12);
      default:
        return CmeError(3);
    }
  }

  std::string EnterPin(const std::vector<std::string>& args) {
    switch (profile.sim) {
      case SimState::kAbsent:
        return CmeError(10);
      case SimState::kReady:
        return CmeError(3);
      case SimState::kPinLocked:
        if (args[0] == profile.pin) {
          profile.sim = SimState::kReady;
          profile.pin_tries_left = 3;
          return kOk;
        }
        if (--profile.pin_tries_left <= 0) {
          profile.pin_tries_left = 0;
          profile.sim = SimState::kPukLocked;
        }
        return CmeError(16);
      case SimState::kPukLocked:
        if (args.size() >= 2 && args[0] == profile.puk && !args[1].empty()) {
          profile.pin = args[1];
          profile.pin_tries_left = 3;
          profile.sim = SimState::kReady;
          return kOk;
        }
        return CmeError(16);
      default:
        if (args[0] == profile.lock_code) {
          profile.sim = SimState::kReady;
          return kOk;
        }
        return CmeError(16);
    }
  }

  std::string IccidText() const {
    std::string digits = profile.iccid;
    while (digits.size() < 20) digits.push_back('F');
    std::string swapped;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
      swapped.push_back(digits[i + 1]);
      swapped.push_back(digits[i]);
    }
    return swapped;
  }

  std::string PackageListAnswer() const {
    std::string text =
        Report({"Model", "Product Number", "Config. Set Product", "Config. Set Revision",
                "Network Customization", "Individualization", "Domain", "Upgrade State"});
    if (profile.UpgradeState() == 2) {
      for (const Package& package : MissingPackages()) text += "# " + package.name + "\r\n";
    }
    return text + kOk;
  }

  void AtCommand(const std::string& line) {
    const std::string upper = Upper(Trim(line));
    if (IsErrorCommand(upper)) {
      Event("fault: ERROR for " + line);
      Answer(kError);
      return;
    }
    for (const auto& answer : profile.extra_answers) {
      if (Upper(Trim(answer.first)) == upper) {
        Answer(answer.second);
        return;
      }
    }
    if (profile.itp_mode) {
      ItpCommand(Trim(line), upper);
      return;
    }
    if (upper == "AT" || upper == "ATZ") {
      Answer(kOk);
    } else if (upper == "ATE0") {
      echo = false;
      Answer(kOk);
    } else if (upper == "ATE1" || upper == "ATE") {
      echo = true;
      Answer(kOk);
    } else if (upper == "AT*EMRDY?") {
      ++ready_queries;
      bool ready = !faults.never_ready && ready_queries >= profile.ready_after_queries;
      Answer(Info(ready ? "*EMRDY: 1" : "*EMRDY: 0"));
    } else if (upper == "AT*EEVINFO=99") {
      Answer(Report(ReportFieldNames()) + kOk);
    } else if (upper == "AT*EEVINFO=2") {
      Answer(Report({"SIMLock Deployment", "SIMLock Description", "SIMLock Product",
                     "SIMLock Revision", "SIM approved", "Locked Network", "Locked Network Subset",
                     "Locked Service Provider", "Locked Corporate", "Locked SIMLock",
                     "Locked Extended SIMLock", "AutoLock activated"}) +
             kOk);
    } else if (upper == "AT*EEVINFO=4") {
      Answer(PackageListAnswer());
    } else if (upper == "AT*E2RESET") {
      Answer(kOk, PostAction::kGoAway);
      come_back_after_go_away = true;
    } else if (upper == "AT+CFUN?") {
      Answer(Info("+CFUN: " + std::to_string(profile.radio_mode)));
    } else if (upper == "AT+CFUN=1" || upper == "AT+CFUN=4") {
      profile.radio_mode = upper.back() - '0';
      Answer(kOk);
    } else if (upper == "AT+CPIN?") {
      Answer(profile.sim == SimState::kAbsent ? CmeError(10) : Info(CpinText()));
    } else if (upper.rfind("AT+CPIN=", 0) == 0) {
      Answer(EnterPin(Arguments(Trim(line).substr(8))));
    } else if (upper == "AT*E2OTR?") {
      Answer(Info("*E2OTR: 0," + std::to_string(profile.temperature)));
    } else if (upper == "AT*EEUSTATE?") {
      Answer(Info("*EEUSTATE: " + std::to_string(ustate_reports ? 1 : 0) + "," +
                  std::to_string(profile.UpgradeState())));
    } else if (upper == "AT*EEUSTATE=1" || upper == "AT*EEUSTATE=0") {
      ustate_reports = upper.back() == '1';
      Answer(kOk);
    } else if (upper == "AT*EEMLED=1" || upper == "AT*EEMLED=0") {
      profile.led_on = upper.back() == '1';
      Answer(kOk);
    } else if (upper == "AT*EOTP") {
      Answer(Info(profile.eotp));
    } else if (upper == "AT*EERCUST=0,\"TRV_OPERATOR_DOMAIN\"") {
      Answer(Info("*EERCUST: " + profile.operator_domain));
    } else if (upper == "AT+CRSM=176,12258,0,0,10") {
      std::string blocked = SimBlocked();
      Answer(blocked.empty() ? Info("+CRSM: 144,0,\"" + IccidText() + "\"") : blocked);
    } else if (upper == "AT+CIMI") {
      std::string blocked = SimBlocked();
      Answer(blocked.empty() ? Info(profile.imsi) : blocked);
    } else if (upper == "ATI") {
      Answer(Info(profile.Get("Vendor Name") + "\r\n" + profile.Get("Model") + "\r\n" +
                  profile.Get("FW Version")));
    } else if (upper == "AT+CGSN") {
      Answer(Info(profile.Get("IMEI Data")));
    } else if (upper == "AT+CGMI") {
      Answer(Info(profile.Get("Vendor Name")));
    } else if (upper == "AT+CGMM") {
      Answer(Info(profile.Get("Model")));
    } else if (upper == "AT+CGMR") {
      Answer(Info(profile.Get("FW Version")));
    } else if (upper == "AT*EESFUD=3") {
      Answer(kOk);
      ports[0].in_sf = true;
      ports[0].sf_input.clear();
      sf_data.clear();
      // Without any packet the data is empty; the final acknowledgement follows a quiet spell.
      sf_final_at = Clock::now() + std::chrono::milliseconds(kSfQuietMs);
      Event("secure frame open");
    } else if (upper == "AT*EETC=2") {
      Answer(kOk);
      ports[0].in_tc = true;
      ports[0].tc_input.clear();
      ports[0].tc_last_input = Clock::now();
      assembly = TcAssembly();
      Event("transparent channel open");
    } else {
      Answer(kError);
    }
  }

  void ItpCommand(const std::string& line, const std::string& upper) {
    const bool calt = Upper(profile.platform_name) == "CALT";
    if (upper == "AT*EOTP") {
      // The OTP area answers in both command sets.
      Answer(Info(profile.eotp));
    } else if (upper.rfind("AT", 0) == 0) {
      Answer("\r\nCERR: 1\r\n");
    } else if (upper == "VERS") {
      Answer("\r\nVERS: " + profile.platform_name + " ITP " + profile.Get("FW Version") +
             "\r\nOK\r\n");
    } else if ((upper == "KILD" && calt) || (upper == "KILL" && !calt)) {
      Answer(kOk, PostAction::kGoAway);
      come_back_after_go_away = true;
      at_after_restart = true;
      Event("leaving ITP mode");
    } else if (upper.rfind("LEDC=", 0) == 0) {
      std::vector<std::string> args = Arguments(line.substr(5));
      std::vector<long> values;
      for (const std::string& arg : args) {
        char* end = nullptr;
        long value = std::strtol(arg.c_str(), &end, 10);
        if (arg.empty() || *end != '\0') {
          values.clear();
          break;
        }
        values.push_back(value);
      }
      bool valid =
          values.size() >= 2 && values[0] == 1 &&
          ((values[1] == 0 && values.size() == 2) || (values[1] == 1 && values.size() == 2) ||
           (values[1] == 2 && values.size() == 4) || (values[1] == 3 && values.size() == 3));
      if (valid && values[1] != 3) profile.led_on = values[1] != 0;
      Answer(valid ? "\r\nOK\r\n" : "\r\nledc, ERR\r\n");
    } else {
      Answer("\r\n" + line + ", ERR\r\n");
    }
  }

  // ---- input ----

  void OnAtBytes(const std::string& bytes) {
    Port& port = ports[0];
    std::string echoed;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (!present || restart_pending) return;
      if (port.in_sf) {
        if (!echoed.empty()) {
          Enqueue(0, echoed, 0, PostAction::kNone, false);
          echoed.clear();
        }
        port.sf_input.append(bytes, i, std::string::npos);
        sf_final_at = Clock::time_point::max();  // more is coming
        ProcessSf();
        return;
      }
      if (port.in_tc) {
        if (!echoed.empty()) {
          Enqueue(0, echoed, 0, PostAction::kNone, false);
          echoed.clear();
        }
        port.tc_input.append(bytes, i, std::string::npos);
        port.tc_last_input = Clock::now();
        std::string rest = ProcessTc();
        if (!rest.empty() && present) OnAtBytes(rest);
        return;
      }
      const char c = bytes[i];
      if (echo && !profile.itp_mode) echoed.push_back(c);
      if (c == '\r' || c == '\n') {
        // The other half of a CR LF pair belongs to the same line end: echo it before answering.
        if (i + 1 < bytes.size() && (bytes[i + 1] == '\r' || bytes[i + 1] == '\n') &&
            bytes[i + 1] != c) {
          ++i;
          if (echo && !profile.itp_mode) echoed.push_back(bytes[i]);
        }
        if (!echoed.empty()) {
          Enqueue(0, echoed, 0, PostAction::kNone, false);
          echoed.clear();
        }
        std::string line = std::move(port.line);
        port.line.clear();
        bool overflow = port.line_overflow;
        port.line_overflow = false;
        if (overflow) {
          Record(TranscriptEntry::kCommand, 0, "(overlong line)");
          Answer(kError);
        } else if (!Trim(line).empty()) {
          Record(TranscriptEntry::kCommand, 0, line);
          AtCommand(line);
        }
        continue;
      }
      if (port.line.size() >= kMaxLine) {
        port.line_overflow = true;
      } else {
        port.line.push_back(c);
      }
    }
    if (!echoed.empty()) Enqueue(0, echoed, 0, PostAction::kNone, false);
  }

  void ReadPort(int index) {
    Port& port = ports[index];
    char buffer[4096];
    ssize_t got = read(port.pty.master, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
      // Not expected while we hold a slave open; back off instead of spinning.
      port.stalled_until = Clock::now() + std::chrono::milliseconds(50);
      return;
    }
    std::string bytes(buffer, static_cast<size_t>(got));
    if (port.in_tc || port.in_sf) {
      std::string kept = bytes.substr(0, kTranscriptBinaryCut);
      if (bytes.size() > kTranscriptBinaryCut) kept += "...";
      Record(TranscriptEntry::kReceived, index, kept);
    } else {
      Record(TranscriptEntry::kReceived, index, bytes);
    }
    if (index != 0) return;  // the second port takes what it is given and says nothing
    if (faults.unplug_after_bytes >= 0) {
      if (static_cast<long>(bytes.size()) >= faults.unplug_after_bytes) {
        Event("fault: unplug after bytes");
        faults.unplug_after_bytes = -1;
        GoAway(true);
        return;
      }
      faults.unplug_after_bytes -= static_cast<long>(bytes.size());
    }
    if (port.in_tc && faults.tc_unplug_after_payload_bytes >= 0) {
      if (static_cast<long>(bytes.size()) >= faults.tc_unplug_after_payload_bytes) {
        Event("fault: unplug in the transparent channel");
        faults.tc_unplug_after_payload_bytes = -1;
        GoAway(true);
        return;
      }
      faults.tc_unplug_after_payload_bytes -= static_cast<long>(bytes.size());
    }
    OnAtBytes(bytes);
  }

  // ---- the module thread ----

  void RunTimers() {
    Clock::time_point now = Clock::now();
    if (go_away_at <= now) GoAway(come_back_after_go_away);
    if (self_restart_at <= now) {
      self_restart_at = Clock::time_point::max();
      Event("restarting by itself");
      GoAway(true);
    }
    if (come_back_at <= now) ComeBack();
    if (enter_installing_at <= now) StartInstalling();
    if (install_done_at <= now) InstallDone();
    if (sf_final_at <= now) SfFinish();
    Port& at = ports[0];
    if (at.present && at.in_tc && !at.tc_input.empty() &&
        now - at.tc_last_input > std::chrono::milliseconds(kTcStaleFrameMs)) {
      Event("transparent channel: dropped a stale half frame");
      at.tc_input.clear();
    }
  }

  void FlushUnsolicited() {
    Port& at = ports[0];
    if (pending_unsolicited.empty() || !at.present || at.in_tc || at.in_sf || !at.line.empty()) {
      return;
    }
    for (const Output& out : at.out) {
      if (out.is_answer) return;  // not between a command and its answer
    }
    Enqueue(0, pending_unsolicited, 0, PostAction::kNone, false);
    pending_unsolicited.clear();
  }

  Clock::time_point NextDeadline() const {
    Clock::time_point next = std::min({come_back_at, go_away_at, install_done_at, self_restart_at,
                                       enter_installing_at, sf_final_at});
    for (const Port& port : ports) {
      // Output already due waits for POLLOUT (the host is not reading), not for a timer.
      if (port.present && !port.out.empty() && port.out.front().due > Clock::now()) {
        next = std::min(next, port.out.front().due);
      }
      if (port.present && port.in_tc && !port.tc_input.empty()) {
        next = std::min(next, port.tc_last_input + std::chrono::milliseconds(kTcStaleFrameMs + 1));
      }
      if (port.stalled_until > Clock::now()) next = std::min(next, port.stalled_until);
    }
    return next;
  }

  void Loop() {
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
      if (next != Clock::time_point::max()) {
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
          port.stalled_until = Clock::now() + std::chrono::milliseconds(50);
        }
      }
    }
  }
};

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
  profile = initial;
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
  datagrams_seen = 0;
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
  if (from_state_file && (state == 3 || state == 4 || state == 5)) FinishInstallation();
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

Module::Module() : impl_(new Impl) {}
Module::~Module() {
  impl_->Stop();
}

bool Module::Start(const Profile& profile, const ModuleOptions& options, std::string* error) {
  return impl_->Start(profile, options, error);
}

void Module::Stop() {
  impl_->Stop();
}

std::string Module::AtLinkPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->options.map_dir + "/" + impl_->options.at_link_name;
}

std::string Module::SecondLinkPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->options.map_dir + "/" + impl_->options.second_link_name;
}

std::string Module::AtPortPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ports[0].present ? impl_->ports[0].pty.slave_path : std::string();
}

std::string Module::SecondPortPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ports[1].present ? impl_->ports[1].pty.slave_path : std::string();
}

void Module::SetFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults = faults;
  impl_->datagrams_seen = 0;
  impl_->Event("faults changed");
  impl_->Wake();
}

Faults Module::GetFaults() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->faults;
}

void Module::Unplug(bool come_back) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Event("unplug requested");
  impl_->GoAway(come_back);
  impl_->Wake();
}

void Module::Plug() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->ComeBack();
  impl_->Wake();
}

void Module::Restart() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Event("restart requested");
  impl_->GoAway(true);
  impl_->Wake();
}

bool Module::IsPresent() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->present;
}

int Module::RestartCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->restart_count;
}

bool Module::EchoOn() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->echo;
}

bool Module::InTransparentChannel() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ports[0].in_tc;
}

int Module::UpgradeState() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->profile.UpgradeState();
}

Profile Module::CurrentProfile() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->profile;
}

void Module::SetProfile(const Profile& profile) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->profile = profile;
  impl_->PersistState();
  impl_->Wake();
}

void Module::SetUpgradeState(int state) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->ChangeUpgradeState(state);
  impl_->Wake();
}

void Module::SendUnsolicited(const std::string& text) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Enqueue(0, text, 0, PostAction::kNone, false);
  impl_->Wake();
}

std::vector<TranscriptEntry> Module::Transcript() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->transcript;
}

std::vector<std::string> Module::Commands() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<std::string> commands;
  for (const TranscriptEntry& entry : impl_->transcript) {
    if (entry.kind == TranscriptEntry::kCommand && entry.port == 0) commands.push_back(entry.data);
  }
  return commands;
}

void Module::ClearTranscript() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->transcript.clear();
}

bool Module::WaitForCommand(const std::string& command, int timeout_ms) const {
  const std::string wanted = Upper(command);
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    for (const TranscriptEntry& entry : impl_->transcript) {
      if (entry.kind == TranscriptEntry::kCommand && entry.port == 0 &&
          Upper(Trim(entry.data)) == wanted) {
        return true;
      }
    }
    return false;
  });
}

bool Module::WaitPresent(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return impl_->present; });
}

bool Module::WaitAway(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return !impl_->present; });
}

bool Module::WaitUpgradeState(int state, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return impl_->profile.UpgradeState() == state; });
}

}  // namespace tarvik_sim
