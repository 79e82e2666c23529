#include "updater/src/commands_update.h"

#include <apr_getopt.h>
#include <apr_strings.h>
#include <stdio.h>
#include <string.h>

#include "kvo.h"
#include "updater/src/commands.h"
#include "updater/src/help.h"
#include "updater/src/quarn.h"

namespace {

constexpr const char* kSender = "Quarn";

// The "being downloaded" line has been printed for the current transfer.
bool file_transfer_started = false;
// The module has reported received packages, so the next transfer is a further one.
bool more_files_needed = false;

apr_getopt_t* HandlerOptions(const CommandParameters* parameters) {
  apr_getopt_t* options = nullptr;
  if (apr_getopt_init(&options, quarn_pool, parameters->argc, parameters->argv) != APR_SUCCESS) {
    return nullptr;
  }
  return options;
}

bool IsHelpOption(char option) {
  return option == 'h' || option == '?';
}

void PrintAnnouncement(const KvoUpdateEvent* event) {
  const bool resume = event->type == kKvoUpdateEventTypeBeginResumeConfirmationNeeded ||
                      event->type == kKvoUpdateEventTypeBeginResume;
  QuarnPrint("\r\nAn update is available for your Tarvik device:\r\n\r\n");
  QuarnPrint("Device: %s\r\n", event->information.model);
  if (resume) {
    QuarnPrint("A previously started update of your device will be resumed.\r\n");
  } else {
    QuarnPrint("Current Configuration: %s\r\n", event->information.current_configuration);
  }
  QuarnPrint("Target Configuration : %s\r\n\r\n\r\n", event->information.target_configuration);
  QuarnPrint("Important! The internal software of your Tarvik device will now be updated.\r\n\r\n");
  QuarnPrint(
      " * Please make sure that you do not power off your device until the update is "
      "complete.\r\n");
  QuarnPrint(
      " * Close all other running  applications, including connection managers, and keep "
      "them\r\n");
  QuarnPrint("   closed for the entire duration of the update.\r\n");
  QuarnPrint(
      " * If possible, connect your device to an external power source during the "
      "update.\r\n\r\n");
  QuarnPrint("The update will take up to 5 minutes to complete.\r\n\r\n");
}

// Waits for the user: one character from standard input (end of input counts as consent, so a
// run without a terminal cannot hang here).
void WaitForEnter() {
  QuarnPrint("Press the enter key to start the update...\r\n\r\n");
  getchar();
}

void ShowProgress(KvoPercent progress) {
  if (!file_transfer_started) {
    file_transfer_started = true;
    if (more_files_needed) {
      QuarnPrint("More update files are being downloaded to your device.\r\n");
      more_files_needed = false;
    } else {
      QuarnPrint("The update files are being downloaded to your device.\r\n");
    }
  }
  if (progress <= 100) KvoLogInfo(kSender, "Progress should be complete: %d", progress);
  char text[128];
  apr_snprintf(text, sizeof text, "Progress (%d%%)...", progress);
  QuarnPrint("%s", text);
  // Back to the start of the text, so that the next one overwrites it in place.
  char backspaces[sizeof text];
  const size_t length = strlen(text);
  memset(backspaces, '\b', length);
  backspaces[length] = '\0';
  QuarnPrint("%s", backspaces);
}

}  // namespace

void UpdateDisplayReset(void) {
  file_transfer_started = false;
  more_files_needed = false;
}

