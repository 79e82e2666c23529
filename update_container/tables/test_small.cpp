// Tables of a small container for tests of the host: modules of revision R1... go to R2A/1
// through three small firmware packages; the user is asked to confirm.
#include "update_container/src/tables.h"

const UcUpdate kUcUpdateMatrix[] = {
    {"R1*", "R2A/1"},
};
const size_t kUcUpdateMatrixSize = sizeof kUcUpdateMatrix / sizeof kUcUpdateMatrix[0];

const UcAssignment kUcAssignmentMatrix[] = {
    {"FW", "TEST_PACKAGE_A.ZIP", UC_PACKAGE_BYTES(0), 100},
    {"FW", "TEST_PACKAGE_B.ZIP", UC_PACKAGE_BYTES(1), 200},
    {"FW", "TEST_PACKAGE_C.ZIP", UC_PACKAGE_BYTES(2), 700},
    {"NET_CONFIG", "R2A/1", UC_PACKAGE_BYTES(3), 300},
};
const size_t kUcAssignmentMatrixSize = sizeof kUcAssignmentMatrix / sizeof kUcAssignmentMatrix[0];

const char* const kUcCidList[] = {"189", ""};
const char* const kUcTpidList[] = {"189-192", "204-210", "100-112", ""};

const char* const kUcSupportedPlatforms[] = {"ZRB 207 43", "ZRB 207 44", "ZRB 207 45",
                                             "ZRB 207 46", "ZRB 207 47", nullptr};

const char* const kUcConfigurationSetProduct = "ZNT4028813/1";
const char* const kUcContainerRevision = "T1A01";
const char* const kUcContainerProduct = "ZNT 402 9999/1";
const UcVersion kUcInterfaceVersion = {3, 1};
const char* const kUcUserInteraction = "Confirm";
