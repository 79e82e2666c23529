// The AT and ITP command sets of the simulated module, seen through a raw client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/tests/support/running_module.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/files.h"

namespace {

using tarvik_sim::Profile;
using tarvik_sim::SimState;
using tarvik_sim_test::RunningModule;

// The answer's lines without the empty ones.
std::vector<std::string> Lines(const std::string& text) {
  return tarvik_test::SplitLines(text, "\r\n", false);
}

class AtEngineTest : public ::testing::Test {
 protected:
  void StartWith(const Profile& profile) {
    std::string error;
    ASSERT_TRUE(sim_.Start(profile, &error)) << error;
  }
  void StartQuiet(const Profile& profile) {
    StartWith(profile);
    ASSERT_NE(sim_.client.Command("ATE0"), "");
  }
  std::string Command(const std::string& command) { return sim_.client.Command(command); }

  RunningModule sim_;
};

TEST_F(AtEngineTest, EchoesUntilAte0AndAcceptsEveryLineEnd) {
  StartWith(tarvik_sim::DefaultProfile());
  EXPECT_EQ(Command("AT"), "AT\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("ATE0"), "ATE0\r\n\r\nOK\r\n");
  EXPECT_FALSE(sim_.module.EchoOn());
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
  // CR alone ends a command; CR LF gives one answer, not two.
  ASSERT_TRUE(sim_.client.Write("AT\r"));
  EXPECT_TRUE(sim_.client.ReadUntil("OK\r\n", 2000));
  sim_.client.Buffer().clear();
  ASSERT_TRUE(sim_.client.Write("AT\r\nAT\r\n\r\n"));
  EXPECT_EQ(sim_.client.ReadFor(300), "\r\nOK\r\n\r\nOK\r\n");
  // A line in pieces is one command.
  ASSERT_TRUE(sim_.client.Write("AT*EM"));
  EXPECT_EQ(sim_.client.ReadFor(100), "");
  ASSERT_TRUE(sim_.client.Write("RDY?\r\n"));
  EXPECT_TRUE(sim_.client.ReadUntil("*EMRDY: 1\r\n\r\nOK\r\n", 2000));
  EXPECT_EQ(Command("ATE1"), "\r\nOK\r\n");
  EXPECT_EQ(Command("at"), "at\r\n\r\nOK\r\n");
}

TEST_F(AtEngineTest, UnknownCommandsGetErrorAndEmptyLinesNothing) {
  StartQuiet(tarvik_sim::DefaultProfile());
  EXPECT_EQ(Command("AT+NOSUCH"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("hello"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT+CFUN=7"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT*EEVINFO=5"), "\r\nERROR\r\n");
  sim_.client.Buffer().clear();
  ASSERT_TRUE(sim_.client.Write("\r\n\r\n  \r\n"));
  EXPECT_EQ(sim_.client.ReadFor(200), "");
  // A line too long for the module is refused as a whole.
  EXPECT_EQ(Command("AT" + std::string(5000, 'X')), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
}

TEST_F(AtEngineTest, InformationReportHasAll49LabelsOfTwentySixCharacters) {
  const std::pair<Profile, const char*> profiles[] = {
      {tarvik_sim::CaltProfile(), "ZRB 207 43/1"},
      {tarvik_sim::BremProfile(), "ZRB 207 41/1"},
      {tarvik_sim::DovinProfile(), "ZRB 207 44/1"},
      {tarvik_sim::UnknownProfile(), "ZRB 207 99/1"},
  };
  for (const auto& item : profiles) {
    SCOPED_TRACE(item.second);
    RunningModule sim;
    std::string error;
    ASSERT_TRUE(sim.Start(item.first, &error)) << error;
    ASSERT_NE(sim.client.Command("ATE0"), "");
    std::string report = sim.client.Command("AT*EEVINFO=99");
    ASSERT_GE(report.size(), 6u);
    EXPECT_EQ(report.substr(report.size() - 8), "\r\n\r\nOK\r\n");
    std::vector<std::string> lines = Lines(report);
    ASSERT_EQ(lines.size(), 50u);  // 49 fields and OK
    const auto& names = tarvik_sim::ReportFieldNames();
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string label = lines[i].substr(0, 26);
      EXPECT_EQ(label.substr(0, names[i].size()), names[i]);
      EXPECT_EQ(label.find_first_not_of('.', names[i].size()), 25u) << label;
      EXPECT_EQ(label[25], ' ');
      EXPECT_EQ(lines[i].substr(26), item.first.Get(names[i])) << names[i];
    }
    EXPECT_EQ(lines[4], "Product Number........... " + std::string(item.second));
  }
}

TEST_F(AtEngineTest, DefaultProfileIsACaltModuleReadyForTheCarriedUpdate) {
  Profile profile = tarvik_sim::DefaultProfile();
  StartQuiet(profile);
  std::vector<std::string> lines = Lines(Command("AT*EEVINFO=4"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Config. Set Product...... ZNT4028813/1"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Config. Set Revision..... R3C01"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Individualization........ 189.190"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Upgrade State............ 1"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Product Number........... ZRB 207 43/1"),
            lines.end());
  for (const std::string& line : lines) EXPECT_NE(line[0], '#') << "idle module asks for " << line;
  // Only the lock fields in the lock report.
  std::vector<std::string> lock = Lines(Command("AT*EEVINFO=2"));
  EXPECT_NE(std::find(lock.begin(), lock.end(), "Locked Extended SIMLock.. none"), lock.end());
  EXPECT_NE(std::find(lock.begin(), lock.end(), "AutoLock activated....... No"), lock.end());
  for (const std::string& line : lock) EXPECT_NE(line.rfind("Model", 0), 0u) << line;
}

TEST_F(AtEngineTest, ReadyAfterTheConfiguredNumberOfQueries) {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.ready_after_queries = 3;
  StartQuiet(profile);
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 1\r\n\r\nOK\r\n");
}

TEST_F(AtEngineTest, PinStatesAnswerTheirCpinText) {
  const std::pair<SimState, std::string> cases[] = {
      {SimState::kReady, "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
      {SimState::kPinLocked, "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"},
      {SimState::kPukLocked, "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n"},
      {SimState::kPhNetLocked, "\r\n+CPIN: PH-NET PIN\r\n\r\nOK\r\n"},
      {SimState::kPhNetSubLocked, "\r\n+CPIN: PH-NETSUB PIN\r\n\r\nOK\r\n"},
      {SimState::kPhSpLocked, "\r\n+CPIN: PH-SP PIN\r\n\r\nOK\r\n"},
      {SimState::kPhCorpLocked, "\r\n+CPIN: PH-CORP PIN\r\n\r\nOK\r\n"},
      {SimState::kPhSimLocked, "\r\n+CPIN: PH-SIMLOCK PIN\r\n\r\nOK\r\n"},
      {SimState::kPhEslLocked, "\r\n+CPIN: PH-ESL PIN\r\n\r\nOK\r\n"},
      {SimState::kAbsent, "\r\n+CME ERROR: 10\r\n"},
  };
  StartQuiet(tarvik_sim::DefaultProfile());
  for (const auto& item : cases) {
    Profile profile = sim_.module.CurrentProfile();
    profile.sim = item.first;
    sim_.module.SetProfile(profile);
    EXPECT_EQ(Command("AT+CPIN?"), item.second) << tarvik_sim::SimStateName(item.first);
  }
}

TEST_F(AtEngineTest, PinEntryUnlocksAndWrongPinsLeadToPuk) {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.sim = SimState::kPinLocked;
  profile.pin = "4321";
  StartQuiet(profile);
  // A locked SIM keeps its data to itself.
  EXPECT_EQ(Command("AT+CIMI"), "\r\n+CME ERROR: 11\r\n");
  EXPECT_EQ(Command("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Command("AT+CPIN=\"4321\""), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CPIN=\"4321\""), "\r\n+CME ERROR: 3\r\n");  // nothing to unlock

  profile.sim = SimState::kPinLocked;
  profile.pin_tries_left = 3;
  sim_.module.SetProfile(profile);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Command("AT+CPIN=\"1111\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Command("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CPIN=\"4321\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Command("AT+CPIN=\"12345678\",\"9999\""), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
  EXPECT_EQ(sim_.module.CurrentProfile().pin, "9999");

  profile = sim_.module.CurrentProfile();
  profile.sim = SimState::kPhNetLocked;
  sim_.module.SetProfile(profile);
  EXPECT_EQ(Command("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Command("AT+CPIN=\"00000000\""), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
}

TEST_F(AtEngineTest, SimDataQueries) {
  Profile profile = tarvik_sim::DefaultProfile();
  profile.iccid = "89012300000000000000";
  profile.imsi = "240995550001234";
  StartQuiet(profile);
  EXPECT_EQ(Command("AT+CRSM=176,12258,0,0,10"),
            "\r\n+CRSM: 144,0,\"98103200000000000000\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CIMI"), "\r\n240995550001234\r\n\r\nOK\r\n");
  // An ICCID of odd length ends in the filler nibble, swapped like the digits.
  profile.iccid = "8946012345678901234";
  sim_.module.SetProfile(profile);
  EXPECT_EQ(Command("AT+CRSM=176,12258,0,0,10"),
            "\r\n+CRSM: 144,0,\"986410325476981032F4\"\r\n\r\nOK\r\n");
  profile.sim = SimState::kAbsent;
  sim_.module.SetProfile(profile);
  EXPECT_EQ(Command("AT+CRSM=176,12258,0,0,10"), "\r\n+CME ERROR: 10\r\n");
  EXPECT_EQ(Command("AT+CIMI"), "\r\n+CME ERROR: 10\r\n");
}

TEST_F(AtEngineTest, ModuleQueries) {
  Profile profile = tarvik_sim::DovinProfile();
  profile.temperature = 45;
  profile.operator_domain = "TRV_NORDIC";
  profile.eotp = "*EOTP: 177";
  StartQuiet(profile);
  EXPECT_EQ(Command("AT*E2OTR?"), "\r\n*E2OTR: 0,45\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EERCUST=0,\"TRV_OPERATOR_DOMAIN\""),
            "\r\n*EERCUST: TRV_NORDIC\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EOTP"), "\r\n*EOTP: 177\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CGSN"), "\r\n" + profile.Get("IMEI Data") + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CFUN?"), "\r\n+CFUN: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CFUN=4"), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CFUN?"), "\r\n+CFUN: 4\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EEMLED=1"), "\r\nOK\r\n");
  EXPECT_TRUE(sim_.module.CurrentProfile().led_on);
  EXPECT_EQ(Command("AT*EEMLED=0"), "\r\nOK\r\n");
  EXPECT_FALSE(sim_.module.CurrentProfile().led_on);
  EXPECT_EQ(Command("AT*EEMLED=2"), "\r\nERROR\r\n");
}

