// Both containers are libraries taken from a directory that may be shared; a file that another
// user could have written or swapped is refused before it is loaded, with the reason in the log.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "kvo.h"
#include "kvo/tests/device_sim_fixture.h"
#include "kvo/tests/update_fixture.h"
#include "testing/files.h"
#include "testing/paths.h"

namespace {

namespace fs = std::filesystem;

// Logs everything into a file outside the directory under test.
class LogFile {
 public:
  LogFile() {
    KvoSetLogFile(path_.c_str());
    KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
  }
  ~LogFile() {
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
  }
  std::string Text() const { return tarvik_test::ReadFile(path_); }

 private:
  tarvik_test::TempDir dir_;
  std::string path_ = dir_.File("kvo.log");
};

struct CustomCase {
  const char* name;
  void (*prepare)(const fs::path& dir, const fs::path& container);
  const char* reason;
};

const CustomCase kCustomCases[] = {
    {"GroupWritable", [](const fs::path&, const fs::path& c) { chmod(c.c_str(), 0664); },
     "group or others may write to it"},
    {"WorldWritable", [](const fs::path&, const fs::path& c) { chmod(c.c_str(), 0646); },
     "group or others may write to it"},
    {"OpenDirectory", [](const fs::path& d, const fs::path&) { chmod(d.c_str(), 0777); },
     "others may write to its directory, which has no sticky bit"},
    {"Link",
     [](const fs::path& d, const fs::path& c) {
       fs::rename(c, d / "real.dll");
       fs::create_symlink(d / "real.dll", c);
     },
     "it is not a regular file"},
};

void PrintTo(const CustomCase& c, std::ostream* stream) {
  *stream << c.name;
}

class CustomRefusalTest : public ::testing::TestWithParam<CustomCase> {
 protected:
  void TearDown() override {
    chmod(directory_.path().c_str(), 0700);
    if (started_) KvoTerminate();
  }
  tarvik_test::TempDir directory_{tarvik_test::TempDir::kEnter};
  bool started_ = false;
};

TEST_P(CustomRefusalTest, LibraryDoesNotStartAndSaysWhy) {
  ASSERT_TRUE(kvo_test::PlaceContainer(directory_, kvo_test::SampleContainer()));
  const fs::path container = directory_.File("libcustomization_container.dll");
  LogFile log;
  // The same file in the same place loads while nobody else could have touched it.
  ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
  KvoTerminate();

  GetParam().prepare(directory_.path(), container);
  const KvoResult result = KvoInitialize();
  started_ = result == kKvoResultSuccess;
  EXPECT_EQ(kKvoResultCustomErrorContainerLoadFailure, result);
  const std::string text = log.Text();
  EXPECT_NE(std::string::npos,
            text.find("Refusing to load " + container.string() + ": " + GetParam().reason + "."))
      << text;
  EXPECT_NE(std::string::npos, text.find("Customization container could not be loaded."));
}

INSTANTIATE_TEST_SUITE_P(Refusals, CustomRefusalTest, ::testing::ValuesIn(kCustomCases),
                         [](const ::testing::TestParamInfo<CustomCase>& info) {
                           return std::string(info.param.name);
                         });

// The path listing loads the container without a module; an update run loads it after the
// module was opened and must not touch the module when it refuses.
class UpdateRefusalTest : public kvo_test::UpdateTest {
 protected:
  void TearDown() override {
    chmod(directory_.path().c_str(), 0700);
    kvo_test::UpdateTest::TearDown();
  }

  std::string PlaceUpdateContainer() {
    const fs::path target = directory_.File("libupdate_container.dll");
    fs::copy_file(tarvik_test::kCarriedContainer, target);
    chmod(target.c_str(), 0600);
    return target.string();
  }
};

TEST_F(UpdateRefusalTest, PathListingRefusesAContainerInADirectoryOthersMayWrite) {
  const std::string container = PlaceUpdateContainer();
  LogFile log;
  KvoUpdatePathStructType* list = nullptr;
  size_t size = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoUpdateGetUpdatePath(0, container.c_str(), &list, &size));
  EXPECT_EQ(7u, size);
  KvoUpdateReleaseKvoUpdatePath(list);

  ASSERT_EQ(0, chmod(directory_.path().c_str(), 0777));
  list = nullptr;
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL,
            KvoUpdateGetUpdatePath(0, container.c_str(), &list, &size));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(0u, size);
  // With the sticky bit others can no longer swap the file.
  ASSERT_EQ(0, chmod(directory_.path().c_str(), 01777));
  ASSERT_EQ(kKvoResultSuccess, KvoUpdateGetUpdatePath(0, container.c_str(), &list, &size));
  KvoUpdateReleaseKvoUpdatePath(list);

  const std::string text = log.Text();
  EXPECT_NE(std::string::npos,
            text.find("Refusing to load " + container +
                      ": others may write to its directory, which has no sticky bit."))
      << text;
  EXPECT_NE(std::string::npos, text.find("Failed to load update container."));
}

TEST_F(UpdateRefusalTest, UpdateRefusesAWritableContainerBeforeTalkingToTheModule) {
  const std::string container = PlaceUpdateContainer();
  ASSERT_EQ(0, chmod(container.c_str(), 0666));
  LogFile log;
  handle_ = StartAndOpen(tarvik_sim::DefaultProfile());
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, RunUpdateOnOpenHandle(container));
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(ModuleGot("AT*EEUSTATE=1"));
  const std::string text = log.Text();
  EXPECT_NE(std::string::npos,
            text.find("Refusing to load " + container + ": group or others may write to it."))
      << text;
}

}  // namespace
