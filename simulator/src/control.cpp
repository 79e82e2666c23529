#include "tarvik_sim/control.h"

#include <cctype>
#include <cstdlib>

#include "text.h"

namespace tarvik_sim {
namespace {

bool KeyValue(const std::string& text, std::string* key, std::string* value) {
  size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  *key = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

}  // namespace

std::string ControlTrim(const std::string& text) {
  return text::Trim(text);
}

std::string ControlUpper(const std::string& text) {
  return text::Upper(text::Trim(text));
}

bool RunControlLine(Module* module, const std::string& raw, std::string* reply) {
  reply->clear();
  const std::string line = ControlTrim(raw);
  const size_t blank = line.find(' ');
  const std::string verb = line.substr(0, blank);
  const std::string rest =
      blank == std::string::npos ? std::string() : ControlTrim(line.substr(blank));
  std::string key;
  std::string value;
  if (verb == "unplug") {
    module->Unplug(true);
  } else if (verb == "unplug-forever") {
    module->Unplug(false);
  } else if (verb == "plug") {
    module->Plug();
  } else if (verb == "restart") {
    module->Restart();
  } else if (verb == "clear-faults") {
    module->SetFaults(Faults());
  } else if (verb == "fault") {
    Faults faults = module->GetFaults();
    if (!KeyValue(rest, &key, &value)) {
      *reply = "fault expects KEY=VALUE";
      return false;
    }
    if (!ApplyFaultSetting(&faults, key, value, reply)) return false;
    module->SetFaults(faults);
  } else if (verb == "set") {
    Profile profile = module->CurrentProfile();
    if (!KeyValue(rest, &key, &value)) {
      *reply = "set expects KEY=VALUE";
      return false;
    }
    if (!ApplyProfileSetting(&profile, key, value, reply)) return false;
    module->SetProfile(profile);
  } else if (verb == "state") {
    char* end = nullptr;
    long state = std::strtol(rest.c_str(), &end, 10);
    if (rest.empty() || *end != '\0' || state < 0 || state > 13) {
      *reply = "state expects 0 to 13";
      return false;
    }
    module->SetUpgradeState(static_cast<int>(state));
  } else if (verb == "unsolicited") {
    module->SendUnsolicited(text::Unescape(rest));
  } else if (verb == "state?") {
    *reply = std::to_string(module->UpgradeState()) + "\n";
  } else if (verb == "present?") {
    *reply = std::string(module->IsPresent() ? "1" : "0") + "\n";
  } else if (verb == "restarts?") {
    *reply = std::to_string(module->RestartCount()) + "\n";
  } else if (verb == "port?") {
    *reply = module->AtPortPath() + "\n";
  } else if (verb == "echo?") {
    *reply = std::string(module->EchoOn() ? "1" : "0") + "\n";
  } else if (verb == "tc?") {
    *reply = std::string(module->InTransparentChannel() ? "1" : "0") + "\n";
  } else if (verb == "commands?") {
    for (const std::string& command : module->Commands()) *reply += command + "\n";
  } else {
    *reply = "unknown control command '" + verb + "'";
    return false;
  }
  return true;
}

}  // namespace tarvik_sim
