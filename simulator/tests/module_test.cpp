// The module on its pseudo-terminals: what the engines cannot show (restarts on new terminal
// numbers, timing and pieces of writes, a host that does not read, the state file, control lines).
#include "tarvik_sim/module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "simulator/tests/support/raw_client.h"
#include "tarvik_sim/control.h"
#include "testing/files.h"
#include "testing/wait.h"

namespace {

using tarvik_sim::Profile;
using tarvik_sim::TranscriptEntry;
using tarvik_sim_test::RawClient;
using tarvik_sim_test::RunningModule;
using tarvik_test::FileExists;

std::string LinkTarget(const std::string& link) {
  std::error_code error;
  return std::filesystem::read_symlink(link, error).string();
}

Profile Quick() {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.restart_away_ms = 200;
  return profile;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Start(Quick(), &error)) << error;
  }
  void Control(const std::string& line) {
    std::string reply;
    ASSERT_TRUE(tarvik_sim::RunControlLine(&sim_.module, line, &reply)) << reply;
  }
  // The module's writes since the last command it took.
  std::vector<std::string> WritesAfterLastCommand() {
    std::vector<std::string> writes;
    for (const TranscriptEntry& entry : sim_.module.Transcript()) {
      if (entry.kind == TranscriptEntry::kCommand) writes.clear();
      if (entry.kind == TranscriptEntry::kSent) writes.push_back(entry.data);
    }
    return writes;
  }

  RunningModule sim_;
};

// A host that still holds the old port must not find the module behind the old name.
TEST_F(ModuleTest, EveryRestartHangsUpAndComesBackOnNewTerminals) {
  std::set<std::string> seen = {sim_.module.AtPortPath(), sim_.module.SecondPortPath()};
  EXPECT_EQ(LinkTarget(sim_.module.AtLinkPath()), sim_.module.AtPortPath());
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    const std::string old_port = sim_.module.AtPortPath();
    EXPECT_EQ(sim_.client.Command("AT*E2RESET"), "AT*E2RESET\r\n\r\nOK\r\n");
    EXPECT_TRUE(sim_.client.WaitHangUp(2000));
    ASSERT_TRUE(sim_.module.WaitAway(2000));
    EXPECT_FALSE(FileExists(sim_.module.AtLinkPath()));
    EXPECT_EQ(sim_.module.AtPortPath(), "");
    ASSERT_TRUE(sim_.module.WaitPresent(3000));
    EXPECT_FALSE(FileExists(old_port));
    EXPECT_TRUE(seen.insert(sim_.module.AtPortPath()).second);
    EXPECT_TRUE(seen.insert(sim_.module.SecondPortPath()).second);
    EXPECT_EQ(LinkTarget(sim_.module.AtLinkPath()), sim_.module.AtPortPath());
    EXPECT_EQ(LinkTarget(sim_.module.SecondLinkPath()), sim_.module.SecondPortPath());
    ASSERT_TRUE(sim_.Reopen());  // the old descriptor stays open until here
  }
  EXPECT_EQ(sim_.module.RestartCount(), 3);
}

// Unsolicited lines wait for a pending answer.
TEST_F(ModuleTest, LateAndSplitAnswersReachTheHostLateAndInPieces) {
  EXPECT_EQ(sim_.client.Command("AT*EEUSTATE=1"), "AT*EEUSTATE=1\r\n\r\nOK\r\n");
  Control("fault answer_delay_ms=400");
  ASSERT_TRUE(sim_.client.Write("AT\r\n"));
  ASSERT_TRUE(sim_.module.WaitForCommand("AT", 2000));
  sim_.module.SetUpgradeState(8);
  EXPECT_EQ(sim_.client.ReadFor(200), "AT\r\n");
  EXPECT_TRUE(sim_.client.ReadUntil("*EEUSTATE:1,8\r\n", 2000));
  EXPECT_EQ(sim_.client.Buffer(), "AT\r\n\r\nOK\r\n\r\n*EEUSTATE:1,8\r\n");
  Control("clear-faults");
  Control("fault split_offsets=2,5");
  EXPECT_EQ(sim_.client.Command("AT"), "AT\r\n\r\nOK\r\n");
  EXPECT_EQ(WritesAfterLastCommand(), (std::vector<std::string>{"AT\r\n", "\r\n", "OK\r", "\n"}));
}

