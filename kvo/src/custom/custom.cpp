// The customization container: finding and loading it at library start, and the assignment lists
// built on its entry points.

#include "kvo/src/custom/custom.h"

#include <apr_dso.h>
#include <apr_file_info.h>
#include <apr_general.h>
#include <apr_strings.h>
#include <stdlib.h>
#include <string.h>

#include "common/src/common_functions.h"
#include "common/src/load_guard.h"

const char kCustomContainerFileName[] = "libcustomization_container.dll";

namespace {

const char kSender[] = "KVO:Custom";

apr_dso_handle_t* custom_dso_handle = nullptr;
apr_pool_t* custom_memory_pool = nullptr;

CcGetApiVersionDelegate* cc_get_api_version_fn = nullptr;
CcGetRevisionDelegate* cc_get_revision_fn = nullptr;
CcGetProductDelegate* cc_get_product_fn = nullptr;
CcGetAssignmentListDelegate* cc_list_assignment_data_fn = nullptr;
CcGetConfigurationDelegate* cc_get_configuration_fn = nullptr;
CcGetContainerInfoDelegate* cc_get_container_info_fn = nullptr;
CcGetAssignmentDataDelegate* cc_get_assignment_data_fn = nullptr;

void ForgetEntryPoints() {
  cc_get_api_version_fn = nullptr;
  cc_get_revision_fn = nullptr;
  cc_get_product_fn = nullptr;
  cc_list_assignment_data_fn = nullptr;
  cc_get_configuration_fn = nullptr;
  cc_get_container_info_fn = nullptr;
  cc_get_assignment_data_fn = nullptr;
}

void DestroyPool() {
  if (custom_memory_pool != nullptr) apr_pool_destroy(custom_memory_pool);
  custom_memory_pool = nullptr;
}

template <typename Delegate>
apr_status_t Resolve(const char* name, Delegate** function) {
  apr_dso_handle_sym_t symbol = nullptr;
  apr_status_t status = apr_dso_sym(&symbol, custom_dso_handle, name);
  *function = status == APR_SUCCESS ? reinterpret_cast<Delegate*>(symbol) : nullptr;
  return status;
}

// Copies the text of a container string, which may be missing.
void CopyText(char* destination, const char* source, size_t size) {
  apr_cpystrn(destination, source != nullptr ? source : "", size);
}

const char* MetaData(const CustomAssignmentStructType& assignment, int index) {
  const char* value = assignment.meta_data_list[index].value;
  return value != nullptr ? value : "";
}

// The shape shared by the exported list operations: list the internal records of one type and
// turn each into the exported record with `fill`.
template <typename Record, typename Fill>
KvoResult ListAs(CustomAssignmentType type, Record** list, size_t* size, const char* list_failed,
                 const char* allocation_failed, Fill fill) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  if (list == nullptr) {
    KvoLogError(kSender, "List argument is NULL. Abort!");
    return kKvoResultGeneralErrorInvalidParameter;
  }
  *list = nullptr;
  if (size != nullptr) *size = 0;

  CustomAssignmentStructType* assignments = nullptr;
  size_t count = 0;
  KvoResult result = CustomListAssignments(type, &assignments, &count);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, list_failed, static_cast<int>(result));
    return result;
  }
  Record* records = static_cast<Record*>(calloc(count, sizeof(Record)));
  if (records == nullptr) {
    CustomReleaseListAssignments(assignments);
    KvoLogError(kSender, "%s", allocation_failed);
    return kKvoResultGeneralErrorMemory;
  }
  for (size_t i = 0; i < count; ++i) {
    CustomCopyCommonAssignmentData(&records[i].common_data, &assignments[i]);
    fill(assignments[i], &records[i]);
  }
  CustomReleaseListAssignments(assignments);
  *list = records;
  if (size != nullptr) *size = count;
  return kKvoResultSuccess;
}

}  // namespace

