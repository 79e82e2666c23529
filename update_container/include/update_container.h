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

// The host's log sink; sender is always "UC". Called on the thread that called the Uc... function
// that logs, during that call; arguments are valid only then.
typedef void UcLogFunctionCallback(const char* sender, UcLogType type, const char* format,
                                   va_list arguments);

// Buffer sizes the caller provides to UcGetUpdateInformation.
#define UC_MODULE_NAME_SIZE 64
#define UC_CONFIGURATION_SIZE 64
#define UC_OPERATOR_DOMAIN_SIZE 64
#define UC_HPLMN_SIZE 5
#define UC_USER_INTERACTION_SIZE 7

// eevinfo below is always the module's whole answer to "AT*EEVINFO=4"; a field it lacks reads as
// empty. Pointers handed out through data and list point into the container's constant data.

// [out] version: this header's UC_API_VERSION_MAJOR and UC_API_VERSION_MINOR.
// Results: kUcUpdateSuccess; kUcUpdateError for a null version.
UC_API UcStatus UcGetApiVersion(UcVersion* version);

// [out] revision, product_number: the container's own revision and product number.
// Results: kUcUpdateSuccess; kUcUpdateError for a null pointer.
UC_API UcStatus UcGetRevision(UcRevision* revision);
UC_API UcStatus UcGetProduct(UcProductNumber* product_number);

// The next update step for the module whose answer is [in] eevinfo, given [in] trigger (what
// happened) and [in] install_flag (kUcUserInteractionSilent asks for the silent steps).
// [in] update_information is accepted for the interface's sake and not used.
// Result: the action; kUcActionInvalidPackage for a module platform the container does not serve,
// kUcActionInvalidConfiguration for an individualization it does not accept,
// kUcActionNoUpgradeNeeded for a module on the target in upgrade state 1, kUcActionNone where no
// step applies.
UC_API UcActionType UcGetNextAction(const char* eevinfo, UcTriggerType trigger,
                                    UcInstallFlagType install_flag,
                                    UcUpdateInformationType update_information);

// Describes the pending update of the module whose answer is [in] eevinfo, into caller-owned
// [out] buffers: module_name (UC_MODULE_NAME_SIZE), current and target (UC_CONFIGURATION_SIZE;
// "<configuration-set product> <revision>", target empty without a path), operator_domain
// (UC_OPERATOR_DOMAIN_SIZE), hplmn (UC_HPLMN_SIZE), and user_interaction (at least
// UC_USER_INTERACTION_SIZE, zero-filled by the caller: it receives the letters of the interaction
// word without a terminator).
// Result: kUcNetConfigurationAvailable (a path leads on), kUcNetConfigurationAlreadyOnTarget,
// kUcNetConfigurationNotAvailable (no path for the module's revision), or
// kUcNetConfigurationInvalid when a buffer is null.
UC_API UcUpdateInformationType UcGetUpdateInformation(const char* eevinfo, char* module_name,
                                                      char* current, char* target,
                                                      char* operator_domain, char* hplmn,
                                                      char* user_interaction);

// [out] data, size: the net configuration package of the module's target revision (null and 0
// when there is none). Results: kUcUpdateSuccess; kUcUpdateError when the module's revision has
// no path or the target no package, or for a null pointer.
UC_API UcStatus UcGetNetConfiguration(const char* eevinfo, unsigned char** data, size_t* size);

// Appends every package that [in] eevinfo_input requests ("# <name>" lines) to the container's
// package list, which lives until the library is unloaded and holds at most 32 entries.
// [out] total_size: the bytes of the packages appended by this call.
// Results: kUcUpdateSuccess (total above 0); kUcUpdateNoFilesFoundInEeevinfo (nothing requested);
// kUcUpdateErrorMissingFile (a requested package is not carried; the ones before it stay
// listed); kUcUpdateError (the list is full, or a null pointer).
UC_API UcStatus UcGetTotalSizeOfUpdate(const char* eevinfo_input, size_t* total_size);

// [out] data, size: the next package of that list, each handed out once.
// Results: kUcUpdateSuccess; kUcUpdateDone after the last one (data null, size 0);
// kUcUpdateError for a null pointer.
UC_API UcStatus UcGetNextUpdateItem(unsigned char** data, size_t* size);

// [out] list, size (each may be null): the update matrix as the list of upgrade paths. No result.
UC_API void UcGetUpgradePaths(UcPathStructType** list, size_t* size);

// Installs [in] callback as the log sink; a null callback switches logging off. No result.
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
