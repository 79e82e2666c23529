// The command interface and its handlers in process, against simulated modules: argument vectors
// (options, device search, dispatch, log and report files) as one table, the handlers called
// directly on open modules as another (with the SIM lock text of every PIN state), both rendered
// against golden files.

#include "updater/src/commands.h"

#include <apr_getopt.h>
#include <apr_pools.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvo.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"
#include "testing/golden.h"
#include "testing/module_map.h"
#include "testing/paths.h"
#include "updater/src/help.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/updater_support.h"

namespace {

using tarvik_sim::SimState;
using tarvik_test::FileExists;
using tarvik_test::ReadFile;

// The device map of a row: nothing, a port that does not open, the search (a dead port, a module,
// a dead port), or one module with a profile.
enum Kind { kEmpty, kDeadPort, kSearch, kCalt, kBrem, kDovin, kNoSim, kPinLocked, kAtErrors };
const char* const kKindNames[] = {"empty", "dead port", "search",     "calt",     "brem",
                                  "dovin", "no SIM",    "PIN locked", "AT errors"};

// A Calt module with the values the texts show set explicitly, or a module of another kind.
tarvik_sim::Profile ProfileOf(Kind kind, SimState sim = SimState::kReady) {
  tarvik_sim::Profile profile = kind == kBrem    ? tarvik_sim::BremProfile()
                                : kind == kDovin ? tarvik_sim::DovinProfile()
                                                 : tarvik_sim::CaltProfile();
  if (kind != kBrem && kind != kDovin) {
    profile.Set("Model", "Tarvik Module T3");
    profile.Set("IMEI Data", kind == kSearch ? "490154203237518" : "353456789012345");
    profile.Set("Product Number", "ZRB 207 43/1");
    profile.Set("FW Version", "R3C01");
    profile.imsi = "240081234567890";
    profile.iccid = "89460123456789012345";
    profile.pin_tries_left = 10;
    profile.sim = kind == kNoSim       ? SimState::kAbsent
                  : kind == kPinLocked ? SimState::kPinLocked
                                       : sim;
  }
  if (kind != kBrem) profile.Set("Network Customization", "TRV_GENERIC;3");
  return profile;
}

// The console of `call` with the quiet flag as given; the usage texts (pinned in help.txt) shown
// as <usage> and <help WORD>.
template <typename Call>
std::string Console(bool quiet, const char* word, Call call) {
  std::vector<std::pair<std::string, std::string>> help;
  for (const char* each : {static_cast<const char*>(nullptr), word}) {
    updater_test::ConsoleCapture capture;
    Help(each);
    help.push_back(
        {capture.Text(), each == nullptr ? "<usage>" : std::string("<help ") + each + ">"});
  }
  std::string console;
  {
    quarn_quiet = quiet;
    updater_test::ConsoleCapture capture;
    call();
    console = capture.Text();
    quarn_quiet = false;
  }
  for (const auto& [text, token] : help) {
    for (size_t at = console.find(text); !text.empty() && at != std::string::npos;
         at = console.find(text, at)) {
      console.replace(at, text.size(), token);
    }
  }
  return console + "\n";
}

// The words of a row with '_' for a blank and its stand-ins replaced.
std::vector<std::string> Words(const std::string& row,
                               const std::map<std::string, std::string>& stand_ins) {
  std::vector<std::string> words;
  for (std::string word : tarvik_test::SplitLines(row, " ", false)) {
    for (char& c : word) c = c == '_' ? ' ' : c;
    words.push_back(stand_ins.count(word) != 0 ? stand_ins.at(word) : word);
  }
  return words;
}

// A case as its record names it: "<kind>: <words>", then in this order " (quiet)", " (PIN x)",
// " (no device)" (a handle with no open device behind it) and " (platform n)" (the opened
// module's platform otherwise).
struct Case {
  Kind kind = kEmpty;
  std::string words, pin;
  bool quiet = false, no_device = false;
  int platform = -1;
};

std::string NameOf(const Case& c) {
  return std::string(kKindNames[c.kind]) + ": " + c.words + (c.quiet ? " (quiet)" : "") +
         (c.pin.empty() ? "" : " (PIN " + c.pin + ")") + (c.no_device ? " (no device)" : "") +
         (c.platform >= 0 ? " (platform " + std::to_string(c.platform) + ")" : "");
}

::testing::AssertionResult Parse(const std::string& name, Case* c) {
  const size_t colon = name.find(": ");
  const auto kind = std::find(std::begin(kKindNames), std::end(kKindNames), name.substr(0, colon));
  if (colon == std::string::npos || kind == std::end(kKindNames)) {
    return ::testing::AssertionFailure() << "record \"" << name << "\": unknown kind";
  }
  c->kind = static_cast<Kind>(kind - std::begin(kKindNames));
  c->words = name.substr(colon + 2);
  // The suffixes from the last; whatever does not name itself again exactly is malformed.
  auto take = [&](const std::string& open) -> std::optional<std::string> {
    const size_t at = c->words.rfind(" (" + open);
    if (at == std::string::npos || c->words.back() != ')') return std::nullopt;
    std::string value = c->words.substr(at + 2 + open.size());
    c->words.erase(at);
    return value.substr(0, value.size() - 1);
  };
  if (auto platform = take("platform ")) c->platform = atoi(platform->c_str());
  c->no_device = take("no device").has_value();
  c->pin = take("PIN ").value_or("");
  c->quiet = take("quiet").has_value();
  if (NameOf(*c) != name) {
    return ::testing::AssertionFailure()
           << "record \"" << name << "\": malformed, read as \"" << NameOf(*c) << "\"";
  }
  return ::testing::AssertionSuccess();
}

class CommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("TARVIK_WAIT_DIVISOR", "50", 1); }

  void SetUp() override {
    if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
    ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
    strcpy(quarn_filename, "prog");
  }

  void TearDown() override {
    KvoTerminate();
    // The logger keeps its file name and masks across a restart of the library.
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
    platform_type = kKvoDevicePlatformTypeInvalid;
    memset(pin_code, 0, sizeof pin_code);
  }

  // A map of `kind`, made on first use, and its module (null without one).
  tarvik_sim::Module* Map(Kind kind) {
    if (maps_.count(kind) == 0) {
      auto map = std::make_unique<tarvik_test::ModuleMap>();
      if (kind == kDeadPort || kind == kSearch) map->AddDeadLink("usb-A_0001-if00-mdm");
      if (kind != kEmpty && kind != kDeadPort) {
        modules_[kind] =
            map->Add(ProfileOf(kind), "usb-B" + std::to_string(kind) + "_0001-if00-mdm");
      }
      if (kind == kSearch) map->AddDeadLink("usb-C_0001-if00-mdm");
      if (kind == kAtErrors) {
        tarvik_sim::Faults faults;
        faults.error_commands = {"AT+CGMR"};
        modules_[kind]->SetFaults(faults);
      }
      names_.push_back({map->dir(), "<map>"});
      maps_[kind] = std::move(map);
    }
    return modules_.count(kind) != 0 ? modules_[kind] : nullptr;
  }

  // What a row left: the module asked or not, and the files named.
  std::string Left(tarvik_sim::Module* module,
                   const std::vector<std::pair<std::string, std::string>>& files) {
    std::string left = module == nullptr            ? ""
                       : module->Commands().empty() ? "module untouched\n"
                                                    : "module asked\n";
    for (const auto& [name, path] : files) {
      if (!FileExists(path)) continue;
      std::string text = ReadFile(path);
      for (size_t at = text.find("Time Stamp: "); at != std::string::npos;
           at = text.find("Time Stamp: ", at + 1)) {
        text.replace(at + 12, text.find("\n\r", at) - at - 12, "<time>");
      }
      left += name + ":\n" + (name == "log" ? updater_test::ProgramLogLines(text) : text + "\n");
    }
    return left;
  }

  tarvik_test::TempDir files_;
  std::map<int, std::unique_ptr<tarvik_test::ModuleMap>> maps_;
  std::map<int, tarvik_sim::Module*> modules_;
  std::vector<std::pair<std::string, std::string>> names_ = {{files_.path(), "<files>"}};
};

