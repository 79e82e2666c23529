// The transparent channel against a module played over a raw pty pair, checked byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/wait.h"
#include "transport/src/device/device.h"
#include "transport/src/transparent_channel/transparent_channel.h"
#include "transport/tests/support/pty_support.h"
#include "transport/tests/tc_module.h"

namespace {

using tarvik_test::Le16;
using tarvik_test::TcAck;
using tarvik_test::TcAnswerPayload;
using tarvik_test::TcDatagram;
using tc_test::ReceivedDatagram;

std::vector<std::pair<unsigned, unsigned>> progress_calls;

void RecordProgress(unsigned int sent, unsigned int total) {
  progress_calls.push_back({sent, total});
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

class TcChannelTest : public tl_test::TransportTest {
 protected:
  void SetUp() override {
    tl_test::TransportTest::SetUp();
    ASSERT_TRUE(pty_.ok());
    progress_calls.clear();
    module_.Start();
    ASSERT_EQ(kTlResultSuccess, tl_test::OpenDevice(pty_.SlavePath(), &handle_));
    // The open ends with CR LF; take it before a test looks at what the host sends.
    ASSERT_TRUE(tarvik_test::WaitFor(
        [&] { return module_.Received().find("\r\n") != std::string::npos; }, 2000));
    module_.ClearReceived();
  }

  void TearDown() override {
    TlDeviceClose(handle_);
    module_.Stop();
    tl_test::TransportTest::TearDown();
  }

  void Open() {
    ASSERT_EQ(kTlResultSuccess, TlTcOpen(handle_, kTlTcVersionTwo, 2));
    ASSERT_TRUE(tarvik_test::WaitFor([&] { return module_.InChannel(); }, 2000));
    module_.ClearReceived();
  }

  TlDeviceOwner Owner() {
    TlDeviceOwner owner = kTlDeviceOwnerInvalid;
    EXPECT_EQ(kTlResultSuccess, TlDeviceGetOwner(handle_, &owner));
    return owner;
  }

  // Sends `payload` and returns the result; the payload's first two bytes get the request id.
  TlResult Send(std::string* payload, uint16_t* request_id = nullptr,
                TlTcReceivedData* received = nullptr, uint32_t timeout = 2) {
    return TlTcSend(handle_, RecordProgress, timeout,
                    reinterpret_cast<unsigned char*>(&(*payload)[0]), payload->size(), request_id,
                    received);
  }

  tl_test::PtyPair pty_;
  tc_test::TcModule module_{&pty_};
  TlDeviceHandle handle_ = 0;
};

TEST_F(TcChannelTest, OpenSwitchesEchoOffAndEntersTheChannel) {
  ASSERT_EQ(kTlResultSuccess, TlTcOpen(handle_, kTlTcVersionTwo, 2));
  const std::vector<std::string> lines = module_.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("ATE0", lines[lines.size() - 2]);
  EXPECT_EQ("AT*EETC=2", lines.back());
  EXPECT_EQ(kTlDeviceOwnerTransparentChannel, Owner());
}

TEST_F(TcChannelTest, OpenIsRefusedWithoutSendingWhenTheChannelOrDebugMuxOwnsThePort) {
  for (TlDeviceOwner owner : {kTlDeviceOwnerTransparentChannel, kTlDeviceOwnerDebugMux}) {
    ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(handle_, owner));
    module_.ClearReceived();
    EXPECT_EQ(kTlResultTransparentChannelErrorUnableToOpenTcChannel,
              TlTcOpen(handle_, kTlTcVersionTwo, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ("", module_.Received());
    EXPECT_EQ(owner, Owner());
  }
}

TEST_F(TcChannelTest, OpenRefusesOtherVersionsAndModuleErrors) {
  module_.ClearReceived();
  EXPECT_EQ(kTlResultTransparentChannelErrorVersionNotSupported,
            TlTcOpen(handle_, static_cast<TlTcVersion>(3), 1));
  EXPECT_EQ("", module_.Received());

  module_.line_answers["AT*EETC=2"] = "\r\nERROR\r\n";
  EXPECT_EQ(kTlResultTransparentChannelErrorUnableToOpenTcChannel,
            TlTcOpen(handle_, kTlTcVersionTwo, 1));
  EXPECT_EQ(kTlDeviceOwnerAt, Owner());

  module_.line_answers.clear();
  module_.line_answers["ATE0"] = "\r\nERROR\r\n";
  module_.ClearReceived();
  EXPECT_EQ(kTlResultTransparentChannelErrorUnableToOpenTcChannel,
            TlTcOpen(handle_, kTlTcVersionTwo, 1));
  // Nothing after the refused echo-off command.
  EXPECT_EQ(std::string::npos, module_.Received().find("AT*EETC"));
  EXPECT_EQ(kTlDeviceOwnerAt, Owner());
}

TEST_F(TcChannelTest, PayloadOf65535BytesGoesInOneDatagramExactlyAsWritten) {
  Open();
  std::string payload = Pattern(65535);
  std::string original = payload;
  uint16_t request_id = 0;
  ASSERT_EQ(kTlResultSuccess, Send(&payload, &request_id));

  const std::vector<ReceivedDatagram> datagrams = module_.Datagrams();
  ASSERT_EQ(1u, datagrams.size());
  const uint16_t session = datagrams[0].session;
  std::string expected_payload = original;
  expected_payload.replace(0, 2, Le16(request_id));
  EXPECT_EQ(TcDatagram(session, 0, expected_payload), module_.Received());
  EXPECT_EQ(expected_payload, payload);  // the caller's buffer carries the request id too
  ASSERT_EQ(1u, progress_calls.size());
  EXPECT_EQ(std::make_pair(65535u, 65535u), progress_calls[0]);
}

TEST_F(TcChannelTest, PayloadOf65536BytesGoesInTwoDatagramsCountingDown) {
  Open();
  std::string payload = Pattern(65536);
  ASSERT_EQ(kTlResultSuccess, Send(&payload));
  const std::vector<ReceivedDatagram> datagrams = module_.Datagrams();
  ASSERT_EQ(2u, datagrams.size());
  EXPECT_EQ(1, datagrams[0].sequence);
  EXPECT_EQ(0, datagrams[1].sequence);
  EXPECT_EQ(65535u, datagrams[0].payload.size());
  EXPECT_EQ(1u, datagrams[1].payload.size());
  EXPECT_EQ(datagrams[0].session, datagrams[1].session);
  for (const ReceivedDatagram& d : datagrams) {
    EXPECT_EQ(2, d.version);
    EXPECT_EQ(2, d.type);
    EXPECT_EQ(3, d.protocol);
  }
  EXPECT_EQ(payload, datagrams[0].payload + datagrams[1].payload);
  const std::vector<std::pair<unsigned, unsigned>> expected = {{65535u, 65536u}, {65536u, 65536u}};
  EXPECT_EQ(expected, progress_calls);
}

TEST_F(TcChannelTest, EachSendTakesTheNextRequestIdAndSession) {
  Open();
  std::string first = Pattern(10);
  std::string second = Pattern(10);
  uint16_t first_id = 0;
  uint16_t second_id = 0;
  ASSERT_EQ(kTlResultSuccess, Send(&first, &first_id));
  ASSERT_EQ(kTlResultSuccess, Send(&second, &second_id));
  EXPECT_EQ(static_cast<uint16_t>(first_id + 1), second_id);
  const std::vector<ReceivedDatagram> datagrams = module_.Datagrams();
  ASSERT_EQ(2u, datagrams.size());
  EXPECT_EQ(static_cast<uint16_t>(datagrams[0].session + 1), datagrams[1].session);
  EXPECT_EQ(Le16(first_id), datagrams[0].payload.substr(0, 2));
  EXPECT_EQ(Le16(second_id), datagrams[1].payload.substr(0, 2));
}

TEST_F(TcChannelTest, NegativeAcknowledgementEndsTheSendWithoutProgress) {
  Open();
  module_.ack_for = [](const ReceivedDatagram& d, int) { return TcAck(d.session, d.sequence, 2); };
  std::string payload = Pattern(70000);
  EXPECT_EQ(kTlResultTransparentChannelErrorSentBytesFailed, Send(&payload));
  EXPECT_EQ(1u, module_.Datagrams().size());
  EXPECT_TRUE(progress_calls.empty());
  // The caller closes the channel after a failure.
  EXPECT_EQ(kTlDeviceOwnerTransparentChannel, Owner());
}

TEST_F(TcChannelTest, EveryAcknowledgementFieldIsChecked) {
  Open();
  using Maker = std::function<std::string(const ReceivedDatagram&)>;
  const std::vector<std::pair<const char*, Maker>> bad_acks = {
      {"version", [](const ReceivedDatagram& d) { return TcAck(d.session, d.sequence, 0, 1); }},
      {"type", [](const ReceivedDatagram& d) { return TcAck(d.session, d.sequence, 0, 2, 2); }},
      {"protocol",
       [](const ReceivedDatagram& d) { return TcAck(d.session, d.sequence, 0, 2, 3, 2); }},
      {"session", [](const ReceivedDatagram& d) { return TcAck(d.session + 1, d.sequence); }},
      {"sequence", [](const ReceivedDatagram& d) { return TcAck(d.session, d.sequence + 1); }},
      {"missing", [](const ReceivedDatagram&) { return std::string(); }},
  };
  for (const auto& bad : bad_acks) {
    SCOPED_TRACE(bad.first);
    Maker maker = bad.second;
    module_.ack_for = [maker](const ReceivedDatagram& d, int) { return maker(d); };
    progress_calls.clear();
    std::string payload = Pattern(100);
    EXPECT_EQ(kTlResultTransparentChannelErrorSentBytesFailed, Send(&payload, nullptr, nullptr, 1));
    EXPECT_TRUE(progress_calls.empty());
  }
}

TEST_F(TcChannelTest, AcknowledgementAndAnswerSplitOverSeveralReadsAreReadWhole) {
  Open();
  module_.split_offsets = {3, 7, 11, 15};
  module_.answer_for = [](const ReceivedDatagram& d) {
    return std::vector<std::string>{TcDatagram(d.session, 0, TcAnswerPayload(0, "abcd"))};
  };
  std::string payload = Pattern(1000);
  TlTcReceivedData received = {nullptr, 0};
  ASSERT_EQ(kTlResultSuccess, Send(&payload, nullptr, &received));
  ASSERT_EQ(4u, received.data_length);
  EXPECT_EQ("abcd", std::string(received.data, received.data_length));
  TlTcReleaseReceivedData(&received);
}

TEST_F(TcChannelTest, AnswerOfTwelveBytesLeavesTheDataUntouchedAndTwentyHandsOverEight) {
  Open();
  char sentinel = 'x';
  TlTcReceivedData received = {&sentinel, 77};
  std::string payload = Pattern(50);
  ASSERT_EQ(kTlResultSuccess, Send(&payload, nullptr, &received));
  EXPECT_EQ(&sentinel, received.data);
  EXPECT_EQ(77u, received.data_length);

  module_.answer_for = [](const ReceivedDatagram& d) {
    return std::vector<std::string>{TcDatagram(d.session, 0, TcAnswerPayload(0, "12345678"))};
  };
  received = {nullptr, 0};
  ASSERT_EQ(kTlResultSuccess, Send(&payload, nullptr, &received));
  ASSERT_EQ(8u, received.data_length);
  EXPECT_EQ("12345678", std::string(received.data, 8));
  EXPECT_EQ(kTlResultSuccess, TlTcReleaseReceivedData(&received));
  EXPECT_EQ(nullptr, received.data);
  EXPECT_EQ(0u, received.data_length);
  EXPECT_EQ(kTlResultSuccess, TlTcReleaseReceivedData(nullptr));
}

TEST_F(TcChannelTest, FaultyAnswersAreRefused) {
  Open();
  using Frames = std::function<std::vector<std::string>(const ReceivedDatagram&)>;
  struct Case {
    const char* name;
    Frames frames;
    TlResult expected;
  };
  const std::vector<Case> cases = {
      {"other type",
       [](const ReceivedDatagram& d) {
         return std::vector<std::string>{
             TcDatagram(d.session, 0, TcAnswerPayload(0), 2, 3, tarvik_test::kTcAcknowledgement)};
       },
       kTlResultTransparentChannelErrorReceiveBytesFailed},
      {"two datagrams",
       [](const ReceivedDatagram& d) {
         const std::string answer = TcAnswerPayload(0, "0123456789");
         return std::vector<std::string>{TcDatagram(d.session, 1, answer.substr(0, 12)),
                                         TcDatagram(d.session, 0, answer.substr(12))};
       },
       kTlResultTransparentChannelErrorFileTypeNotSupported},
      {"result not ok",
       [](const ReceivedDatagram& d) {
         return std::vector<std::string>{TcDatagram(d.session, 0, TcAnswerPayload(255))};
       },
       kTlResultTransparentChannelErrorFailure},
      {"shorter than the header",
       [](const ReceivedDatagram& d) {
         return std::vector<std::string>{TcDatagram(d.session, 0, std::string(11, '\0'))};
       },
       kTlResultTransparentChannelErrorFailure},
      {"incomplete payload",
       [](const ReceivedDatagram& d) {
         return std::vector<std::string>{
             TcDatagram(d.session, 0, TcAnswerPayload(0)).substr(0, 15)};
       },
       kTlResultTransparentChannelErrorReceiveBytesFailed},
      {"no answer", [](const ReceivedDatagram&) { return std::vector<std::string>{}; },
       kTlResultTransparentChannelErrorReceiveBytesFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    module_.answer_for = c.frames;
    TlTcReceivedData received = {nullptr, 0};
    std::string payload = Pattern(30);
    EXPECT_EQ(c.expected, Send(&payload, nullptr, &received, 1));
    EXPECT_EQ(nullptr, received.data);
    // Drop what a refused answer left in the port before the next case.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    TlDeviceClearBuffers(handle_);
  }
}

TEST_F(TcChannelTest, SendIsRefusedOutsideTheChannelAndWithoutAUsablePayload) {
  std::string payload = Pattern(10);
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, Send(&payload));
  Open();
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlTcSend(handle_, nullptr, 1, nullptr, 10, nullptr, nullptr));
  // Too short to carry the request id: nothing may be written into it.
  unsigned char one = 0x5A;
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlTcSend(handle_, nullptr, 1, &one, 1, nullptr, nullptr));
  EXPECT_EQ(0x5A, one);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ("", module_.Received());
}

TEST_F(TcChannelTest, CloseSendsTheControlFrameAndReturnsToAt) {
  Open();
  ASSERT_EQ(kTlResultSuccess, TlTcClose(handle_, 2));
  EXPECT_EQ(std::string("\x02\x00\x00\x00", 4), module_.Received());
  EXPECT_EQ(kTlDeviceOwnerAt, Owner());
  EXPECT_EQ(1, module_.CloseFrames());

  // Closing again: the port is no longer in the channel.
  EXPECT_EQ(kTlResultTransparentChannelErrorFailure, TlTcClose(handle_, 1));
}

TEST_F(TcChannelTest, CloseWithAWrongReplyFailsButLeavesThePortInAt) {
  Open();
  module_.close_reply = std::string("\x02\x01", 2) + Le16(0) + Le16(1);
  EXPECT_EQ(kTlResultTransparentChannelErrorUnableToCloseTcChannel, TlTcClose(handle_, 1));
  EXPECT_EQ(kTlDeviceOwnerAt, Owner());
}

TEST_F(TcChannelTest, CloseOnAFailedPortGivesThePortBackToAt) {
  Open();
  module_.Stop();
  pty_.CloseMaster();
  EXPECT_EQ(kTlResultTransparentChannelErrorUnableToCloseTcChannel, TlTcClose(handle_, 1));
  // A module that comes back speaks AT, and the owner survives a reopen.
  EXPECT_EQ(kTlDeviceOwnerAt, Owner());
}

TEST_F(TcChannelTest, CloseReplySplitOverReadsIsAccepted) {
  Open();
  module_.split_offsets = {1, 4};
  EXPECT_EQ(kTlResultSuccess, TlTcClose(handle_, 2));
  EXPECT_EQ(kTlDeviceOwnerAt, Owner());
}

TEST_F(TcChannelTest, ReceiveIsNotImplemented) {
  TlTcReceivedData received = {nullptr, 0};
  EXPECT_EQ(kTlResultGeneralErrorNotImplemented, TlTcReceive(handle_, nullptr, 1, 1, &received));
}

}  // namespace
