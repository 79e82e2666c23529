#ifndef UPDATE_CONTAINER_TESTS_SUPPORT_CONTAINER_LIBRARY_H_
#define UPDATE_CONTAINER_TESTS_SUPPORT_CONTAINER_LIBRARY_H_

// A built update container loaded with apr_dso_load and driven through its ten exports, as the
// update engine does. The package list lives as long as the library stays loaded: the last
// instance to go unloads it.

#include <apr_dso.h>
#include <apr_pools.h>

#include <string>
#include <utility>
#include <vector>

#include "update_container/include/update_container.h"

namespace uc_test {

class ContainerLibrary {
 public:
  explicit ContainerLibrary(const std::string& path);
  ~ContainerLibrary();
  ContainerLibrary(const ContainerLibrary&) = delete;
  ContainerLibrary& operator=(const ContainerLibrary&) = delete;

  // True when the library loaded and all ten exports resolved; error() says why not.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // True when `name` resolves in the library.
  bool Exports(const char* name);

  UcGetApiVersionFunction GetApiVersion = nullptr;
  UcGetRevisionFunction GetRevision = nullptr;
  UcGetProductFunction GetProduct = nullptr;
  UcGetNextActionFunction GetNextAction = nullptr;
  UcGetUpdateInformationFunction GetUpdateInformation = nullptr;
  UcGetNetConfigurationFunction GetNetConfiguration = nullptr;
  UcGetTotalSizeOfUpdateFunction GetTotalSizeOfUpdate = nullptr;
  UcGetNextUpdateItemFunction GetNextUpdateItem = nullptr;
  UcGetUpgradePathsFunction GetUpgradePaths = nullptr;
  UcSetLogFunctionCallbackFunction SetLogFunctionCallback = nullptr;

 private:
  apr_pool_t* pool_ = nullptr;
  apr_dso_handle_t* dso_ = nullptr;
  std::string error_;
};

// The container's log lines, recorded by RecordLog.
struct LogLine {
  std::string sender;
  UcLogType type;
  std::string text;
};
void RecordLog(const char* sender, UcLogType type, const char* format, va_list arguments);
std::vector<LogLine>& Logged();
inline void ClearLog() {
  Logged().clear();
}

// An information report in the module's layout: each name padded with dots to 25 characters, a
// blank, the value, CR LF.
std::string Report(const std::vector<std::pair<std::string, std::string>>& fields);
// The report of a supported module with a valid individualization.
std::string ModuleReport(const std::string& upgrade_state, const std::string& revision);

}  // namespace uc_test

#endif  // UPDATE_CONTAINER_TESTS_SUPPORT_CONTAINER_LIBRARY_H_