KvoResult CustomInitialize(void) {
  if (custom_dso_handle != nullptr) CustomTerminate();
  if (apr_pool_create_ex(&custom_memory_pool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
    custom_memory_pool = nullptr;
    return kKvoResultGeneralErrorUnknown;
  }
  char* path = nullptr;
  if (apr_filepath_merge(&path, nullptr, kCustomContainerFileName, APR_FILEPATH_NATIVE,
                         custom_memory_pool) != APR_SUCCESS) {
    DestroyPool();
    return kKvoResultGeneralErrorUnknown;
  }
  KvoLogDebug(kSender, "Trying to load library at path: %s", path);
  if (!CommonFileExist(path)) {
    DestroyPool();
    KvoLogInfo(kSender, "No customization container could be found. Proceed.");
    return kKvoResultSuccess;
  }
  if (!CustomLoadCustomizationContainer(path)) {
    DestroyPool();
    KvoLogError(kSender, "Customization container could not be loaded.");
    return kKvoResultCustomErrorContainerLoadFailure;
  }
  KvoLogInfo(kSender, "Customization container was successfully loaded.");
  return kKvoResultSuccess;
}

KvoResult CustomTerminate(void) {
  CustomUnloadCustomizationContainer();
  DestroyPool();
  return kKvoResultSuccess;
}

bool CustomLoadCustomizationContainer(const char* file_path) {
  if (file_path == nullptr || custom_memory_pool == nullptr) return false;
  const char* refused = CommonLoadGuardCheck(file_path);
  if (refused != nullptr) {
    KvoLogError(kSender, "Refusing to load %s: %s.", file_path, refused);
    return false;
  }
  apr_status_t status = apr_dso_load(&custom_dso_handle, file_path, custom_memory_pool);
  if (status != APR_SUCCESS) {
    char text[256];
    apr_strerror(status, text, sizeof(text));
    KvoLogError(kSender, "error: %d, %s\n", status, text);
    char dso_text[256] = "";
    if (custom_dso_handle != nullptr) {
      apr_dso_error(custom_dso_handle, dso_text, sizeof(dso_text));
    }
    KvoLogError(kSender, "dso-error: %d, %s\n", status, dso_text);
    custom_dso_handle = nullptr;
    return false;
  }

  status = Resolve("CcGetApiVersion", &cc_get_api_version_fn);
  if (status != APR_SUCCESS) {
    KvoLogError(kSender, "Failed to load dynamic symbol object: %d", status);
    CustomUnloadCustomizationContainer();
    return false;
  }

  bool failed = false;
  CcVersion version = {0, 0};
  CcResult called = cc_get_api_version_fn(&version);
  if (called != kCcResultSuccess) {
    KvoLogError(kSender, "Get container API version failed. (%d)", static_cast<int>(called));
    failed = true;
  } else if (version.major != kCcApiVersionMajor) {
    KvoLogError(kSender,
                "Customization Container API version mismatch, API is %d.%d but library is "
                "%d.%d.",
                static_cast<int>(kCcApiVersionMajor), static_cast<int>(kCcApiVersionMinor),
                static_cast<int>(version.major), static_cast<int>(version.minor));
    failed = true;
  }

  // Every entry point is looked for, so that the log names each one that is missing.
  if ((status = Resolve("CcGetRevision", &cc_get_revision_fn)) != APR_SUCCESS) {
    KvoLogError(kSender, "Failed to load dynamic symbol object: %d", status);
    failed = true;
  }
  if ((status = Resolve("CcGetProduct", &cc_get_product_fn)) != APR_SUCCESS) {
    KvoLogError(kSender, "Failed to load dynamic symbol object: %d", status);
    failed = true;
  }
  struct Named {
    const char* name;
    apr_status_t status;
  };
  const Named others[] = {
      {"CcGetAssignmentList", Resolve("CcGetAssignmentList", &cc_list_assignment_data_fn)},
      {"CcGetConfiguration", Resolve("CcGetConfiguration", &cc_get_configuration_fn)},
      {"CcGetContainerInfo", Resolve("CcGetContainerInfo", &cc_get_container_info_fn)},
      {"CcGetAssignmentData", Resolve("CcGetAssignmentData", &cc_get_assignment_data_fn)},
  };
  for (const Named& entry : others) {
    if (entry.status != APR_SUCCESS) {
      KvoLogError(kSender, "Failed to load dynamic symbol object: %d (%s)\n", entry.status,
                  entry.name);
      failed = true;
    }
  }

  if (failed) {
    CustomUnloadCustomizationContainer();
    return false;
  }
  return true;
}

void CustomUnloadCustomizationContainer(void) {
  if (custom_dso_handle != nullptr) {
    if (apr_dso_unload(custom_dso_handle) == APR_SUCCESS) {
      KvoLogInfo(kSender, "The container handle was unloaded.");
    } else {
      KvoLogError(kSender, "The container handle could not be unloaded.");
    }
  }
  custom_dso_handle = nullptr;
  ForgetEntryPoints();
}

bool CustomIsInitialized(void) {
  if (custom_dso_handle == nullptr) {
    KvoLogError(kSender, "No customization container has been loaded.");
    return false;
  }
  CcRevision revision = "";
  CcProductNumber product = "";
  CcResult result = cc_get_revision_fn(&revision);
  if (result != kCcResultSuccess) {
    KvoLogError(kSender, "Get container revision failed. (%d)", static_cast<int>(result));
  }
  result = cc_get_product_fn(&product);
  if (result != kCcResultSuccess) {
    KvoLogError(kSender, "Get container product number failed. (%d)", static_cast<int>(result));
  }
  // The container's texts are not trusted to be terminated.
  revision[sizeof(revision) - 1] = '\0';
  product[sizeof(product) - 1] = '\0';
  KvoLogInfo(kSender, "Using Customization Container %s revision %s", product, revision);
  return true;
}

KvoResult CustomConvertCcResultToKvoResult(CcResult result) {
  switch (result) {
    case kCcResultSuccess:
      return kKvoResultSuccess;
    case kCcResultInvalidFileId:
      return kKvoResultCustomErrorInvalidFileId;
    case kCcResultFailure:
      break;
  }
  return kKvoResultGeneralErrorUnknown;
}

void CustomConvertCcAssignment(const CcAssignmentStructType* source,
                               CustomAssignmentStructType* destination) {
  destination->assignment_id = source->assignment_id;
  destination->zrb = source->zrb;
  destination->cid = source->cid;
  destination->revision = source->revision;
  destination->product_number = source->product_number;
  destination->assignment_type = static_cast<CustomAssignmentType>(source->assignment_type);
  destination->restart_required = source->restart_required;
  destination->file_name = source->file_name;
  destination->checksum = source->checksum;
  destination->data_start = source->data_start;
  destination->data_size = source->data_size;
  for (int i = 0; i < kCcAssignmentMetaDataCount; ++i) {
    destination->meta_data_list[i].id = source->meta_data_list[i].id;
    destination->meta_data_list[i].value = source->meta_data_list[i].value;
  }
}

KvoResult CustomGetAssignmentData(CustomAssignmentId assignment_id,
                                  CustomAssignmentStructType* assignment) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  if (assignment == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  CcAssignmentStructType found;
  memset(&found, 0, sizeof(found));
  CcResult result = cc_get_assignment_data_fn(assignment_id, &found);
  if (result != kCcResultSuccess) {
    KvoLogError(kSender, "cc_get_assignment_data_fn() failed. (%d)", static_cast<int>(result));
    return CustomConvertCcResultToKvoResult(result);
  }
  CustomConvertCcAssignment(&found, assignment);
  return kKvoResultSuccess;
}

KvoResult CustomGetConfiguration(const char* product_number, CcCid cid,
                                 CustomFeatureConfiguration* configuration) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  if (product_number == nullptr || configuration == nullptr) {
    return kKvoResultGeneralErrorInvalidParameter;
  }
  CcProductNumber product;
  CopyText(product, product_number, sizeof(product));
  CcFeatureConfiguration found;
  memset(&found, 0, sizeof(found));
  CcResult result = cc_get_configuration_fn(&found, &product, cid);
  if (result != kCcResultSuccess) {
    KvoLogError(kSender, "cc_get_configuration_fn() failed. (%d)", static_cast<int>(result));
    return CustomConvertCcResultToKvoResult(result);
  }
  static_assert(sizeof(CustomFeatureConfiguration) == sizeof(CcFeatureConfiguration),
                "feature configuration layouts differ");
  memcpy(configuration, &found, sizeof(found));
  return kKvoResultSuccess;
}

