#include "tarvik_sim/profile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "text.h"

namespace tarvik_sim {
namespace {

using text::Lower;
using text::Trim;
using text::Unescape;

constexpr size_t kLabelWidth = 26;

bool ParseInt(const std::string& text, long min, long max, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < min || parsed > max) return false;
  *value = static_cast<int>(parsed);
  return true;
}

bool ParseBool(const std::string& text, bool* value) {
  std::string lower = Lower(text);
  if (lower == "1" || lower == "true" || lower == "yes" || lower == "on") {
    *value = true;
    return true;
  }
  if (lower == "0" || lower == "false" || lower == "no" || lower == "off") {
    *value = false;
    return true;
  }
  return false;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    item = Trim(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

// "name" (length from the package table) or "name:length".
bool ParsePackage(const std::string& text, Package* package) {
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    int length = 0;
    if (!ParseInt(Trim(text.substr(colon + 1)), 1, 0x7fffffff, &length)) return false;
    package->name = Trim(text.substr(0, colon));
    package->length = static_cast<size_t>(length);
    return !package->name.empty();
  }
  for (const Package& known : KnownPackages()) {
    if (known.name == text) {
      *package = known;
      return true;
    }
  }
  return false;
}

const std::vector<std::pair<const char*, const char*>> kShortKeys = {
    {"model", "Model"},
    {"imei", "IMEI Data"},
    {"svn", "SVN"},
    {"serial_number", "Serial Number"},
    {"product_number", "Product Number"},
    {"product_revision", "Revision"},
    {"firmware_version", "FW Version"},
    {"config_set_product", "Config. Set Product"},
    {"config_set_revision", "Config. Set Revision"},
    {"network_customization", "Network Customization"},
    {"individualization", "Individualization"},
    {"domain", "Domain"},
    {"upgrade_state", "Upgrade State"},
};

Profile MakeBase(const std::string& product_number, const std::string& platform) {
  Profile p;
  p.platform_name = platform;
  const std::vector<std::pair<std::string, std::string>> values = {
      {"Model", "Tarvik Module T3"},
      {"IMEI Data", "353456789012345"},
      {"SVN", "02"},
      {"Serial Number", "TRV00012345"},
      {"Product Number", product_number},
      {"Revision", "R1A"},
      {"FW Product", "ZNT4025527/1"},
      {"FW Version", "R3C01"},
      {"FW Build Date/Time", "2026-02-11 09:41"},
      {"Cust. Product", "ZNT4029100/1"},
      {"Cust. Version", "R1B"},
      {"Network List Product", "ZNL5504429/1"},
      {"Network List Revision", "R1D"},
      {"FS Product Number", "ZNT4029200/1"},
      {"FS Version", "R2A"},
      {"Network Cust. Product", "ZNT4029300/1"},
      {"Network Cust. Version", "R1A"},
      {"Current Network Setting", "1"},
      {"Customization Descr", "Generic"},
      {"Format", "2"},
      {"Base Product Number", product_number},
      {"Base Product Revision", "R1A"},
      {"SIMLock Deployment", "0"},
      {"SIMLock Description", "No lock"},
      {"SIMLock Product", "ZNT4029400/1"},
      {"SIMLock Revision", "R1A"},
      {"SIM approved", "1"},
      {"Locked Network", "none"},
      {"Locked Network Subset", "none"},
      {"Locked Service Provider", "none"},
      {"Locked Corporate", "none"},
      {"Locked SIMLock", "none"},
      {"Locked Extended SIMLock", "none"},
      {"AutoLock activated", "No"},
      {"Model Description", "3G data card"},
      {"Vendor Name", "Tarvik"},
      {"Config. Set Product", "ZNT4028813/1"},
      {"Config. Set Revision", "R3C01"},
      {"Network Customization", "TRV_GENERIC;3"},
      {"Customization State", "2"},
      {"Configuration Product", "ZNT4028700/1"},
      {"Configuration Revision", "R2B"},
      {"Protocol FW Product", "ZNT4025600/1"},
      {"Protocol FW Version", "R3C01"},
      {"Application FW Product", "ZNT4025700/1"},
      {"Application FW Version", "R3C01"},
      {"Individualization", "189.190"},
      {"Domain", "3.3"},
      {"Upgrade State", "1"},
  };
  for (const auto& value : values) p.Set(value.first, value.second);
  p.wanted_packages = {KnownPackages()[0], KnownPackages()[6]};
  return p;
}

}  // namespace

const std::vector<std::string>& ReportFieldNames() {
  static const std::vector<std::string> names = {
      "Model",
      "IMEI Data",
      "SVN",
      "Serial Number",
      "Product Number",
      "Revision",
      "FW Product",
      "FW Version",
      "FW Build Date/Time",
      "Cust. Product",
      "Cust. Version",
      "Network List Product",
      "Network List Revision",
      "FS Product Number",
      "FS Version",
      "Network Cust. Product",
      "Network Cust. Version",
      "Current Network Setting",
      "Customization Descr",
      "Format",
      "Base Product Number",
      "Base Product Revision",
      "SIMLock Deployment",
      "SIMLock Description",
      "SIMLock Product",
      "SIMLock Revision",
      "SIM approved",
      "Locked Network",
      "Locked Network Subset",
      "Locked Service Provider",
      "Locked Corporate",
      "Locked SIMLock",
      "Locked Extended SIMLock",
      "AutoLock activated",
      "Model Description",
      "Vendor Name",
      "Config. Set Product",
      "Config. Set Revision",
      "Network Customization",
      "Customization State",
      "Configuration Product",
      "Configuration Revision",
      "Protocol FW Product",
      "Protocol FW Version",
      "Application FW Product",
      "Application FW Version",
      "Individualization",
      "Domain",
      "Upgrade State",
  };
  return names;
}

std::string ReportLabel(const std::string& name) {
  std::string label = name;
  if (label.size() < kLabelWidth - 1) label.append(kLabelWidth - 1 - label.size(), '.');
  label.push_back(' ');
  return label;
}

const char* SimStateName(SimState state) {
  switch (state) {
    case SimState::kAbsent:
      return "absent";
    case SimState::kReady:
      return "ready";
    case SimState::kPinLocked:
      return "pin";
    case SimState::kPukLocked:
      return "puk";
    case SimState::kPhNetLocked:
      return "ph-net";
    case SimState::kPhNetSubLocked:
      return "ph-netsub";
    case SimState::kPhSpLocked:
      return "ph-sp";
    case SimState::kPhCorpLocked:
      return "ph-corp";
    case SimState::kPhSimLocked:
      return "ph-simlock";
    case SimState::kPhEslLocked:
      return "ph-esl";
  }
  return "ready";
}

bool ParseSimState(const std::string& text, SimState* state) {
  static const SimState all[] = {SimState::kAbsent,      SimState::kReady,
                                 SimState::kPinLocked,   SimState::kPukLocked,
                                 SimState::kPhNetLocked, SimState::kPhNetSubLocked,
                                 SimState::kPhSpLocked,  SimState::kPhCorpLocked,
                                 SimState::kPhSimLocked, SimState::kPhEslLocked};
  std::string lower = Lower(Trim(text));
  for (SimState candidate : all) {
    if (lower == SimStateName(candidate)) {
      *state = candidate;
      return true;
    }
  }
  return false;
}

std::string Profile::Get(const std::string& name) const {
  for (const auto& field : report) {
    if (field.first == name) return field.second;
  }
  return std::string();
}

void Profile::Set(const std::string& name, const std::string& value) {
  for (auto& field : report) {
    if (field.first == name) {
      field.second = value;
      return;
    }
  }
  report.emplace_back(name, value);
}

int Profile::UpgradeState() const {
  return std::atoi(Get("Upgrade State").c_str());
}

void Profile::SetUpgradeState(int state) {
  Set("Upgrade State", std::to_string(state));
}

Profile DefaultProfile() {
  return MakeBase("ZRB 207 43/1", "Calt");
}
Profile CaltProfile() {
  return DefaultProfile();
}

Profile BremProfile() {
  Profile p = MakeBase("ZRB 207 41/1", "Brem");
  p.Set("Model", "Tarvik Module T1");
  return p;
}

Profile DovinProfile() {
  Profile p = MakeBase("ZRB 207 44/1", "Dovin");
  p.Set("Model", "Tarvik Module T4");
  return p;
}

Profile UnknownProfile() {
  Profile p = MakeBase("ZRB 207 99/1", "Unknown");
  p.Set("Model", "Tarvik Module T9");
  return p;
}

bool PresetProfile(const std::string& name, Profile* profile) {
  std::string lower = Lower(Trim(name));
  if (lower == "default" || lower == "calt") {
    *profile = CaltProfile();
  } else if (lower == "brem") {
    *profile = BremProfile();
  } else if (lower == "dovin") {
    *profile = DovinProfile();
  } else if (lower == "unknown") {
    *profile = UnknownProfile();
  } else {
    return false;
  }
  return true;
}

bool ApplyProfileSetting(Profile* p, const std::string& raw_key, const std::string& raw_value,
                         std::string* error) {
  const std::string key = Lower(Trim(raw_key));
  const std::string value = Trim(raw_value);
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = "profile setting '" + Trim(raw_key) + "': " + why;
    return false;
  };
  if (key == "preset") {
    if (!PresetProfile(value, p)) return fail("unknown preset '" + value + "'");
    return true;
  }
  if (key.rfind("radio.", 0) == 0) return ApplyRadioSetting(&p->radio, key.substr(6), value, error);
  if (key.rfind("report.", 0) == 0) {
    std::string name = Trim(raw_key).substr(7);
    name = Trim(name);
    const auto& names = ReportFieldNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      return fail("no report field '" + name + "'");
    }
    p->Set(name, value);
    return true;
  }
  for (const auto& short_key : kShortKeys) {
    if (key == short_key.first) {
      if (key == "upgrade_state") {
        int state = 0;
        if (!ParseInt(value, 0, 13, &state)) return fail("expected 0 to 13");
      }
      p->Set(short_key.second, value);
      return true;
    }
  }
  if (key == "platform") {
    p->platform_name = value;
  } else if (key == "eotp") {
    p->eotp = value;
  } else if (key == "operator_domain") {
    p->operator_domain = value;
  } else if (key == "sim") {
    if (!ParseSimState(value, &p->sim)) return fail("unknown SIM state '" + value + "'");
  } else if (key == "pin") {
    p->pin = value;
  } else if (key == "puk") {
    p->puk = value;
  } else if (key == "lock_code") {
    p->lock_code = value;
  } else if (key == "pin_tries") {
    if (!ParseInt(value, 0, 10, &p->pin_tries_left)) return fail("expected 0 to 10");
  } else if (key == "imsi") {
    p->imsi = value;
  } else if (key == "iccid") {
    if (value.empty() || value.size() > 20 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
      return fail("expected 1 to 20 digits");
    }
    p->iccid = value;
  } else if (key == "temperature") {
    if (!ParseInt(value, -100, 200, &p->temperature)) return fail("expected a number");
  } else if (key == "radio_mode") {
    int mode = 0;
    if (!ParseInt(value, 0, 4, &mode) || (mode != 1 && mode != 4)) return fail("expected 1 or 4");
    p->radio_mode = mode;
  } else if (key == "itp") {
    if (!ParseBool(value, &p->itp_mode)) return fail("expected 0 or 1");
  } else if (key == "itp_marker") {
    p->itp_marker = Unescape(value);
  } else if (key == "led") {
    if (!ParseBool(value, &p->led_on)) return fail("expected 0 or 1");
  } else if (key == "packages") {
    std::vector<Package> packages;
    for (const std::string& item : SplitList(value)) {
      Package package;
      if (!ParsePackage(item, &package))
        return fail("unknown package '" + item + "' (use name:length)");
      packages.push_back(package);
    }
    p->wanted_packages = packages;
  } else if (key == "answer") {
    size_t arrow = value.find("=>");
    if (arrow == std::string::npos || Trim(value.substr(0, arrow)).empty()) {
      return fail("expected COMMAND => TEXT");
    }
    std::string command = Trim(value.substr(0, arrow));
    std::string text = Unescape(Trim(value.substr(arrow + 2)));
    bool replaced = false;
    for (auto& answer : p->extra_answers) {
      if (Lower(answer.first) == Lower(command)) {
        answer.second = text;
        replaced = true;
      }
    }
    if (!replaced) p->extra_answers.emplace_back(command, text);
  } else if (key == "received_packages") {
    p->received_packages = SplitList(value);
  } else if (key == "target_revision") {
    p->target_revision = value;
  } else if (key == "self_restart") {
    if (!ParseBool(value, &p->self_restart)) return fail("expected 0 or 1");
  } else if (key == "keep_revision") {
    if (!ParseBool(value, &p->keep_revision)) return fail("expected 0 or 1");
  } else if (key == "install_ms") {
    if (!ParseInt(value, 0, 3600000, &p->install_ms)) return fail("expected milliseconds");
  } else if (key == "self_restart_ms") {
    if (!ParseInt(value, 0, 3600000, &p->self_restart_ms)) return fail("expected milliseconds");
  } else if (key == "restart_away_ms") {
    if (!ParseInt(value, 0, 3600000, &p->restart_away_ms)) return fail("expected milliseconds");
  } else if (key == "ready_after") {
    if (!ParseInt(value, 1, 1000, &p->ready_after_queries)) return fail("expected 1 to 1000");
  } else {
    return fail("unknown key");
  }
  return true;
}

