// The transparent channel's frames as bytes: what the host encodes, and what it makes of the
// module's acknowledgements, answer datagrams, answer headers and close replies.

#include "transport/src/transparent_channel/tc_frame.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// "02 00 0a" -> {0x02, 0x00, 0x0a}
Bytes Hex(const char* text) {
  Bytes bytes;
  unsigned byte = 0;
  int used = 0;
  while (sscanf(text, " %2x%n", &byte, &used) == 1) {
    bytes.push_back(static_cast<unsigned char>(byte));
    text += used;
  }
  return bytes;
}

Bytes Control(uint8_t version, uint16_t command) {
  Bytes out(kTcControlSize);
  TcEncodeControl(out.data(), version, command);
  return out;
}

Bytes Datagram(uint16_t session, uint16_t sequence, const std::string& slice) {
  Bytes out(kTcDatagramHeaderSize + slice.size());
  TcEncodeDatagram(out.data(), 2, session, sequence,
                   reinterpret_cast<const unsigned char*>(slice.data()),
                   static_cast<uint16_t>(slice.size()));
  return out;
}

Bytes RequestId(uint16_t id) {
  Bytes out(2);
  TcEncodeRequestId(out.data(), id);
  return out;
}

TEST(TcFrameTest, EncodedFramesMatchTheirWireLayout) {
  const struct {
    Bytes encoded;
    const char* wire;
  } rows[] = {
      {Control(2, kTcCommandClose), "02 00 00 00"},
      {Control(2, kTcCommandStatus), "02 00 02 00"},
      {Datagram(0x0102, 0x0304, "ab"), "02 02 03 00 02 01 04 03 02 00 61 62"},
      {Datagram(1, 0, ""), "02 02 03 00 01 00 00 00 00 00"},
      {Datagram(0xFFFF, 0xFFFF, "z"), "02 02 03 00 ff ff ff ff 01 00 7a"},
      {RequestId(1), "01 00"},
      {RequestId(0xBEEF), "ef be"},
  };
  for (const auto& row : rows) EXPECT_EQ(Hex(row.wire), row.encoded) << row.wire;
}

TEST(TcFrameTest, PayloadIsCutIntoDatagramsCountingDownToZero) {
  const struct {
    size_t payload_size;
    uint16_t first_sequence_number;
    uint16_t first_length;
  } rows[] = {
      {0, 0xFFFF, 0},      // no datagram at all: the count wraps
      {1, 0, 1},           // one short datagram
      {65535, 0, 65535},   // exactly one full datagram
      {65536, 1, 65535},   // one full and one of a single byte
      {131070, 1, 65535},  // two full
      {131071, 2, 65535},  // two full and one byte
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.first_sequence_number, TcFirstSequenceNumber(row.payload_size))
        << row.payload_size;
    EXPECT_EQ(row.first_length, TcDatagramLength(row.payload_size)) << row.payload_size;
  }
}

TEST(TcFrameTest, AcknowledgementIsCheckedFieldByFieldInOrder) {
  // Expected: version 2, session 0x0102, sequence number 0x0304.
  const struct {
    const char* wire;
    TcAcknowledgementCheck check;
  } rows[] = {
      {"02 03 03 00 02 01 04 03 00 00", kTcAcknowledgementOk},
      {"01 03 03 00 02 01 04 03 00 00", kTcAcknowledgementBadVersion},
      {"01 02 02 00 00 00 00 00 02 00", kTcAcknowledgementBadVersion},
      {"02 02 03 00 02 01 04 03 00 00", kTcAcknowledgementBadType},
      {"02 03 02 00 02 01 04 03 00 00", kTcAcknowledgementBadProtocol},
      {"02 03 03 01 02 01 04 03 00 00", kTcAcknowledgementBadProtocol},
      {"02 03 03 00 01 02 04 03 00 00", kTcAcknowledgementBadSession},
      {"02 03 03 00 02 01 03 04 00 00", kTcAcknowledgementBadSequenceNumber},
      {"02 03 03 00 02 01 04 03 00 01", kTcAcknowledgementNegative},
      {"02 03 03 00 02 01 04 03 01 00", kTcAcknowledgementNegative},
      {"02 03 03 00 02 01 04 03 02 00", kTcAcknowledgementNegative},
  };
  for (const auto& row : rows) {
    const TcAcknowledgementStruct ack = TcDecodeAcknowledgement(Hex(row.wire).data());
    EXPECT_EQ(row.check, TcCheckAcknowledgement(&ack, 2, 0x0102, 0x0304)) << row.wire;
  }
}

