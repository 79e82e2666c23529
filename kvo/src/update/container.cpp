// Loading the update container and listing its upgrade paths.

#include <apr_dso.h>
#include <apr_errno.h>
#include <apr_strings.h>
#include <stdlib.h>
#include <string.h>

#include "common/src/common_functions.h"
#include "common/src/load_guard.h"
#include "kvo/src/update/update.h"
#include "kvo/src/update/update_engine.h"
#include "transport/src/common/common.h"

namespace update_engine {

UcGetApiVersionFunction uc_get_api_version_fn = nullptr;
UcGetRevisionFunction uc_get_revision_fn = nullptr;
UcGetProductFunction uc_get_product_fn = nullptr;
UcGetNextActionFunction uc_get_next_action_fn = nullptr;
UcGetUpdateInformationFunction uc_get_update_information_fn = nullptr;
UcGetNetConfigurationFunction uc_get_net_configuration_fn = nullptr;
UcGetTotalSizeOfUpdateFunction uc_get_total_size_of_update_fn = nullptr;
UcGetNextUpdateItemFunction uc_get_next_update_item_fn = nullptr;
UcGetUpgradePathsFunction uc_get_upgrade_paths_fn = nullptr;
UcSetLogFunctionCallbackFunction uc_set_log_callback_fn = nullptr;

apr_pool_t* update_memory_pool = nullptr;

}  // namespace update_engine

using namespace update_engine;

namespace {

char container_path[512];
apr_dso_handle_t* dso_handle = nullptr;

void UpdateConvertUcPath(const UcPathStructType* source, KvoUpdatePath* target) {
  apr_cpystrn(target->current, source->current_rstate != nullptr ? source->current_rstate : "",
              sizeof target->current);
  apr_cpystrn(target->target, source->target_rstate != nullptr ? source->target_rstate : "",
              sizeof target->target);
}

KvoResult UpdateGetUpdatePaths(KvoUpdatePathStructType** list, size_t* list_size) {
  UcPathStructType* paths = nullptr;
  size_t count = 0;
  uc_get_upgrade_paths_fn(&paths, &count);
  if (paths == nullptr || count == 0) return kKvoResultUpdateErrorNoPathsFound;
  auto* out = static_cast<KvoUpdatePathStructType*>(calloc(1, sizeof(KvoUpdatePathStructType)));
  if (out == nullptr) return kKvoResultGeneralErrorMemory;
  const size_t limit = sizeof out->path_list / sizeof out->path_list[0];
  if (count > limit) count = limit;
  for (size_t i = 0; i < count; ++i) UpdateConvertUcPath(&paths[i], &out->path_list[i]);
  *list = out;
  if (list_size != nullptr) *list_size = count;
  return kKvoResultSuccess;
}

}  // namespace

KvoResult update_engine::CreatePoolAndLoadContainer(const char* file_path) {
  UpdateBuildContainerPath(file_path, container_path, sizeof container_path);
  if (apr_pool_create(&update_memory_pool, nullptr) != APR_SUCCESS) {
    update_memory_pool = nullptr;
    KvoLogError(kSender,
                "Failed to create memory pool needed in update state "
                "machine. Aborting!");
    return kKvoResultGeneralErrorMemory;
  }
  if (!UpdateLoadUpdateContainer(update_memory_pool, container_path)) {
    KvoLogError(kSender, "Failed to load update container.");
    DestroyPool();
    return kKvoResultUpdateErrorFailedToLoadDLL;
  }
  return kKvoResultSuccess;
}

void update_engine::DestroyPool() {
  if (update_memory_pool != nullptr) apr_pool_destroy(update_memory_pool);
  update_memory_pool = nullptr;
  update_condition.mutex = nullptr;
  update_condition.condition = nullptr;
}

void UpdateBuildContainerPath(const char* file_path, char* path, size_t size) {
  const size_t length = strlen(file_path);
  if (length > 2 && (file_path[1] == ':' || file_path[0] == '/' ||
                     (file_path[0] == '.' && file_path[1] == '/'))) {
    apr_cpystrn(path, file_path, size);
  } else {
    apr_snprintf(path, size, "./%s", file_path);
  }
}

bool IsUpdateContainerLoaded(void) {
  return dso_handle != nullptr;
}