bool LoadProfileFile(const std::string& path, Profile* profile, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    if (error != nullptr) *error = "cannot read profile file '" + path + "'";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    size_t equals = trimmed.find('=');
    if (equals == std::string::npos) {
      if (error != nullptr) *error = path + ":" + std::to_string(number) + ": expected key = value";
      return false;
    }
    std::string why;
    if (!ApplyProfileSetting(profile, trimmed.substr(0, equals), trimmed.substr(equals + 1),
                             &why)) {
      if (error != nullptr) *error = path + ":" + std::to_string(number) + ": " + why;
      return false;
    }
  }
  return true;
}

std::string SaveUpdateState(const Profile& profile) {
  std::string text = "# update state of the simulated module\n";
  text += "upgrade_state = " + std::to_string(profile.UpgradeState()) + "\n";
  text += "config_set_revision = " + profile.Get("Config. Set Revision") + "\n";
  text += "target_revision = " + profile.target_revision + "\n";
  text += "received_packages = ";
  for (size_t i = 0; i < profile.received_packages.size(); ++i) {
    if (i > 0) text += ",";
    text += profile.received_packages[i];
  }
  text += "\n";
  return text;
}

const std::vector<Package>& KnownPackages() {
  static const std::vector<Package> packages = {
      {"ZNL5504429_1_R1D_networklist", 34076}, {"ZNT4025527_1_R1G01_FC.ZIP", 4126},
      {"ZNT4025527_1_R2A07_FC.ZIP", 4126},     {"ZNT4025527_1_R2B02_FC.ZIP", 4127},
      {"ZNT4025527_1_R3A06_FC.ZIP", 4127},     {"ZNT4025527_1_R3C01_FC.ZIP", 8401222},
      {"ZNT4025527_1_R4A02_FC.ZIP", 8432613},
  };
  return packages;
}

const std::vector<Package>& KnownNetConfigurations() {
  static const std::vector<Package> configurations = {{"R5E/1", 24792}};
  return configurations;
}

}  // namespace tarvik_sim
