// Restarts: the module goes away (the host's reads hang up), and comes back on new
// pseudo-terminals under the same link names.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "simulator/tests/support/running_module.h"
#include "tarvik_sim/module.h"
#include "testing/files.h"

namespace {

using tarvik_sim::Profile;
using tarvik_sim_test::RawClient;
using tarvik_sim_test::RunningModule;

std::string LinkTarget(const std::string& link) {
  char target[PATH_MAX];
  ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  if (length < 0) return std::string();
  return std::string(target, static_cast<size_t>(length));
}

Profile QuickProfile() {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.restart_away_ms = 300;
  return profile;
}

TEST(RestartTest, ResetHangsUpAndComesBackOnANewPseudoTerminal) {
  RunningModule sim;
  Profile profile = QuickProfile();
  profile.ready_after_queries = 2;
  std::string error;
  ASSERT_TRUE(sim.Start(profile, &error)) << error;
  const std::string link = sim.module.AtLinkPath();
  const std::string old_target = LinkTarget(link);
  ASSERT_FALSE(old_target.empty());
  EXPECT_EQ(sim.module.AtPortPath(), old_target);

  ASSERT_NE(sim.client.Command("ATE0"), "");
  EXPECT_EQ(sim.client.Command("AT*EEUSTATE=1"), "\r\nOK\r\n");
  EXPECT_EQ(sim.client.Command("AT*E2RESET"), "\r\nOK\r\n");
  // The host's side fails: hang-up or end of file, never just silence.
  EXPECT_TRUE(sim.client.WaitHangUp(2000));
  ASSERT_TRUE(sim.module.WaitAway(2000));
  EXPECT_FALSE(tarvik_test::FileExists(link)) << "the link stays while the module is away";
  EXPECT_EQ(sim.module.AtPortPath(), "");
  EXPECT_EQ(sim.module.RestartCount(), 1);

  // The host keeps its old descriptor open, as a transport would until it reopens.
  ASSERT_TRUE(sim.module.WaitPresent(3000));
  const std::string new_target = LinkTarget(link);
  EXPECT_FALSE(new_target.empty());
  EXPECT_NE(new_target, old_target);
  EXPECT_FALSE(tarvik_test::FileExists(old_target)) << "the old name must not come back";
  sim.client.Close();  // now the old number is free on the host side, and still not reused
  RawClient again;
  ASSERT_TRUE(again.Open(link));
  // Echo is on again, readiness starts over, state reports are off again.
  EXPECT_EQ(again.Command("AT"), "AT\r\n\r\nOK\r\n");
  EXPECT_EQ(again.Command("ATE0"), "ATE0\r\n\r\nOK\r\n");
  EXPECT_EQ(again.Command("AT*EMRDY?"), "\r\n*EMRDY: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(again.Command("AT*EMRDY?"), "\r\n*EMRDY: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(again.Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 0,1\r\n\r\nOK\r\n");
}

TEST(RestartTest, EveryRestartUsesANameNotSeenBefore) {
  RunningModule sim;
  std::string error;
  ASSERT_TRUE(sim.Start(QuickProfile(), &error)) << error;
  std::set<std::string> seen = {sim.module.AtPortPath(), sim.module.SecondPortPath()};
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    sim.client.Close();
    sim.module.Restart();
    ASSERT_TRUE(sim.module.WaitPresent(3000));
    const std::string at = sim.module.AtPortPath();
    const std::string second = sim.module.SecondPortPath();
    EXPECT_TRUE(seen.insert(at).second) << at;
    EXPECT_TRUE(seen.insert(second).second) << second;
    EXPECT_EQ(LinkTarget(sim.module.AtLinkPath()), at);
    EXPECT_EQ(LinkTarget(sim.module.SecondLinkPath()), second);
    ASSERT_TRUE(sim.client.Open(sim.module.AtLinkPath()));
    EXPECT_EQ(sim.client.Command("AT"), "AT\r\n\r\nOK\r\n");
  }
  EXPECT_EQ(sim.module.RestartCount(), 4);
}

TEST(RestartTest, UnplugForGoodUntilPlugged) {
  RunningModule sim;
  std::string error;
  ASSERT_TRUE(sim.Start(QuickProfile(), &error)) << error;
  sim.module.Unplug(false);
  EXPECT_TRUE(sim.client.WaitHangUp(2000));
  EXPECT_FALSE(sim.module.WaitPresent(800));
  EXPECT_FALSE(tarvik_test::FileExists(sim.module.AtLinkPath()));
  sim.module.Plug();
  ASSERT_TRUE(sim.module.WaitPresent(2000));
  ASSERT_TRUE(sim.Reopen());
  EXPECT_EQ(sim.client.Command("AT"), "AT\r\n\r\nOK\r\n");
}

TEST(RestartTest, StateAndProfileSurviveARestart) {
  RunningModule sim;
  std::string error;
  ASSERT_TRUE(sim.Start(QuickProfile(), &error)) << error;
  Profile profile = sim.module.CurrentProfile();
  profile.sim = tarvik_sim::SimState::kPinLocked;
  sim.module.SetProfile(profile);
  sim.module.SetUpgradeState(2);
  sim.module.Restart();
  ASSERT_TRUE(sim.Reopen());
  ASSERT_NE(sim.client.Command("ATE0"), "");
  EXPECT_EQ(sim.client.Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 0,2\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.client.Command("AT+CPIN?"), "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
}

TEST(RestartTest, StopRemovesLinksAndStartFailsWithoutMapDirectory) {
  tarvik_test::TempDir dir;
  std::string at_link;
  {
    tarvik_sim::Module module;
    tarvik_sim::ModuleOptions options;
    options.map_dir = dir.path();
    std::string error;
    ASSERT_TRUE(module.Start(QuickProfile(), options, &error)) << error;
    at_link = module.AtLinkPath();
    EXPECT_TRUE(tarvik_test::FileExists(at_link));
    EXPECT_FALSE(module.Start(QuickProfile(), options, &error));  // already running
    module.Stop();
    EXPECT_FALSE(tarvik_test::FileExists(at_link));
    module.Stop();  // twice is harmless
  }
  tarvik_sim::Module module;
  tarvik_sim::ModuleOptions options;
  options.map_dir = dir.path() + "/missing";
  std::string error;
  EXPECT_FALSE(module.Start(QuickProfile(), options, &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(RestartTest, SecondPortIsNoCandidateAndStaysSilent) {
  RunningModule sim;
  std::string error;
  ASSERT_TRUE(sim.Start(QuickProfile(), &error)) << error;
  const std::string second = sim.module.SecondLinkPath();
  const std::string name = second.substr(second.rfind('/') + 1);
  for (const char* candidate : {"mdm", "usbser", "mgmt"}) {
    EXPECT_EQ(name.find(candidate), std::string::npos) << name;
  }
  EXPECT_NE(sim.module.AtLinkPath().find("mdm"), std::string::npos);
  RawClient client;
  ASSERT_TRUE(client.Open(second));
  ASSERT_TRUE(client.Write("AT\r\n"));
  EXPECT_EQ(client.ReadFor(300), "");
}

}  // namespace
