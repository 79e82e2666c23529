// The secure frame protocol's packets as bytes: the request the host encodes, the response headers
// it accepts, what a response's result means, and when the module's final OK line has come.

#include "transport/src/secure_frame/sf_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using std::string;

TEST(SfFrameTest, RequestPacketsAreEncodedBigEndianBehindTheMagic) {
  const struct {
    string payload;
    uint32_t version;
    SfSerializationResultEnum result;
    string wire;
  } rows[] = {
      // clang-format off
      {"abc", kSfProtocolVersion, kSfSerializationResultSuccess, string("ZAMU\0\0\0\x20\0\0\0\x01\0\0\0\0\xff\xff\xff\xff\0\0\0\x03" "abc", 27)},
      {"abc", 31, kSfSerializationResultInvalidPackage, ""},
      {string(kSfMaxPayloadSize + 1, 'z'), kSfProtocolVersion, kSfSerializationResultTooMuchData, ""},
      // clang-format on
  };
  for (const auto& row : rows) {
    string payload = row.payload;
    SfPacketStruct packet;
    SfCreatePacket(reinterpret_cast<uint8_t*>(&payload[0]), static_cast<uint32_t>(payload.size()),
                   &packet);
    packet.header.version = row.version;
    string out(kSfHeaderSize + payload.size(), '\0');
    EXPECT_EQ(row.result, SfSerializePacket(&packet, reinterpret_cast<uint8_t*>(&out[0])));
    if (row.result == kSfSerializationResultSuccess) {
      EXPECT_EQ(row.wire, out);
    }
  }
}

TEST(SfFrameTest, ResponseHeaderNeedsMagicAndVersionOnly) {
  const struct {
    string wire;
    SfSerializationResultEnum result;
    uint32_t result_code;  // and payload size, when the header is accepted
    uint32_t payload_size;
  } rows[] = {
      // clang-format off
      {string("ZAMU\0\0\0\x20\0\0\0\0\0\0\0\x04\xff\xff\xff\xff\0\0\0\0", 24), kSfSerializationResultSuccess, 4, 0},
      // Type and sequence number are the module's affair.
      {string("ZAMU\0\0\0\x20\0\0\0\x07\0\0\0\x01\0\0\0\x09\0\0\x01\x02", 24), kSfSerializationResultSuccess, 1, 0x102},
      {string("UMAZ\0\0\0\x20\0\0\0\0\0\0\0\0\xff\xff\xff\xff\0\0\0\0", 24), kSfSerializationResultInvalidPackage, 0, 0},
      {string("ZAMU\x20\0\0\0\0\0\0\0\0\0\0\0\xff\xff\xff\xff\0\0\0\0", 24), kSfSerializationResultInvalidPackage, 0, 0},
      // clang-format on
  };
  for (const auto& row : rows) {
    SfHeaderStruct header = {};
    ASSERT_EQ(row.result, SfDeserializeHeader(reinterpret_cast<const uint8_t*>(row.wire.data()),
                                              row.wire.size(), &header));
    if (row.result != kSfSerializationResultSuccess) continue;
    EXPECT_EQ(row.result_code, header.result_code);
    EXPECT_EQ(row.payload_size, header.payload_size);
  }
}

TEST(SfFrameTest, OkAndPendingAcknowledgeEverythingElseFails) {
  const TlResult results[] = {kTlResultSuccess,
                              kTlResultSuccess,
                              kTlResultSecureFrameErrorTransmissionFailed,
                              kTlResultSecureFrameErrorAssignmentUnknown,
                              kTlResultSecureFrameErrorAuthorizationFailed,
                              kTlResultSecureFrameErrorTransmissionFailed};
  for (uint32_t code = 0; code < 6; ++code) EXPECT_EQ(results[code], SfAcknowledgementResult(code));
  EXPECT_EQ(kTlResultSecureFrameErrorTransmissionFailed, SfAcknowledgementResult(0xFFFFFFFF));
}

TEST(SfFrameTest, FinalOkMustEndWhatCameSoFarAndMaySpanReads) {
  const struct {
    std::vector<string> reads;
    bool closed;
  } rows[] = {
      {{"\r\nOK\r\n"}, true},
      {{"xy\r\nOK\r\n"}, true},
      {{string("\r\nOK\r\n\0zz", 9)}, true},  // a zero byte ends the text
      {{"\r\nOK\r\nX"}, false},
      {{"\r\nOK\r\nX", "Y"}, false},
      {{"OK\r\n"}, false},
      {{"\r\nO", "K\r\n"}, true},
      {{"\r", "\n", "O", "K", "\r", "\n"}, true},
      {{"\r\nOK", "\r\nX"}, false},
  };
  for (const auto& row : rows) {
    SfCloseScanner scanner;
    SfCloseScannerReset(&scanner);
    bool closed = false;
    for (const string& read : row.reads) {
      EXPECT_FALSE(closed) << "seen before the last read";
      closed =
          SfCloseScannerFeed(&scanner, reinterpret_cast<const uint8_t*>(read.data()), read.size());
    }
    EXPECT_EQ(row.closed, closed) << testing::PrintToString(row.reads);
  }
}

}  // namespace
