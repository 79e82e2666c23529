#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "kvo.h"

namespace {

struct Row {
  int value;
  const char* type;
  const char* text;
};

// Every library result with its type word and text, in table order.
const std::vector<Row> kRows = {
    {0, "INFO", "The operation completed successfully."},
    {1, "ERROR", "The called method is not implemented."},
    {2, "ERROR", "An invalid parameter was given."},
    {3, "ERROR", "Failed to allocate memory."},
    {4, "ERROR", "The supplied device handle does not point to an open device."},
    {5, "ERROR", "The operation timed out."},
    {6, "ERROR", "Unknown device type."},
    {7, "ERROR", "The KVO library has not been initialized."},
    {8, "ERROR", "The requested operation is not supported for your device."},
    {9, "ERROR",
     "The KVO API version used by this application does not match the existing KVO library."},
    {10, "ERROR", "The function failed in parsing."},
    {11, "ERROR", "An error was returned from the device."},
    {99, "ERROR", "Unknown error."},
    {200, "ERROR", "Timeout while waiting for the device to become ready."},
    {201, "ERROR", "The supplied handle was invalid."},
    {202, "ERROR", "Could not set device in desired operational mode for the command."},
    {203, "ERROR", "Failed to reset device."},
    {204, "ERROR", "Failed to get information from device."},
    {205, "ERROR", "Failed to identify device."},
    {206, "ERROR", "Could not confirm SIM unlocking."},
    {207, "ERROR", "Operation is not supported while device is in ITP mode."},
    {208, "ERROR", "Operation failed due to an error during file transmission."},
    {209, "ERROR", "An error occurred while listing devices."},
    {210, "ERROR", "Could not connect to the device."},
    {211, "ERROR", "Could not close the connection to the device."},
    {300, "ERROR", "The update package could not be found at the given location."},
    {301, "ERROR", "The update package is not valid for your device."},
    {302, "INFO", "No update is needed."},
    {303, "INFO", "The update package is not valid for your device."},
    {304, "ERROR", "Fail to parse information from the device."},
    {305, "ERROR", "Failed to load the upgrade package."},
    {306, "ERROR", "Failed to find the upgrade paths in the package."},
    {307, "INFO", "This update package is not valid for your device."},
    {308, "ERROR", "The update failed to complete."},
    {309, "ERROR", "The update package is missing some update files."},
    {400, "ERROR", "Failed to register a callback in TL for unsolicited RSSI response."},
    {401, "ERROR", "Unexpected response to RSSI Async. measurement request."},
    {402, "ERROR", "Error returned in RSSI Async. callback from TL."},
    {403, "ERROR", "KvoRadio: Failed to send AT command."},
    {404, "ERROR", "GPS test result is not valid."},
    {405, "ERROR", "Failed to allocate memory."},
    {406, "ERROR", "GPS reported status error in ITP mode."},
    {407, "ERROR", "The module radio state is not correct."},
    {602, "ERROR",
     "The Customization Container file is not available in the working directory of the "
     "program."},
    {603, "ERROR", "The container file could not be loaded."},
    {604, "ERROR",
     "The container has not been loaded. Please make sure that the Customization Container is "
     "present. See the product documentation for details."},
    {605, "ERROR",
     "No assignments with the specified type (CustomAssignmentType) could be found in the "
     "container."},
    {606, "ERROR", "The device does not support the assignment type."},
    {607, "ERROR",
     "The device is already SIM-locked. A SIM-lock can only be set to a unlocked module."},
    {608, "ERROR",
     "The assignment cannot be sent to the device because the operation is not allowed."},
    {609, "ERROR", "Assignment verification failed."},
    {610, "ERROR", "The device SIM-lock was not set."},
    {611, "ERROR",
     "Device refresh failed. The assignment has been sent but an error occurred while refreshing "
     "the information cache."},
    {612, "ERROR", "An error occurred while sending data to the device."},
    {613, "ERROR", "No SIM card is present, but required to perform the requested operation."},
    {614, "ERROR", "The container does not contain a file with the specified id."},
};

std::string Describe(int value, KvoResult* result) {
  KvoResultDescription description;
  memset(description, '#', sizeof(description));
  *result = KvoGetResultDescription(static_cast<KvoResult>(value), &description);
  EXPECT_NE(memchr(description, '\0', sizeof(description)), nullptr);
  return description;
}

TEST(KvoResultDescriptionTest, EveryResultGivesTypeValueAndText) {
  ASSERT_EQ(kRows.size(), 56u);
  for (const Row& row : kRows) {
    KvoResult result;
    EXPECT_EQ(Describe(row.value, &result),
              std::string(row.type) + " " + std::to_string(row.value) + " - " + row.text);
    EXPECT_EQ(result, kKvoResultSuccess) << row.value;
  }
  KvoResult result;
  EXPECT_EQ(Describe(kKvoResultSuccess, &result), "INFO 0 - The operation completed successfully.");
  EXPECT_EQ(Describe(kKvoResultDeviceErrorInvalidHandle, &result),
            "ERROR 201 - The supplied handle was invalid.");
  EXPECT_EQ(Describe(kKvoResultUpdateErrorNoUpdateNeeded, &result).rfind("INFO ", 0), 0u);
}

TEST(KvoResultDescriptionTest, ValuesWithoutARowGiveTheUnknownText) {
  for (int value : {12, 98, 100, 199, 212, 310, 408, 600, 601, static_cast<int>(kKvoResultLast),
                    1000, 1014, -1}) {
    KvoResult result;
    EXPECT_EQ(Describe(value, &result),
              std::to_string(value) + " - \"Unknown result code, no description found\".");
    EXPECT_EQ(result, kKvoResultGeneralErrorUnknown) << value;
  }
}

TEST(KvoResultDescriptionTest, LongestDescriptionFitsWhole) {
  KvoResult result;
  const std::string text = Describe(kKvoResultCustomErrorDeviceRefreshFailed, &result);
  EXPECT_LT(text.size(), sizeof(KvoResultDescription));
  EXPECT_EQ(text.substr(text.size() - 18), "information cache.");
}

TEST(KvoIdentityTest, VersionRevisionAndProduct) {
  KvoVersion version = {99, 99};
  EXPECT_EQ(KvoGetApiVersion(&version), kKvoResultSuccess);
  EXPECT_EQ(version.major, 3u);
  EXPECT_EQ(version.minor, 0u);

  KvoRevision revision;
  memset(revision, '#', sizeof(revision));
  EXPECT_EQ(KvoGetRevision(&revision), kKvoResultSuccess);
  EXPECT_STREQ(revision, "P1AXX");

  KvoProductNumber product;
  memset(product, '#', sizeof(product));
  EXPECT_EQ(KvoGetProduct(&product), kKvoResultSuccess);
  EXPECT_STREQ(product, "ZNL 550 7716/1");
}

TEST(KvoIdentityTest, MissingOutputsAreRefused) {
  EXPECT_EQ(KvoGetApiVersion(nullptr), kKvoResultGeneralErrorInvalidParameter);
  EXPECT_EQ(KvoGetRevision(nullptr), kKvoResultGeneralErrorInvalidParameter);
  EXPECT_EQ(KvoGetProduct(nullptr), kKvoResultGeneralErrorInvalidParameter);
  EXPECT_EQ(KvoGetResultDescription(kKvoResultSuccess, nullptr),
            kKvoResultGeneralErrorInvalidParameter);
}

}  // namespace
