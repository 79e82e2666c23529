// Writing out the carried update container and removing it again.
#include <apr_dso.h>
#include <apr_pools.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/paths.h"
#include "update_container/include/carried_container.h"
#include "update_container/include/update_container.h"
#include "updater/src/actions/posix/handle_resources.h"

namespace {

using tarvik_test::ReadFile;
using tarvik_test::WriteFile;

off_t FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }

  tarvik_test::TempDir temp_;
  const std::string& dir_ = temp_.path();
  const std::string file_ = temp_.File("libupdate_container.dll");
};

TEST_F(ResourcesTest, WrittenContainerIsTheBuiltOneAndLoads) {
  ASSERT_TRUE(ExtractResource(file_.c_str()));
  EXPECT_TRUE(ResourceExist(file_.c_str()));
  EXPECT_EQ(static_cast<off_t>(binary_libupdate_container_dll_size), FileSize(file_));
  // Nobody else may write to (or read) a library that the program is about to load.
  struct stat mode;
  ASSERT_EQ(0, stat(file_.c_str(), &mode));
  EXPECT_EQ(0600u, mode.st_mode & 07777);

  const std::string written = ReadFile(file_);
  const std::string built = ReadFile(tarvik_test::kCarriedContainer);
  ASSERT_FALSE(built.empty());
  EXPECT_EQ(built.size(), binary_libupdate_container_dll_size);
  EXPECT_TRUE(written == built) << "the written container differs from the built one";

  // Loaded the way the update engine loads it: a "./" path in the working directory.
  char previous[4096];
  ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
  ASSERT_EQ(0, chdir(dir_.c_str()));
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);
  apr_dso_handle_t* dso = nullptr;
  const apr_status_t loaded = apr_dso_load(&dso, "./libupdate_container.dll", pool);
  ASSERT_EQ(0, chdir(previous));
  ASSERT_EQ(APR_SUCCESS, loaded);
  apr_dso_handle_sym_t symbol = nullptr;
  ASSERT_EQ(APR_SUCCESS, apr_dso_sym(&symbol, dso, "UcGetApiVersion"));
  UcVersion version{0, 0};
  EXPECT_EQ(kUcUpdateSuccess, reinterpret_cast<UcGetApiVersionFunction>(symbol)(&version));
  EXPECT_EQ(3u, version.major);
  apr_dso_unload(dso);
  apr_pool_destroy(pool);

  EXPECT_TRUE(DeleteResource(file_.c_str()));
  EXPECT_FALSE(ResourceExist(file_.c_str()));
  EXPECT_FALSE(DeleteResource(file_.c_str()));
}

TEST_F(ResourcesTest, ExistingFileIsReplaced) {
  // A larger file of that name: what is left must be exactly the container.
  WriteFile(file_, "an older container");
  ASSERT_EQ(
      0, truncate(file_.c_str(), static_cast<off_t>(binary_libupdate_container_dll_size) + 4096));
  ASSERT_TRUE(ExtractResource(file_.c_str()));
  EXPECT_EQ(static_cast<off_t>(binary_libupdate_container_dll_size), FileSize(file_));
  const std::string written = ReadFile(file_);
  ASSERT_EQ(binary_libupdate_container_dll_size, written.size());
  EXPECT_EQ(0, std::memcmp(binary_libupdate_container_dll_start, written.data(), written.size()));

  // A link of that name is replaced, not written through.
  const std::string other = dir_ + "/other";
  WriteFile(other, "keep");
  ASSERT_TRUE(DeleteResource(file_.c_str()));
  ASSERT_EQ(0, symlink(other.c_str(), file_.c_str()));
  ASSERT_TRUE(ExtractResource(file_.c_str()));
  EXPECT_EQ("keep", ReadFile(other));
  struct stat info;
  ASSERT_EQ(0, lstat(file_.c_str(), &info));
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(static_cast<off_t>(binary_libupdate_container_dll_size), info.st_size);
}

TEST_F(ResourcesTest, FileThatCannotBeCreatedFails) {
  // A directory stands where the file should go.
  ASSERT_EQ(0, mkdir(file_.c_str(), 0755));
  EXPECT_TRUE(ResourceExist(file_.c_str()));
  EXPECT_FALSE(DeleteResource(file_.c_str()));
  EXPECT_FALSE(ExtractResource(file_.c_str()));
  struct stat info;
  ASSERT_EQ(0, stat(file_.c_str(), &info));
  EXPECT_TRUE(S_ISDIR(info.st_mode));

  // A directory that does not exist.
  const std::string nowhere = dir_ + "/missing/libupdate_container.dll";
  EXPECT_FALSE(ExtractResource(nowhere.c_str()));
  EXPECT_FALSE(ResourceExist(nowhere.c_str()));
  EXPECT_FALSE(ExtractResource(""));
}

// A write that stops half-way (here: the file size limit) fails and leaves no cut-off library.
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
