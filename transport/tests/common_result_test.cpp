// The transport's result texts against the golden table, and big-endian packing.

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "testing/files.h"
#include "testing/golden.h"
#include "transport/src/common/common.h"

namespace {

TEST(TlResultDescriptionTest, EveryValueGivesItsRowOrTheUnknownText) {
  std::string described;
  for (int value = -1; value <= 1000; ++value) {
    TlResultDescription description;
    memset(description, '#', sizeof description);
    const TlResult result = TlGetResultDescription(static_cast<TlResult>(value), &description);
    ASSERT_NE(nullptr, memchr(description, '\0', sizeof description));
    if (result == kTlResultSuccess) {
      described += std::string(description) + "\n";
    } else {
      EXPECT_EQ(kTlResultGeneralErrorUnknown, result);
      EXPECT_EQ(std::to_string(value) + " - \"Unknown error code, no description found\".",
                description);
    }
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(TARVIK_SOURCE_DIR "/transport/tests/golden/results.txt",
                                         described));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter,
            TlGetResultDescription(kTlResultSuccess, nullptr));
}

TEST(TlPackingTest, MostSignificantByteFirstAndBack) {
  const struct {
    uint32_t value;
    uint8_t bytes[4];
  } rows[] = {
      {0x12345678u, {0x12, 0x34, 0x56, 0x78}},
      {0u, {0, 0, 0, 0}},
      {0xffu, {0, 0, 0, 0xff}},
      {0x80000000u, {0x80, 0, 0, 0}},
      {0xffffffffu, {0xff, 0xff, 0xff, 0xff}},
  };
  for (const auto& row : rows) {
    uint8_t bytes[6] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
    ASSERT_EQ(kTlResultSuccess, TlSerializeUint32(row.value, bytes + 1));
    EXPECT_EQ(0, memcmp(row.bytes, bytes + 1, 4)) << row.value;
    EXPECT_EQ(0xee, bytes[0]);
    EXPECT_EQ(0xee, bytes[5]);
    uint32_t value = ~row.value;
    ASSERT_EQ(kTlResultSuccess, TlDeserializeUint32(row.bytes, &value));
    EXPECT_EQ(row.value, value);
  }
}

TEST(TlPackingTest, NullArgumentsAreRefusedAndOnlyReadingLogs) {
  TlSetLogTypesForScreen(kTlLogTypeMaskAll);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlSerializeUint32(1, nullptr));
  uint32_t value = 5;
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeserializeUint32(nullptr, &value));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlDeserializeUint32(bytes, nullptr));
  const auto lines = tarvik_test::SplitKeepingEnds(::testing::internal::GetCapturedStdout());
  EXPECT_EQ(5u, value);
  ASSERT_EQ(2u, lines.size());
  const std::string start = "TL:Common           ERROR     TlDeserializeUint32 - NULL parameter: ";
  EXPECT_EQ(start + "&buffer = 0, &value = ", lines[0].substr(35, start.size() + 22));
  EXPECT_NE(std::string::npos, lines[1].find(", &value = 0.\r\n")) << lines[1];
}

}  // namespace
