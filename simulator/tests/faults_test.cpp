// Injected faults, and what a careless or hostile host can send.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "simulator/tests/support/running_module.h"
#include "tarvik_sim/module.h"

namespace {

using tarvik_sim::Faults;
using tarvik_sim::Profile;
using tarvik_sim::TranscriptEntry;
using tarvik_sim_test::RawClient;
using tarvik_sim_test::RunningModule;

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Profile profile = tarvik_sim::DefaultProfile();
    profile.restart_away_ms = 300;
    std::string error;
    ASSERT_TRUE(sim_.Start(profile, &error)) << error;
    ASSERT_NE(sim_.client.Command("ATE0"), "");
  }
  std::string Command(const std::string& command, int timeout_ms = 2000) {
    return sim_.client.Command(command, timeout_ms);
  }
  // The writes the module made after the last command it received.
  std::vector<std::string> WritesAfterLastCommand() {
    std::vector<std::string> writes;
    for (const TranscriptEntry& entry : sim_.module.Transcript()) {
      if (entry.kind == TranscriptEntry::kCommand) writes.clear();
      if (entry.kind == TranscriptEntry::kSent) writes.push_back(entry.data);
    }
    return writes;
  }

  // Reads until nothing more comes for a while (bounded).
  void DrainUntilQuiet() {
    for (int i = 0; i < 40 && !sim_.client.ReadFor(300).empty(); ++i) {
    }
    sim_.client.Buffer().clear();
  }
  void WaitUntilTranscriptStill() {
    size_t size = 0;
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      size_t now = sim_.module.Transcript().size();
      if (now == size) return;
      size = now;
    }
  }

  RunningModule sim_;
};

TEST_F(FaultsTest, NeverReady) {
  Faults faults;
  faults.never_ready = true;
  sim_.module.SetFaults(faults);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 0\r\n\r\nOK\r\n");
  sim_.module.SetFaults(Faults());
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 1\r\n\r\nOK\r\n");
}

TEST_F(FaultsTest, AnswerSplitAtOffsets) {
  Faults faults;
  faults.split_offsets = {2, 5, 100};  // an offset past the end is ignored
  faults.split_pause_ms = 50;
  sim_.module.SetFaults(faults);
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(WritesAfterLastCommand(), (std::vector<std::string>{"\r\n", "OK\r", "\n"}));
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(WritesAfterLastCommand(),
            (std::vector<std::string>{"\r\n", "*EM", "RDY: 1\r\n\r\nOK\r\n"}));
}

TEST_F(FaultsTest, DelayBeforeAnswerButNotBeforeEcho) {
  EXPECT_EQ(Command("ATE1"), "\r\nOK\r\n");
  Faults faults;
  faults.answer_delay_ms = 400;
  sim_.module.SetFaults(faults);
  sim_.client.Buffer().clear();
  ASSERT_TRUE(sim_.client.Write("AT\r\n"));
  EXPECT_EQ(sim_.client.ReadFor(200), "AT\r\n");
  EXPECT_TRUE(sim_.client.ReadUntil("\r\nOK\r\n", 2000));
}

TEST_F(FaultsTest, GarbageBeforeAnswer) {
  Faults faults;
  std::string error;
  ASSERT_TRUE(
      tarvik_sim::ApplyFaultSetting(&faults, "garbage_before_answer", "\\x00\\xffjunk\\r", &error))
      << error;
  sim_.module.SetFaults(faults);
  EXPECT_EQ(Command("AT"), std::string("\0\xffjunk\r", 7) + "\r\nOK\r\n");
}

TEST_F(FaultsTest, ErrorForChosenCommandsOnly) {
  Faults faults;
  faults.error_commands = {"at*eevinfo=99", "AT+CIMI"};
  sim_.module.SetFaults(faults);
  EXPECT_EQ(Command("AT*EEVINFO=99"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT+CIMI"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT*EMRDY?"), "\r\n*EMRDY: 1\r\n\r\nOK\r\n");
}

TEST_F(FaultsTest, NoUnsolicitedLines) {
  EXPECT_EQ(Command("AT*EEUSTATE=1"), "\r\nOK\r\n");
  Faults faults;
  faults.no_unsolicited = true;
  sim_.module.SetFaults(faults);
  sim_.module.SetUpgradeState(2);
  EXPECT_EQ(sim_.client.ReadFor(300), "");
  EXPECT_EQ(Command("AT*EEUSTATE?"), "\r\n*EEUSTATE: 1,2\r\n\r\nOK\r\n");
}

TEST_F(FaultsTest, UnplugAfterBytesReceived) {
  Faults faults;
  faults.unplug_after_bytes = 10;
  sim_.module.SetFaults(faults);
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");           // 4 bytes
  ASSERT_TRUE(sim_.client.Write("AT*EMRDY?\r\n"));  // crosses 10: gone without an answer
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  EXPECT_EQ(sim_.client.Buffer(), "");
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_EQ(Command("AT"), "AT\r\n\r\nOK\r\n");
  EXPECT_EQ(sim_.module.GetFaults().unplug_after_bytes, -1);  // fired once
}