TEST(TcFrameTest, AnswerDatagramMustBeOneCompleteDatagram) {
  const struct {
    const char* header;
    size_t received;
    TlResult result;
  } rows[] = {
      {"02 02 03 00 05 00 00 00 0c 00", 12, kTlResultSuccess},
      {"07 02 09 00 ff ff 00 00 0c 00", 12, kTlResultSuccess},  // version, protocol, session free
      {"02 02 03 00 05 00 00 00 00 00", 0, kTlResultSuccess},
      {"02 02 03 00 05 00 00 00 0c 00", 11, kTlResultTransparentChannelErrorReceiveBytesFailed},
      {"02 02 03 00 05 00 00 00 0c 01", 12, kTlResultTransparentChannelErrorReceiveBytesFailed},
      {"02 02 03 00 05 00 00 01 0c 00", 12, kTlResultTransparentChannelErrorFileTypeNotSupported},
      {"02 02 03 00 05 00 01 00 0c 00", 12, kTlResultTransparentChannelErrorFileTypeNotSupported},
      {"02 02 03 00 05 00 01 00 0c 00", 3, kTlResultTransparentChannelErrorFileTypeNotSupported},
      {"02 03 03 00 05 00 00 00 00 00", 0, kTlResultTransparentChannelErrorReceiveBytesFailed},
      {"02 03 03 00 05 00 00 00 0c 00", 0, kTlResultTransparentChannelErrorReceiveBytesFailed},
  };
  for (const auto& row : rows) {
    const TcDatagramStruct header = TcDecodeDatagramHeader(Hex(row.header).data());
    EXPECT_EQ(row.result, TcCheckAnswerDatagram(&header, row.received)) << row.header;
  }
}

TEST(TcFrameTest, AnswerHeaderIsDecodedAndOnlyResultOkSucceeds) {
  const struct {
    const char* answer;
    const char* fields;  // "": too short to hold a header (the result is then not looked at)
    TlResult result;
  } rows[] = {
      {"01 02 03 04 05 06 07 08 09 0a 00 00", "0201 03 04 0605 0a090807 0000", kTlResultSuccess},
      {"01 00 00 02 00 00 00 00 00 00 00 00 61 62", "0001 00 02 0000 00000000 0000",
       kTlResultSuccess},
      {"01 00 00 02 00 00 00 00 00 00 ff 00", "0001 00 02 0000 00000000 00ff",
       kTlResultTransparentChannelErrorFailure},
      {"01 00 00 02 00 00 00 00 00 00 00 01", "0001 00 02 0000 00000000 0100",
       kTlResultTransparentChannelErrorFailure},
      {"01 00 00 02 00 00 00 00 00 00 01 00", "0001 00 02 0000 00000000 0001",
       kTlResultTransparentChannelErrorFailure},
      {"01 00 00 02 00 00 00 00 00 00 00", "", kTlResultTransparentChannelErrorFailure},
      {"", "", kTlResultTransparentChannelErrorFailure},
  };
  for (const auto& row : rows) {
    const Bytes answer = Hex(row.answer);
    TcServiceHeaderAnswerGenericStruct h = {};
    if (!TcDecodeAnswerHeader(answer.data(), answer.size(), &h)) {
      EXPECT_STREQ("", row.fields) << row.answer;
      continue;
    }
    char fields[64];
    snprintf(fields, sizeof fields, "%04x %02x %02x %04x %08x %04x", h.request_id,
             h.security_mechanism, h.cmd_type, h.cmd_id, h.payload_length, h.result);
    EXPECT_STREQ(row.fields, fields) << row.answer;
    EXPECT_EQ(row.result, TcCheckAnswerHeader(&h)) << row.answer;
  }
}

TEST(TcFrameTest, CloseReplyMustConfirmTheCloseCommand) {
  const struct {
    const char* wire;
    bool ok;
  } rows[] = {
      {"02 01 00 00 00 00", true},   // confirmed
      {"01 01 00 00 00 00", false},  // version
      {"02 00 00 00 00 00", false},  // type: a control frame, not its response
      {"02 03 00 00 00 00", false},  // type
      {"02 01 01 00 00 00", false},  // command
      {"02 01 00 01 00 00", false},  // command, high byte
      {"02 01 00 00 01 00", false},  // result: unknown version
      {"02 01 00 00 00 01", false},  // result, high byte
  };
  for (const auto& row : rows) {
    const TcControlResponseStruct reply = TcDecodeControlResponse(Hex(row.wire).data());
    EXPECT_EQ(row.ok, TcControlResponseOk(&reply, 2)) << row.wire;
  }
}

}  // namespace