KvoResult CustomListAssignments(CustomAssignmentType type, CustomAssignmentStructType** list,
                                size_t* size) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  if (list == nullptr) {
    KvoLogError(kSender, "list argument is NULL, abort.");
    return kKvoResultGeneralErrorInvalidParameter;
  }
  *list = nullptr;
  if (size != nullptr) *size = 0;

  CcAssignmentStructType* all = nullptr;
  size_t count = 0;
  CcResult listed = cc_list_assignment_data_fn(&all, &count);
  if (listed != kCcResultSuccess) return CustomConvertCcResultToKvoResult(listed);
  if (count == 0 || all == nullptr) return kKvoResultCustomErrorNoFilesFoundForType;

  CustomAssignmentStructType* matching = nullptr;
  size_t found = 0;
  for (size_t i = 0; i < count; ++i) {
    if (static_cast<int>(all[i].assignment_type) != static_cast<int>(type)) continue;
    void* grown = realloc(matching, (found + 1) * sizeof(CustomAssignmentStructType));
    if (grown == nullptr) {
      free(matching);
      return kKvoResultGeneralErrorMemory;
    }
    matching = static_cast<CustomAssignmentStructType*>(grown);
    CustomConvertCcAssignment(&all[i], &matching[found]);
    ++found;
  }
  if (found == 0) return kKvoResultCustomErrorNoFilesFoundForType;
  *list = matching;
  if (size != nullptr) *size = found;
  KvoLogInfo(kSender, "Found %u matching type(s).", static_cast<unsigned int>(found));
  return kKvoResultSuccess;
}

KvoResult CustomReleaseListAssignments(CustomAssignmentStructType* list) {
  free(list);
  return kKvoResultSuccess;
}

