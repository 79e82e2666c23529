#include "tarvik_sim/at_engine.h"

#include <cstdlib>

#include "tarvik_sim/upgrade_machine.h"
#include "text.h"

namespace tarvik_sim {
namespace {

using text::Trim;
using text::Upper;

constexpr size_t kMaxLine = 4096;  // longer command lines are refused

const char* kOk = "\r\nOK\r\n";
const char* kError = "\r\nERROR\r\n";

std::string Info(const std::string& info) {
  return "\r\n" + info + "\r\n\r\nOK\r\n";
}

std::string CmeError(int code) {
  return "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
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

}  // namespace

void AtEngine::Reset() {
  line_.clear();
  line_overflow_ = false;
  radio_.Reset();
}

size_t AtEngine::Feed(const std::string& bytes, Effects* effects) {
  std::string echoed;
  size_t i = 0;
  for (; i < bytes.size(); ++i) {
    if (state_.restart_pending || state_.mode != Mode::kAt) break;
    const bool echo = state_.echo && !state_.profile.itp_mode;
    const char c = bytes[i];
    if (echo) echoed.push_back(c);
    if (c == '\r' || c == '\n') {
      // The other half of a CR LF pair belongs to the same line end: echo it before answering.
      if (i + 1 < bytes.size() && (bytes[i + 1] == '\r' || bytes[i + 1] == '\n') &&
          bytes[i + 1] != c) {
        ++i;
        if (echo) echoed.push_back(bytes[i]);
      }
      if (!echoed.empty()) {
        effects->Send(echoed, 0, false);
        echoed.clear();
      }
      const std::string line = std::move(line_);
      line_.clear();
      const bool overflow = line_overflow_;
      line_overflow_ = false;
      if (overflow) {
        effects->Command("(overlong line)");
        Answer(kError, effects);
      } else if (!Trim(line).empty()) {
        effects->Command(line);
        Command(line, effects);
      }
      continue;
    }
    if (line_.size() >= kMaxLine) {
      line_overflow_ = true;
    } else {
      line_.push_back(c);
    }
  }
  if (!echoed.empty()) effects->Send(echoed, 0, false);
  return i;
}

// An answer to a command, with the answer faults applied.
void AtEngine::Answer(const std::string& text, Effects* effects, bool go_away) {
  const Faults& faults = state_.faults;
  int delay = faults.answer_delay_ms;
  if (!faults.garbage_before_answer.empty()) {
    effects->Send(faults.garbage_before_answer, delay);
    delay = 0;
  }
  size_t previous = 0;
  for (size_t offset : faults.split_offsets) {
    if (offset <= previous || offset >= text.size()) continue;
    effects->Send(text.substr(previous, offset - previous), delay);
    delay = faults.split_pause_ms;
    previous = offset;
  }
  if (go_away) state_.restart_pending = true;
  effects->Send(text.substr(previous), delay, true, go_away);
}

void AtEngine::RadioAnswer(const RadioReply& reply, Effects* effects) {
  Answer(reply.answer, effects);
  for (const RadioReply::Later& later : reply.later) {
    effects->Send(later.text, later.delay_ms, false);
  }
}

bool AtEngine::IsErrorCommand(const std::string& upper) const {
  for (const std::string& command : state_.faults.error_commands) {
    if (Upper(command) == upper) return true;
  }
  return false;
}

std::string AtEngine::Report(const std::vector<std::string>& names) const {
  std::string text = "\r\n";
  for (const std::string& name : names)
    text += ReportLabel(name) + state_.profile.Get(name) + "\r\n";
  return text;
}

std::string AtEngine::CpinText() const {
  switch (state_.profile.sim) {
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
std::string AtEngine::SimBlocked() const {
  switch (state_.profile.sim) {
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

std::string AtEngine::EnterPin(const std::vector<std::string>& args) {
  switch (state_.profile.sim) {
    case SimState::kAbsent:
      return CmeError(10);
    case SimState::kReady:
      return CmeError(3);
    case SimState::kPinLocked:
      if (args[0] == state_.profile.pin) {
        state_.profile.sim = SimState::kReady;
        state_.profile.pin_tries_left = 3;
        return kOk;
      }
      if (--state_.profile.pin_tries_left <= 0) {
        state_.profile.pin_tries_left = 0;
        state_.profile.sim = SimState::kPukLocked;
      }
      return CmeError(16);
    case SimState::kPukLocked:
      if (args.size() >= 2 && args[0] == state_.profile.puk && !args[1].empty()) {
        state_.profile.pin = args[1];
        state_.profile.pin_tries_left = 3;
        state_.profile.sim = SimState::kReady;
        return kOk;
      }
      return CmeError(16);
    default:
      if (args[0] == state_.profile.lock_code) {
        state_.profile.sim = SimState::kReady;
        return kOk;
      }
      return CmeError(16);
  }
}

std::string AtEngine::IccidText() const {
  std::string digits = state_.profile.iccid;
  while (digits.size() < 20) digits.push_back('F');
  std::string swapped;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    swapped.push_back(digits[i + 1]);
    swapped.push_back(digits[i]);
  }
  return swapped;
}

std::string AtEngine::PackageListAnswer() const {
  std::string text =
      Report({"Model", "Product Number", "Config. Set Product", "Config. Set Revision",
              "Network Customization", "Individualization", "Domain", "Upgrade State"});
  if (state_.profile.UpgradeState() == 2) {
    for (const Package& package : MissingPackages(state_.profile))
      text += "# " + package.name + "\r\n";
  }
  return text + kOk;
}

void AtEngine::Command(const std::string& line, Effects* effects) {
  const std::string upper = Upper(Trim(line));
  if (IsErrorCommand(upper)) {
    effects->Event("fault: ERROR for " + line);
    Answer(kError, effects);
    return;
  }
  for (const auto& answer : state_.profile.extra_answers) {
    if (Upper(Trim(answer.first)) == upper) {
      Answer(answer.second, effects);
      return;
    }
  }
  if (state_.profile.itp_mode) {
    ItpCommand(Trim(line), upper, effects);
    return;
  }
  if (upper == "AT" || upper == "ATZ") {
    Answer(kOk, effects);
  } else if (upper == "ATE0") {
    state_.echo = false;
    Answer(kOk, effects);
  } else if (upper == "ATE1" || upper == "ATE") {
    state_.echo = true;
    Answer(kOk, effects);
  } else if (upper == "AT*EMRDY?") {
    ++state_.ready_queries;
    bool ready =
        !state_.faults.never_ready && state_.ready_queries >= state_.profile.ready_after_queries;
    Answer(Info(ready ? "*EMRDY: 1" : "*EMRDY: 0"), effects);
  } else if (upper == "AT*EEVINFO=99") {
    Answer(Report(ReportFieldNames()) + kOk, effects);
  } else if (upper == "AT*EEVINFO=2") {
    Answer(Report({"SIMLock Deployment", "SIMLock Description", "SIMLock Product",
                   "SIMLock Revision", "SIM approved", "Locked Network", "Locked Network Subset",
                   "Locked Service Provider", "Locked Corporate", "Locked SIMLock",
                   "Locked Extended SIMLock", "AutoLock activated"}) +
               kOk,
           effects);
  } else if (upper == "AT*EEVINFO=4") {
    Answer(PackageListAnswer(), effects);
  } else if (upper == "AT*E2RESET") {
    Answer(kOk, effects, true);
  } else if (upper == "AT+CFUN?") {
    Answer(Info("+CFUN: " + std::to_string(state_.profile.radio_mode)), effects);
  } else if (upper == "AT+CFUN=1" || upper == "AT+CFUN=4") {
    state_.profile.radio_mode = upper.back() - '0';
    Answer(kOk, effects);
  } else if (upper == "AT+CPIN?") {
    Answer(state_.profile.sim == SimState::kAbsent ? CmeError(10) : Info(CpinText()), effects);
  } else if (upper.rfind("AT+CPIN=", 0) == 0) {
    Answer(EnterPin(Arguments(Trim(line).substr(8))), effects);
  } else if (upper == "AT*E2OTR?") {
    Answer(Info("*E2OTR: 0," + std::to_string(state_.profile.temperature)), effects);
  } else if (upper == "AT*EEUSTATE?") {
    Answer(Info("*EEUSTATE: " + std::to_string(state_.ustate_reports ? 1 : 0) + "," +
                std::to_string(state_.profile.UpgradeState())),
           effects);
  } else if (upper == "AT*EEUSTATE=1" || upper == "AT*EEUSTATE=0") {
    state_.ustate_reports = upper.back() == '1';
    Answer(kOk, effects);
  } else if (upper == "AT*EEMLED=1" || upper == "AT*EEMLED=0") {
    state_.profile.led_on = upper.back() == '1';
    Answer(kOk, effects);
  } else if (upper == "AT*EOTP") {
    Answer(Info(state_.profile.eotp), effects);
  } else if (upper == "AT*EERCUST=0,\"TRV_OPERATOR_DOMAIN\"") {
    Answer(Info("*EERCUST: " + state_.profile.operator_domain), effects);
  } else if (upper == "AT+CRSM=176,12258,0,0,10") {
    std::string blocked = SimBlocked();
    Answer(blocked.empty() ? Info("+CRSM: 144,0,\"" + IccidText() + "\"") : blocked, effects);
  } else if (upper == "AT+CIMI") {
    std::string blocked = SimBlocked();
    Answer(blocked.empty() ? Info(state_.profile.imsi) : blocked, effects);
  } else if (upper == "ATI") {
    Answer(Info(state_.profile.Get("Vendor Name") + "\r\n" + state_.profile.Get("Model") + "\r\n" +
                state_.profile.Get("FW Version")),
           effects);
  } else if (upper == "AT+CGSN") {
    Answer(Info(state_.profile.Get("IMEI Data")), effects);
  } else if (upper == "AT+CGMI") {
    Answer(Info(state_.profile.Get("Vendor Name")), effects);
  } else if (upper == "AT+CGMM") {
    Answer(Info(state_.profile.Get("Model")), effects);
  } else if (upper == "AT+CGMR") {
    Answer(Info(state_.profile.Get("FW Version")), effects);
  } else if (upper == "AT*EESFUD=3") {
    Answer(kOk, effects);
    state_.mode = Mode::kSecureFrame;
  } else if (upper == "AT*EETC=2") {
    Answer(kOk, effects);
    state_.mode = Mode::kTransparentChannel;
  } else if (RadioReply reply; radio_.AtCommand(&state_, upper, &reply)) {
    RadioAnswer(reply, effects);
  } else {
    Answer(kError, effects);
  }
}

void AtEngine::ItpCommand(const std::string& line, const std::string& upper, Effects* effects) {
  const bool calt = Upper(state_.profile.platform_name) == "CALT";
  if (upper == "AT*EOTP") {
    // The OTP area answers in both command sets.
    Answer(Info(state_.profile.eotp), effects);
  } else if (upper.rfind("AT", 0) == 0) {
    Answer("\r\nCERR: 1\r\n", effects);
  } else if (upper == "VERS") {
    Answer("\r\nVERS: " + state_.profile.platform_name + " ITP " +
               state_.profile.Get("FW Version") + "\r\nOK\r\n",
           effects);
  } else if ((upper == "KILD" && calt) || (upper == "KILL" && !calt)) {
    Answer(kOk, effects, true);
    state_.at_after_restart = true;
    effects->Event("leaving ITP mode");
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
    if (valid && values[1] != 3) state_.profile.led_on = values[1] != 0;
    Answer(valid ? "\r\nOK\r\n" : "\r\nledc, ERR\r\n", effects);
  } else if (RadioReply reply; radio_.ItpCommand(&state_, line, upper, &reply)) {
    RadioAnswer(reply, effects);
  } else {
    Answer("\r\n" + line + ", ERR\r\n", effects);
  }
}

}  // namespace tarvik_sim
