// The pre- and post-run actions in-process, against a scripted service manager: the rebuilt
// argument vector, the service stopped and started again, the container file written to and
// removed from the working directory, and the hang-up signal ignored in between.

#include <apr_pools.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "updater/src/actions/posix/handle_action.h"
#include "updater/src/actions/posix/service_manager.h"
#include "updater/src/quarn.h"

namespace {

using tarvik_test::FileExists;
using tarvik_test::ReadFile;
using tarvik_test::TempDir;

const char kContainer[] = "libupdate_container.dll";

ServiceStatusProcess State(unsigned long state) {
  ServiceStatusProcess status;
  status.current_state = state;
  return status;
}

ServiceScript Script(unsigned long initial) {
  ServiceScript script;
  script.initial = {{0, State(initial)}};
  script.after_stop = {{0, State(kServiceStopped)}};
  script.after_start = {{0, State(kServiceRunning)}};
  return script;
}

bool HangupIgnored() {
  struct sigaction current;
  sigaction(SIGHUP, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(saved_cwd_, sizeof(saved_cwd_)), nullptr);
    ASSERT_EQ(chdir(work_.path().c_str()), 0);
    if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
    quarn_quiet = false;
    KvoSetLogFile(log_.File("log.txt").c_str());
    ASSERT_EQ(KvoInitialize(), kKvoResultSuccess);
  }

  void TearDown() override {
    if (arguments_.argv != nullptr) QuarnExecuteReleaseArguments(&arguments_);
    KvoTerminate();
    KvoSetLogFile("");
    ServiceManagerSetBackend(nullptr);
    quarn_quiet = false;
    ASSERT_EQ(chdir(saved_cwd_), 0);
  }

  ScriptedServiceBackend& Use(ServiceScript script) {
    backend_ = std::make_shared<ScriptedServiceBackend>(std::move(script));
    ServiceManagerSetBackend(backend_);
    return *backend_;
  }

  QuarnActionResult PreRun(const std::vector<std::string>& words) {
    std::vector<std::string> all = {"dralmoor"};
    all.insert(all.end(), words.begin(), words.end());
    std::vector<const char*> argv;
    for (const std::string& word : all) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    if (arguments_.argv != nullptr) QuarnExecuteReleaseArguments(&arguments_);
    arguments_.argc = static_cast<int>(all.size());
    arguments_.argv = nullptr;
    return QuarnExecutePreRunActions(static_cast<int>(all.size()), argv.data(), &arguments_);
  }

  std::vector<std::string> Vector() const {
    std::vector<std::string> words;
    for (int i = 0; i < arguments_.argc; ++i) words.push_back(arguments_.argv[i]);
    return words;
  }

  std::string Log() const { return ReadFile(log_.File("log.txt")); }

  // Post-run without the enter-key wait, which would read the test's own standard input.
  void QuietPostRun() {
    quarn_quiet = true;
    EXPECT_EQ(QuarnExecutePostRunActions(), kQuarnActionResultOk);
  }

  TempDir work_;
  TempDir log_;
  char saved_cwd_[4096];
  QuarnApplicationArguments arguments_ = {0, nullptr};
  std::shared_ptr<ScriptedServiceBackend> backend_;
};

TEST_F(ActionsTest, VectorNamesTheUpdateCommandAndTheWrittenContainer) {
  Use(Script(kServiceStopped));
  using Words = std::vector<std::string>;

  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_EQ(Vector(), (Words{"dralmoor.exe", "fwupdate", kContainer}));
  EXPECT_FALSE(quarn_quiet);

  ASSERT_EQ(PreRun({"-path"}), kQuarnActionResultOk);
  EXPECT_EQ(Vector(), (Words{"dralmoor.exe", "fwupdate-path", kContainer}));

  ASSERT_EQ(PreRun({"-d", "upd.log"}), kQuarnActionResultOk);
  EXPECT_EQ(Vector(), (Words{"dralmoor.exe", "-d", "upd.log", "fwupdate", kContainer}));

  ASSERT_EQ(PreRun({"-s", "-d", "stdout", "-path"}), kQuarnActionResultOk);
  EXPECT_EQ(Vector(), (Words{"dralmoor.exe", "-d", "stdout", "fwupdate-path", kContainer}));
  EXPECT_TRUE(quarn_quiet);
  quarn_quiet = false;

  // Repeats are accepted and the last -d wins.
  ASSERT_EQ(PreRun({"-d", "a.log", "-path", "-d", "b.log", "-path"}), kQuarnActionResultOk);
  EXPECT_EQ(Vector(), (Words{"dralmoor.exe", "-d", "b.log", "fwupdate-path", kContainer}));

  // A run without -path after one with it names fwupdate again.
  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_EQ(Vector(), (Words{"dralmoor.exe", "fwupdate", kContainer}));

  // A log file name is cut to 127 characters.
  const std::string long_name(200, 'l');
  ASSERT_EQ(PreRun({"-d", long_name}), kQuarnActionResultOk);
  EXPECT_EQ(Vector()[2], long_name.substr(0, 127));

  EXPECT_NE(Log().find("-path given, will print update paths."), std::string::npos);
  EXPECT_NE(Log().find("Silent mode - disabling screen printouts."), std::string::npos);
  QuietPostRun();
}