void UpdateCallBack(KvoDeviceHandle update_handle, KvoUpdateEvent* event, const void*) {
  if (event == nullptr) return;
  switch (event->type) {
    case kKvoUpdateEventTypeBeginConfirmationNeeded:
    case kKvoUpdateEventTypeBeginResumeConfirmationNeeded:
      if (quarn_quiet) {
        KvoLogError(kSender, "Attempted to run a silent upgrade with a \"confirmed\" container.");
        quarn_quiet = false;
        QuarnPrint(
            "\r\nWarning! This update needs user confirmation. Silent mode (-s option) is not "
            "allowed.\r\n");
        Quit(kQuarnParameterError);
      }
      PrintAnnouncement(event);
      WaitForEnter();
      KvoLogInfo(kSender, "The update has been confirmed by the user.");
      // The engine goes on inside this call; its result also becomes the update's result.
      KvoUpdateAllowBegin(update_handle, true);
      QuarnPrint("Starting the update.\r\n\r\n");
      break;
    case kKvoUpdateEventTypeBegin:
    case kKvoUpdateEventTypeBeginResume:
      if (quarn_quiet) {
        KvoLogInfo(kSender, "Running update in silent mode.");
        break;
      }
      PrintAnnouncement(event);
      WaitForEnter();
      QuarnPrint("Starting the update.\r\n\r\n");
      break;
    case kKvoUpdateEventTypeProgress:
      ShowProgress(event->progress);
      break;
    case kKvoUpdateEventTypeSuccess:
      QuarnPrint("The update has finished and was successfully completed.\r\n");
      break;
    case kKvoUpdateEventTypeFailed:
      QuarnPrint("\r\nThe update of the device has failed.\r\n");
      break;
    case kKvoUpdateEventTypeRestartConfirmationNeeded:
      QuarnPrint("\r\nPlease wait while your device is restarting.\r\n\r\n");
      KvoUpdateAllowRestart(update_handle, true);
      break;
    case kKvoUpdateEventTypeRestartNotified:
      QuarnPrint("\r\nPlease wait while your device is restarting.\r\n\r\n");
      break;
    case kKvoUpdateEventTypeReceivedUpdatePackages:
      more_files_needed = true;
      file_transfer_started = false;
      QuarnPrint("\r\nThe device has received update packages. Please wait...\r\n");
      break;
    case kKvoUpdateEventTypeInstalling:
      QuarnPrint("The update of the device has started and will complete within one minute.\r\n");
      break;
    case kKvoUpdateEventTypeDeviceLost:
      QuarnPrint("\r\nThe connection to the device was lost. Please wait...\r\n");
      break;
    default:
      QuarnPrint("An unknown Update Event Type received (%d)\r\n", static_cast<int>(event->type));
      break;
  }
}

QuarnCommandResult QuarnCommandFwUpdate(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  char option = 0;
  const char* value = nullptr;
  if (options != nullptr && apr_getopt(options, "h?", &option, &value) == APR_SUCCESS &&
      IsHelpOption(option)) {
    Help("fwupdate");
    return kQuarnResultSuccess;
  }
  if (parameters->argc != 2) return kQuarnParameterError;
  result = KvoUpdateRegisterCallback(handle, UpdateCallBack, nullptr);
  if (result != kKvoResultSuccess) return result;
  result = KvoUpdateStart(handle, parameters->argv[parameters->argc - 1]);
  return result;
}

QuarnCommandResult QuarnCommandFwUpdatePath(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  char option = 0;
  const char* value = nullptr;
  // Every option is read: an unknown one before a help option does not hide it.
  apr_status_t status = APR_SUCCESS;
  while (options != nullptr && (status = apr_getopt(options, "h?", &option, &value)) != APR_EOF) {
    if (status == APR_SUCCESS && IsHelpOption(option)) {
      Help("fwupdate-path");
      return kQuarnResultSuccess;
    }
  }
  if (parameters->argc != 2) return kQuarnParameterError;
  KvoUpdatePathStructType* list = nullptr;
  size_t count = 0;
  result = KvoUpdateGetUpdatePath(handle, parameters->argv[1], &list, &count);
  if (result != kKvoResultSuccess) return result;
  if (count == 0) {
    KvoUpdateReleaseKvoUpdatePath(list);
    return kQuarnNoUpdatePathsNotFound;
  }
  QuarnPrint("\n\rConfiguration sets:\n\r");
  QuarnPrint("\n\rCurrent -> Target\n\r");
  for (size_t i = 0; i < count; ++i) {
    QuarnPrint(" %s  -> %s\n\r", list->path_list[i].current, list->path_list[i].target);
  }
  result = KvoUpdateReleaseKvoUpdatePath(list);
  return result;
}
