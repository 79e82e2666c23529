// The carried update container's readers of the module's report, loaded as the update engine
// loads it: next action, update information, total size of the requested packages and the net
// configuration, each against any report text.
//
// Input: byte 0 picks the trigger and the install flag, the rest is the report.

#include <dlfcn.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <type_traits>

#include "testing/fuzz.h"
#include "testing/paths.h"
#include "update_container/include/update_container.h"

namespace {

using tarvik_fuzz::Check;
using tarvik_fuzz::CheckTerminated;

UcGetNextActionFunction next_action;
UcGetUpdateInformationFunction update_information;
UcGetTotalSizeOfUpdateFunction total_size;
UcGetNetConfigurationFunction net_configuration;
UcGetNextUpdateItemFunction next_item;

// The container's log lines are formatted as the engine's bridge does, so that a format that does
// not match its arguments shows.
void Log(const char*, UcLogType, const char* format, va_list arguments) {
  char line[512];
  vsnprintf(line, sizeof line, format, arguments);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  void* library = dlopen(tarvik_test::kCarriedContainer, RTLD_NOW | RTLD_LOCAL);
  Check(library != nullptr, "the container loads");
  auto resolve = [library](auto* function, const char* name) {
    *function = reinterpret_cast<std::remove_pointer_t<decltype(function)>>(dlsym(library, name));
    Check(*function != nullptr, name);
  };
  UcSetLogFunctionCallbackFunction set_log = nullptr;
  resolve(&next_action, "UcGetNextAction");
  resolve(&update_information, "UcGetUpdateInformation");
  resolve(&total_size, "UcGetTotalSizeOfUpdate");
  resolve(&net_configuration, "UcGetNetConfiguration");
  resolve(&next_item, "UcGetNextUpdateItem");
  resolve(&set_log, "UcSetLogFunctionCallback");
  set_log(Log);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const UcTriggerType trigger = static_cast<UcTriggerType>(input[0] % 5);
  const UcInstallFlagType install_flag = static_cast<UcInstallFlagType>((input[0] / 5) % 4);
  const std::string report(reinterpret_cast<const char*>(input + 1), size - 1);
  const char* eevinfo = report.c_str();

  const UcActionType action =
      next_action(eevinfo, trigger, install_flag, kUcNetConfigurationAvailable);
  Check(action >= kUcActionNone && action <= kUcActionInvalidConfiguration, "a known action");

  // Buffers as the engine hands them over: marked, so that a missing terminator shows.
  char module_name[UC_MODULE_NAME_SIZE];
  char current[UC_CONFIGURATION_SIZE];
  char target[UC_CONFIGURATION_SIZE];
  char operator_domain[UC_OPERATOR_DOMAIN_SIZE];
  char hplmn[UC_HPLMN_SIZE];
  char user_interaction[UC_USER_INTERACTION_SIZE + 1];
  memset(module_name, 'x', sizeof module_name);
  memset(current, 'x', sizeof current);
  memset(target, 'x', sizeof target);
  memset(operator_domain, 'x', sizeof operator_domain);
  memset(hplmn, 'x', sizeof hplmn);
  memset(user_interaction, 0, sizeof user_interaction);
  const UcUpdateInformationType information = update_information(
      eevinfo, module_name, current, target, operator_domain, hplmn, user_interaction);
  Check(
      information >= kUcNetConfigurationAvailable && information <= kUcNetConfigurationNotAvailable,
      "a known update information");
  // Every text is filled, whatever the path result.
  CheckTerminated(module_name, "module name terminated");
  CheckTerminated(current, "current revision terminated");
  CheckTerminated(target, "target revision terminated");
  CheckTerminated(operator_domain, "operator domain terminated");
  CheckTerminated(hplmn, "home network terminated");
  // The interaction word has no terminator but must stay inside its 7 bytes.
  Check(user_interaction[UC_USER_INTERACTION_SIZE] == '\0', "interaction word inside its buffer");

  size_t total = 12345;
  const UcStatus total_status = total_size(eevinfo, &total);
  if (total_status == kUcUpdateSuccess) Check(total > 0, "requested packages have a size");
  if (total_status == kUcUpdateNoFilesFoundInEeevinfo) Check(total == 0, "no packages, no size");
  // Packages handed out are readable to their last byte.
  unsigned char* package = nullptr;
  size_t package_size = 0;
  while (next_item(&package, &package_size) == kUcUpdateSuccess) {
    Check(package != nullptr || package_size == 0, "a package has bytes");
    if (package_size > 0) {
      volatile unsigned char last = package[package_size - 1];
      (void)last;
    }
  }

  unsigned char* configuration = nullptr;
  size_t configuration_size = 0;
  if (net_configuration(eevinfo, &configuration, &configuration_size) == kUcUpdateSuccess) {
    Check(configuration != nullptr && configuration_size > 0, "a net configuration has bytes");
    volatile unsigned char last = configuration[configuration_size - 1];
    (void)last;
  }
  return 0;
}