TEST_F(FaultsTest, StayAwayAfterReset) {
  Faults faults;
  faults.stay_away = true;
  sim_.module.SetFaults(faults);
  EXPECT_EQ(Command("AT*E2RESET"), "\r\nOK\r\n");
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  EXPECT_FALSE(sim_.module.WaitPresent(900));
  sim_.module.Plug();
  EXPECT_TRUE(sim_.module.WaitPresent(2000));
}

TEST_F(FaultsTest, FaultSettingsAreCheckedAsText) {
  Faults faults;
  std::string error;
  EXPECT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, "split_offsets", "9, 3", &error));
  EXPECT_EQ(faults.split_offsets, (std::vector<size_t>{3, 9}));
  EXPECT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, "error_commands", "AT|AT+CIMI", &error));
  EXPECT_EQ(faults.error_commands.size(), 2u);
  EXPECT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, "tc_nack_datagram", "3", &error));
  EXPECT_EQ(faults.tc_nack_datagram, 3);
  EXPECT_FALSE(tarvik_sim::ApplyFaultSetting(&faults, "split_offsets", "0", &error));
  EXPECT_FALSE(tarvik_sim::ApplyFaultSetting(&faults, "never_ready", "maybe", &error));
  EXPECT_FALSE(tarvik_sim::ApplyFaultSetting(&faults, "answer_delay_ms", "-5", &error));
  EXPECT_FALSE(tarvik_sim::ApplyFaultSetting(&faults, "no_such_fault", "1", &error));
  EXPECT_NE(error.find("no_such_fault"), std::string::npos);
  EXPECT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, "clear", "1", &error));
  EXPECT_TRUE(faults.split_offsets.empty());
  EXPECT_EQ(faults.tc_nack_datagram, 0);
}

TEST_F(FaultsTest, RandomInputNeverBreaksTheModule) {
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> size(1, 3000);
  for (int round = 0; round < 30; ++round) {
    std::string noise;
    int length = size(random);
    for (int i = 0; i < length; ++i) noise.push_back(static_cast<char>(byte(random)));
    // Some rounds are text-like, with many line ends.
    if (round % 3 == 0) {
      for (char& c : noise) c = "AT+*E=?\r\n0123"[static_cast<unsigned char>(c) % 13];
    }
    ASSERT_TRUE(sim_.client.Write(noise));
  }
  DrainUntilQuiet();
  ASSERT_TRUE(sim_.module.IsPresent());
  // Whatever echo state and half line the noise left, a clean line is answered.
  ASSERT_TRUE(sim_.client.Write("\r\nATE0\r\n"));
  EXPECT_TRUE(sim_.client.ReadUntil("OK\r\n", 3000));
  DrainUntilQuiet();
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
}

double ProcessCpuSecondsDuring(int ms) {
  struct timespec before;
  struct timespec after;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  struct timespec pause = {0, ms * 1000L * 1000L};
  nanosleep(&pause, nullptr);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  return static_cast<double>(after.tv_sec - before.tv_sec) +
         static_cast<double>(after.tv_nsec - before.tv_nsec) / 1e9;
}

TEST_F(FaultsTest, AHostThatDoesNotReadNeitherBlocksNorSpinsTheModule) {
  EXPECT_EQ(Command("ATE1"), "\r\nOK\r\n");
  // Echo and answers pile up until the pseudo-terminal is full.
  std::string flood;
  for (int i = 0; i < 20000; ++i) flood += "AT\r\n";
  ASSERT_TRUE(sim_.client.Write(flood));
  // Once every command is taken in, the module waits for the host: a busy loop would use the
  // whole interval.
  WaitUntilTranscriptStill();
  EXPECT_LT(ProcessCpuSecondsDuring(600), 0.1);
  // Once the host reads again, everything queued comes out and the module still answers.
  DrainUntilQuiet();
  EXPECT_EQ(Command("AT"), "AT\r\n\r\nOK\r\n");
}

TEST_F(FaultsTest, HostClosingAndReopeningDoesNotMakeTheModuleSpin) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(sim_.client.Write("AT*EMR"));  // half a line, then the host leaves
    sim_.client.Close();
    ASSERT_TRUE(sim_.client.Open(sim_.module.AtLinkPath()));
    // The half line may have reached the module before the host left (then it ends in ERROR at
    // the next line end) or have been flushed away with the host's side.
    ASSERT_TRUE(sim_.client.Write("\r\nAT\r\n"));
    EXPECT_TRUE(sim_.client.ReadUntil("\r\nOK\r\n", 2000));
  }
  sim_.client.Close();
  // With no host at all the module must sleep: a busy loop would use the whole interval.
  EXPECT_LT(ProcessCpuSecondsDuring(600), 0.1);
  ASSERT_TRUE(sim_.client.Open(sim_.module.AtLinkPath()));
  EXPECT_NE(Command("AT").find("OK\r\n"), std::string::npos);
}

}  // namespace
