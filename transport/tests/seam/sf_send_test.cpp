// TlSfSend against a module that is only a byte stream: what the host writes, the results, the
// owner it leaves, and the progress it reports, for each way the module's side can go.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/fake_device.h"
#include "transport/src/at/at.h"
#include "transport/src/secure_frame/secure_frame.h"

namespace {

const TlDeviceHandle kHandle = 0;
const std::string kOk = "\r\nOK\r\n";

std::string Be32(uint32_t value) {
  std::string bytes(4, '\0');
  TlSerializeUint32(value, reinterpret_cast<uint8_t*>(&bytes[0]));
  return bytes;
}

// A response packet with `result`, after `stray` bytes.
std::string Ack(uint32_t result, const std::string& stray = "") {
  return stray + "ZAMU" + Be32(32) + Be32(0) + Be32(result) + Be32(0xFFFFFFFF) + Be32(0);
}

std::vector<std::pair<uint32_t, uint32_t>> progress;

void RecordProgress(uint32_t sent, uint32_t total) {
  progress.push_back({sent, total});
}

class SfSendTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(kTlResultSuccess, TlInitialize());
    // The first command of a handle also switches echo off; done once so that every case meets
    // the same AT channel.
    fake_device::LoadPieces({kOk, kOk});
    fake_device::SetOwner(kTlDeviceOwnerAt);
    TlAtResult first = {kTlAtResultUnknown, nullptr};
    ASSERT_EQ(kTlResultSuccess, TlAtSend(kHandle, "AT", 0, &first));
    TlAtReleaseAtResult(&first);
  }
  static void TearDownTestSuite() { TlTerminate(); }
};

// What the host writes: its two AT commands, then a request packet for each slice of the data.
std::string Written(const std::string& data, const std::vector<uint32_t>& packets) {
  std::string bytes = "ATE0\r\nAT*EESFUD=3\r\n";
  size_t at = 0;
  for (uint32_t size : packets) {
    bytes += "ZAMU" + Be32(32) + Be32(1) + Be32(0) + Be32(0xFFFFFFFF) + Be32(size);
    bytes += data.substr(at, size);
    at += size;
  }
  return bytes;
}

const TlResult kDone = kTlResultSuccess;
const TlResult kOpenFailed = kTlResultSecureFrameErrorOpenFailed;
const TlResult kCloseFailed = kTlResultSecureFrameErrorCloseFailed;
const TlResult kSendFailed = kTlResultSecureFrameErrorTransmissionFailed;
const TlResult kRefused = kTlResultSecureFrameErrorAuthorizationFailed;
const TlResult kReadError = kTlResultSecureFrameErrorReadPacketError;

TEST_F(SfSendTest, SequenceOfPacketsAcknowledgementsAndClose) {
  const std::string ack = Ack(0);
  const std::string garbage(kSfReceiveBufferSize, 'x');
  const struct {
    const char* name;
    size_t data_size;
    std::vector<std::string> module;  // pieces, each what one read gets at most
    TlResult result;
    std::vector<uint32_t> packets;
    size_t progress_calls;
  } rows[] = {
      {"two packets", 32769, {kOk, kOk, ack, ack, ack, kOk}, kDone, {32768, 1}, 2},
      {"no data", 0, {kOk, kOk, ack, kOk}, kDone, {}, 0},
      {"stray bytes", 3, {kOk, kOk, Ack(0, "\x01\x02"), ack, kOk}, kDone, {3}, 1},
      {"pending", 3, {kOk, kOk, Ack(1), Ack(1), kOk}, kDone, {3}, 1},
      {"one read holding everything", 3, {kOk, kOk, ack + ack + kOk}, kDone, {3}, 1},
      {"ack in pieces", 3, {kOk, kOk, ack.substr(0, 5), ack.substr(5), ack, kOk}, kDone, {3}, 1},
      {"split OK", 3, {kOk, kOk, ack, ack, "\r\nO", "K\r\n"}, kDone, {3}, 1},
      {"OK not last", 3, {kOk, kOk, ack, ack, kOk + "X"}, kCloseFailed, {3}, 1},
      {"authorization failed", 3, {kOk, kOk, ack, Ack(4), kOk}, kRefused, {3}, 1},
      {"no final ack", 3, {kOk, kOk, ack}, kTlResultSecureFrameErrorReadTimeout, {3}, 1},
      {"no header in a full buffer", 0, {kOk, kOk, garbage, ack}, kReadError, {}, 0},
      {"packet refused", 40000, {kOk, kOk, Ack(2), ack, ack}, kSendFailed, {32768}, 0},
      {"switch refused", 3, {kOk, "\r\nERROR\r\n"}, kOpenFailed, {}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fake_device::LoadPieces(row.module);
    fake_device::SetOwner(kTlDeviceOwnerAt);
    progress.clear();
    std::string data(row.data_size, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
    EXPECT_EQ(row.result, TlSfSend(kHandle, RecordProgress, 0, reinterpret_cast<uint8_t*>(&data[0]),
                                   data.size()));
    EXPECT_EQ(Written(data, row.packets), fake_device::Sent());
    ASSERT_EQ(row.progress_calls, progress.size());
    if (!progress.empty()) {
      EXPECT_EQ(row.data_size, progress.back().first);
    }
    // Whatever happened after the switch, the port speaks AT again.
    EXPECT_EQ(kTlDeviceOwnerAt, fake_device::Owner());
    EXPECT_EQ(0, fake_device::LockDepth());
    EXPECT_FALSE(fake_device::UnlockedIo());
  }
}

TEST_F(SfSendTest, NothingIsSentOutsideAtMode) {
  fake_device::LoadPieces({kOk, kOk});
  fake_device::SetOwner(kTlDeviceOwnerTransparentChannel);
  uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(kOpenFailed, TlSfSend(kHandle, nullptr, 0, data, sizeof data));
  EXPECT_EQ("", fake_device::Sent());
  EXPECT_EQ(kTlDeviceOwnerTransparentChannel, fake_device::Owner());
}

}  // namespace
