// The transparent channel on the fake device: the sequence of writes and reads around the frames
// (the frames themselves are tc_frame_test's), counters, progress, the owner and answer data.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "testing/fake_device.h"
#include "testing/files.h"
#include "testing/tc_frames.h"
#include "transport/src/at/at.h"
#include "transport/src/transparent_channel/transparent_channel.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tarvik_test::Le16;
using tarvik_test::Le16At;
using tarvik_test::TcAck;
using tarvik_test::TcAnswerPayload;
using tarvik_test::TcDatagram;
using Pieces = std::vector<std::string>;
using Progress = std::vector<std::pair<unsigned, unsigned>>;

Progress progress;
void RecordProgress(unsigned sent, unsigned total) {
  progress.push_back({sent, total});
}

const std::string kCloseReply = std::string("\x02\x01\0\0\0\0", 6);

// A module on the fake device: OK to AT lines (`eetc` to AT*EETC=2), an acknowledgement with
// `ack` for each datagram (none when -1) and `answer` after the last; `close` to the close frame.
struct Module {
  std::string echo_off = "\r\nOK\r\n", eetc = "\r\nOK\r\n";
  int ack = 0;
  std::pair<size_t, char> ack_byte = {10, 0};  // one byte of each acknowledgement replaced
  Pieces answer = {TcDatagram(7, 0, TcAnswerPayload(0))};
  Pieces close = {kCloseReply + "\r\nOK\r\n"};
  std::vector<std::string> datagrams;  // as written

  Pieces Answer(const std::string& written) {
    if (written.compare(0, 2, "AT") == 0) {
      return {written == "ATE0\r\n" ? echo_off : written == "AT*EETC=2\r\n" ? eetc : "\r\nOK\r\n"};
    }
    Pieces frames = close;
    if (written.size() > 4) {
      datagrams.push_back(written);
      const uint16_t sequence = Le16At(written, 6);
      frames = ack < 0 ? Pieces{} : Pieces{TcAck(Le16At(written, 4), sequence, uint16_t(ack))};
      if (ack_byte.first < 10 && !frames.empty()) frames[0][ack_byte.first] = ack_byte.second;
      if (sequence == 0 && ack == 0) frames.insert(frames.end(), answer.begin(), answer.end());
    }
    return frames;
  }
};

class TcChannelTest : public tl_test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    fake_device::Reset();
    fake_device::SetResponder(
        [this](const std::string& written) { return module_.Answer(written); });
    // The handle's first AT command switches echo off; done here so that Open's lines are exact.
    TlAtSendNoResponse(0, "AT");
    fake_device::Load(nullptr, 0, 0);
    progress.clear();
  }
  void TearDown() override {
    EXPECT_EQ(0, fake_device::LockDepth());
    EXPECT_FALSE(fake_device::UnlockedIo());
    TransportTest::TearDown();
  }

  void Open() {
    ASSERT_EQ(kTlResultSuccess, TlTcOpen(0, kTlTcVersionTwo, 2));
    fake_device::Load(nullptr, 0, 0);
  }

  Module module_;
};

// Declared first: the counters start with the process, so this is the process's first payload.
TEST_F(TcChannelTest, FirstPayloadIsRequestOneOfSessionOne) {
  Open();
  unsigned char payload[6] = {0xEE, 0xEE, 0, 4, 'a', 'b'};
  uint16_t request_id = 0;
  ASSERT_EQ(kTlResultSuccess, TlTcSend(0, nullptr, 2, payload, 6, &request_id, nullptr));
  EXPECT_EQ(1, request_id);
  EXPECT_EQ(TcDatagram(1, 0, std::string("\x01\x00\x00\x04", 4) + "ab"), fake_device::Sent());
}

TEST_F(TcChannelTest, OpenSendsEchoOffAndTheChannelCommand) {
  const TlDeviceOwner kAt = kTlDeviceOwnerAt, kTc = kTlDeviceOwnerTransparentChannel;
  const char* ok = "\r\nOK\r\n";
  const char* error = "\r\nERROR\r\n";
  const struct {
    TlDeviceOwner owner;
    int version;
    const char *echo_off, *eetc;
    int result;
    const char* sent;
    TlDeviceOwner after;
  } rows[] = {
      {kAt, 2, ok, ok, 0, "ATE0\r\nAT*EETC=2\r\n", kTc},
      {kTc, 2, ok, ok, 901, "", kTc},
      {kTlDeviceOwnerDebugMux, 2, ok, ok, 901, "", kTlDeviceOwnerDebugMux},
      {kAt, 3, ok, ok, 907, "", kAt},
      {kAt, 2, ok, error, 901, "ATE0\r\nAT*EETC=2\r\n", kAt},
      {kAt, 2, error, ok, 901, "ATE0\r\n", kAt},
      {kAt, 2, ok, "", 5, "ATE0\r\nAT*EETC=2\r\n", kAt},  // no answer: the AT result
  };
  for (const auto& row : rows) {
    fake_device::Load(nullptr, 0, 0);
    fake_device::SetOwner(row.owner);
    module_.echo_off = row.echo_off;
    module_.eetc = row.eetc;
    EXPECT_EQ(row.result, TlTcOpen(0, static_cast<TlTcVersion>(row.version), 1)) << row.sent;
    EXPECT_EQ(row.sent, fake_device::Sent());
    EXPECT_EQ(row.after, fake_device::Owner());
  }
}

