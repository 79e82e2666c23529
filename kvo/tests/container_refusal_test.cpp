// Both containers are libraries loaded from a directory that may be shared. The library asks the
// load guard (whose rules common/tests/load_guard_test.cpp tables) before each load, refuses with
// the reason in its log, and touches no module when the update container is refused.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "kvo/tests/update_fixture.h"
#include "testing/files.h"

namespace {

using tarvik_test::CountOf;

class RefusalTest : public kvo_test::UpdateTest {
 protected:
  void SetUp() override {
    kvo_test::UpdateTest::SetUp();
    LogEverything();
  }
  void TearDown() override {
    chmod(directory_.path().c_str(), 0700);
    kvo_test::UpdateTest::TearDown();
  }
};

TEST_F(RefusalTest, CustomizationContainerOthersMayWriteStopsTheStart) {
  KvoTerminate();
  ASSERT_TRUE(kvo_test::PlaceContainer(directory_, kvo_test::SampleContainer()));
  const std::string container = directory_.File("libcustomization_container.dll");
  ASSERT_EQ(0, chmod(container.c_str(), 0646));
  EXPECT_EQ(kKvoResultCustomErrorContainerLoadFailure, KvoInitialize());
  const std::string log = Log();
  EXPECT_EQ(1u,
            CountOf(log, "Refusing to load " + container + ": group or others may write to it."));
  EXPECT_EQ(1u, CountOf(log, "Customization container could not be loaded."));
}

TEST_F(RefusalTest, UpdateContainerInADirectoryOthersMayWrite) {
  const std::string container = directory_.File("libupdate_container.dll");
  std::filesystem::copy_file(tarvik_test::kCarriedContainer, container);
  chmod(container.c_str(), 0600);
  KvoUpdatePathStructType* list = nullptr;
  size_t size = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoUpdateGetUpdatePath(0, container.c_str(), &list, &size));
  KvoUpdateReleaseKvoUpdatePath(list);

  ASSERT_EQ(0, chmod(directory_.path().c_str(), 0777));
  list = nullptr;
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL,
            KvoUpdateGetUpdatePath(0, container.c_str(), &list, &size));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(0u, size);
  handle_ = StartAndOpen(tarvik_sim::DefaultProfile());
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, RunUpdateOnOpenHandle(container));
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(0, kvo_test::Sent(module_, "AT*EEUSTATE=1"));
  const std::string log = Log();
  EXPECT_EQ(2u, CountOf(log, "Refusing to load " + container +
                                 ": others may write to its directory, which has no sticky bit."));
  EXPECT_EQ(2u, CountOf(log, "Failed to load update container."));
}

}  // namespace
