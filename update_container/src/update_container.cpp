// The update container's logic. It never talks to the module: every decision is taken from the
// text of the module's "AT*EEVINFO=4" answer that the host passes in, and every answer points
// into the constant tables of this build (tables.h).
#include "update_container/include/update_container.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "update_container/src/tables.h"

namespace {

// Longest pattern of the update matrix that is compared.
constexpr size_t kMaxPatternLength = 49;
constexpr size_t kRevisionSize = 64;
constexpr size_t kPackageNameSize = 64;
constexpr unsigned long kHighestUpgradeState = 13;

// Package list of the current update run; only a fresh load of the library empties it.
size_t assignment_list[UC_MAX_ASSIGNMENTS];
size_t num_of_items = 0;
size_t returned_item = 0;
UcLogFunctionCallback* logger_function = nullptr;

__attribute__((format(printf, 2, 3))) void UcLog(UcLogType type, const char* format, ...) {
  if (logger_function == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  logger_function("UC", type, format, arguments);
  va_end(arguments);
}

// Bounded copy that always terminates a non-empty target.
void CopyText(char* target, size_t target_size, const char* source, size_t source_length) {
  if (target_size == 0) return;
  const size_t n = source_length < target_size - 1 ? source_length : target_size - 1;
  std::memcpy(target, source, n);
  target[n] = '\0';
}

void CopyText(char* target, size_t target_size, const char* source) {
  CopyText(target, target_size, source, std::strlen(source));
}

// Reads the value of a report line "<name>....... <value>". The ". " that ends the dot padding
// is looked for after the name, because some names ("Config. Set Product") contain ". ".
UcStatus UcParseInfoElementString(const char* source, const char* search_string,
                                  char* target_string, size_t target_max_size) {
  if (target_string == nullptr || target_max_size == 0) return kUcUpdateError;
  target_string[0] = '\0';
  if (source == nullptr || search_string == nullptr) return kUcUpdateError;
  const char* name = std::strstr(source, search_string);
  if (name == nullptr) return kUcUpdateError;
  const char* padding_end = std::strstr(name + std::strlen(search_string), ". ");
  if (padding_end == nullptr) return kUcUpdateError;
  const char* value = padding_end + 2;
  CopyText(target_string, target_max_size, value, std::strcspn(value, "\r\n"));
  return kUcUpdateSuccess;
}

// The pattern of a row: the text before its first '*', at most kMaxPatternLength characters.
void RowPattern(const char* current_rstate, char (&pattern)[kMaxPatternLength + 1]) {
  CopyText(pattern, sizeof pattern, current_rstate, std::strcspn(current_rstate, "*"));
}

// Path lookup: the first row whose target is the module's revision, or whose pattern the
// revision starts with, decides. target_rstate receives the row's target (kRevisionSize bytes).
UcUpdateInformationType UcGetUpgradeInformation(const char* current_rstate, char* target_rstate) {
  for (size_t row = 0; row < kUcUpdateMatrixSize; ++row) {
    const UcUpdate& path = kUcUpdateMatrix[row];
    UcLog(kUcLogTypeDebug, "Comparing path, Current: %s, Target: %s with Device: %s.",
          path.current_rstate, path.target_rstate, current_rstate);
    if (std::strcmp(current_rstate, path.target_rstate) == 0) {
      CopyText(target_rstate, kRevisionSize, path.target_rstate);
      return kUcNetConfigurationAlreadyOnTarget;
    }
    char pattern[kMaxPatternLength + 1];
    RowPattern(path.current_rstate, pattern);
    if (std::strncmp(current_rstate, pattern, std::strlen(pattern)) == 0 ||
        std::strcmp(pattern, "ALL") == 0) {
      CopyText(target_rstate, kRevisionSize, path.target_rstate);
      return kUcNetConfigurationAvailable;
    }
  }
  return kUcNetConfigurationNotAvailable;
}

// A decimal number of digits only (blanks around it allowed). Longer than 9 digits is refused so
// that the value always fits.
bool ParseNumber(const char* begin, const char* end, unsigned long* value) {
  while (begin < end && *begin == ' ') ++begin;
  while (end > begin && end[-1] == ' ') --end;
  if (begin == end || end - begin > 9) return false;
  unsigned long result = 0;
  for (const char* p = begin; p < end; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    result = result * 10 + static_cast<unsigned long>(*p - '0');
  }
  *value = result;
  return true;
}

// True when value equals an entry or lies in an entry's inclusive range.
bool IsInList(const char* value, const char* const* list) {
  unsigned long number = 0;
  if (!ParseNumber(value, value + std::strlen(value), &number)) return false;
  for (const char* const* entry = list; **entry != '\0'; ++entry) {
    const char* text = *entry;
    const char* end = text + std::strlen(text);
    const char* hyphen = std::strchr(text, '-');
    unsigned long low = 0;
    unsigned long high = 0;
    if (hyphen == nullptr) {
      if (!ParseNumber(text, end, &low)) continue;
      high = low;
    } else if (!ParseNumber(text, hyphen, &low) || !ParseNumber(hyphen + 1, end, &high)) {
      continue;
    }
    if (number >= low && number <= high) return true;
  }
  return false;
}

// "Individualization" is "<CID>.<TPID>"; both parts must be present and listed.
bool UcIsCidTpidValid(const char* individualization) {
  const char* point = std::strchr(individualization, '.');
  if (point == nullptr) return false;
  char cid[32];
  CopyText(cid, sizeof cid, individualization, static_cast<size_t>(point - individualization));
  return IsInList(cid, kUcCidList) && IsInList(point + 1, kUcTpidList);
}

bool IsSupportedPlatform(const char* product_number) {
  for (const char* const* platform = kUcSupportedPlatforms; *platform != nullptr; ++platform) {
    if (std::strstr(product_number, *platform) != nullptr) return true;
  }
  return false;
}

UcInstallFlagType UcGetUserInteractionFlag(UcInstallFlagType install_flag) {
  return install_flag == kUcUserInteractionSilent ? kUcUserInteractionSilent
                                                  : kUcUserInteractionNotified;
}

// Decision for a module in upgrade state `state` (0 to 13).
UcActionType DecideAction(unsigned long state, UcTriggerType trigger, UcUpdateInformationType path,
                          bool silent) {
  const auto pick = [silent](UcActionType notified, UcActionType quiet) {
    return silent ? quiet : notified;
  };
  const bool first_use = trigger == kUcTriggerInitial || trigger == kUcTriggerNewContainer;
  switch (state) {
    case 0:
    case 1:
    case 2:
      if (first_use) {
        if (path == kUcNetConfigurationAvailable) {
          return pick(kUcActionDoUpgradeNotif, kUcActionConfigsetCloseGUI);
        }
        if (path == kUcNetConfigurationNotAvailable) {
          return state == 1 ? kUcActionNoUpgradeNeeded
                            : pick(kUcActionWithProgressInfo, kUcActionWithoutProgressInfo);
        }
        return kUcActionNone;
      }
      if (trigger == kUcTriggerUserConfirmUpgrade) {
        return path == kUcNetConfigurationAvailable || path == kUcNetConfigurationNotAvailable
                   ? kUcActionConfigSet
                   : kUcActionNone;
      }
      if (trigger == kUcTriggerModuleStatusChanged) {
        if (path == kUcNetConfigurationAlreadyOnTarget || path == kUcNetConfigurationNotAvailable) {
          return state == 1 ? pick(kUcActionUpgradeReadyReporting, kUcActionDeleteContainer)
                            : pick(kUcActionWithProgressInfo, kUcActionWithoutProgressInfo);
        }
        return kUcActionNone;
      }
      if (trigger == kUcTriggerUserConfirmActivation) return kUcActionActivationConfirm;
      return kUcActionNone;
    case 4:
      return trigger == kUcTriggerModuleStatusChanged
                 ? pick(kUcActionActivationNotif, kUcActionModuleActivation)
                 : kUcActionModuleActivation;
    case 5:
      if (trigger == kUcTriggerModuleStatusChanged) {
        return pick(kUcActionActivationNotif, kUcActionDeleteContainer);
      }
      return trigger == kUcTriggerUserConfirmActivation ? kUcActionModuleActivation : kUcActionNone;
    case 11:
      return pick(kUcActionWithProgressInfo, kUcActionWithoutProgressInfo);
    case 12:
      if (trigger == kUcTriggerInitial || trigger == kUcTriggerModuleStatusChanged) {
        return kUcActionActivationConfirm;
      }
      return trigger == kUcTriggerUserConfirmActivation ? kUcActionModuleActivation : kUcActionNone;
    case 13:
      if (trigger == kUcTriggerInitial || trigger == kUcTriggerModuleStatusChanged) {
        return kUcActionActivationNotif;
      }
      return trigger == kUcTriggerUserConfirmActivation ? kUcActionModuleActivation : kUcActionNone;
    default:  // 3, 6 to 10: the module is busy; nothing for the host to do.
      return kUcActionNone;
  }
}

// "<first> <second>", cut to the target's size.
void JoinWithBlank(char* target, size_t target_size, const char* first, const char* second) {
  CopyText(target, target_size, first);
  size_t used = std::strlen(target);
  if (used + 1 < target_size) {
    target[used++] = ' ';
    CopyText(target + used, target_size - used, second);
  }
}

// Copies `text` without white space.
void CopyWithoutWhiteSpace(char* target, size_t target_size, const char* text) {
  size_t n = 0;
  for (const char* p = text; *p != '\0' && n + 1 < target_size; ++p) {
    if (!std::isspace(static_cast<unsigned char>(*p))) target[n++] = *p;
  }
  target[n] = '\0';
}

}  // namespace

extern "C" {

UC_API UcStatus UcGetApiVersion(UcVersion* version) {
  if (version == nullptr) return kUcUpdateError;
  *version = kUcInterfaceVersion;
  return kUcUpdateSuccess;
}

UC_API UcStatus UcGetRevision(UcRevision* revision) {
  if (revision == nullptr) return kUcUpdateError;
  CopyText(*revision, sizeof *revision, kUcContainerRevision);
  return kUcUpdateSuccess;
}

UC_API UcStatus UcGetProduct(UcProductNumber* product_number) {
  if (product_number == nullptr) return kUcUpdateError;
  CopyText(*product_number, sizeof *product_number, kUcContainerProduct);
  return kUcUpdateSuccess;
}

UC_API UcActionType UcGetNextAction(const char* eevinfo, UcTriggerType trigger,
                                    UcInstallFlagType install_flag,
                                    UcUpdateInformationType /*update_information*/) {
  // Missing fields read as empty values.
  char upgrade_state[8];
  char individualization[32];
  char configuration_product[32];
  char configuration_revision[32];
  char product_number[32];
  UcParseInfoElementString(eevinfo, "Upgrade State", upgrade_state, sizeof upgrade_state);
  UcParseInfoElementString(eevinfo, "Individualization", individualization,
                           sizeof individualization);
  UcParseInfoElementString(eevinfo, "Config. Set Product", configuration_product,
                           sizeof configuration_product);
  UcParseInfoElementString(eevinfo, "Config. Set Revision", configuration_revision,
                           sizeof configuration_revision);
  UcParseInfoElementString(eevinfo, "Product Number", product_number, sizeof product_number);

  if (!IsSupportedPlatform(product_number)) {
    UcLog(kUcLogTypeError, "UC - Module platform not supported.");
    return kUcActionInvalidPackage;
  }
  if (!UcIsCidTpidValid(individualization)) return kUcActionInvalidConfiguration;

  char target[kRevisionSize];
  const UcUpdateInformationType path = UcGetUpgradeInformation(configuration_revision, target);
  if (path == kUcNetConfigurationAlreadyOnTarget && std::strcmp(upgrade_state, "1") == 0) {
    return kUcActionNoUpgradeNeeded;
  }
  const bool silent = UcGetUserInteractionFlag(install_flag) == kUcUserInteractionSilent;

  // An empty state is 0; a state that is not a number is not one the rules know.
  unsigned long state = 0;
  if (upgrade_state[0] != '\0' &&
      !ParseNumber(upgrade_state, upgrade_state + std::strlen(upgrade_state), &state)) {
    return kUcActionNone;
  }
  if (state > kHighestUpgradeState) return kUcActionNone;
  return DecideAction(state, trigger, path, silent);
}

UC_API UcUpdateInformationType UcGetUpdateInformation(const char* eevinfo, char* module_name,
                                                      char* current, char* target,
                                                      char* operator_domain, char* hplmn,
                                                      char* user_interaction) {
  if (module_name == nullptr || current == nullptr || target == nullptr ||
      operator_domain == nullptr || hplmn == nullptr || user_interaction == nullptr) {
    return kUcNetConfigurationInvalid;
  }
  char model[64];
  char configuration_product[64];
  char configuration_revision[64];
  UcParseInfoElementString(eevinfo, "Model", model, sizeof model);
  UcParseInfoElementString(eevinfo, "Config. Set Product", configuration_product,
                           sizeof configuration_product);
  UcParseInfoElementString(eevinfo, "Config. Set Revision", configuration_revision,
                           sizeof configuration_revision);
  UcParseInfoElementString(eevinfo, "Network Customization", operator_domain,
                           UC_OPERATOR_DOMAIN_SIZE);

  CopyText(module_name, UC_MODULE_NAME_SIZE, model);

  char product[64];
  CopyWithoutWhiteSpace(product, sizeof product, configuration_product);
  JoinWithBlank(current, UC_CONFIGURATION_SIZE, product, configuration_revision);

  // "<operator domain>;<home network>": the home network keeps its first four characters.
  hplmn[0] = '\0';
  if (char* separator = std::strchr(operator_domain, ';')) {
    CopyText(hplmn, UC_HPLMN_SIZE, separator + 1);
    *separator = '\0';
  }

  // The caller's buffer is zero-filled; the word goes in without a terminator.
  const size_t interaction_length = std::strlen(kUcUserInteraction);
  std::memcpy(user_interaction, kUcUserInteraction,
              interaction_length < UC_USER_INTERACTION_SIZE ? interaction_length
                                                            : UC_USER_INTERACTION_SIZE);

  target[0] = '\0';
  char target_rstate[kRevisionSize];
  const UcUpdateInformationType path =
      UcGetUpgradeInformation(configuration_revision, target_rstate);
  if (path == kUcNetConfigurationAvailable || path == kUcNetConfigurationAlreadyOnTarget) {
    JoinWithBlank(target, UC_CONFIGURATION_SIZE, kUcConfigurationSetProduct, target_rstate);
  }
  return path;
}

UC_API UcStatus UcGetNetConfiguration(const char* eevinfo, unsigned char** data, size_t* size) {
  if (data == nullptr || size == nullptr) return kUcUpdateError;
  *data = nullptr;
  *size = 0;
  char configuration_revision[32];
  UcParseInfoElementString(eevinfo, "Config. Set Revision", configuration_revision,
                           sizeof configuration_revision);
  char target[kRevisionSize];
  if (UcGetUpgradeInformation(configuration_revision, target) == kUcNetConfigurationNotAvailable) {
    return kUcUpdateError;
  }
  for (size_t row = 0; row < kUcAssignmentMatrixSize; ++row) {
    const UcAssignment& item = kUcAssignmentMatrix[row];
    if (std::strcmp(item.name, target) == 0 && std::strcmp(item.type, "NET_CONFIG") == 0) {
      // The interface hands out a plain pointer; the bytes stay read-only.
      *data = const_cast<unsigned char*>(item.binary_start);
      *size = item.length;
      return kUcUpdateSuccess;
    }
  }
  return kUcUpdateError;
}

UC_API UcStatus UcGetTotalSizeOfUpdate(const char* eevinfo_input, size_t* total_size) {
  if (eevinfo_input == nullptr || total_size == nullptr) return kUcUpdateError;
  size_t total = 0;
  // Requests are lines "# <name>" right after a line feed.
  const char* const end = eevinfo_input + std::strlen(eevinfo_input);
  const char* cursor = eevinfo_input;
  for (;;) {
    const char* request = std::strstr(cursor, "\n#");
    if (request == nullptr || end - request < 4) break;
    const char* name_start = request + 3;
    const size_t name_length = std::strcspn(name_start, "\r\n");
    if (name_length == 0) break;
    char name[kPackageNameSize];
    CopyText(name, sizeof name, name_start, name_length);
    cursor = name_start + name_length;

    size_t row = 0;
    while (row < kUcAssignmentMatrixSize && std::strcmp(kUcAssignmentMatrix[row].name, name) != 0) {
      ++row;
    }
    if (row == kUcAssignmentMatrixSize) {
      *total_size = total;
      return kUcUpdateErrorMissingFile;
    }
    if (kUcAssignmentMatrix[row].length == 0) continue;
    // The list has a fixed size; a request beyond it fails the whole query rather than
    // silently dropping a package that the module waits for.
    if (num_of_items == UC_MAX_ASSIGNMENTS) {
      UcLog(kUcLogTypeError, "Too many update items requested, the container holds at most %d.",
            UC_MAX_ASSIGNMENTS);
      *total_size = total;
      return kUcUpdateError;
    }
    assignment_list[num_of_items++] = row;
    total += kUcAssignmentMatrix[row].length;
  }
  *total_size = total;
  return total > 0 ? kUcUpdateSuccess : kUcUpdateNoFilesFoundInEeevinfo;
}

UC_API UcStatus UcGetNextUpdateItem(unsigned char** data, size_t* size) {
  if (data == nullptr || size == nullptr) return kUcUpdateError;
  if (returned_item >= num_of_items) {
    *data = nullptr;
    *size = 0;
    return kUcUpdateDone;
  }
  const UcAssignment& item = kUcAssignmentMatrix[assignment_list[returned_item++]];
  *data = const_cast<unsigned char*>(item.binary_start);
  *size = item.length;
  return kUcUpdateSuccess;
}

UC_API void UcGetUpgradePaths(UcPathStructType** list, size_t* size) {
  UcLog(kUcLogTypeInfo, "Number of upgrade paths in container: %d",
        static_cast<int>(kUcUpdateMatrixSize));
  if (list != nullptr) *list = const_cast<UcPathStructType*>(kUcUpdateMatrix);
  if (size != nullptr) *size = kUcUpdateMatrixSize;
}

UC_API void UcSetLogFunctionCallback(UcLogFunctionCallback* callback) {
  logger_function = callback;
}

}  // extern "C"
