// The pre- and post-run actions in process: the vector that the user's words are rebuilt into,
// and the signals of a closing terminal ignored from the one to the other. What they do to the
// service and the container file is seen from outside, in process_test.

#include <apr_pools.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "updater/src/actions/posix/handle_action.h"
#include "updater/src/actions/posix/service_manager.h"
#include "updater/src/quarn.h"

namespace {

bool HangupIgnored() {
  struct sigaction current;
  sigaction(SIGHUP, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
    quarn_quiet = false;
    KvoSetLogFile(log_.File("log.txt").c_str());
    ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
    ServiceScript stopped;
    stopped.initial = {{0, {}}};
    ServiceManagerSetBackend(std::make_shared<ScriptedServiceBackend>(stopped));
  }

  void TearDown() override {
    KvoTerminate();
    KvoSetLogFile("");
    ServiceManagerSetBackend(nullptr);
    quarn_quiet = false;
  }

  // The pre-run actions on "dralmoor" and `words`: the rebuilt vector, or "refused".
  std::string PreRun(const std::vector<std::string>& words) {
    std::vector<const char*> argv = {"dralmoor"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    QuarnApplicationArguments arguments = {static_cast<int>(words.size()) + 1, nullptr};
    const QuarnActionResult prepared =
        QuarnExecutePreRunActions(arguments.argc, argv.data(), &arguments);
    if (prepared != kQuarnActionResultOk)
      return prepared == kQuarnActionResultErrorParameters ? "refused" : "failed";
    std::string vector;
    for (int i = 0; i < arguments.argc; ++i)
      vector += (i == 0 ? "" : " ") + std::string(arguments.argv[i]);
    QuarnExecuteReleaseArguments(&arguments);
    EXPECT_EQ(nullptr, arguments.argv);
    EXPECT_EQ(0, arguments.argc);
    return vector;
  }

  // Post-run without the enter-key wait, which would read the test's own standard input.
  static void QuietPostRun() {
    quarn_quiet = true;
    EXPECT_EQ(kQuarnActionResultOk, QuarnExecutePostRunActions());
    quarn_quiet = false;
  }

  tarvik_test::TempDir work_{tarvik_test::TempDir::kEnter};
  tarvik_test::TempDir log_;
};

TEST_F(ActionsTest, UserWordsAreRebuiltForTheCommandInterface) {
  const std::string container = " libupdate_container.dll";
  const std::string long_name(200, 'l');
  const struct {
    std::vector<std::string> words;
    std::string vector;
    bool quiet;
    const char* logged;  // a debug line the words leave in the log
  } kRows[] = {
      {{"-path"},
       "dralmoor.exe fwupdate-path" + container,
       false,
       "-path given, will print update paths."},
      {{}, "dralmoor.exe fwupdate" + container, false, ""},
      {{"-d", "upd.log"}, "dralmoor.exe -d upd.log fwupdate" + container, false, ""},
      {{"-s", "-d", "stdout", "-path"},
       "dralmoor.exe -d stdout fwupdate-path" + container,
       true,
       "Silent mode - disabling screen printouts."},
      {{"-d", "a.log", "-path", "-d", "b.log", "-path"},
       "dralmoor.exe -d b.log fwupdate-path" + container,
       false,
       ""},
      {{"-d", long_name},
       "dralmoor.exe -d " + long_name.substr(0, 127) + " fwupdate" + container,
       false,
       ""},
      {{"-x"}, "refused", false, "Erroneous argument -x."},
      {{"-d"}, "refused", false, "Erroneous argument -d."},
      {{"-path", "-d"}, "refused", false, ""},
      {{"-S"}, "refused", false, ""},
      {{"fwupdate"}, "refused", false, ""},
      {{"-s", "extra"}, "refused", true, ""},
      {{"--path"}, "refused", false, ""},
  };
  for (const auto& row : kRows) {
    const size_t logged = tarvik_test::ReadFile(log_.File("log.txt")).size();
    EXPECT_EQ(row.vector, PreRun(row.words)) << row.vector;
    EXPECT_FALSE(row.vector == "refused" && HangupIgnored()) << "left ignored after a refusal";
    EXPECT_EQ(row.quiet, quarn_quiet) << row.vector;
    EXPECT_NE(std::string::npos,
              tarvik_test::ReadFile(log_.File("log.txt")).find(row.logged, logged))
        << row.logged;
    QuietPostRun();
  }
}

// The service's part of the log around a run; which requests it gets is seen in process_test.
TEST_F(ActionsTest, ServiceHandlingIsLogged) {
  const struct {
    const char* script;
    const char* before;  // logged by the pre-run actions
    const char* after;   // logged by the post-run actions
  } kRows[] = {
      {"status 0 running|stop-status 0 stopped|start-status 0 running",
       "Stopping Vestri service before executing Quarn command|Vestri service was successfully "
       "stopped.",
       "Vestri service was successfully started."},
      {"status 0 running", "Failed to stop Vestri service", ""},
      {"open-error 2", "The Vestri service is not running, no need to stop it.", ""},
      {"status 0 stopped|start-error 1", "The Vestri service is not running, no need to stop it.",
       "Failed to start Vestri service"},
  };
  for (const auto& row : kRows) {
    std::string text = row.script;
    for (char& c : text) c = c == '|' ? '\n' : c;
    tarvik_test::WriteFile(log_.File("script"), text + "\n");
    ServiceScript script;
    std::string error;
    ASSERT_TRUE(LoadServiceScript(log_.File("script").c_str(), &script, &error)) << error;
    ServiceManagerSetBackend(std::make_shared<ScriptedServiceBackend>(script));
    const size_t start = tarvik_test::ReadFile(log_.File("log.txt")).size();
    ASSERT_NE("refused", PreRun({}));
    const size_t prepared = tarvik_test::ReadFile(log_.File("log.txt")).size();
    QuietPostRun();
    const std::string log = tarvik_test::ReadFile(log_.File("log.txt"));
    for (const std::string& line : tarvik_test::SplitLines(row.before, "|")) {
      EXPECT_NE(std::string::npos, log.substr(start, prepared - start).find(line)) << line;
    }
    EXPECT_NE(std::string::npos, log.find(row.after, prepared)) << row.after;
  }
}

TEST_F(ActionsTest, ContainerThatCannotBeWrittenFailsThePreparation) {
  ASSERT_EQ(0, mkdir("libupdate_container.dll", 0700));
  EXPECT_EQ("failed", PreRun({}));
  EXPECT_NE(std::string::npos, tarvik_test::ReadFile(log_.File("log.txt"))
                                   .find("Failed to extract update container. Abort"));
}

TEST_F(ActionsTest, ArgumentCopiesAreCutToTheirSize) {
  char* slots[2] = {nullptr, nullptr};
  int count = 0;
  const char text[] = "fwupdate-path";
  ASSERT_TRUE(AddArgumentToArgv(slots, &count, text, 8));
  ASSERT_TRUE(AddArgumentToArgv(slots, &count, "", 0));
  EXPECT_EQ(2, count);
  EXPECT_STREQ("fwupdate", slots[0]);
  EXPECT_STREQ("", slots[1]);
}

TEST_F(ActionsTest, ClosingTerminalSignalsAreIgnoredFromPreRunToPostRun) {
  struct sigaction before;
  sigaction(SIGHUP, nullptr, &before);
  ASSERT_NE(SIG_IGN, before.sa_handler);
  ASSERT_NE("refused", PreRun({}));
  struct sigaction during;
  sigaction(SIGHUP, nullptr, &during);
  EXPECT_EQ(SIG_IGN, during.sa_handler);
  raise(SIGHUP);
  QuietPostRun();
  struct sigaction after;
  sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(before.sa_handler, after.sa_handler);
}

}  // namespace
