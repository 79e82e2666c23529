// Module profile of the simulated Tarvik Module: who the module is, what it reports, its SIM, and
// where it stands in an update. A profile is plain data; `Module` (module.h) keeps a live copy that
// changes as the module runs (upgrade state, revision, PIN state, radio mode, ...).
#ifndef TARVIK_SIM_PROFILE_H_
#define TARVIK_SIM_PROFILE_H_

#include <string>
#include <utility>
#include <vector>

#include "tarvik_sim/radio_profile.h"

namespace tarvik_sim {

// The 49 field names of the information report, in report order. Each report line is the name,
// dots up to column 25, one blank (26 characters together), then the value.
const std::vector<std::string>& ReportFieldNames();

// The 26-character label of a report field name ("Model" -> "Model.................... ").
std::string ReportLabel(const std::string& name);

enum class SimState {
  kAbsent,          // no SIM: SIM commands answer "+CME ERROR: 10"
  kReady,           // "+CPIN: READY"
  kPinLocked,       // "+CPIN: SIM PIN", unlocked with `pin`
  kPukLocked,       // "+CPIN: SIM PUK", unlocked with `puk` and a new PIN
  kPhNetLocked,     // "+CPIN: PH-NET PIN" and the other personalisation locks: unlocked with
  kPhNetSubLocked,  // `lock_code`
  kPhSpLocked,
  kPhCorpLocked,
  kPhSimLocked,
  kPhEslLocked,
};

// Name used in profile files and options: "absent", "ready", "pin", "puk", "ph-net", "ph-netsub",
// "ph-sp", "ph-corp", "ph-simlock", "ph-esl".
const char* SimStateName(SimState state);
bool ParseSimState(const std::string& text, SimState* state);

// One package the module can ask for during an update, recognised by its length when it arrives.
struct Package {
  std::string name;
  size_t length = 0;
};

struct Profile {
  // Information report fields by name (see ReportFieldNames); every one of the 49 is reported,
  // missing ones with an empty value. Upgrade state ("Upgrade State"), configuration-set revision
  // ("Config. Set Revision"), product number ("Product Number") etc. live here and nowhere else.
  std::vector<std::pair<std::string, std::string>> report;

  // Name for the "VERS" answer in ITP mode ("Brem", "Calt", "Dovin" or anything else).
  std::string platform_name = "Calt";
  // Info text of the "AT*EOTP" answer, sent as "\r\n<eotp>\r\n\r\nOK\r\n".
  std::string eotp = "*EOTP: 189";
  // Answer to AT*EERCUST=0,"TRV_OPERATOR_DOMAIN".
  std::string operator_domain = "TRV_GENERIC";

  SimState sim = SimState::kReady;
  std::string pin = "1234";
  std::string puk = "12345678";
  std::string lock_code = "00000000";  // unlocks the PH- personalisation locks
  int pin_tries_left = 3;              // wrong PINs before the SIM turns PUK locked
  std::string imsi = "240991234567890";
  std::string iccid = "89460123456789012345";  // digits; sent nibble-swapped, padded with F

  int temperature = 32;   // degrees Celsius, "AT*E2OTR?"
  int radio_mode = 1;     // "AT+CFUN": 1 on, 4 off
  bool itp_mode = false;  // the port speaks the ITP command set
  bool led_on = false;
  // A payload (transparent channel or secure frame) holding this text is an ITP assignment: the
  // module comes back in ITP mode after its next restart. Empty: no payload switches it.
  std::string itp_marker;

  // Update. The packages the module asks for in state 2 once a net configuration arrived
  // (names from the package table or given with their length), minus the ones already received.
  std::vector<Package> wanted_packages;
  std::vector<std::string> received_packages;
  // Target revision taken from the net configuration that arrived (empty while idle).
  std::string target_revision;
  // After installing: true reports 5 and restarts by itself; false reports 4 and waits for
  // "AT*E2RESET".
  bool self_restart = true;
  // A restart after installing brings the module back in state 1 on its old revision, as if the
  // installation had failed.
  bool keep_revision = false;
  int install_ms = 300;  // time spent in state 3
  // From reporting state 5 to going away. A host that reads once a second (one poll, then a
  // one-second pause) needs well over a second here, or the hang-up drops the state line unread.
  int self_restart_ms = 200;

  // Restart behaviour.
  int restart_away_ms = 1000;   // how long the module is gone after a restart
  int ready_after_queries = 1;  // "AT*EMRDY?" answers 1 from this query on after each start

  // Radio tests: bands, GPS, calibration, how measurement lines are delivered ("radio.<key>").
  RadioProfile radio;

  // Scripted answers for commands the module does not know, or to override one it knows:
  // command (compared case-insensitively, without line end) -> the whole answer as sent, final
  // result included. Checked first, in AT and ITP mode alike.
  std::vector<std::pair<std::string, std::string>> extra_answers;

  std::string Get(const std::string& name) const;  // empty when the field is not set
  void Set(const std::string& name, const std::string& value);
  int UpgradeState() const;  // "Upgrade State" as a number (0 when empty)
  void SetUpgradeState(int state);
};

// Ready-made profiles. The default is a Calt module ready for an update with the carried
// container: configuration set ZNT4028813/1 revision R3C01, individualization 189.190, state 1.
Profile DefaultProfile();
Profile CaltProfile();     // = DefaultProfile()
Profile BremProfile();     // product number ZRB 207 41
Profile DovinProfile();    // product number ZRB 207 44
Profile UnknownProfile();  // product number ZRB 207 99 (no platform)
// "default", "calt", "brem", "dovin", "unknown"; false for anything else.
bool PresetProfile(const std::string& name, Profile* profile);

// Applies one setting "key" = "value" (the keys of `tarvik-sim --help`, e.g. "product_number",
// "upgrade_state", "sim", "report.Model"). "preset" replaces the whole profile. "answer" takes
// "COMMAND => TEXT" with \r, \n and \xNN escapes in TEXT.
bool ApplyProfileSetting(Profile* profile, const std::string& key, const std::string& value,
                         std::string* error);

// Reads "key = value" lines ('#' starts a comment line) and applies them in order.
bool LoadProfileFile(const std::string& path, Profile* profile, std::string* error);

// The update state of a profile as "key = value" lines that LoadProfileFile reads back: upgrade
// state, configuration-set revision, target, received packages.
std::string SaveUpdateState(const Profile& profile);

// Known package lengths (the update container's package table): name -> length, and the net
// configuration of each target revision.
const std::vector<Package>& KnownPackages();
const std::vector<Package>& KnownNetConfigurations();  // name = target revision

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_PROFILE_H_
