// Writing out the carried update container and removing it again.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "testing/files.h"
#include "testing/paths.h"
#include "update_container/include/carried_container.h"
#include "updater/src/actions/posix/handle_resources.h"

namespace {

using tarvik_test::ReadFile;

class ResourcesTest : public ::testing::Test {
 protected:
  // The written file is exactly the built container, for its owner alone, and a regular file.
  void ExpectTheContainer() const {
    struct stat info;
    ASSERT_EQ(0, lstat(file_.c_str(), &info));
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    const std::string written = ReadFile(file_);
    EXPECT_EQ(binary_libupdate_container_dll_size, written.size());
    EXPECT_TRUE(written == ReadFile(tarvik_test::kCarriedContainer));
  }

  tarvik_test::TempDir dir_;
  const std::string file_ = dir_.File("libupdate_container.dll");
};

TEST_F(ResourcesTest, ContainerIsWrittenOverWhatHadItsNameAndRemoved) {
  ASSERT_TRUE(ExtractResource(file_.c_str()));
  ExpectTheContainer();
  EXPECT_TRUE(DeleteResource(file_.c_str()));
  EXPECT_FALSE(ResourceExist(file_.c_str()));
  EXPECT_FALSE(DeleteResource(file_.c_str()));

  // A longer file: what is left must be exactly the container.
  tarvik_test::WriteFile(file_, std::string(binary_libupdate_container_dll_size + 4096, 'o'));
  ASSERT_TRUE(ExtractResource(file_.c_str()));
  ExpectTheContainer();

  // A link is replaced, not written through.
  ASSERT_TRUE(DeleteResource(file_.c_str()));
  tarvik_test::WriteFile(dir_.File("other"), "keep");
  ASSERT_EQ(0, symlink(dir_.File("other").c_str(), file_.c_str()));
  ASSERT_TRUE(ExtractResource(file_.c_str()));
  ExpectTheContainer();
  EXPECT_EQ("keep", ReadFile(dir_.File("other")));
}

TEST_F(ResourcesTest, FileThatCannotBeCreatedFails) {
  ASSERT_EQ(0, mkdir(file_.c_str(), 0755));
  EXPECT_TRUE(ResourceExist(file_.c_str()));
  EXPECT_FALSE(DeleteResource(file_.c_str()));
  EXPECT_FALSE(ExtractResource(file_.c_str()));
  struct stat info;
  ASSERT_EQ(0, stat(file_.c_str(), &info));
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_FALSE(ExtractResource(dir_.File("missing/libupdate_container.dll").c_str()));
  EXPECT_FALSE(ExtractResource(""));
}

// A write that stops half-way (here at the file size limit) fails and leaves no cut-off library.
TEST_F(ResourcesTest, FailedWriteLeavesNoFile) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1 << 20, 1 << 20};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    _exit(ExtractResource(file_.c_str()) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "1: reported success, 3: no limit";
  EXPECT_FALSE(ResourceExist(file_.c_str()));
}

}  // namespace
