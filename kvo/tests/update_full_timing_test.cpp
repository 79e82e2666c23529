// One whole update with every fixed wait taken in full (settle pauses, the two seconds before the
// packages, the fifteen seconds of a module restart, the update loop's waits), as a module sees
// it in use.

#include <gtest/gtest.h>

#include <algorithm>

#include "common/src/wait_seam.h"
#include "kvo/tests/update_fixture.h"

namespace {

class UpdateFullTimingTest : public kvo_test::UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    CommonSetWaitDivisor(1);
  }
};

TEST_F(UpdateFullTimingTest, WholeUpdateWithoutShortenedWaits) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  // Installing takes a few seconds, as on a real module, so that the state lines are read by the
  // receive thread (one poll a second) before the module restarts.
  profile.install_ms = 3000;
  // It also reports its self-restart long enough before going away for that line to be read, so
  // the engine follows the restart it was told of instead of finding the module gone.
  profile.self_restart_ms = 1500;
  ASSERT_EQ(kKvoResultSuccess, RunUpdate(profile));
  const std::vector<KvoUpdateEventType> expected = {
      kKvoUpdateEventTypeBegin, kKvoUpdateEventTypeReceivedUpdatePackages,
      kKvoUpdateEventTypeInstalling, kKvoUpdateEventTypeRestartNotified,
      kKvoUpdateEventTypeSuccess};
  EXPECT_EQ(expected, Steps());
  const KvoUpdateEvent& begin = events_.front();
  EXPECT_EQ(kKvoUpdateTypeNotified, begin.information.type);
  EXPECT_STREQ("ZNT4028813/1 R3C01", begin.information.current_configuration);
  EXPECT_STREQ("ZNT4028813/1 R5E/1", begin.information.target_configuration);
  EXPECT_STRNE("", begin.information.model);
  const std::vector<int> progress = Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(100, progress.back());
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
  EXPECT_EQ(1, module_.UpgradeState());
}

}  // namespace