// One payload: datagrams counting down, acknowledgements, progress, the answer and its data.
TEST_F(TcChannelTest, Send) {
  const Pieces with_data = {TcDatagram(7, 0, TcAnswerPayload(0, "abcd"))};
  const Pieces cut_short = {with_data[0].substr(0, 15)};
  const Pieces usual = Module().answer;
  const struct {
    const char* name;
    size_t size;
    int ack;
    Pieces answer;
    size_t chunk;  // bytes a read brings at most (0: a whole frame)
    int result;
    size_t datagrams;
    std::vector<unsigned> progress;  // bytes sent at each call
    const char* received;            // null: left as it was
  } rows[] = {
      {"one datagram", 65535, 0, usual, 0, 0, 1, {65535}, nullptr},
      {"two datagrams", 65536, 0, usual, 0, 0, 2, {65535, 65536}, nullptr},
      {"nack", 70000, 2, usual, 0, 904, 1, {}, nullptr},
      {"no ack", 100, -1, usual, 0, 904, 1, {}, nullptr},
      {"cut frames", 1000, 0, with_data, 4, 0, 1, {1000}, "abcd"},
      {"answer cut short", 30, 0, cut_short, 0, 905, 1, {30}, nullptr},
      {"no answer", 30, 0, {}, 0, 905, 1, {30}, nullptr},
      {"other type, empty", 30, 0, {TcDatagram(7, 0, "", 2, 3, 3)}, 0, 900, 1, {30}, nullptr},
  };
  Open();
  int last_request = -1;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fake_device::Load(nullptr, 0, row.chunk);
    fake_device::SetOwner(kTlDeviceOwnerTransparentChannel);
    module_ = Module();
    module_.ack = row.ack;
    module_.answer = row.answer;
    progress.clear();
    std::string payload = tarvik_test::TcRequestPayload(row.size);
    char sentinel = 's';
    TlTcReceivedData received = {&sentinel, 77};
    uint16_t request_id = 0;
    EXPECT_EQ(row.result,
              TlTcSend(0, RecordProgress, 1, reinterpret_cast<unsigned char*>(&payload[0]),
                       payload.size(), &request_id, &received));
    Progress expected;
    for (unsigned sent : row.progress) expected.push_back({sent, unsigned(row.size)});
    EXPECT_EQ(expected, progress);
    // The datagrams carry the caller's buffer, request id included, in order, counting down.
    ASSERT_EQ(row.datagrams, module_.datagrams.size());
    const size_t count = (row.size + 65534) / 65535;
    for (size_t index = 0; index < row.datagrams; ++index) {
      const std::string slice = payload.substr(index * 65535, 65535);
      EXPECT_EQ(TcDatagram(Le16At(module_.datagrams[0], 4), uint16_t(count - index - 1), slice),
                module_.datagrams[index]);
    }
    // Each payload takes the next request id and session.
    const int request = Le16At(payload, 0);
    EXPECT_EQ(last_request < 0 ? request : last_request + 1, request);
    EXPECT_EQ(request_id, row.result == 0 ? request : 0);
    EXPECT_EQ(request, Le16At(module_.datagrams[0], 4));  // both counters count payloads
    last_request = request;
    if (row.received == nullptr) {
      EXPECT_EQ(&sentinel, received.data);
      EXPECT_EQ(77u, received.data_length);
    } else {
      EXPECT_EQ(row.received, std::string(received.data, received.data_length));
      EXPECT_EQ(kTlResultSuccess, TlTcReleaseReceivedData(&received));
      EXPECT_EQ(nullptr, received.data);
      EXPECT_EQ(0u, received.data_length);
    }
    // The caller closes the channel after a failure.
    EXPECT_EQ(kTlDeviceOwnerTransparentChannel, fake_device::Owner());
  }
}

