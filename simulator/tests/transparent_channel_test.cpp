// The module side of the transparent channel, byte for byte, and its faults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/tests/support/running_module.h"
#include "simulator/tests/support/tc_client.h"
#include "tarvik_sim/module.h"

namespace {

using tarvik_sim::Faults;
using tarvik_sim::Profile;
using tarvik_sim::TranscriptEntry;
using tarvik_sim_test::CloseChannel;
using tarvik_sim_test::OpenChannel;
using tarvik_sim_test::RunningModule;
using tarvik_sim_test::SendPayload;
using tarvik_sim_test::TcExchange;
using tarvik_test::ParseTcAck;
using tarvik_test::TcAckFields;
using tarvik_test::TcControlFrame;
using tarvik_test::TcDatagram;
using tarvik_test::TcRequestPayload;

class TransparentChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Profile profile = tarvik_sim::DefaultProfile();
    profile.restart_away_ms = 300;
    std::string error;
    ASSERT_TRUE(sim_.Start(profile, &error)) << error;
    ASSERT_NE(sim_.client.Command("ATE0"), "");
  }
  void Open() {
    ASSERT_TRUE(OpenChannel(&sim_.client));
    ASSERT_TRUE(sim_.module.InTransparentChannel());
  }
  void SetFault(const std::string& key, const std::string& value) {
    Faults faults = sim_.module.GetFaults();
    std::string error;
    ASSERT_TRUE(tarvik_sim::ApplyFaultSetting(&faults, key, value, &error)) << error;
    sim_.module.SetFaults(faults);
  }
  void ExpectBackInAtMode() {
    ASSERT_TRUE(CloseChannel(&sim_.client));
    EXPECT_FALSE(sim_.module.InTransparentChannel());
    EXPECT_EQ(sim_.client.Command("AT"), "\r\nOK\r\n");
  }

  RunningModule sim_;
};

TEST_F(TransparentChannelTest, TwoDatagramPayloadIsAcknowledgedAnsweredAndClosed) {
  Open();
  TcExchange exchange = SendPayload(&sim_.client, 7, TcRequestPayload(65536, 0x1234));
  ASSERT_TRUE(exchange.complete);
  ASSERT_EQ(exchange.acks.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const TcAckFields& ack = exchange.acks[i];
    EXPECT_EQ(ack.version, 2);
    EXPECT_EQ(ack.type, 3);
    EXPECT_EQ(ack.protocol, 3);
    EXPECT_EQ(ack.session, 7);
    EXPECT_EQ(ack.sequence, 1 - i);
    EXPECT_EQ(ack.result, 0);
  }
  EXPECT_EQ(exchange.answer.version, 2);
  EXPECT_EQ(exchange.answer.type, 2);
  EXPECT_EQ(exchange.answer.session, 7);
  EXPECT_EQ(exchange.answer.sequence, 0);
  EXPECT_EQ(exchange.answer.length, 12);
  EXPECT_EQ(exchange.answer.request_id, 0x1234);
  EXPECT_EQ(exchange.answer.command_type, 2);
  EXPECT_EQ(exchange.answer.result, 0);

  std::string reply;
  ASSERT_TRUE(CloseChannel(&sim_.client, &reply));
  EXPECT_EQ(reply, std::string("\x02\x01\x00\x00\x00\x00", 6));
  EXPECT_FALSE(sim_.module.InTransparentChannel());
  EXPECT_EQ(sim_.client.Command("AT"), "\r\nOK\r\n");
}

TEST_F(TransparentChannelTest, PayloadsOfOneDatagramAndSeveralSessions) {
  Open();
  for (uint16_t session = 1; session <= 3; ++session) {
    TcExchange exchange =
        SendPayload(&sim_.client, session, TcRequestPayload(session == 1 ? 65535 : 20));
    ASSERT_TRUE(exchange.complete) << session;
    ASSERT_EQ(exchange.acks.size(), 1u);
    EXPECT_EQ(exchange.acks[0].sequence, 0);
    EXPECT_EQ(exchange.answer.session, session);
  }
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, SequenceAndProtocolErrorsAreNegativelyAcknowledged) {
  Open();
  ASSERT_TRUE(sim_.client.Write(TcDatagram(4, 2, "abcd")));
  std::string raw;
  ASSERT_TRUE(sim_.client.Take(10, 2000, &raw));
  EXPECT_EQ(ParseTcAck(raw).result, 0);
  ASSERT_TRUE(sim_.client.Write(TcDatagram(4, 2, "abcd")));  // the same number again
  ASSERT_TRUE(sim_.client.Take(10, 2000, &raw));
  EXPECT_EQ(ParseTcAck(raw).result, 2);
  ASSERT_TRUE(sim_.client.Write(TcDatagram(5, 0, "abcd", 2, 2)));  // AT protocol: not taken here
  ASSERT_TRUE(sim_.client.Take(10, 2000, &raw));
  EXPECT_EQ(ParseTcAck(raw).result, 1);
  EXPECT_EQ(ParseTcAck(raw).protocol, 2);
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, CloseWithAnotherVersionIsRefusedButLeavesTheChannel) {
  Open();
  ASSERT_TRUE(sim_.client.Write(TcControlFrame(0, 3)));
  std::string reply;
  ASSERT_TRUE(sim_.client.Take(6, 2000, &reply));
  EXPECT_EQ(reply, std::string("\x02\x01\x00\x00\x01\x00", 6));
  EXPECT_TRUE(sim_.client.ReadUntil("\r\nOK\r\n", 2000));
  EXPECT_FALSE(sim_.module.InTransparentChannel());
}