KvoResult CustomCopyCommonAssignmentData(KvoCustomCommonAssignmentData* destination,
                                         const CustomAssignmentStructType* source) {
  destination->assignment_id = source->assignment_id;
  CopyText(destination->zrb, source->zrb, sizeof(destination->zrb));
  CopyText(destination->product_number, source->product_number,
           sizeof(destination->product_number));
  CopyText(destination->revision, source->revision, sizeof(destination->revision));
  CopyText(destination->file_name, source->file_name, sizeof(destination->file_name));
  destination->restart_required = source->restart_required;
  destination->checksum = source->checksum;
  return kKvoResultSuccess;
}

KvoResult KvoCustomGetContainerInfo(KvoProductNumber* product_number, KvoBaseline* baseline) {
  if (!CustomIsInitialized()) return kKvoResultCustomErrorContainerNotLoaded;
  if (product_number == nullptr || baseline == nullptr) {
    return kKvoResultGeneralErrorInvalidParameter;
  }
  CcProductNumber product = "";
  CcBaseline container_baseline = "";
  CcResult result = cc_get_container_info_fn(&product, &container_baseline);
  if (result != kCcResultSuccess) return CustomConvertCcResultToKvoResult(result);
  product[sizeof(product) - 1] = '\0';
  container_baseline[sizeof(container_baseline) - 1] = '\0';
  apr_cpystrn(*product_number, product, sizeof(*product_number));
  apr_cpystrn(*baseline, container_baseline, sizeof(*baseline));
  return kKvoResultSuccess;
}

KvoResult KvoCustomSimlocksGetList(KvoCustomSimLockData** list, size_t* size) {
  return ListAs(
      kCustomAssignmentTypeSimlock, list, size, "Failed to get simlock list. Error code: %x",
      "Memory allocation failed.",
      [](const CustomAssignmentStructType& assignment, KvoCustomSimLockData* record) {
        CopyText(record->description, MetaData(assignment, kCustomSimLockMetaDataDescription),
                 sizeof(record->description));
        CopyText(record->id, MetaData(assignment, kCustomSimLockMetaDataId), sizeof(record->id));
        record->type = static_cast<KvoCustomSimLockType>(
            apr_atoi64(MetaData(assignment, kCustomSimLockMetaDataLockType)));
      });
}

KvoResult KvoCustomSimlocksReleaseList(KvoCustomSimLockData* list) {
  free(list);
  return kKvoResultSuccess;
}

KvoResult KvoCustomCustomizationList(KvoCustomCustomizationData** list, size_t* size) {
  return ListAs(
      kCustomAssignmentTypeCustomizationFile, list, size,
      "Error when retrieving customization files from the container.", "Memory allocation failed.",
      [](const CustomAssignmentStructType& assignment, KvoCustomCustomizationData* record) {
        record->customization_id = static_cast<KvoCustomCustomizationId>(
            atoi(MetaData(assignment, kCustomGenericMetaDataId)));
      });
}

KvoResult KvoCustomCustomizationReleaseList(KvoCustomCustomizationData* list) {
  free(list);
  return kKvoResultSuccess;
}

KvoResult KvoCustomOperatorDomainGetList(KvoCustomOperatorDomainData** list, size_t* size) {
  return ListAs(kCustomAssignmentTypeOperatorDomain, list, size,
                "Failed to list operator domain assignments. Reason: %d",
                "Failed to allocate memory for operator domain list.",
                [](const CustomAssignmentStructType&, KvoCustomOperatorDomainData*) {});
}

KvoResult KvoCustomOperatorDomainReleaseList(KvoCustomOperatorDomainData* list) {
  free(list);
  return kKvoResultSuccess;
}

KvoResult KvoCustomPlatformParameterGetList(KvoCustomPlatformParameterData** list, size_t* size) {
  return ListAs(kCustomAssignmentTypePlatformParameter, list, size,
                "Failed to list platform parameter assignments. Reason: %d",
                "Failed to allocate memory for platform parameter list.",
                [](const CustomAssignmentStructType&, KvoCustomPlatformParameterData*) {});
}

KvoResult KvoCustomPlatformParameterReleaseList(KvoCustomPlatformParameterData* list) {
  free(list);
  return kKvoResultSuccess;
}

KvoResult KvoCustomSubDomainList(KvoCustomSubDomainData** list, size_t* size) {
  return ListAs(kCustomAssignmentTypeSubDomain, list, size,
                "Failed to list sub domain assignments. Reason: %d", "Memory allocation failed.",
                [](const CustomAssignmentStructType& assignment, KvoCustomSubDomainData* record) {
                  CopyText(record->name, MetaData(assignment, kCustomGenericMetaDataName),
                           sizeof(record->name));
                });
}

KvoResult KvoCustomSubDomainReleaseList(KvoCustomSubDomainData* list) {
  free(list);
  return kKvoResultSuccess;
}
