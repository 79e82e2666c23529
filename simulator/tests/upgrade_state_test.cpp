// The module's upgrade state machine, driven over the transparent channel like an update run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "simulator/tests/support/running_module.h"
#include "simulator/tests/support/tc_client.h"
#include "tarvik_sim/module.h"

namespace {

using tarvik_sim::Profile;
using tarvik_sim_test::CloseChannel;
using tarvik_sim_test::OpenChannel;
using tarvik_sim_test::RunningModule;
using tarvik_sim_test::SendPayload;
using tarvik_sim_test::TcExchange;

constexpr size_t kNetConfigLength = 24792;

// "# <name>" lines of an AT*EEVINFO=4 answer, each right after a line feed.
std::vector<std::string> Requests(const std::string& answer) {
  std::vector<std::string> names;
  size_t at = 0;
  while ((at = answer.find("\n# ", at)) != std::string::npos) {
    size_t end = answer.find('\r', at);
    names.push_back(answer.substr(at + 3, end - at - 3));
    at = end;
  }
  return names;
}

std::string Field(const std::string& report, const std::string& label) {
  size_t at = report.find("\r\n" + label);
  if (at == std::string::npos) return "(missing)";
  at += 2 + label.size();
  return report.substr(at, report.find('\r', at) - at);
}

class UpgradeStateTest : public ::testing::Test {
 protected:
  static Profile SmallUpdate() {
    Profile profile = tarvik_sim::DefaultProfile();
    profile.restart_away_ms = 200;
    profile.install_ms = 100;
    profile.wanted_packages = {{"PKG_A", 3000}, {"PKG_B", 70000}};
    return profile;
  }
  void StartWith(const Profile& profile, tarvik_sim::ModuleOptions options = {}) {
    std::string error;
    ASSERT_TRUE(sim_.Start(profile, &error, options)) << error;
    ASSERT_NE(sim_.client.Command("ATE0"), "");
    ASSERT_EQ(sim_.client.Command("AT*EEUSTATE=1"), "\r\nOK\r\n");
  }
  // One payload over its own open, send and close, as the update engine does it; returns the
  // answer result (-1 when the exchange broke).
  int Transfer(size_t length) {
    if (!OpenChannel(&sim_.client)) return -1;
    ++session_;
    TcExchange exchange =
        SendPayload(&sim_.client, session_, tarvik_test::TcRequestPayload(length, session_), 10000);
    if (!exchange.complete || !CloseChannel(&sim_.client)) return -1;
    return exchange.answer.result;
  }
  std::string Info4() { return sim_.client.Command("AT*EEVINFO=4"); }

