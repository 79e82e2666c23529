// The console display of the update events, in-process with the console stream in a file.

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "kvo.h"
#include "testing/files.h"
#include "updater/src/commands.h"
#include "updater/src/commands_update.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/frontend_support.h"

namespace {

std::string Back(const std::string& text) {
  return text + std::string(text.size(), '\b');
}

class FwUpdateDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quarn_quiet = false;
    UpdateDisplayReset();
    // The begin events read one key from standard input.
    input_path_ = input_dir_.File("keys");
    tarvik_test::WriteFile(input_path_, "\n\n\n\n");
    ASSERT_NE(nullptr, freopen(input_path_.c_str(), "r", stdin));
  }
  void TearDown() override {
    quarn_quiet = false;
    UpdateDisplayReset();
  }

  void Send(KvoUpdateEventType type, int progress = 0) {
    KvoUpdateEvent event = {};
    event.type = type;
    event.progress = static_cast<KvoPercent>(progress);
    snprintf(event.information.model, sizeof event.information.model, "Tarvik Module T3");
    snprintf(event.information.current_configuration,
             sizeof event.information.current_configuration, "ZNT4028813/1 R3C01");
    snprintf(event.information.target_configuration, sizeof event.information.target_configuration,
             "ZNT4028813/1 R5E/1");
    UpdateCallBack(0, &event, nullptr);
  }

  tarvik_test::TempDir input_dir_;
  std::string input_path_;
};

TEST_F(FwUpdateDisplayTest, ProgressTextsOverwriteEachOtherInPlace) {
  frontend_test::ConsoleCapture console;
  Send(kKvoUpdateEventTypeProgress, 0);
  Send(kKvoUpdateEventTypeProgress, 50);
  Send(kKvoUpdateEventTypeProgress, 100);
  EXPECT_EQ("The update files are being downloaded to your device.\r\n" + Back("Progress (0%)...") +
                Back("Progress (50%)...") + Back("Progress (100%)..."),
            console.Text());
}

TEST_F(FwUpdateDisplayTest, ASecondTransferSaysMoreFilesAreComing) {
  frontend_test::ConsoleCapture console;
  Send(kKvoUpdateEventTypeProgress, 100);
  Send(kKvoUpdateEventTypeReceivedUpdatePackages);
  Send(kKvoUpdateEventTypeProgress, 40);
  Send(kKvoUpdateEventTypeProgress, 80);
  EXPECT_EQ("The update files are being downloaded to your device.\r\n" +
                Back("Progress (100%)...") +
                "\r\nThe device has received update packages. Please wait...\r\n"
                "More update files are being downloaded to your device.\r\n" +
                Back("Progress (40%)...") + Back("Progress (80%)..."),
            console.Text());
}

TEST_F(FwUpdateDisplayTest, AnnouncementShowsTheCurrentConfigurationOrTheResumeLine) {
  const std::string tail =
      "Target Configuration : ZNT4028813/1 R5E/1\r\n\r\n\r\n"
      "Important! The internal software of your Tarvik device will now be updated.\r\n\r\n"
      " * Please make sure that you do not power off your device until the update is "
      "complete.\r\n"
      " * Close all other running  applications, including connection managers, and keep "
      "them\r\n"
      "   closed for the entire duration of the update.\r\n"
      " * If possible, connect your device to an external power source during the "
      "update.\r\n\r\n"
      "The update will take up to 5 minutes to complete.\r\n\r\n"
      "Press the enter key to start the update...\r\n\r\n"
      "Starting the update.\r\n\r\n";
  const std::string head =
      "\r\nAn update is available for your Tarvik device:\r\n\r\nDevice: Tarvik Module T3\r\n";
  {
    frontend_test::ConsoleCapture console;
    Send(kKvoUpdateEventTypeBegin);
    EXPECT_EQ(head + "Current Configuration: ZNT4028813/1 R3C01\r\n" + tail, console.Text());
  }
  {
    frontend_test::ConsoleCapture console;
    Send(kKvoUpdateEventTypeBeginResume);
    EXPECT_EQ(head + "A previously started update of your device will be resumed.\r\n" + tail,
              console.Text());
  }
  // Both took one key each.
  EXPECT_EQ('\n', getchar());
  EXPECT_EQ('\n', getchar());
  EXPECT_EQ(EOF, getchar());
}

TEST_F(FwUpdateDisplayTest, OneLinePerStepAndUnknownTypesAreNamed) {
  frontend_test::ConsoleCapture console;
  Send(kKvoUpdateEventTypeInstalling);
  Send(kKvoUpdateEventTypeRestartNotified);
  Send(kKvoUpdateEventTypeDeviceLost);
  Send(kKvoUpdateEventTypeSuccess);
  Send(static_cast<KvoUpdateEventType>(12));
  EXPECT_EQ(
      "The update of the device has started and will complete within one minute.\r\n"
      "\r\nPlease wait while your device is restarting.\r\n\r\n"
      "\r\nThe connection to the device was lost. Please wait...\r\n"
      "The update has finished and was successfully completed.\r\n"
      "An unknown Update Event Type received (12)\r\n",
      console.Text());
}

TEST_F(FwUpdateDisplayTest, QuietModeShowsNothingAndWaitsForNoKeyButKeepsTrack) {
  frontend_test::ConsoleCapture console;
  quarn_quiet = true;
  Send(kKvoUpdateEventTypeBegin);
  Send(kKvoUpdateEventTypeProgress, 100);
  Send(kKvoUpdateEventTypeReceivedUpdatePackages);
  quarn_quiet = false;
  Send(kKvoUpdateEventTypeProgress, 10);
  // The received packages were noted while quiet: the next transfer is a further one.
  EXPECT_EQ(
      "More update files are being downloaded to your device.\r\n" + Back("Progress (10%)..."),
      console.Text());
  EXPECT_EQ('\n', getchar());  // no key was taken
}

TEST_F(FwUpdateDisplayTest, HandlersCheckTheirParameterCount) {
  const char* words[] = {"fwupdate", "a", "b"};
  CommandParameters parameters = {3, 0, words};
  frontend_test::ConsoleCapture console;
  EXPECT_EQ(kQuarnParameterError, QuarnCommandFwUpdate(&parameters));
  words[0] = "fwupdate-path";
  parameters.argc = 1;
  EXPECT_EQ(kQuarnParameterError, QuarnCommandFwUpdatePath(&parameters));
}

}  // namespace
