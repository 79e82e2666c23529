// Tables of the container that the program carries: every earlier revision leads to R5E/1.
#include "update_container/src/tables.h"

const UcUpdate kUcUpdateMatrix[] = {
    {"P*", "R5E/1"},  {"R1*", "R5E/1"},   {"R2*", "R5E/1"},   {"R3*", "R5E/1"},
    {"R4*", "R5E/1"}, {"R5A/1", "R5E/1"}, {"R5C/1", "R5E/1"},
};
const size_t kUcUpdateMatrixSize = sizeof kUcUpdateMatrix / sizeof kUcUpdateMatrix[0];

const UcAssignment kUcAssignmentMatrix[] = {
    {"FW", "ZNL5504429_1_R1D_networklist", UC_PACKAGE_BYTES(0), 34076},
    {"FW", "ZNT4025527_1_R1G01_FC.ZIP", UC_PACKAGE_BYTES(1), 4126},
    {"FW", "ZNT4025527_1_R2A07_FC.ZIP", UC_PACKAGE_BYTES(2), 4126},
    {"FW", "ZNT4025527_1_R2B02_FC.ZIP", UC_PACKAGE_BYTES(3), 4127},
    {"FW", "ZNT4025527_1_R3A06_FC.ZIP", UC_PACKAGE_BYTES(4), 4127},
    {"FW", "ZNT4025527_1_R3C01_FC.ZIP", UC_PACKAGE_BYTES(5), 8401222},
    {"FW", "ZNT4025527_1_R4A02_FC.ZIP", UC_PACKAGE_BYTES(6), 8432613},
    {"NET_CONFIG", "R5E/1", UC_PACKAGE_BYTES(7), 24792},
};
const size_t kUcAssignmentMatrixSize = sizeof kUcAssignmentMatrix / sizeof kUcAssignmentMatrix[0];

const char* const kUcCidList[] = {"189", ""};
const char* const kUcTpidList[] = {"189-192", "204-210", "100-112", ""};

// The Calt module and four of the five Dovin modules.
const char* const kUcSupportedPlatforms[] = {"ZRB 207 43", "ZRB 207 44", "ZRB 207 45",
                                             "ZRB 207 46", "ZRB 207 47", nullptr};

const char* const kUcConfigurationSetProduct = "ZNT4028813/1";
const char* const kUcContainerRevision = "R5E06";
const char* const kUcContainerProduct = "ZNT 402 3364/1";
const UcVersion kUcInterfaceVersion = {3, 1};
const char* const kUcUserInteraction = "Notify";
