// Profile and fault settings as text: the lines of profile and state files, --set and --fault, and
// the "set" and "fault" lines of scenarios and the control socket.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tarvik_sim/faults.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"

namespace {

using tarvik_sim::Faults;
using tarvik_sim::Profile;

// A file of `lines` loaded over the default profile: what `read` sees, or "error: <reason>".
std::string LoadProfile(const std::string& lines,
                        const std::function<std::string(const Profile&)>& read) {
  tarvik_test::TempDir dir;
  const std::string path = dir.File("profile.txt");
  tarvik_test::WriteFile(path, lines);
  Profile profile = tarvik_sim::DefaultProfile();
  std::string error;
  if (!tarvik_sim::LoadProfileFile(path, &profile, &error)) return "error: " + error;
  return read ? read(profile) : std::string();
}

TEST(SettingsTest, ProfileLines) {
  using P = const Profile&;
  const struct {
    const char* lines;
    std::function<std::string(P)> read;
    std::string expected;
  } rows[] = {
      // clang-format off
      {"# a comment\n\npreset = brem\nproduct_number = ZRB 207 42/3\n", [](P p) { return p.platform_name + " " + p.Get("Product Number"); }, "Brem ZRB 207 42/3"},
      {"report.Vendor Name = Somebody Else\n", [](P p) { return p.Get("Vendor Name"); }, "Somebody Else"},
      {"sim = PIN\npin = 0000\n", [](P p) { return std::string(tarvik_sim::SimStateName(p.sim)) + " " + p.pin; }, "pin 0000"},
      {"iccid = 8946000000000000001\nimsi = 1234\n", [](P p) { return p.iccid + " " + p.imsi; }, "8946000000000000001 1234"},
      {"radio_mode = 4\nitp = yes\nself_restart = 0\n", [](P p) { return std::to_string(p.radio_mode) + std::to_string(p.itp_mode) + std::to_string(p.self_restart); }, "410"},
      {"upgrade_state = 2\nready_after = 4\n", [](P p) { return std::to_string(p.UpgradeState()) + " " + std::to_string(p.ready_after_queries); }, "2 4"},
      {"packages = ZNT4025527_1_R1G01_FC.ZIP, EXTRA:12\n", [](P p) { return p.wanted_packages[0].name + ":" + std::to_string(p.wanted_packages[0].length) + " " + p.wanted_packages[1].name + ":" + std::to_string(p.wanted_packages[1].length); }, "ZNT4025527_1_R1G01_FC.ZIP:4126 EXTRA:12"},
      {"eotp = *EOTP: 177\nitp_marker = A\\x42\n", [](P p) { return p.eotp + " " + p.itp_marker; }, "*EOTP: 177 AB"},
      {"answer = AT*X => \\r\\nA\n answer = at*x => B\\r\\n\n", [](P p) { return p.extra_answers.size() == 1 ? p.extra_answers[0].second : "two answers"; }, "B\r\n"},
      {"model = X\nfrobnicate = 1\n", nullptr, ":2:"},
      {"upgrade_state = 14\n", nullptr, "0 to 13"},
      {"radio_mode = 2\n", nullptr, "1 or 4"},
      {"sim = lost\n", nullptr, "lost"},
      {"iccid = 89AB\n", nullptr, "digits"},
      {"report.No Such Field = 1\n", nullptr, "No Such Field"},
      {"packages = NOT_CARRIED\n", nullptr, "NOT_CARRIED"},
      {"just some words\n", nullptr, "key = value"},
      {"preset = zorg\n", nullptr, "zorg"},
      {"answer = AT+CIMI\n", nullptr, "COMMAND => TEXT"},
      {"self_restart_ms = soon\n", nullptr, "self_restart_ms"},
      // clang-format on
  };
  for (const auto& row : rows) {
    const std::string got = LoadProfile(row.lines, row.read);
    if (row.read) {
      EXPECT_EQ(got, row.expected) << row.lines;
    } else {
      EXPECT_EQ(got.rfind("error: ", 0), 0u) << row.lines;
      EXPECT_NE(got.find(row.expected), std::string::npos) << row.lines << got;
    }
  }
  Profile profile;
  std::string error;
  EXPECT_FALSE(tarvik_sim::LoadProfileFile("/nonexistent/profile", &profile, &error));
  EXPECT_NE(error.find("/nonexistent/profile"), std::string::npos);
}

TEST(SettingsTest, FaultLines) {
  using F = const Faults&;
  const struct {
    const char* key;
    const char* value;
    std::function<std::string(F)> read;
    std::string expected;
  } rows[] = {
      // clang-format off
      {"split_offsets", " 9, 3 ", [](F f) { return std::to_string(f.split_offsets[0]) + "," + std::to_string(f.split_offsets[1]); }, "3,9"},
      {"ERROR_COMMANDS", "AT | AT+CIMI", [](F f) { return f.error_commands[0] + "|" + f.error_commands[1]; }, "AT|AT+CIMI"},
      {"clear", "1", [](F f) { return std::to_string(f.split_offsets.size() + f.error_commands.size()); }, "0"},
      {"split_offsets", "0", nullptr, "positive"},
      {"never_ready", "maybe", nullptr, "0 or 1"},
      {"answer_delay_ms", "-5", nullptr, "milliseconds"},
      {"tc_nack_result", "0", nullptr, "1 to 65535"},
      {"no_such_fault", "1", nullptr, "no_such_fault"},
      // clang-format on
  };
  Faults faults;
  faults.split_offsets = {1};
  faults.error_commands = {"AT"};
  for (const auto& row : rows) {
    std::string error;
    const bool ok = tarvik_sim::ApplyFaultSetting(&faults, row.key, row.value, &error);
    EXPECT_EQ(ok, row.read != nullptr) << row.key << "=" << row.value << ": " << error;
    if (ok && row.read) {
      EXPECT_EQ(row.read(faults), row.expected) << row.key;
    } else if (!ok) {
      EXPECT_NE(error.find(row.expected), std::string::npos) << error;
    }
  }
}

}  // namespace