// Cases: the records of golden/command_lines.txt, "<map>: <words>". LOG, REPORT and PORT stand
// for a log file, a report file (two runs append to it) and the module's AT port.
TEST_F(CommandsTest, ArgumentVectorsGiveTheirGoldenOutcome) {
  std::string all;
  int number = 0;
  for (const std::string& name : updater_test::GoldenNames("command_lines.txt")) {
    Case line;
    ASSERT_TRUE(Parse(name, &line));
    ASSERT_TRUE(line.pin.empty() && !line.quiet && !line.no_device && line.platform < 0)
        << "\"" << name << "\": a command line takes no suffix";
    tarvik_sim::Module* module = Map(line.kind);
    const std::string log = files_.File("log" + std::to_string(++number));
    const std::string report = files_.File("report" + std::to_string(number));
    std::vector<std::string> words = {"prog"};
    for (const std::string& word :
         Words(line.words, {{"LOG", log},
                            {"REPORT", report},
                            {"PORT", module != nullptr ? module->AtPortPath() : ""}})) {
      words.push_back(word);
    }
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    setenv("TARVIK_DEVICE_MAP", maps_[line.kind]->dir().c_str(), 1);
    int returned = -1;
    std::string console;
    for (int run = 0; run < (line.words.find("REPORT") != std::string::npos ? 2 : 1); ++run) {
      if (module != nullptr) module->ClearTranscript();
      memset(&device_open_parameters, 0, sizeof device_open_parameters);
      handle = 1000;  // no handle the library hands out
      apr_getopt_t* options = nullptr;
      apr_getopt_init(&options, quarn_pool, static_cast<int>(argv.size()), argv.data());
      console = Console(false, nullptr, [&] { returned = CommandInterface(options); });
      if (handle != 1000) KvoDeviceClose(handle);
    }
    std::string outcome = "result " + std::to_string(returned) + "\n";
    if (device_open_parameters.device_name[0] != '\0') {
      outcome += "port " + std::string(device_open_parameters.device_name) + " baud " +
                 std::to_string(device_open_parameters.baud) + "\n";
    }
    outcome += "console:\n" + console + Left(module, {{"log", log}, {"report", report}});
    all += updater_test::Record(name, updater_test::Masked(outcome, names_));
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(updater_test::GoldenPath("command_lines.txt"), all));
}