// A refused acknowledgement ends the send with 904 and logs its first bad field.
TEST_F(TcChannelTest, RefusedAcknowledgementsAreLogged) {
  const struct {
    size_t at;
    char value;
    const char* line;
  } rows[] = {
      {0, 1, "Illegal version of transparent channel received in ACK, received 1 -> expected 2"},
      {1, 2, "Unexpected message type received in ACK, received 2 -> expected 3"},
      {2, 2, "Unexpected message protocol received in ACK, received 2 -> expected 3"},
      {4, 0x7f, "Unexpected message session number received in ACK, received 7f -> expected "},
      {6, 1, "Unexpected message sequence number received in ACK, received 0x1 -> expected 0x0"},
      {8, 2, "Received NACK. Result == 2\r\n"},
  };
  Open();
  TlSetLogTypesForScreen(kTlLogTypeError);
  for (const auto& row : rows) {
    fake_device::Load(nullptr, 0, 0);
    module_.ack_byte = {row.at, row.value};
    std::string payload = tarvik_test::TcRequestPayload(10);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(kTlResultTransparentChannelErrorSentBytesFailed,
              TlTcSend(0, nullptr, 1, reinterpret_cast<unsigned char*>(&payload[0]), 10, nullptr,
                       nullptr));
    const std::string screen = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, screen.find(row.line)) << screen;
  }
}

TEST_F(TcChannelTest, SendIsRefusedOutsideTheChannelAndWithoutAUsablePayload) {
  std::string payload = tarvik_test::TcRequestPayload(10);
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&payload[0]);
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlTcSend(0, nullptr, 1, bytes, 10, nullptr, nullptr));
  Open();
  // Without a usable payload (too short to carry the request id, which is then not written), the
  // refusal is logged with the result's description.
  TlSetLogTypesForScreen(kTlLogTypeError);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlTcSend(0, nullptr, 1, nullptr, 10, nullptr, nullptr));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlTcSend(0, nullptr, 1, bytes, 1, nullptr, nullptr));
  const std::string screen = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(2u, tarvik_test::CountOf(screen,
                                     "TL:TC               ERROR     2 - An invalid "
                                     "parameter was given.\r\n"));
  EXPECT_EQ(tarvik_test::TcRequestPayload(10), payload);
  // A datagram that cannot be written ends the send with the port's result.
  fake_device::SetSendResult(kTlResultDeviceErrorCouldNotWriteToDevice);
  EXPECT_EQ(kTlResultDeviceErrorCouldNotWriteToDevice,
            TlTcSend(0, RecordProgress, 1, bytes, 10, nullptr, nullptr));
  // Nor without the device lock (the device closed meanwhile); the channel stays open.
  fake_device::SetLockResult(kTlResultDeviceErrorCouldNotOpenDevice);
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice,
            TlTcSend(0, nullptr, 1, bytes, 10, nullptr, nullptr));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlTcClose(0, 1));
  EXPECT_EQ(kTlDeviceOwnerTransparentChannel, fake_device::Owner());
  EXPECT_EQ("", fake_device::Sent());
  EXPECT_TRUE(progress.empty());
  TlTcReceivedData none = {nullptr, 0};
  EXPECT_EQ(kTlResultGeneralErrorNotImplemented, TlTcReceive(0, nullptr, 1, 1, &none));
  EXPECT_EQ(kTlResultSuccess, TlTcReleaseReceivedData(nullptr));
}

// Closing returns the port to AT whatever the reply; only a confirmed close succeeds.
TEST_F(TcChannelTest, Close) {
  const std::string frame("\x02\0\0\0", 4);
  const struct {
    TlDeviceOwner owner;
    Pieces reply;
    size_t chunk;
    int send, result;
    std::string sent;
  } rows[] = {
      {kTlDeviceOwnerTransparentChannel, {kCloseReply + "\r\nOK\r\n"}, 0, 0, 0, frame},
      {kTlDeviceOwnerTransparentChannel, {kCloseReply}, 1, 0, 0, frame},
      {kTlDeviceOwnerTransparentChannel, {std::string("\x02\x01\0\0\x01\0", 6)}, 0, 0, 902, frame},
      {kTlDeviceOwnerTransparentChannel, {}, 0, 0, 5, frame},   // no reply: the read's result
      {kTlDeviceOwnerTransparentChannel, {}, 0, 204, 902, ""},  // the port has failed
      {kTlDeviceOwnerAt, {}, 0, 0, 900, ""},
  };
  for (const auto& row : rows) {
    fake_device::Load(nullptr, 0, row.chunk);
    fake_device::SetOwner(row.owner);
    fake_device::SetSendResult(static_cast<TlResult>(row.send));
    module_.close = row.reply;
    EXPECT_EQ(row.result, TlTcClose(0, 1));
    EXPECT_EQ(row.sent, fake_device::Sent());
    EXPECT_EQ(kTlDeviceOwnerAt, fake_device::Owner());
  }
}

}  // namespace
