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
  for (int used = 0; sscanf(text, " %2x%n", &byte, &used) == 1; text += used) {
    bytes.push_back(static_cast<unsigned char>(byte));
  }
  return bytes;
}

TEST(TcFrameTest, EncodedFramesMatchTheirWireLayout) {
  const auto control = [](uint16_t command) {
    Bytes out(kTcControlSize);
    TcEncodeControl(out.data(), 2, command);
    return out;
  };
  const auto datagram = [](uint16_t session, uint16_t sequence, const std::string& slice) {
    Bytes out(kTcDatagramHeaderSize + slice.size());
    TcEncodeDatagram(out.data(), 2, session, sequence,
                     reinterpret_cast<const unsigned char*>(slice.data()),
                     static_cast<uint16_t>(slice.size()));
    return out;
  };
  const auto request_id = [](uint16_t id) {
    Bytes out(2);
    TcEncodeRequestId(out.data(), id);
    return out;
  };
  const struct {
    Bytes encoded;
    const char* wire;
  } rows[] = {
      {control(kTcCommandClose), "02 00 00 00"},
      {control(kTcCommandStatus), "02 00 02 00"},
      {datagram(0x0102, 0x0304, "ab"), "02 02 03 00 02 01 04 03 02 00 61 62"},
      {datagram(1, 0, ""), "02 02 03 00 01 00 00 00 00 00"},
      {datagram(0xFFFF, 0xFFFF, "z"), "02 02 03 00 ff ff ff ff 01 00 7a"},
      {request_id(1), "01 00"},
      {request_id(0xBEEF), "ef be"},
  };
  for (const auto& row : rows) EXPECT_EQ(Hex(row.wire), row.encoded) << row.wire;
}

TEST(TcFrameTest, PayloadIsCutIntoDatagramsCountingDownToZero) {
  const struct {
    size_t payload_size;
    uint16_t first_sequence_number, first_length;
  } rows[] = {
      {0, 0xFFFF, 0},      // no datagram at all: the count wraps
      {1, 0, 1},           // one short datagram
      {65535, 0, 65535},   // exactly one full datagram
      {65536, 1, 65535},   // one full and one of a single byte
      {131070, 1, 65535},  // two full
      {131071, 2, 65535},  // two full and one byte
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.first_sequence_number, TcFirstSequenceNumber(row.payload_size));
    EXPECT_EQ(row.first_length, TcDatagramLength(row.payload_size)) << row.payload_size;
  }
}

// Expected: version 2, session 0x0102, sequence number 0x0304; the first bad field is named.
TEST(TcFrameTest, AcknowledgementIsCheckedFieldByFieldInOrder) {
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

// One datagram, complete; type, version, protocol and session are free. Results by value.
TEST(TcFrameTest, AnswerDatagramMustBeOneCompleteDatagram) {
  const struct {
    const char* header;
    size_t received;
    int result;
  } rows[] = {
      {"02 02 03 00 05 00 00 00 0c 00", 12, 0},   {"07 02 09 00 ff ff 00 00 0c 00", 12, 0},
      {"02 02 03 00 05 00 00 00 00 00", 0, 0},    {"02 02 03 00 05 00 00 00 0c 00", 11, 905},
      {"02 02 03 00 05 00 00 00 0c 01", 12, 905}, {"02 02 03 00 05 00 00 01 0c 00", 12, 906},
      {"02 02 03 00 05 00 01 00 0c 00", 12, 906}, {"02 02 03 00 05 00 01 00 0c 00", 3, 906},
      {"02 03 03 00 05 00 00 00 00 00", 0, 0},  // another type, empty: the answer header decides
                                                // {"02 03 03 00 05 00 00 00 0c 00", 0, 905},
  };
  for (const auto& row : rows) {
    const TcDatagramStruct header = TcDecodeDatagramHeader(Hex(row.header).data());
    EXPECT_EQ(row.result, TcCheckAnswerDatagram(&header, row.received)) << row.header;
  }
}

TEST(TcFrameTest, AnswerHeaderIsDecodedAndOnlyResultOkSucceeds) {
  const struct {
    const char* answer;
    const char* fields;  // "": too short to hold a header
    int result;
  } rows[] = {
      {"01 02 03 04 05 06 07 08 09 0a 00 00", "0201 03 04 0605 0a090807 0000", 0},
      {"01 00 00 02 00 00 00 00 00 00 00 00 61 62", "0001 00 02 0000 00000000 0000", 0},
      {"01 00 00 02 00 00 00 00 00 00 ff 00", "0001 00 02 0000 00000000 00ff", 900},
      {"01 00 00 02 00 00 00 00 00 00 00 01", "0001 00 02 0000 00000000 0100", 900},
      {"01 00 00 02 00 00 00 00 00 00 01 00", "0001 00 02 0000 00000000 0001", 900},
      {"01 00 00 02 00 00 00 00 00 00 00", "", 0},
      {"", "", 0},
  };
  for (const auto& row : rows) {
    const Bytes answer = Hex(row.answer);
    TcServiceHeaderAnswerGenericStruct h = {};
    char fields[64] = "";
    if (TcDecodeAnswerHeader(answer.data(), answer.size(), &h)) {
      snprintf(fields, sizeof fields, "%04x %02x %02x %04x %08x %04x", h.request_id,
               h.security_mechanism, h.cmd_type, h.cmd_id, h.payload_length, h.result);
      EXPECT_EQ(row.result, TcCheckAnswerHeader(&h)) << row.answer;
    }
    EXPECT_STREQ(row.fields, fields) << row.answer;
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