TEST_F(TransparentChannelTest, NegativeAcknowledgementFault) {
  SetFault("tc_nack_datagram", "2");
  SetFault("tc_nack_result", "2");
  Open();
  TcExchange exchange = SendPayload(&sim_.client, 1, TcRequestPayload(3 * 65535));
  EXPECT_FALSE(exchange.complete);
  ASSERT_EQ(exchange.acks.size(), 2u);
  EXPECT_EQ(exchange.acks[0].result, 0);
  EXPECT_EQ(exchange.acks[1].result, 2);
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, WrongVersionAndSessionFaults) {
  SetFault("tc_bad_version_datagram", "1");
  SetFault("tc_bad_session_datagram", "2");
  Open();
  TcExchange first = SendPayload(&sim_.client, 9, TcRequestPayload(100));
  ASSERT_EQ(first.acks.size(), 1u);
  EXPECT_NE(first.acks[0].version, 2);
  EXPECT_EQ(first.acks[0].session, 9);
  TcExchange second = SendPayload(&sim_.client, 10, TcRequestPayload(100));
  ASSERT_EQ(second.acks.size(), 1u);
  EXPECT_EQ(second.acks[0].version, 2);
  EXPECT_NE(second.acks[0].session, 10);
  // Each fault fires once.
  TcExchange third = SendPayload(&sim_.client, 11, TcRequestPayload(100));
  EXPECT_TRUE(third.complete);
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, MissingAcknowledgementFault) {
  SetFault("tc_no_ack_datagram", "1");
  Open();
  ASSERT_TRUE(sim_.client.Write(TcDatagram(1, 0, TcRequestPayload(50))));
  EXPECT_EQ(sim_.client.ReadFor(400), "");
  sim_.client.Buffer().clear();
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, SplitFramesFault) {
  SetFault("tc_split_frames", "1");
  SetFault("split_pause_ms", "20");
  Open();
  sim_.module.ClearTranscript();
  TcExchange exchange = SendPayload(&sim_.client, 1, TcRequestPayload(30));
  ASSERT_TRUE(exchange.complete);
  size_t writes = 0;
  for (const TranscriptEntry& entry : sim_.module.Transcript()) {
    if (entry.kind == TranscriptEntry::kSent) {
      ++writes;
      EXPECT_LT(entry.data.size(), 10u);
    }
  }
  EXPECT_EQ(writes, 6u);  // acknowledgement and answer header in three pieces each, body too
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, AnswerResultFault) {
  SetFault("tc_answer_result", "255");
  Open();
  TcExchange exchange = SendPayload(&sim_.client, 1, TcRequestPayload(30));
  ASSERT_TRUE(exchange.complete);
  EXPECT_EQ(exchange.answer.result, 255);
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, UnplugInTheMiddleOfAPayload) {
  SetFault("tc_unplug_after_payload_bytes", "70000");
  Open();
  TcExchange exchange = SendPayload(&sim_.client, 1, TcRequestPayload(200000));
  EXPECT_FALSE(exchange.complete);
  EXPECT_LE(exchange.acks.size(), 1u);
  EXPECT_TRUE(sim_.client.WaitHangUp(2000));
  ASSERT_TRUE(sim_.Reopen());
  EXPECT_FALSE(sim_.module.InTransparentChannel());
  EXPECT_EQ(sim_.client.Command("AT"), "AT\r\n\r\nOK\r\n");
}

TEST_F(TransparentChannelTest, StaleHalfFrameIsDroppedSoACloseStillWorks) {
  Open();
  ASSERT_TRUE(sim_.client.Write(TcDatagram(1, 0, "abcdef").substr(0, 7)));
  EXPECT_EQ(sim_.client.ReadFor(2300), "");
  ExpectBackInAtMode();
}

TEST_F(TransparentChannelTest, RandomBytesInTheChannelDoNotHangIt) {
  Open();
  std::string noise;
  for (int i = 0; i < 3000; ++i)
    noise.push_back(static_cast<char>((i * 131 + 17) % 251 + 1));  // no close frames
  ASSERT_TRUE(sim_.client.Write(noise));
  sim_.client.ReadFor(2500);  // acknowledgements of whatever looked like frames, or nothing
  sim_.client.Buffer().clear();
  EXPECT_TRUE(sim_.module.IsPresent());
  ExpectBackInAtMode();
}

}  // namespace
