#include "tarvik_sim/engine.h"

#include "text.h"

namespace tarvik_sim {

void Effects::Add(Effect::Kind kind, std::string data) {
  Effect effect;
  effect.kind = kind;
  effect.data = std::move(data);
  list_.push_back(std::move(effect));
}

void Effects::Send(std::string bytes, int delay_ms, bool answer, bool go_away) {
  Effect effect;
  effect.kind = Effect::kSend;
  effect.data = std::move(bytes);
  effect.delay_ms = delay_ms;
  effect.answer = answer;
  effect.go_away = go_away;
  list_.push_back(std::move(effect));
}

void Effects::StartTimer(Timer timer, int delay_ms) {
  Effect effect;
  effect.kind = Effect::kStartTimer;
  effect.timer = timer;
  effect.delay_ms = delay_ms;
  list_.push_back(std::move(effect));
}

void Effects::StopTimer(Timer timer) {
  Effect effect;
  effect.kind = Effect::kStopTimer;
  effect.timer = timer;
  list_.push_back(std::move(effect));
}

void QueueUnsolicited(const ModuleState& state, const std::string& text, Effects* effects) {
  if (state.faults.no_unsolicited) {
    effects->Event("unsolicited suppressed: " + text::Printable(text));
    return;
  }
  effects->Unsolicited(text);
}

void NoteItpAssignment(ModuleState* state, const std::string& data, Effects* effects) {
  const std::string& marker = state->profile.itp_marker;
  if (!marker.empty() && data.find(marker) != std::string::npos) {
    state->itp_after_restart = true;
    effects->Event("ITP assignment received: ITP mode after the next restart");
  }
}

bool ApplyAssignment(ModuleState* state, const std::string& data, Effects* effects) {
  const size_t start = data.find("TRVCC ");
  if (start == std::string::npos || start > 16) return false;
  size_t end = data.find('\n', start);
  effects->Event("assignment " + text::Printable(data.substr(start, end - start)));
  while (end != std::string::npos && end + 1 < data.size()) {
    const size_t begin = end + 1;
    end = data.find('\n', begin);
    const std::string line = data.substr(begin, end == std::string::npos ? end : end - begin);
    if (line.empty()) break;  // the settings end; the rest is the assignment's own data
    const size_t equals = line.find('=');
    const std::string key = text::Trim(line.substr(0, equals));
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
    std::string error;
    if (key == "itp") {
      // The command set changes as the module starts again.
      state->itp_after_restart = text::Trim(value) == "1";
    } else if (!ApplyProfileSetting(&state->profile, key, value, &error)) {
      effects->Event("assignment setting refused: " + error);
    }
  }
  return true;
}

Engine::Engine(const Profile& profile)
    : upgrade_(&state_), at_(&state_), tc_(&state_, &upgrade_), sf_(&state_) {
  state_.profile = profile;
}

void Engine::SetFaults(const Faults& faults) {
  state_.faults = faults;
  state_.datagrams_seen = 0;
}

void Engine::OnAppear() {
  OnPortsClosed();
  state_.restart_pending = false;
  state_.echo = true;
  state_.ustate_reports = false;
  state_.ready_queries = 0;
}

void Engine::OnPortsClosed() {
  state_.mode = Mode::kAt;
  at_.Reset();
  tc_.Reset();
  sf_.Reset();
}

void Engine::OnRestart(Effects* effects) {
  state_.restart_pending = false;
  if (state_.itp_after_restart) state_.profile.itp_mode = true;
  if (state_.at_after_restart) state_.profile.itp_mode = false;
  state_.itp_after_restart = false;
  state_.at_after_restart = false;
  effects->StopTimer(Timer::kSfQuiet);
  effects->StopTimer(Timer::kTcStale);
  upgrade_.OnRestart(effects);
}

void Engine::OnAtBytes(const std::string& input, Effects* effects) {
  Faults& faults = state_.faults;
  const long size = static_cast<long>(input.size());
  if (faults.unplug_after_bytes >= 0) {
    if (size >= faults.unplug_after_bytes) {
      effects->Event("fault: unplug after bytes");
      faults.unplug_after_bytes = -1;
      effects->GoAway();
      return;
    }
    faults.unplug_after_bytes -= size;
  }
  if (state_.mode == Mode::kTransparentChannel && faults.tc_unplug_after_payload_bytes >= 0) {
    if (size >= faults.tc_unplug_after_payload_bytes) {
      effects->Event("fault: unplug in the transparent channel");
      faults.tc_unplug_after_payload_bytes = -1;
      effects->GoAway();
      return;
    }
    faults.tc_unplug_after_payload_bytes -= size;
  }
  std::string bytes = input;
  while (!bytes.empty() && !state_.restart_pending) {
    switch (state_.mode) {
      case Mode::kSecureFrame:
        sf_.Feed(bytes, effects);
        return;
      case Mode::kTransparentChannel:
        bytes = tc_.Feed(bytes, effects);  // what follows a close is AT text again
        break;
      case Mode::kAt:
        bytes.erase(0, at_.Feed(bytes, effects));
        if (state_.mode == Mode::kTransparentChannel) tc_.Open(effects);
        if (state_.mode == Mode::kSecureFrame) sf_.Open(effects);
        break;
    }
  }
}

void Engine::OnTimer(Timer timer, Effects* effects) {
  switch (timer) {
    case Timer::kSfQuiet:
      sf_.OnQuiet(effects);
      break;
    case Timer::kTcStale:
      tc_.OnStale(effects);
      break;
    default:
      upgrade_.OnTimer(timer, effects);
      break;
  }
}

bool Engine::ReadyForUnsolicited() const {
  return state_.mode == Mode::kAt && !at_.HasPartialLine();
}

}  // namespace tarvik_sim