TEST_F(AtEngineTest, UpgradeStateQueryAndUnsolicitedLines) {
  StartQuiet(tarvik_sim::DefaultProfile());
  EXPECT_EQ(Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 0,1\r\n\r\nOK\r\n");
  // Not turned on yet: a change stays silent.
  sim_.module.SetUpgradeState(6);
  EXPECT_EQ(sim_.client.ReadFor(200), "");
  EXPECT_EQ(Command("AT*EEUSTATE=1"), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 1,6\r\n\r\nOK\r\n");
  sim_.module.SetUpgradeState(7);
  EXPECT_TRUE(sim_.client.ReadUntil("\r\n*EEUSTATE:1,7\r\n", 2000));
  // A change while an answer is pending comes after that answer, never inside it.
  tarvik_sim::Faults faults;
  faults.answer_delay_ms = 300;
  sim_.module.SetFaults(faults);
  sim_.client.Buffer().clear();
  ASSERT_TRUE(sim_.client.Write("AT\r\n"));
  ASSERT_TRUE(sim_.module.WaitForCommand("AT", 2000));
  sim_.module.SetUpgradeState(8);
  EXPECT_TRUE(sim_.client.ReadUntil("*EEUSTATE:1,8\r\n", 2000));
  EXPECT_EQ(sim_.client.Buffer(), "\r\nOK\r\n\r\n*EEUSTATE:1,8\r\n");
  sim_.module.SetFaults(tarvik_sim::Faults());
  EXPECT_EQ(Command("AT*EEUSTATE=0"), "\r\nOK\r\n");
  sim_.module.SetUpgradeState(1);
  EXPECT_EQ(sim_.client.ReadFor(200), "");
}

TEST_F(AtEngineTest, ScriptedAnswersComeFirstInBothCommandSets) {
  Profile profile = tarvik_sim::CaltProfile();
  std::string error;
  for (const char* setting : {"AT*E2BAND? => \\r\\n*E2BAND: 3\\r\\n\\r\\nOK\\r\\n",
                              "at+cgmi => \\r\\nSomeone\\r\\n\\r\\nOK\\r\\n",
                              "gdre=0,404 => \\r\\nGDRE: 12\\r\\nOK\\r\\n"}) {
    ASSERT_TRUE(tarvik_sim::ApplyProfileSetting(&profile, "answer", setting, &error)) << error;
  }
  StartQuiet(profile);
  EXPECT_EQ(Command("AT*E2BAND?"), "\r\n*E2BAND: 3\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CGMI"), "\r\nSomeone\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("ATI"), "\r\nTarvik\r\nTarvik Module T3\r\nR3C01\r\n\r\nOK\r\n");
  profile = sim_.module.CurrentProfile();
  profile.itp_mode = true;
  sim_.module.SetProfile(profile);
  EXPECT_EQ(Command("gdre=0,404"), "\r\nGDRE: 12\r\nOK\r\n");
  EXPECT_EQ(Command("gdre=0,417"), "\r\ngdre=0,417, ERR\r\n");
}

TEST_F(AtEngineTest, ItpModeCommandSet) {
  Profile profile = tarvik_sim::BremProfile();
  profile.itp_mode = true;
  StartWith(profile);
  // No echo in the ITP command set; AT commands are refused with CERR.
  EXPECT_EQ(Command("AT").substr(0, 7), "\r\nCERR:");
  EXPECT_EQ(Command("ATE0").substr(0, 7), "\r\nCERR:");
  std::string vers = Command("VERS");
  EXPECT_NE(vers.find("VERS:"), std::string::npos);
  EXPECT_NE(vers.find("Brem"), std::string::npos);
  EXPECT_EQ(vers.substr(vers.size() - 4), "OK\r\n");
  EXPECT_EQ(Command("ledc=1,2,2000,100"), "\r\nOK\r\n");
  EXPECT_EQ(Command("ledc=1,3,21"), "\r\nOK\r\n");
  EXPECT_EQ(Command("ledc=1,1"), "\r\nOK\r\n");
  EXPECT_TRUE(sim_.module.CurrentProfile().led_on);
  EXPECT_EQ(Command("ledc=1,0"), "\r\nOK\r\n");
  EXPECT_FALSE(sim_.module.CurrentProfile().led_on);
  EXPECT_EQ(Command("ledc=1,2"), "\r\nledc, ERR\r\n");
  EXPECT_EQ(Command("ledc=2,1"), "\r\nledc, ERR\r\n");
  EXPECT_EQ(Command("ledc=1,x"), "\r\nledc, ERR\r\n");
  EXPECT_EQ(Command("FROB"), "\r\nFROB, ERR\r\n");
  // The OTP area answers in both command sets.
  EXPECT_EQ(Command("AT*EOTP"), "\r\n*EOTP: 189\r\n\r\nOK\r\n");
  // A Brem module leaves ITP mode on KILL only, through a restart.
  EXPECT_EQ(Command("KILD"), "\r\nKILD, ERR\r\n");
  EXPECT_EQ(Command("KILL"), "\r\nOK\r\n");
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_EQ(Command("AT"), "AT\r\n\r\nOK\r\n");
  EXPECT_FALSE(sim_.module.CurrentProfile().itp_mode);
}

TEST_F(AtEngineTest, CaltLeavesItpModeOnKild) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.itp_mode = true;
  StartWith(profile);
  EXPECT_NE(Command("VERS").find("Calt"), std::string::npos);
  // ITP mode is a setting of the module: a restart of another kind keeps it.
  sim_.module.Restart();
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_EQ(Command("AT").substr(0, 7), "\r\nCERR:");
  EXPECT_EQ(Command("KILL"), "\r\nKILL, ERR\r\n");
  EXPECT_EQ(Command("KILD"), "\r\nOK\r\n");
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_EQ(Command("AT"), "AT\r\n\r\nOK\r\n");
}

}  // namespace
