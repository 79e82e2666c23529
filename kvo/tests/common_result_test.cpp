// The library's result descriptions against kvo/tests/golden/results.txt, and its identity.

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "kvo.h"
#include "testing/golden.h"

namespace {

std::string Describe(int value, KvoResult* result) {
  KvoResultDescription description;
  memset(description, '#', sizeof description);
  *result = KvoGetResultDescription(static_cast<KvoResult>(value), &description);
  EXPECT_NE(nullptr, memchr(description, '\0', sizeof description)) << value;
  return description;
}

// Every value with a row gives "TYPE value - text" and success; every other value the unknown text
// and 99.
TEST(KvoResultDescriptionTest, EveryValueAgainstTheGoldenTable) {
  std::string described;
  for (int value = -1; value <= 1100; ++value) {
    KvoResult result = kKvoResultGeneralErrorUnknown;
    const std::string text = Describe(value, &result);
    if (result == kKvoResultSuccess) {
      described += text + "\n";
    } else {
      EXPECT_EQ(kKvoResultGeneralErrorUnknown, result) << value;
      EXPECT_EQ(std::to_string(value) + " - \"Unknown result code, no description found\".", text);
    }
  }
  EXPECT_TRUE(
      tarvik_test::MatchesGolden(TARVIK_SOURCE_DIR "/kvo/tests/golden/results.txt", described));
}

TEST(KvoIdentityTest, VersionRevisionAndProduct) {
  KvoVersion version = {99, 99};
  KvoRevision revision;
  KvoProductNumber product;
  ASSERT_EQ(kKvoResultSuccess, KvoGetApiVersion(&version));
  ASSERT_EQ(kKvoResultSuccess, KvoGetRevision(&revision));
  ASSERT_EQ(kKvoResultSuccess, KvoGetProduct(&product));
  EXPECT_EQ(3u, version.major);
  EXPECT_EQ(0u, version.minor);
  EXPECT_STREQ("P1AXX", revision);
  EXPECT_STREQ("ZNL 550 7716/1", product);
}

}  // namespace
