// The module side of the secure frame protocol, and ITP assignments.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "simulator/tests/support/running_module.h"
#include "simulator/tests/support/tc_client.h"
#include "tarvik_sim/module.h"

namespace {

using tarvik_sim::Profile;
using tarvik_sim_test::RunningModule;

void PutBe32(std::string* bytes, uint32_t value) {
  for (int i = 3; i >= 0; --i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

uint32_t Be32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

std::string Request(const std::string& payload) {
  std::string packet = "ZAMU";
  PutBe32(&packet, 32);
  PutBe32(&packet, 1);
  PutBe32(&packet, 0);
  PutBe32(&packet, 0xFFFFFFFFu);
  PutBe32(&packet, static_cast<uint32_t>(payload.size()));
  return packet + payload;
}

class SecureFrameTest : public ::testing::Test {
 protected:
  void StartWith(const Profile& profile) {
    std::string error;
    ASSERT_TRUE(sim_.Start(profile, &error)) << error;
    ASSERT_NE(sim_.client.Command("ATE0"), "");
  }
  void SetFault(const std::string& key, const std::string& value) {
    tarvik_sim::Faults faults = sim_.module.GetFaults();
    std::string error;
    ASSERT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, key, value, &error)) << error;
    sim_.module.SetFaults(faults);
  }
  // Reads one response packet and returns its result code (-1: none came).
  long Response(int timeout_ms = 3000) {
    std::string header;
    if (!sim_.client.Take(24, timeout_ms, &header)) return -1;
    EXPECT_EQ(header.substr(0, 4), "ZAMU");
    EXPECT_EQ(Be32(header, 4), 32u);
    EXPECT_EQ(Be32(header, 8), 0u);
    EXPECT_EQ(Be32(header, 20), 0u);
    return static_cast<long>(Be32(header, 12));
  }
  // Sends `data` the way the host does and returns the final result (-1: missing).
  long Send(const std::string& data) {
    if (sim_.client.Command("AT*EESFUD=3") != "\r\nOK\r\n") return -1;
    for (size_t at = 0; at < data.size(); at += 32768) {
      if (!sim_.client.Write(Request(data.substr(at, 32768)))) return -1;
      long result = Response();
      if (result != 0) return result;
    }
    return Response();
  }
  bool BackInAtMode() {
    std::string ok;
    return sim_.client.Take(6, 3000, &ok) && ok == "\r\nOK\r\n" &&
           sim_.client.Command("AT") == "\r\nOK\r\n";
  }

  RunningModule sim_;
};

TEST_F(SecureFrameTest, DataInPacketsIsAcknowledgedThenTheModuleReturnsToAtMode) {
  StartWith(tarvik_sim::BremProfile());
  const std::string data = tarvik_test::TcRequestPayload(32769);
  EXPECT_EQ(Send(data), 0);
  EXPECT_TRUE(BackInAtMode());
  std::vector<std::string> packets;
  for (const std::string& command : sim_.module.Commands()) {
    if (command.rfind("SF ", 0) == 0) packets.push_back(command);
  }
  EXPECT_EQ(packets,
            (std::vector<std::string>{"SF packet of 32768 bytes", "SF packet of 1 bytes"}));
}

TEST_F(SecureFrameTest, FullLastPacketOrNoDataEndsAfterAQuietSpell) {
  StartWith(tarvik_sim::BremProfile());
  EXPECT_EQ(Send(tarvik_test::TcRequestPayload(32768)), 0);
  EXPECT_TRUE(BackInAtMode());
  EXPECT_EQ(Send(""), 0);
  EXPECT_TRUE(BackInAtMode());
}

TEST_F(SecureFrameTest, StrayBytesBeforeAHeaderAreSkippedByTheModule) {
  StartWith(tarvik_sim::BremProfile());
  ASSERT_EQ(sim_.client.Command("AT*EESFUD=3"), "\r\nOK\r\n");
  ASSERT_TRUE(sim_.client.Write("xy" + Request("abc")));
  EXPECT_EQ(Response(), 0);
  EXPECT_EQ(Response(), 0);
  EXPECT_TRUE(BackInAtMode());
}

TEST_F(SecureFrameTest, Faults) {
  StartWith(tarvik_sim::BremProfile());
  SetFault("sf_final_result", "4");
  EXPECT_EQ(Send("abc"), 4);
  EXPECT_TRUE(BackInAtMode());
  sim_.module.SetFaults(tarvik_sim::Faults());
  SetFault("sf_ack_result", "2");
  EXPECT_EQ(Send(tarvik_test::TcRequestPayload(40000)), 2);
  EXPECT_EQ(sim_.client.ReadFor(1500), "");  // it gives up without a final answer
  EXPECT_EQ(sim_.client.Command("AT"), "\r\nOK\r\n");
  sim_.module.SetFaults(tarvik_sim::Faults());
  SetFault("sf_no_return", "1");
  EXPECT_EQ(Send("abc"), 0);
  EXPECT_EQ(sim_.client.ReadFor(500), "");
  sim_.module.SetFaults(tarvik_sim::Faults());
  SetFault("sf_stray_bytes", "\\x00\\x01");
  sim_.client.Close();
  sim_.module.Restart();
  ASSERT_TRUE(sim_.Reopen());
  ASSERT_NE(sim_.client.Command("ATE0"), "");
  ASSERT_EQ(sim_.client.Command("AT*EESFUD=3"), "\r\nOK\r\n");
  ASSERT_TRUE(sim_.client.Write(Request("abc")));
  std::string stray;
  ASSERT_TRUE(sim_.client.Take(2, 2000, &stray));
  EXPECT_EQ(stray, std::string("\x00\x01", 2));
  EXPECT_EQ(Response(), 0);
}

TEST_F(SecureFrameTest, ItpAssignmentSwitchesToItpModeAtTheNextRestart) {
  Profile profile = tarvik_sim::BremProfile();
  profile.itp_marker = "ITP-SWITCH";
  profile.restart_away_ms = 200;
  StartWith(profile);
  EXPECT_EQ(Send("assignment without it"), 0);
  EXPECT_TRUE(BackInAtMode());
  EXPECT_EQ(Send("header ITP-SWITCH rest"), 0);
  EXPECT_TRUE(BackInAtMode());
  EXPECT_EQ(sim_.client.Command("AT"), "\r\nOK\r\n");  // still AT until the restart
  EXPECT_EQ(sim_.client.Command("AT*E2RESET"), "\r\nOK\r\n");
  ASSERT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_EQ(sim_.client.Command("AT").substr(0, 7), "\r\nCERR:");
  EXPECT_EQ(sim_.client.Command("KILL"), "\r\nOK\r\n");
  ASSERT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_EQ(sim_.client.Command("AT"), "AT\r\n\r\nOK\r\n");
}

TEST_F(SecureFrameTest, ItpAssignmentOverTheTransparentChannel) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.itp_marker = "ITP-SWITCH";
  profile.restart_away_ms = 200;
  StartWith(profile);
  ASSERT_TRUE(tarvik_sim_test::OpenChannel(&sim_.client));
  std::string payload = tarvik_test::TcRequestPayload(64) + "ITP-SWITCH";
  EXPECT_TRUE(tarvik_sim_test::SendPayload(&sim_.client, 1, payload).complete);
  ASSERT_TRUE(tarvik_sim_test::CloseChannel(&sim_.client));
  sim_.module.Restart();
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_NE(sim_.client.Command("VERS").find("Calt"), std::string::npos);
}

}  // namespace
