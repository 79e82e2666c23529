// Result texts, the verdict line, exit statuses and the argument vector helpers.

#include "updater/src/quarn.h"

#include <apr_pools.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "updater/src/actions/posix/handle_action.h"
#include "updater/src/commands.h"

namespace {

std::string ResultText(int code, int size = 256) {
  std::vector<char> text(static_cast<size_t>(size) + 8, 'x');
  ConvertResult2String(text.data(), size, code);
  // Nothing past the buffer is touched.
  for (size_t i = static_cast<size_t>(size); i < text.size(); ++i) EXPECT_EQ(text[i], 'x');
  return std::string(text.data());
}

TEST(ResultTextTest, EveryFrontEndCodeHasItsText) {
  const std::pair<int, const char*> kTexts[] = {
      {1000, "1000 - Parameter error"},
      {1001, "1001 - Parameter verification failed"},
      {1002, "1002 - Unable to open device"},
      {1003, "1003 - Unable to find device"},
      {1004, "1004 - Mode type not supported"},
      {1005, "1005 - Unable to open file"},
      {1006, "1006 - Unable to read file"},
      {1007, "1007 - Unable to allocate memory"},
      {1008, "1008 - Operator not found in container"},
      {1009, "1009 - Simlock not found in container"},
      {1010, "1010 - Customization not found in container"},
      {1011, "1011 - The specified revision was not found in the update container."},
      {1012, "1012 - No update paths found in container."},
      {1013, "1013 - Could not read platform parameter."},
      {1014, "1014 - Command not supported by current device type."},
  };
  for (const auto& [code, text] : kTexts) EXPECT_EQ(ResultText(code), text);
  EXPECT_EQ(ResultText(1015), "1015 - Unknown error");
  EXPECT_EQ(ResultText(999), "999 - Unknown error");
  EXPECT_EQ(ResultText(0), "0 - Unknown error");
}

TEST(ResultTextTest, TextIsCutToTheBufferAndTheBufferIsCleared) {
  EXPECT_EQ(ResultText(1002, 8), "1002 - ");
  EXPECT_EQ(ResultText(1002, 1), "");
}

TEST(VerdictTest, LineFollowsTheKindOfResult) {
  char line[300];
  char text[256];
  QuarnVerdictLine(0, line, sizeof(line), text, sizeof(text));
  EXPECT_STREQ(line, "\n\rOK\n\r");
  QuarnVerdictLine(1002, line, sizeof(line), text, sizeof(text));
  EXPECT_STREQ(line, "\n\rERROR 1002 - Unable to open device\n\r");
  EXPECT_STREQ(text, "1002 - Unable to open device");
  QuarnVerdictLine(1000, line, sizeof(line), text, sizeof(text));
  EXPECT_STREQ(line, "\n\rERROR 1000 - Parameter error\n\r");
  QuarnVerdictLine(2, line, sizeof(line), text, sizeof(text));
  EXPECT_STREQ(line, "\n\rERROR 2 - An invalid parameter was given.\n\r");
  QuarnVerdictLine(302, line, sizeof(line), text, sizeof(text));
  EXPECT_STREQ(line, "\n\rINFO 302 - No update is needed.\n\r");
  EXPECT_STREQ(text, "INFO 302 - No update is needed.");
  QuarnVerdictLine(201, line, sizeof(line), text, sizeof(text));
  EXPECT_STREQ(line, "\n\rERROR 201 - The supplied handle was invalid.\n\r");
}

TEST(ExitStatusTest, ShellSeesTheLowByteAndNeverSuccessForAFailure) {
  EXPECT_EQ(QuarnExitStatus(0), 0);
  EXPECT_EQ(QuarnExitStatus(2), 2);
  EXPECT_EQ(QuarnExitStatus(302), 46);
  EXPECT_EQ(QuarnExitStatus(1000), 232);
  EXPECT_EQ(QuarnExitStatus(1003), 235);
  for (int failure : {256, 512, 768, 1024, -256}) EXPECT_NE(QuarnExitStatus(failure), 0) << failure;
}

TEST(CommandListTest, WordsAreCopiedInTableOrderAndTheListIsEnded) {
  std::vector<QuarnCommands> list(512);
  memset(list.data(), 'x', list.size() * sizeof(QuarnCommands));
  GetQuarnCommands(list.data());
  size_t rows = 0;
  while (functions[rows].command_name != nullptr) {
    EXPECT_STREQ(list[rows].command_name, functions[rows].command_name);
    ++rows;
  }
  EXPECT_EQ(list[rows].command_name[0], '\0');
  EXPECT_STREQ(list[0].command_name, "conf");
  EXPECT_STREQ(list[rows - 1].command_name, "sendatcmd");
  EXPECT_EQ(rows, 9u);
}

class ArgumentVectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (quarn_pool == nullptr) apr_pool_create(&quarn_pool, nullptr);
  }
};

TEST_F(ArgumentVectorTest, AddCopiesAtMostSizeCharactersAndReleaseEmptiesTheVector) {
  QuarnApplicationArguments arguments;
  arguments.argc = 0;
  arguments.argv = static_cast<char**>(calloc(3, sizeof(char*)));
  ASSERT_NE(arguments.argv, nullptr);
  const char text[] = "fwupdate-path";
  ASSERT_TRUE(AddArgumentToArgv(arguments.argv, &arguments.argc, text, strlen(text)));
  ASSERT_TRUE(AddArgumentToArgv(arguments.argv, &arguments.argc, text, 8));
  ASSERT_TRUE(AddArgumentToArgv(arguments.argv, &arguments.argc, "", 0));
  EXPECT_EQ(arguments.argc, 3);
  EXPECT_STREQ(arguments.argv[0], "fwupdate-path");
  EXPECT_STREQ(arguments.argv[1], "fwupdate");
  EXPECT_STREQ(arguments.argv[2], "");
  // A copy, not the caller's text.
  EXPECT_NE(arguments.argv[0], text);

  EXPECT_EQ(QuarnExecuteReleaseArguments(&arguments), kQuarnActionResultOk);
  EXPECT_EQ(arguments.argv, nullptr);
  EXPECT_EQ(arguments.argc, 0);
}

}  // namespace
