// Tables of a container for tests of the update engine and the program: modules of revision
// R3... go to R5E/1 through three small firmware packages of 100, 200 and 700 bytes, and the user
// is asked to confirm. The net configuration has the length of the carried one, so that a
// simulated module recognises it.
#include "update_container/src/tables.h"

const UcUpdate kUcUpdateMatrix[] = {
    {"R3*", "R5E/1"},
    {"R4*", "R5E/1"},
};
const size_t kUcUpdateMatrixSize = sizeof kUcUpdateMatrix / sizeof kUcUpdateMatrix[0];

const UcAssignment kUcAssignmentMatrix[] = {
    {"FW", "TEST_PACKAGE_100.ZIP", UC_PACKAGE_BYTES(0), 100},
    {"FW", "TEST_PACKAGE_200.ZIP", UC_PACKAGE_BYTES(1), 200},
    {"FW", "TEST_PACKAGE_700.ZIP", UC_PACKAGE_BYTES(2), 700},
    {"NET_CONFIG", "R5E/1", UC_PACKAGE_BYTES(3), 24792},
};
const size_t kUcAssignmentMatrixSize = sizeof kUcAssignmentMatrix / sizeof kUcAssignmentMatrix[0];

const char* const kUcCidList[] = {"189", ""};
const char* const kUcTpidList[] = {"189-192", "204-210", "100-112", ""};

const char* const kUcSupportedPlatforms[] = {"ZRB 207 43", "ZRB 207 44", "ZRB 207 45",
                                             "ZRB 207 46", "ZRB 207 47", nullptr};

const char* const kUcConfigurationSetProduct = "ZNT4028813/1";
const char* const kUcContainerRevision = "T5E01";
const char* const kUcContainerProduct = "ZNT 402 9998/1";
const UcVersion kUcInterfaceVersion = {3, 1};
const char* const kUcUserInteraction = "Confirm";