bool UpdateLoadUpdateContainer(apr_pool_t* pool, const char* file_path) {
  const char* refused = CommonLoadGuardCheck(file_path);
  if (refused != nullptr) {
    KvoLogError(kSender, "Refusing to load %s: %s.", file_path, refused);
    return false;
  }
  apr_status_t status = apr_dso_load(&dso_handle, file_path, pool);
  if (status != APR_SUCCESS) {
    char error[256];
    KvoLogError(kSender, "Failed to load container");
    KvoLogDebug(kSender, "%s", apr_dso_error(dso_handle, error, sizeof error));
    dso_handle = nullptr;
    return false;
  }
  struct Symbol {
    const char* name;
    void** target;
    const char* message;
  };
  const Symbol symbols[] = {
      {"UcSetLogFunctionCallback", reinterpret_cast<void**>(&uc_set_log_callback_fn),
       "Failed to load log callback: %d\n"},
      {"UcGetNextAction", reinterpret_cast<void**>(&uc_get_next_action_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetUpdateInformation", reinterpret_cast<void**>(&uc_get_update_information_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetNetConfiguration", reinterpret_cast<void**>(&uc_get_net_configuration_fn),
       "UpdateSendNetConfiguration - Failed to load dynamic symbol object: "
       "%d\n"},
      {"UcGetTotalSizeOfUpdate", reinterpret_cast<void**>(&uc_get_total_size_of_update_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetNextUpdateItem", reinterpret_cast<void**>(&uc_get_next_update_item_fn),
       "Failed to load dynamic symbol object: %d\n"},
      {"UcGetApiVersion", reinterpret_cast<void**>(&uc_get_api_version_fn),
       "Failed to load dynamic symbol object of UcGetApiVersion: %d"},
      {"UcGetRevision", reinterpret_cast<void**>(&uc_get_revision_fn),
       "Failed to load dynamic symbol object of UcGetRevision: %d"},
      {"UcGetProduct", reinterpret_cast<void**>(&uc_get_product_fn),
       "Failed to load dynamic symbol object of UcGetProduct: %d"},
      {"UcGetUpgradePaths", reinterpret_cast<void**>(&uc_get_upgrade_paths_fn),
       "Failed to load dynamic symbol object: %d\n"},
  };
  for (const Symbol& symbol : symbols) {
    apr_dso_handle_sym_t address = nullptr;
    status = apr_dso_sym(&address, dso_handle, symbol.name);
    if (status != APR_SUCCESS || address == nullptr) {
      KvoLogError(kSender, symbol.message, status);
      UpdateUnloadUpdateContainer();
      return false;
    }
    *symbol.target = reinterpret_cast<void*>(address);
  }
  uc_set_log_callback_fn(UpdateHandleLogCallback);
  KvoLogInfo(kSender, "Successfully loaded update container.");
  return true;
}

bool UpdateUnloadUpdateContainer(void) {
  if (dso_handle == nullptr) return false;
  apr_dso_unload(dso_handle);
  dso_handle = nullptr;
  uc_get_api_version_fn = nullptr;
  uc_get_revision_fn = nullptr;
  uc_get_product_fn = nullptr;
  uc_get_next_action_fn = nullptr;
  uc_get_update_information_fn = nullptr;
  uc_get_net_configuration_fn = nullptr;
  uc_get_total_size_of_update_fn = nullptr;
  uc_get_next_update_item_fn = nullptr;
  uc_get_upgrade_paths_fn = nullptr;
  uc_set_log_callback_fn = nullptr;
  return true;
}

void UpdateHandleLogCallback(const char* sender, UcLogType type, const char* format,
                             va_list arguments) {
  TlLogType tl_type = kTlLogTypeDebug;
  switch (type) {
    case kUcLogTypeError:
      tl_type = kTlLogTypeError;
      break;
    case kUcLogTypeInfo:
      tl_type = kTlLogTypeInfo;
      break;
    case kUcLogTypeTrace:
      tl_type = kTlLogTypeTrace;
      break;
    default:
      tl_type = kTlLogTypeDebug;
      break;
  }
  TlLogRaw(sender, tl_type, format, arguments);
}

KVO_API KvoResult KvoUpdateGetUpdatePath(KvoDeviceHandle, const char* file_path,
                                         KvoUpdatePathStructType** list, size_t* list_size) {
  if (list != nullptr) *list = nullptr;
  if (list_size != nullptr) *list_size = 0;
  KvoLogInfo(kSender, "Trying to load file: %s", file_path != nullptr ? file_path : "");
  if (file_path == nullptr || !CommonFileExist(file_path)) {
    KvoLogError(kSender, "File '%s' does not exist!", file_path != nullptr ? file_path : "");
    return kKvoResultUpdateErrorCouldNotFindPackage;
  }
  const KvoResult loaded = CreatePoolAndLoadContainer(file_path);
  if (loaded != kKvoResultSuccess) return loaded;
  KvoResult result = kKvoResultSuccess;
  if (list == nullptr) {
    KvoLogError(kSender, "List argument is NULL. Abort!");
    result = kKvoResultGeneralErrorInvalidParameter;
  } else {
    result = UpdateGetUpdatePaths(list, list_size);
  }
  UpdateUnloadUpdateContainer();
  DestroyPool();
  return result;
}

KVO_API KvoResult KvoUpdateReleaseKvoUpdatePath(KvoUpdatePathStructType* list) {
  free(list);
  return kKvoResultSuccess;
}
