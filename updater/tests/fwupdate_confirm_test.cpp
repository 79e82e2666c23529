// The program's own run (pre-run actions, command interface, verdict, post-run actions) with the
// test container in place of the carried one: an update that needs the user's confirmation, three
// small packages, and a package the container lacks. Each run is a child process, since the run
// ends in the process exit.

#include <apr_getopt.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/src/wait_seam.h"
#include "kvo.h"
#include "testing/files.h"
#include "updater/src/commands.h"
#include "updater/src/quarn.h"
#include "updater/tests/fwupdate_support.h"

namespace fwupdate_test {
namespace {

const char kPackages[] =
    "packages=TEST_PACKAGE_100.ZIP:100,TEST_PACKAGE_200.ZIP:200,TEST_PACKAGE_700.ZIP:700";

struct ChildRun {
  int exit_status = -1;
  std::string out;
};

class FwUpdateConfirmTest : public FwUpdateTest {
 protected:
  // Runs the program's flow for the user arguments `arguments` in a child, with the test
  // container written where the program put its carried one.
  ChildRun RunWithConfirmContainer(std::vector<const char*> arguments, const std::string& input) {
    const std::string out_path = scratch_.File("out.txt");
    const std::string in_path = scratch_.File("in.txt");
    tarvik_test::WriteFile(in_path, input);
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open(in_path.c_str(), O_RDONLY);
      dup2(out, 1);
      dup2(out, 2);
      dup2(in, 0);
      if (chdir(work_.path().c_str()) != 0) _exit(120);
      setenv("TARVIK_DEVICE_MAP", map_.c_str(), 1);
      CommonSetWaitDivisor(20);
      quarn_quiet = false;
      if (KvoInitialize() != kKvoResultSuccess) _exit(121);
      if (apr_pool_create(&quarn_pool, nullptr) != APR_SUCCESS) _exit(122);
      if (apr_file_open_stdout(&quarn_stdout, quarn_pool) != APR_SUCCESS) _exit(123);
      arguments.insert(arguments.begin(), "dralmoor");
      arguments.push_back(nullptr);
      quarn_args.argc = static_cast<int>(arguments.size()) - 1;
      quarn_args.argv = nullptr;
      if (QuarnExecutePreRunActions(quarn_args.argc, arguments.data(), &quarn_args) !=
          kQuarnActionResultOk) {
        _exit(124);
      }
      std::error_code error;
      std::filesystem::copy_file(tarvik_test::kConfirmContainer, QuarnContainerFileName(),
                                 std::filesystem::copy_options::overwrite_existing, error);
      if (error) _exit(125);
      apr_getopt_t* options = nullptr;
      apr_getopt_init(&options, quarn_pool, quarn_args.argc, quarn_args.argv);
      Quit(CommandInterface(options));
    }
    ChildRun run;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    run.out = tarvik_test::ReadFile(out_path);
    return run;
  }
};

TEST_F(FwUpdateConfirmTest, SilentModeRefusesAnUpdateThatNeedsConfirmation) {
  StartModule({"--set", kPackages});
  const ChildRun run = RunWithConfirmContainer({"-s"}, "");
  EXPECT_EQ(1000 % 256, run.exit_status) << run.out;
  // Quiet mode is switched off for the refusal: warning, verdict and the closing prompt show.
  EXPECT_EQ(
      "\r\nWarning! This update needs user confirmation. Silent mode (-s option) is not "
      "allowed.\r\n"
      "\n\rERROR 1000 - Parameter error\n\r"
      "\r\n\nPress the enter key to close this window.\r\n",
      run.out);
  EXPECT_FALSE(ContainerLeftBehind());
  EXPECT_EQ(std::string::npos, ModuleState().find("upgrade_state = 2"));
}

TEST_F(FwUpdateConfirmTest, ConfirmedUpdateShowsTenThirtyAndHundredPercent) {
  StartModule({"--set", kPackages});
  const ChildRun run = RunWithConfirmContainer({}, "\n\n");
  EXPECT_EQ(0, run.exit_status) << run.out;
  const std::string& out = run.out;
  const size_t prompt = out.find("Press the enter key to start the update...\r\n\r\n");
  ASSERT_NE(std::string::npos, prompt) << out;
  auto back = [](const std::string& text) { return text + std::string(text.size(), '\b'); };
  const std::string progress = "The update files are being downloaded to your device.\r\n" +
                               back("Progress (10%)...") + back("Progress (30%)...") +
                               back("Progress (100%)...");
  const size_t shown = out.find(progress);
  ASSERT_NE(std::string::npos, shown) << out;
  EXPECT_LT(prompt, shown);
  // The engine goes on inside the confirmation: "Starting" follows the whole update.
  EXPECT_LT(out.find("The update has finished and was successfully completed.\r\n"),
            out.find("Starting the update.\r\n\r\n"));
  EXPECT_NE(std::string::npos, out.find("\n\rOK\n\r"));
  EXPECT_NE(std::string::npos, ModuleState().find("config_set_revision = R5E/1"));
  EXPECT_FALSE(ContainerLeftBehind());
}

TEST_F(FwUpdateConfirmTest, PackageMissingFromTheContainerEndsWith309) {
  StartModule({"--set", std::string(kPackages) + ",NOT_IN_THE_CONTAINER.ZIP:123"});
  const ChildRun run = RunWithConfirmContainer({}, "\n\n");
  EXPECT_EQ(309 % 256, run.exit_status) << run.out;
  EXPECT_NE(std::string::npos,
            run.out.find("\n\rERROR 309 - The update package is missing some update files.\n\r"))
      << run.out;
  EXPECT_EQ(std::string::npos, run.out.find("Progress ("));
  EXPECT_FALSE(ContainerLeftBehind());
}

}  // namespace
}  // namespace fwupdate_test
