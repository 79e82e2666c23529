// What the simulated module's engines ask of whatever runs them. The engines own no terminal and no
// clock: they take bytes and lines in and hand back an ordered list of effects (bytes to send,
// transcript lines, timers to start or stop, a restart), which `Module` carries out on its
// pseudo-terminals and timer loop, and which tests read directly.
#ifndef TARVIK_SIM_EFFECTS_H_
#define TARVIK_SIM_EFFECTS_H_

#include <string>
#include <vector>

namespace tarvik_sim {

// The engines' timers. The runner fires a started timer once, through Engine::OnTimer.
enum class Timer {
  kSelfRestart,      // state 5 reported: the module goes away by itself
  kEnterInstalling,  // a net configuration needing no package arrived: start installing
  kInstallDone,      // installing (state 3) is over
  kSfQuiet,          // no secure-frame packet for a while: the data is complete
  kTcStale,          // a half frame waited too long: drop it
  kCount,
};

struct Effect {
  enum Kind {
    kSend,         // `data` to the AT port, `delay_ms` after what is queued before it
    kCommand,      // a decoded command line or frame, for the transcript
    kEvent,        // something that happened, for the transcript
    kUnsolicited,  // `data` to the AT port once it is idle (no answer pending, no half line)
    kPersist,      // the update state changed; `data` is its state-file text
    kStartTimer,   // start `timer` to fire after `delay_ms` (restarts it when running)
    kStopTimer,    // stop `timer`
    kGoAway,       // restart now: go away and come back
  };
  Kind kind = kEvent;
  std::string data;
  int delay_ms = 0;
  bool answer = true;    // kSend: part of an answer (unsolicited text waits behind it)
  bool go_away = false;  // kSend: restart once these bytes are written
  Timer timer = Timer::kCount;
};

class Effects {
 public:
  void Send(std::string bytes, int delay_ms = 0, bool answer = true, bool go_away = false);
  void Command(std::string text) { Add(Effect::kCommand, std::move(text)); }
  void Event(std::string text) { Add(Effect::kEvent, std::move(text)); }
  void Unsolicited(std::string text) { Add(Effect::kUnsolicited, std::move(text)); }
  void Persist(std::string text) { Add(Effect::kPersist, std::move(text)); }
  void StartTimer(Timer timer, int delay_ms);
  void StopTimer(Timer timer);
  void GoAway() { Add(Effect::kGoAway, std::string()); }

  const std::vector<Effect>& list() const { return list_; }

 private:
  void Add(Effect::Kind kind, std::string data);
  std::vector<Effect> list_;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_EFFECTS_H_
