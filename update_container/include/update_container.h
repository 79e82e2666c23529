#ifndef UPDATE_CONTAINER_H_
#define UPDATE_CONTAINER_H_

// Interface of the update container: a loadable library that carries the firmware packages of one
// update target together with the rules that pick the next update step from the module's
// "AT*EEVINFO=4" report. The host loads it at run time (apr_dso_load) and resolves the ten Uc...
// functions below by name; the function-pointer types at the end are for that.
//
// The header compiles as C and as C++; every function has C linkage. Pointers that the container
// hands out point into its own constant data and stay valid until the library is unloaded. The
// container is not thread-safe: call it from one thread at a time.

#include <stdarg.h>
#include <stddef.h>

#if defined(UC_BUILDING_CONTAINER)
#define UC_API __attribute__((visibility("default")))
#else
#define UC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Interface version of this header; the host accepts any minor number of major 3.
#define UC_API_VERSION_MAJOR 3
#define UC_API_VERSION_MINOR 1

typedef enum UcStatus {
  kUcUpdateError = 0,
  kUcUpdateErrorTc = 1,
  kUcUpdateErrorContainer = 2,
  kUcUpdateErrorMissingFile = 3,
  kUcUpdateSuccess = 4,
  kUcUpdateDone = 5,
  kUcUpdateNoFilesFoundInEeevinfo = 6
} UcStatus;

typedef enum UcActionType {
  kUcActionNone = 0,
  kUcActionInvalidPackage = 1,
  kUcActionNoUpgradeNeeded = 2,
  kUcActionDoUpgradeConfirm = 3,
  kUcActionDoUpgradeNotif = 4,
  kUcActionConfigsetCloseGUI = 5,
  kUcActionConfigSet = 6,
  kUcActionWithProgressInfo = 7,
  kUcActionWithoutProgressInfo = 8,
  kUcActionUpgradeReadyReporting = 9,
  kUcActionActivationConfirm = 10,
  kUcActionActivationNotifReset = 11,
  kUcActionActivationNotif = 12,
  kUcActionModuleActivation = 13,
  kUcActionDeleteContainer = 14,
  kUcActionCloseGUI = 15,
  kUcActionUpgradeNotAvailable = 16,
  kUcActionReceivedUpdatePackages = 17,
  kUcActionInstalling = 18,
  kUcActionUpdateSucceeded = 19,
  kUcActionActivationError = 20,
  kUcActionInvalidConfiguration = 21
} UcActionType;

typedef enum UcTriggerType {
  kUcTriggerInitial = 0,
  kUcTriggerNewContainer = 1,
  kUcTriggerUserConfirmUpgrade = 2,
  kUcTriggerModuleStatusChanged = 3,
  kUcTriggerUserConfirmActivation = 4
} UcTriggerType;

// The module's upgrade state ("ustate") as the module reports it.
typedef enum UcUpdateState {
  kUcU0 = 0,
  kUcU1 = 1,
  kUcU2 = 2,
  kUcU3 = 3,
  kUcU4 = 4,
  kUcU5 = 5,
  kUcU6 = 6,
  kUcU7 = 7,
  kUcU8 = 8,
  kUcU9 = 9,
  kUcU10 = 10,
  kUcU11 = 11,
  kUcU12 = 12,
  kUcU13 = 13
} UcUpdateState;

typedef enum UcInstallFlagType {
  kUcUserInteractionUnknown = 0,
  kUcUserInteractionConfirmed = 1,
  kUcUserInteractionNotified = 2,
  kUcUserInteractionSilent = 3
} UcInstallFlagType;

typedef enum UcUpdateInformationType {
  kUcNetConfigurationAvailable = 0,
  kUcNetConfigurationAlreadyOnTarget = 1,
  kUcNetConfigurationInvalid = 2,
  kUcNetConfigurationNotAvailable = 3
} UcUpdateInformationType;

typedef enum UcLogType {
  kUcLogTypeError = 0,
  kUcLogTypeInfo = 1,
  kUcLogTypeDebug = 2,
  kUcLogTypeTrace = 3
} UcLogType;

typedef struct UcVersion {
  unsigned int major;
  unsigned int minor;
} UcVersion;

typedef char UcRevision[64];
typedef char UcProductNumber[64];

