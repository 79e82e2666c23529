// The pre- and post-run actions in process: the vector that the user's words are rebuilt into,
// and the signals of a closing terminal ignored from the one to the other. What they do to the
// service and the container file is seen from outside, in process_test.

#include <apr_pools.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "updater/src/actions/posix/handle_action.h"
#include "updater/src/actions/posix/service_manager.h"
#include "updater/src/quarn.h"

namespace {

bool Ignored(int signal_number) {
  struct sigaction current;
  sigaction(signal_number, nullptr, &current);
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
    EXPECT_FALSE(row.vector == "refused" && Ignored(SIGHUP)) << "left ignored after a refusal";
    EXPECT_EQ(row.quiet, quarn_quiet) << row.vector;
    EXPECT_NE(std::string::npos,
              tarvik_test::ReadFile(log_.File("log.txt")).find(row.logged, logged))
        << row.logged;
    QuietPostRun();
    // The words' -d moved the log.
    KvoSetLogFile(log_.File("log.txt").c_str());
    KvoSetLogTypesForScreen(kKvoLogTypeMaskDefaultScreen);
  }
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

// A closed terminal (SIGHUP) or output pipe (SIGPIPE) must not kill a half-done update.
TEST_F(ActionsTest, ClosingTerminalSignalsAreIgnoredFromPreRunToPostRun) {
  ASSERT_FALSE(Ignored(SIGHUP) || Ignored(SIGPIPE));
  ASSERT_NE("refused", PreRun({}));
  EXPECT_TRUE(Ignored(SIGHUP) && Ignored(SIGPIPE));
  raise(SIGHUP);
  raise(SIGPIPE);
  QuietPostRun();
  EXPECT_FALSE(Ignored(SIGHUP) || Ignored(SIGPIPE)) << "restored";
}

}  // namespace
