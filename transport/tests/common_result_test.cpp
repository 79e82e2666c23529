#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "transport/src/common/common.h"
#include "transport/tests/common_log_fixture.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

struct Row {
  int value;
  const char* text;
};

// Every described transport result with its text, as the log and the front end show them.
const std::vector<Row> kRows = {
    {0, "The operation completed successfully."},
    {1, "The function is not implemented."},
    {2, "An invalid parameter was given."},
    {3, "Failed to allocate memory."},
    {4, "The device is not open."},
    {5, "The operation timed out"},
    {6, "Unknown device type."},
    {7, "The Transport Layer library has not been initialized."},
    {8, ""},
    {9, "Could not open log file."},
    {10, "Could not write to log file."},
    {99, "Unknown error."},
    {200, "The device handle is invalid."},
    {201, "No more devices handles available."},
    {202, "Could not open device."},
    {203, "Could not configure device."},
    {204, "Could not write to device."},
    {205, "Could not read from device."},
    {206, "The attempted action is not allowed in the current mode."},
    {207, "Could not start the asynchronous thread."},
    {501, "Failed to open SF channel."},
    {502, "Failed to close SF channel."},
    {505, "An error occurred during packet serialization."},
    {506, "An error occurred during packet deserialization"},
    {507, "SF packet transmission failed."},
    {508, "Failed to read a packet from an SF channel."},
    {510, "The payload failed authorization."},
    {511, "The assignment was not recognized by the device."},
    {512, "The specified SF mode is not supported."},
    {513, "A timeout occurred when reading from the device."},
    {600, "AT Command could not be send because the device is not in AT mode."},
    {690, "The maximum number of callbacks have been exceeded. Not possible to register callback."},
    {691, "Could not found callback signature in list of registered callbacks."},
    {699, "An unknown error occured in the AT module"},
    {900, "A response from the device could not be verified."},
    {901, "Could not set the device mode to transparent channel."},
    {902, "Could not set the device to AT mode from transparent channel"},
    {903, "Failed to create header."},
    {904, "An error occured while sending data to the device."},
    {905, "An error occured while receiving data from the device"},
    {906, "The recived data type is not supported."},
    {907, "The requested transparent channel version is not supported."},
};

std::string Describe(int value, TlResult* result) {
  TlResultDescription description;
  memset(description, '#', sizeof(description));
  *result = TlGetResultDescription(static_cast<TlResult>(value), &description);
  EXPECT_NE(memchr(description, '\0', sizeof(description)), nullptr);
  return description;
}

TEST(TlResultDescriptionTest, EveryDescribedResultGivesValueAndText) {
  ASSERT_EQ(kRows.size(), 42u);
  for (const Row& row : kRows) {
    TlResult result;
    EXPECT_EQ(Describe(row.value, &result), std::to_string(row.value) + " - " + row.text);
    EXPECT_EQ(result, kTlResultSuccess) << row.value;
  }
}

TEST(TlResultDescriptionTest, ValuesWithoutARowGiveTheUnknownText) {
  for (int value : {11, 908, 12, 98, 100, 208, 500, 503, 509, 514, 601, 700, 909, -1, 65535}) {
    TlResult result;
    EXPECT_EQ(Describe(value, &result),
              std::to_string(value) + " - \"Unknown error code, no description found\".");
    EXPECT_EQ(result, kTlResultGeneralErrorUnknown) << value;
  }
  // The empty row exists: its line ends after the separator and counts as found.
  TlResult result;
  EXPECT_EQ(Describe(8, &result), "8 - ");
  EXPECT_EQ(result, kTlResultSuccess);
  EXPECT_EQ(TlGetResultDescription(kTlResultSuccess, nullptr),
            kTlResultGeneralErrorInvalidParameter);
}

TEST(TlPackingTest, StoresMostSignificantByteFirst) {
  uint8_t bytes[6] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
  ASSERT_EQ(TlSerializeUint32(0x12345678u, bytes + 1), kTlResultSuccess);
  const uint8_t expected[6] = {0xee, 0x12, 0x34, 0x56, 0x78, 0xee};
  EXPECT_EQ(memcmp(bytes, expected, sizeof(bytes)), 0);

  uint32_t value = 0;
  ASSERT_EQ(TlDeserializeUint32(expected + 1, &value), kTlResultSuccess);
  EXPECT_EQ(value, 0x12345678u);
}

TEST(TlPackingTest, RoundTripsTheWholeRange) {
  for (uint32_t value : {0u, 1u, 0x80u, 0xffu, 0x100u, 0x8000u, 0x10000u, 0x7fffffffu, 0x80000000u,
                         0xdeadbeefu, 0xfffffffeu, 0xffffffffu}) {
    uint8_t bytes[4];
    ASSERT_EQ(TlSerializeUint32(value, bytes), kTlResultSuccess);
    EXPECT_EQ(bytes[0], value >> 24);
    EXPECT_EQ(bytes[3], value & 0xff);
    uint32_t back = ~value;
    ASSERT_EQ(TlDeserializeUint32(bytes, &back), kTlResultSuccess);
    EXPECT_EQ(back, value);
  }
}

TEST(TlPackingTest, NullArgumentsAreRefusedAndOnlyReadingLogs) {
  TlSetLogTypesForScreen(kTlLogTypeMaskAll);
  CaptureStdout();
  EXPECT_EQ(TlSerializeUint32(1, nullptr), kTlResultGeneralErrorInvalidParameter);
  uint32_t value = 5;
  uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(TlDeserializeUint32(nullptr, &value), kTlResultGeneralErrorInvalidParameter);
  EXPECT_EQ(TlDeserializeUint32(bytes, nullptr), kTlResultGeneralErrorInvalidParameter);
  const std::string screen = GetCapturedStdout();
  TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
  EXPECT_EQ(value, 5u);

  const auto lines = tarvik_test::SplitKeepingEnds(screen);
  ASSERT_EQ(lines.size(), 2u) << screen;
  const std::string start = "TL:Common           ERROR     TlDeserializeUint32 - NULL parameter: ";
  EXPECT_EQ(lines[0].substr(35, start.size()), start);
  EXPECT_NE(lines[0].find("&buffer = 0, &value = "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(", &value = 0.\r\n"), std::string::npos) << lines[1];
}

}  // namespace