  RunningModule sim_;
  uint16_t session_ = 0;
};

TEST_F(UpgradeStateTest, NetConfigurationTakesTheTargetAndAsksForPackages) {
  StartWith(SmallUpdate());
  EXPECT_EQ(Field(Info4(), "Config. Set Revision..... "), "R3C01");
  EXPECT_EQ(Transfer(kNetConfigLength), 0);
  // The state line comes only after the channel is closed, once the port speaks AT again.
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,2\r\n", 2000));
  std::string info = Info4();
  EXPECT_EQ(Field(info, "Config. Set Revision..... "), "R5E/1");
  EXPECT_EQ(Field(info, "Upgrade State............ "), "2");
  EXPECT_EQ(Requests(info), (std::vector<std::string>{"PKG_A", "PKG_B"}));
  EXPECT_EQ(Field(sim_.client.Command("AT*EEVINFO=99"), "Config. Set Revision..... "), "R5E/1");

  // A payload of no wanted length is refused and changes nothing.
  EXPECT_EQ(Transfer(1234), 255);
  // The net configuration again is harmless.
  EXPECT_EQ(Transfer(kNetConfigLength), 0);
  EXPECT_EQ(Transfer(70000), 0);
  EXPECT_EQ(Requests(Info4()), (std::vector<std::string>{"PKG_A"}));
  EXPECT_EQ(sim_.module.UpgradeState(), 2);
}

TEST_F(UpgradeStateTest, AllPackagesInstallThenRestartByItselfOnTheTarget) {
  StartWith(SmallUpdate());
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  ASSERT_EQ(Transfer(3000), 0);
  ASSERT_EQ(Transfer(70000), 0);
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,3\r\n", 2000));
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,5\r\n", 2000));
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  ASSERT_NE(sim_.client.Command("ATE0"), "");
  std::string info = Info4();
  EXPECT_EQ(Field(info, "Upgrade State............ "), "1");
  EXPECT_EQ(Field(info, "Config. Set Revision..... "), "R5E/1");
  EXPECT_TRUE(Requests(info).empty());
  EXPECT_EQ(sim_.module.RestartCount(), 1);
}

TEST_F(UpgradeStateTest, SelfRestartWaitsTheSetTimeAfterReportingFive) {
  Profile profile = SmallUpdate();
  std::string error;
  ASSERT_FALSE(tarvik_sim::ApplyProfileSetting(&profile, "self_restart_ms", "soon", &error));
  ASSERT_TRUE(tarvik_sim::ApplyProfileSetting(&profile, "self_restart_ms", "1500", &error))
      << error;
  StartWith(profile);
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  ASSERT_EQ(Transfer(3000), 0);
  ASSERT_EQ(Transfer(70000), 0);
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,5\r\n", 2000));
  // Still there for a host that reads only once a second, then gone.
  EXPECT_FALSE(sim_.client.WaitHangUp(700));
  EXPECT_TRUE(sim_.client.WaitHangUp(3000));
}

TEST_F(UpgradeStateTest, WithoutSelfRestartItWaitsInStateFourForAReset) {
  Profile profile = SmallUpdate();
  profile.self_restart = false;
  StartWith(profile);
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  ASSERT_EQ(Transfer(3000), 0);
  ASSERT_EQ(Transfer(70000), 0);
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,4\r\n", 2000));
  EXPECT_FALSE(sim_.client.WaitHangUp(500));
  EXPECT_EQ(sim_.client.Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 1,4\r\n\r\nOK\r\n");
  EXPECT_EQ(sim_.client.Command("AT*E2RESET"), "\r\nOK\r\n");
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  ASSERT_NE(sim_.client.Command("ATE0"), "");
  EXPECT_EQ(sim_.client.Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(Field(Info4(), "Config. Set Revision..... "), "R5E/1");
}

TEST_F(UpgradeStateTest, ARestartHalfWayKeepsWhatArrived) {
  StartWith(SmallUpdate());
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  ASSERT_EQ(Transfer(70000), 0);
  sim_.module.Restart();
  ASSERT_TRUE(sim_.Reopen());
  ASSERT_NE(sim_.client.Command("ATE0"), "");
  std::string info = Info4();
  EXPECT_EQ(Field(info, "Upgrade State............ "), "2");
  EXPECT_EQ(Requests(info), (std::vector<std::string>{"PKG_A"}));
}

TEST_F(UpgradeStateTest, ARestartWhileInstallingCompletesTheInstallation) {
  Profile profile = SmallUpdate();
  profile.install_ms = 60000;
  StartWith(profile);
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  ASSERT_EQ(Transfer(3000), 0);
  ASSERT_EQ(Transfer(70000), 0);
  ASSERT_TRUE(sim_.module.WaitUpgradeState(3, 2000));
  sim_.module.Restart();
  ASSERT_TRUE(sim_.Reopen());
  ASSERT_NE(sim_.client.Command("ATE0"), "");
  std::string info = Info4();
  EXPECT_EQ(Field(info, "Upgrade State............ "), "1");
  EXPECT_EQ(Field(info, "Config. Set Revision..... "), "R5E/1");
}

TEST_F(UpgradeStateTest, StateFileLetsTheNextRunResume) {
  const std::string state_file = sim_.map.dir() + "/module.state";
  tarvik_sim::ModuleOptions options;
  options.state_file = state_file;
  StartWith(SmallUpdate(), options);
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  ASSERT_EQ(Transfer(3000), 0);
  sim_.client.Close();
  sim_.module.Stop();

  RunningModule next;
  std::string error;
  ASSERT_TRUE(next.Start(SmallUpdate(), &error, options)) << error;
  ASSERT_NE(next.client.Command("ATE0"), "");
  std::string info = next.client.Command("AT*EEVINFO=4");
  EXPECT_EQ(Field(info, "Upgrade State............ "), "2");
  EXPECT_EQ(Field(info, "Config. Set Revision..... "), "R5E/1");
  EXPECT_EQ(Requests(info), (std::vector<std::string>{"PKG_B"}));
}

TEST_F(UpgradeStateTest, NothingWantedGoesStraightToInstalling) {
  Profile profile = SmallUpdate();
  profile.wanted_packages.clear();
  StartWith(profile);
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,2\r\n", 2000));
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,3\r\n", 2000));
}

// The default module with the real package lengths of the carried container.
TEST_F(UpgradeStateTest, DefaultProfileAsksForTheCarriedPackagesByTheirLengths) {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.restart_away_ms = 200;
  profile.install_ms = 50;
  StartWith(profile);
  ASSERT_EQ(Transfer(kNetConfigLength), 0);
  EXPECT_EQ(Requests(Info4()), (std::vector<std::string>{"ZNL5504429_1_R1D_networklist",
                                                         "ZNT4025527_1_R4A02_FC.ZIP"}));
  EXPECT_EQ(Transfer(8401222), 255);  // a carried package, but not one this module wants
  ASSERT_EQ(Transfer(8432613), 0);
  ASSERT_EQ(Transfer(34076), 0);
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,5\r\n", 3000));
  ASSERT_TRUE(sim_.Reopen());
  ASSERT_NE(sim_.client.Command("ATE0"), "");
  EXPECT_EQ(Field(Info4(), "Config. Set Revision..... "), "R5E/1");
}

}  // namespace