// Cases: the records of golden/handlers.txt before the lock texts. FILE is a file longer than an
// IMEI, NEWFILE one that does not exist yet, BADFILE one that cannot be created, CONFIRM the test
// update container, LONG a compare text of 100 characters.
TEST_F(CommandsTest, HandlersGiveTheirGoldenOutcome) {
  const std::string log = files_.File("handlers.log");
  KvoSetLogFile(log.c_str());
  KvoSetLogTypesForFile(kKvoLogTypeError);
  std::map<int, KvoDeviceHandle> handles;
  std::map<int, KvoDevicePlatformType> platforms;
  std::string all;
  int number = 0;
  for (const std::string& name : updater_test::GoldenNames("handlers.txt")) {
    if (name.rfind("lock text, ", 0) == 0) continue;  // made below
    Case call;
    ASSERT_TRUE(Parse(name, &call));
    tarvik_sim::Module* module = Map(call.kind);
    if (handles.count(call.kind) == 0) {
      KvoDeviceOpenParameters parameters =
          tarvik_test::OpenParameters<KvoDeviceOpenParameters>(module->AtPortPath());
      ASSERT_EQ(kKvoResultSuccess, KvoDeviceOpen(&parameters, &handles[call.kind]));
      ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handles[call.kind], &platforms[call.kind]));
    }
    module->SetProfile(ProfileOf(call.kind));
    module->ClearTranscript();
    const std::string file = files_.File("file" + std::to_string(++number));
    const std::string new_file = files_.File("new" + std::to_string(number));
    tarvik_test::WriteFile(file, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    const std::vector<std::string> words =
        Words(call.words, {{"FILE", file},
                           {"NEWFILE", new_file},
                           {"BADFILE", files_.File("no/dir/imei")},
                           {"CONFIRM", tarvik_test::kConfirmContainer},
                           {"LONG", "24008" + std::string(95, '1')}});
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    int row = 0;
    while (functions[row].command_name != nullptr && words[0] != functions[row].command_name) ++row;
    ASSERT_NE(nullptr, functions[row].fptr) << words[0];

    handle = call.no_device ? 7 : handles[call.kind];
    platform_type = call.platform >= 0 ? static_cast<KvoDevicePlatformType>(call.platform)
                                       : platforms[call.kind];
    strcpy(pin_code, call.pin.c_str());
    strcpy(model, "Unknown");
    result = kKvoResultSuccess;
    const size_t logged = ReadFile(log).size();
    CommandParameters parameters = {static_cast<int>(argv.size()), handle, argv.data()};
    int returned = -1;
    const std::string console =
        Console(call.quiet, words[0].c_str(), [&] { returned = functions[row].fptr(&parameters); });
    tarvik_test::WriteFile(files_.File("logged"), ReadFile(log).substr(logged));
    std::vector<std::pair<std::string, std::string>> files = {{"log", files_.File("logged")}};
    for (const auto& [name, path] :
         {std::make_pair("FILE", file), std::make_pair("NEWFILE", new_file)}) {
      if (std::find(words.begin(), words.end(), path) != words.end()) files.push_back({name, path});
    }
    all += updater_test::Record(
        name, updater_test::Masked("returns " + std::to_string(returned) +
                                       ", last library result " + std::to_string(result) +
                                       "\nconsole:\n" + console + Left(module, files),
                                   names_));
  }
  // The SIM lock text of every PIN state, and one cut to a small buffer.
  handle = handles[kCalt];
  memset(pin_code, 0, sizeof pin_code);
  for (SimState sim :
       {SimState::kReady, SimState::kPinLocked, SimState::kPukLocked, SimState::kPhNetLocked,
        SimState::kPhNetSubLocked, SimState::kPhSpLocked, SimState::kPhCorpLocked,
        SimState::kPhSimLocked, SimState::kPhEslLocked, SimState::kAbsent}) {
    modules_[kCalt]->SetProfile(ProfileOf(kCalt, sim));
    for (int size : {80, sim == SimState::kPhEslLocked ? 8 : 0}) {
      char text[80];
      memset(text, 'x', sizeof text);
      if (size == 0) continue;
      const KvoResult locks = HandleLocks(text, size);
      all += updater_test::Record("lock text, SIM state " + std::to_string(static_cast<int>(sim)) +
                                      ", " + std::to_string(size) + " bytes",
                                  std::string(text) + "\nresult " + std::to_string(locks));
    }
  }
  for (const auto& [kind, opened] : handles) KvoDeviceClose(opened);
  EXPECT_TRUE(tarvik_test::MatchesGolden(updater_test::GoldenPath("handlers.txt"), all));
}

}  // namespace
