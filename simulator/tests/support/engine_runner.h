// The simulator's engines run without terminals, as Module runs them but on a virtual clock: steps
// go in, and what the host would read comes out as text.
#ifndef TARVIK_SIM_TESTS_SUPPORT_ENGINE_RUNNER_H_
#define TARVIK_SIM_TESTS_SUPPORT_ENGINE_RUNNER_H_

#include <stdio.h>

#include <string>
#include <vector>

#include "tarvik_sim/engine.h"
#include "testing/tc_frames.h"

namespace tarvik_sim_test {

// A step is bytes for the AT port, or one of these (they start with a byte no test sends).
const std::string kWait = "\x7fwait";        // time passes until the next timer or restart fires
const std::string kRestart = "\x7frestart";  // the module is restarted from outside
const std::string kInfo = "\x7finfo";        // "<state revision missing...>" of the update state
const std::string kClock = "\x7ftime";       // "<t=N>": the virtual time in milliseconds
inline std::string Payload(size_t length) {  // a whole payload reaches the upgrade machine
  return "\x7fpayload " + std::to_string(length);
}
inline std::string State(int state) {  // the upgrade state is set from outside
  return "\x7fstate " + std::to_string(state);
}

// What the host reads: whole frames as "[ack v2 p3 s7 q0 r0]", "[answer s7 id4660 r0]",
// "[reply c0 r1]", "[sf r0]"; text as it is; other bytes as "\xNN".
inline std::string Decode(const std::string& b) {
  std::string out;
  char token[64];
  for (size_t i = 0; i < b.size();) {
    const size_t left = b.size() - i;
    const int type = left > 1 && (b[i] == 2 || b[i] == 3) ? b[i + 1] : -1;
    const unsigned char c = static_cast<unsigned char>(b[i]);
    auto le = [&](size_t at) { return tarvik_test::Le16At(b, i + at); };
    if (left >= 24 && b.compare(i, 4, "ZAMU") == 0) {
      snprintf(token, sizeof token, "[sf r%u]", static_cast<unsigned>(b[i + 15] & 0xff));
      i += 24;
    } else if (type == 1 && left >= 6) {
      snprintf(token, sizeof token, "[reply c%u r%u]", le(2), le(4));
      i += 6;
    } else if (type == 3 && left >= 10) {
      snprintf(token, sizeof token, "[ack v%d p%u s%u q%u r%u]", b[i], le(2), le(4), le(6), le(8));
      i += 10;
    } else if (type == 2 && left >= 22) {
      snprintf(token, sizeof token, "[answer s%u id%u r%u]", le(4), le(10), le(20));
      i += 10 + le(8);
    } else {
      snprintf(token, sizeof token,
               (c >= 0x20 && c < 0x7f) || c == '\r' || c == '\n' ? "%c" : "\\x%02x", c);
      ++i;
    }
    out += token;
  }
  return out;
}

// Renders "(+N)" before bytes sent N ms after what was queued before them, "<u:...>" unsolicited
// text, "<away>" a restart, "<r=N>" a payload's result, "<idle>" a wait with no timer running.
class EngineRunner {
 public:
  EngineRunner(const tarvik_sim::Profile& profile, const tarvik_sim::Faults& faults)
      : engine_(profile) {
    engine_.SetFaults(faults);
    for (long& deadline : deadlines_) deadline = -1;
  }

  // What the steps caused.
  std::string Run(const std::vector<std::string>& steps) {
    out_.clear();
    for (const std::string& step : steps) {
      tarvik_sim::Effects effects;
      std::string note;  // comes after what the step caused
      if (step == kWait) {
        Wait();
      } else if (step == kRestart) {
        Restart();
      } else if (step == kInfo) {
        note = Info();
      } else if (step == kClock) {
        note = "<t=" + std::to_string(now_) + ">";
      } else if (step.rfind("\x7fpayload ", 0) == 0) {
        const std::string payload(std::stoul(step.substr(9)), 'x');
        note = "<r=" + std::to_string(engine_.upgrade().OnPayload(payload, &effects)) + ">";
      } else if (step.rfind("\x7fstate ", 0) == 0) {
        engine_.upgrade().ChangeState(std::stoi(step.substr(7)), &effects);
      } else {
        engine_.OnAtBytes(step, &effects);
      }
      Take(effects);
      out_ += note;
    }
    return out_;
  }

 private:
  static constexpr size_t kRestartSlot = static_cast<size_t>(tarvik_sim::Timer::kCount);

  void Take(const tarvik_sim::Effects& effects) {
    std::string queued;
    bool away = false;
    for (const tarvik_sim::Effect& effect : effects.list()) {
      const size_t slot = static_cast<size_t>(effect.timer);
      if (effect.kind == tarvik_sim::Effect::kSend) {
        if (effect.delay_ms > 0) {
          out_ += Decode(queued) + "(+" + std::to_string(effect.delay_ms) + ")";
          queued.clear();
        }
        queued += effect.data;
        if (effect.go_away) deadlines_[kRestartSlot] = now_ + 100;
      } else if (effect.kind == tarvik_sim::Effect::kUnsolicited) {
        out_ += Decode(queued) + "<u:" + Decode(effect.data) + ">";
        queued.clear();
      } else if (effect.kind == tarvik_sim::Effect::kStartTimer) {
        deadlines_[slot] = now_ + effect.delay_ms;
      } else if (effect.kind == tarvik_sim::Effect::kStopTimer) {
        deadlines_[slot] = -1;
      }
      away = away || effect.kind == tarvik_sim::Effect::kGoAway;
    }
    out_ += Decode(queued);
    if (away) Restart();
  }

  std::string Info() const {
    const tarvik_sim::Profile& profile = engine_.state().profile;
    std::string info =
        std::to_string(profile.UpgradeState()) + " " + profile.Get("Config. Set Revision");
    for (const auto& package : tarvik_sim::MissingPackages(profile)) {
      if (profile.UpgradeState() == 2) info += " " + package.name;
    }
    return "<" + info + ">";
  }

  // As Module does it: the ports close, the module restarts, and it appears again.
  void Restart() {
    out_ += "<away>";
    deadlines_[kRestartSlot] = -1;
    engine_.OnPortsClosed();
    tarvik_sim::Effects effects;
    engine_.OnRestart(&effects);
    engine_.OnAppear();
    Take(effects);
  }

  void Wait() {
    size_t next = kRestartSlot + 1;
    for (size_t slot = 0; slot <= kRestartSlot; ++slot) {
      if (deadlines_[slot] >= 0 && (next > kRestartSlot || deadlines_[slot] < deadlines_[next]))
        next = slot;
    }
    if (next > kRestartSlot) {
      out_ += "<idle>";
      return;
    }
    now_ = deadlines_[next];
    deadlines_[next] = -1;
    if (next == kRestartSlot) {
      Restart();
    } else {
      tarvik_sim::Effects effects;
      engine_.OnTimer(static_cast<tarvik_sim::Timer>(next), &effects);
      Take(effects);
    }
  }

  tarvik_sim::Engine engine_;
  std::string out_;
  long now_ = 0;
  long deadlines_[kRestartSlot + 1];
};

}  // namespace tarvik_sim_test

#endif  // TARVIK_SIM_TESTS_SUPPORT_ENGINE_RUNNER_H_