TEST_F(ActionsTest, AnyOtherWordIsRefusedAfterTheContainerWasWritten) {
  Use(Script(kServiceStopped));
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
           {"-x"}, {"-d"}, {"-path", "-d"}, {"-S"}, {"fwupdate"}, {"-s", "extra"}, {"--path"}}) {
    EXPECT_EQ(PreRun(words), kQuarnActionResultErrorParameters) << words.back();
    EXPECT_EQ(arguments_.argv, nullptr);
    EXPECT_TRUE(FileExists(kContainer));
    EXPECT_FALSE(HangupIgnored());
  }
  EXPECT_NE(Log().find("Erroneous argument -x."), std::string::npos);
  EXPECT_NE(Log().find("Erroneous argument -d."), std::string::npos);
  QuietPostRun();
}

TEST_F(ActionsTest, RunningServiceIsStoppedAndStartedAgain) {
  ScriptedServiceBackend& service = Use(Script(kServiceRunning));
  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_EQ(service.events().stop_requests, 1u);
  EXPECT_EQ(service.events().start_requests, 0u);
  EXPECT_NE(Log().find("Stopping Vestri service before executing Quarn command"),
            std::string::npos);
  EXPECT_NE(Log().find("Vestri service was successfully stopped."), std::string::npos);

  QuietPostRun();
  EXPECT_EQ(service.events().start_requests, 1u);
  EXPECT_NE(Log().find("Vestri service was successfully started."), std::string::npos);
}

TEST_F(ActionsTest, ServiceThatIgnoresTheStopDoesNotStopTheRun) {
  ServiceScript script = Script(kServiceRunning);
  script.after_stop.clear();
  ScriptedServiceBackend& service = Use(script);
  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_EQ(service.events().stop_requests, 1u);
  EXPECT_NE(Log().find("Failed to stop Vestri service"), std::string::npos);
  // Still running afterwards: nothing to start.
  QuietPostRun();
  EXPECT_EQ(service.events().start_requests, 0u);
}

TEST_F(ActionsTest, MissingServiceIsNeitherStoppedNorStarted) {
  ServiceScript script = Script(kServiceRunning);
  script.open_error = ENOENT;
  ScriptedServiceBackend& service = Use(script);
  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_NE(Log().find("The Vestri service is not running, no need to stop it."),
            std::string::npos);
  QuietPostRun();
  EXPECT_EQ(service.events().stop_requests, 0u);
  EXPECT_EQ(service.events().start_requests, 0u);
}

TEST_F(ActionsTest, StoppedServiceIsStartedAfterTheRunEvenIfTheRunDidNotStopIt) {
  ScriptedServiceBackend& service = Use(Script(kServiceStopped));
  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_EQ(service.events().stop_requests, 0u);
  QuietPostRun();
  EXPECT_EQ(service.events().start_requests, 1u);
}

TEST_F(ActionsTest, ContainerLivesInTheWorkingDirectoryForTheRun) {
  Use(Script(kServiceStopped));
  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_STREQ(QuarnContainerFileName(), kContainer);
  struct stat info;
  ASSERT_EQ(stat(kContainer, &info), 0);
  EXPECT_GT(info.st_size, 0);
  EXPECT_NE(Log().find("Will install lib in: libupdate_container.dll"), std::string::npos);

  QuietPostRun();
  EXPECT_FALSE(FileExists(kContainer));
}

TEST_F(ActionsTest, ContainerThatCannotBeWrittenFailsTheStart) {
  Use(Script(kServiceStopped));
  // A directory of the container's name can be neither removed nor replaced.
  ASSERT_EQ(mkdir(kContainer, 0755), 0);
  EXPECT_EQ(PreRun({}), kQuarnActionResultError);
  EXPECT_EQ(arguments_.argv, nullptr);
  EXPECT_NE(Log().find("Failed to extract update container. Abort"), std::string::npos);
  rmdir(kContainer);
}

TEST_F(ActionsTest, HangupIsIgnoredFromPreRunToPostRunAndThenRestored) {
  Use(Script(kServiceStopped));
  struct sigaction before;
  sigaction(SIGHUP, nullptr, &before);
  ASSERT_FALSE(HangupIgnored());

  ASSERT_EQ(PreRun({}), kQuarnActionResultOk);
  EXPECT_TRUE(HangupIgnored());
  // A hang-up in this span does no harm.
  raise(SIGHUP);

  QuietPostRun();
  struct sigaction after;
  sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