TEST_F(ModuleTest, AHostThatStopsReadingOrLeavesDoesNotStopTheModule) {
  std::string flood;
  for (int i = 0; i < 20000; ++i) flood += "AT\r\n";  // more than the terminal holds
  ASSERT_TRUE(sim_.client.Write(flood));
  // Only now does the host read: every echo and answer is still there.
  size_t total = 0;
  for (int i = 0; i < 100; ++i) {
    const size_t got = sim_.client.ReadFor(300).size();
    if (got == 0) break;
    total += got;
  }
  EXPECT_EQ(total, 20000u * (4 + 6));
  sim_.client.Buffer().clear();
  EXPECT_EQ(sim_.client.Command("AT"), "AT\r\n\r\nOK\r\n");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(sim_.client.Write("AT*EMR"));  // half a line, then the host leaves
    sim_.client.Close();
    ASSERT_TRUE(sim_.client.Open(sim_.module.AtLinkPath()));
    ASSERT_TRUE(sim_.client.Write("\r\nAT\r\n"));
    EXPECT_TRUE(sim_.client.ReadUntil("\r\nOK\r\n", 2000));
  }
}

TEST_F(ModuleTest, ControlLines) {
  EXPECT_EQ(sim_.client.Command("AT+CGMI"), "AT+CGMI\r\n\r\nTarvik\r\n\r\nOK\r\n");
  Control("unsolicited \\r\\n*PING");
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*PING", 2000));
  const struct {
    const char* line;
    bool ok;
    const char* reply;  // the value lines, or a part of the reason
  } rows[] = {
      {"state 14", false, "0 to 13"},
      {"state 3", true, ""},
      {"state?", true, "3\n"},
      {"set sim=lost", false, "lost"},
      {"fault nonsense=1", false, "nonsense"},
      {"set sim=puk", true, ""},
      {"echo?", true, "1\n"},
      {"commands?", true, "AT+CGMI\n"},
      {"unplug-forever", true, ""},
      {"unsolicited \\r\\n*GONE", true, ""},  // dropped while away
      {"present?", true, "0\n"},
      {"plug", true, ""},
      {"present?", true, "1\n"},
      {"dance", false, "dance"},
  };
  for (const auto& row : rows) {
    std::string reply;
    EXPECT_EQ(tarvik_sim::RunControlLine(&sim_.module, row.line, &reply), row.ok) << row.line;
    if (row.ok) {
      EXPECT_EQ(reply, row.reply) << row.line;
    } else {
      EXPECT_NE(reply.find(row.reply), std::string::npos) << row.line << ": " << reply;
    }
  }
  EXPECT_EQ(sim_.module.CurrentProfile().sim, tarvik_sim::SimState::kPukLocked);
  const int restarts = sim_.module.RestartCount();
  Control("restart");
  EXPECT_TRUE(tarvik_test::WaitFor([&] { return sim_.module.RestartCount() > restarts; }, 2000));
}

// A module started again from its state file is where the last run left it; one that was
// installing boots into what it installed.
TEST(ModuleStateFileTest, NextRunResumes) {
  const struct {
    int state;
    const char* revision;
    const char* received;
    int state_after;
    const char* revision_after;
    size_t received_after;
  } rows[] = {
      {2, "R5E/1", "ZNL5504429_1_R1D_networklist", 2, "R5E/1", 1},
      {3, "R3C01", "ZNL5504429_1_R1D_networklist", 1, "R5E/1", 0},
      {5, "R3C01", "", 1, "R5E/1", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.state);
    tarvik_test::TempDir dir;
    tarvik_sim::ModuleOptions options;
    options.state_file = dir.File("module.state");
    Profile saved = Quick();
    saved.SetUpgradeState(row.state);
    saved.Set("Config. Set Revision", row.revision);
    saved.target_revision = "R5E/1";
    saved.received_packages = {row.received};
    ASSERT_TRUE(tarvik_test::WriteFile(options.state_file, tarvik_sim::SaveUpdateState(saved)));
    RunningModule sim;
    std::string error;
    ASSERT_TRUE(sim.Start(Quick(), &error, options)) << error;
    const Profile now = sim.module.CurrentProfile();
    EXPECT_EQ(now.UpgradeState(), row.state_after);
    EXPECT_EQ(now.Get("Config. Set Revision"), row.revision_after);
    EXPECT_EQ(now.received_packages.size(), row.received_after);
    // Every change is kept at once.
    sim.module.SetUpgradeState(9);
    EXPECT_NE(tarvik_test::ReadFile(options.state_file).find("upgrade_state = 9"),
              std::string::npos);
  }
}

}  // namespace