// One upgrade path: a revision pattern ("R3*": any revision starting with "R3"; "ALL": any
// revision) and the revision it leads to.
typedef struct UcPathStructType {
  const char* current_rstate;
  const char* target_rstate;
} UcPathStructType;

// A row of the update matrix is an upgrade path.
typedef UcPathStructType UcUpdate;

// One carried package. type is "FW" for firmware and network lists, "NET_CONFIG" for the net
// configuration set of a target, whose name is the target revision.
typedef struct UcAssignment {
  const char* type;
  const char* name;
  const unsigned char* binary_start;
  size_t length;
} UcAssignment;

// The host's log sink; sender is always "UC".
typedef void UcLogFunctionCallback(const char* sender, UcLogType type, const char* format,
                                   va_list arguments);

// Buffer sizes the caller provides to UcGetUpdateInformation.
#define UC_MODULE_NAME_SIZE 64
#define UC_CONFIGURATION_SIZE 64
#define UC_OPERATOR_DOMAIN_SIZE 64
#define UC_HPLMN_SIZE 5
#define UC_USER_INTERACTION_SIZE 7

// Sets 3.1. kUcUpdateSuccess.
UC_API UcStatus UcGetApiVersion(UcVersion* version);

// The container's own revision and product number. kUcUpdateSuccess.
UC_API UcStatus UcGetRevision(UcRevision* revision);
UC_API UcStatus UcGetProduct(UcProductNumber* product_number);

// The next update step for the module whose "AT*EEVINFO=4" answer is eevinfo.
// update_information is accepted for the interface's sake and not used.
UC_API UcActionType UcGetNextAction(const char* eevinfo, UcTriggerType trigger,
                                    UcInstallFlagType install_flag,
                                    UcUpdateInformationType update_information);

// Describes the pending update. Buffers: module_name, current, target and operator_domain of 64
// characters each, hplmn of 5, user_interaction of at least 7 and zero-filled by the caller (it
// receives the letters of the interaction word without a terminator). Returns the path result.
UC_API UcUpdateInformationType UcGetUpdateInformation(const char* eevinfo, char* module_name,
                                                      char* current, char* target,
                                                      char* operator_domain, char* hplmn,
                                                      char* user_interaction);

// The net configuration package of the module's target revision.
UC_API UcStatus UcGetNetConfiguration(const char* eevinfo, unsigned char** data, size_t* size);

// Appends every package that the answer requests ("# <name>" lines) to the container's package
// list and returns their total size. The list lives until the library is unloaded.
UC_API UcStatus UcGetTotalSizeOfUpdate(const char* eevinfo_input, size_t* total_size);

// The next package of that list; kUcUpdateDone after the last one.
UC_API UcStatus UcGetNextUpdateItem(unsigned char** data, size_t* size);

// The update matrix as the list of upgrade paths.
UC_API void UcGetUpgradePaths(UcPathStructType** list, size_t* size);

// Installs the log sink; a null callback switches logging off.
UC_API void UcSetLogFunctionCallback(UcLogFunctionCallback* callback);

// Types of the exports, for resolving them by name.
typedef UcStatus (*UcGetApiVersionFunction)(UcVersion*);
typedef UcStatus (*UcGetRevisionFunction)(UcRevision*);
typedef UcStatus (*UcGetProductFunction)(UcProductNumber*);
typedef UcActionType (*UcGetNextActionFunction)(const char*, UcTriggerType, UcInstallFlagType,
                                                UcUpdateInformationType);
typedef UcUpdateInformationType (*UcGetUpdateInformationFunction)(const char*, char*, char*, char*,
                                                                  char*, char*, char*);
typedef UcStatus (*UcGetNetConfigurationFunction)(const char*, unsigned char**, size_t*);
typedef UcStatus (*UcGetTotalSizeOfUpdateFunction)(const char*, size_t*);
typedef UcStatus (*UcGetNextUpdateItemFunction)(unsigned char**, size_t*);
typedef void (*UcGetUpgradePathsFunction)(UcPathStructType**, size_t*);
typedef void (*UcSetLogFunctionCallbackFunction)(UcLogFunctionCallback*);

#ifdef __cplusplus
}
#endif

#endif  // UPDATE_CONTAINER_H_
