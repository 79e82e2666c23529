#ifndef UPDATE_CONTAINER_SRC_TABLES_H_
#define UPDATE_CONTAINER_SRC_TABLES_H_

// The constant tables of one container build. Every container is built from the same logic
// (update_container.cpp) and one tables source that defines everything declared here; the
// package bytes are generated at build time from kUcAssignmentMatrix (tools/package_gen.cpp).
//
// A tables source names the bytes of its row i as UC_PACKAGE_BYTES(i); rows are numbered from 0
// in table order.

#include <stddef.h>

#include "update_container/include/update_container.h"

// Room for the package list of one update run.
#define UC_MAX_ASSIGNMENTS 32

#if defined(UC_PACKAGE_GENERATOR)
// The generator only needs names and lengths; the bytes do not exist yet.
#define UC_PACKAGE_BYTES(index) nullptr
#else
#define UC_PACKAGE_BYTES(index) uc_package_##index
extern "C" {
// Defined by the generated packages source of the build; only the rows in use are defined.
extern const unsigned char uc_package_0[], uc_package_1[], uc_package_2[], uc_package_3[],
    uc_package_4[], uc_package_5[], uc_package_6[], uc_package_7[], uc_package_8[], uc_package_9[],
    uc_package_10[], uc_package_11[], uc_package_12[], uc_package_13[], uc_package_14[],
    uc_package_15[], uc_package_16[], uc_package_17[], uc_package_18[], uc_package_19[],
    uc_package_20[], uc_package_21[], uc_package_22[], uc_package_23[], uc_package_24[],
    uc_package_25[], uc_package_26[], uc_package_27[], uc_package_28[], uc_package_29[],
    uc_package_30[], uc_package_31[];
}
#endif

extern const UcUpdate kUcUpdateMatrix[];
extern const size_t kUcUpdateMatrixSize;

extern const UcAssignment kUcAssignmentMatrix[];
extern const size_t kUcAssignmentMatrixSize;

// Lists of single decimal numbers ("189") and inclusive ranges ("189-192"), each ended by "".
extern const char* const kUcCidList[];
extern const char* const kUcTpidList[];

// Product-number texts of the supported modules, ended by nullptr.
extern const char* const kUcSupportedPlatforms[];

// Configuration-set product number that leads every target description.
extern const char* const kUcConfigurationSetProduct;

extern const char* const kUcContainerRevision;
extern const char* const kUcContainerProduct;
extern const UcVersion kUcInterfaceVersion;

// The interaction the container asks of the user: "Notify", "Confirm" or "Silent".
extern const char* const kUcUserInteraction;

#endif  // UPDATE_CONTAINER_SRC_TABLES_H_
