#ifndef UPDATE_CONTAINER_TESTS_SUPPORT_CONTAINER_LIBRARY_H_
#define UPDATE_CONTAINER_TESTS_SUPPORT_CONTAINER_LIBRARY_H_

// Test access to a built update container: loaded with apr_dso_load and driven through its ten
// exports, as the update engine does. Each instance loads the library afresh (the package list
// lives as long as the library is loaded) and unloads it at the end.

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
  bool ok() const { return ok_; }
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
  bool ok_ = false;
  std::string error_;
};

// A captured log line of the container.
struct LogLine {
  std::string sender;
  UcLogType type;
  std::string text;
};

// Log sink that records every line into Logged(); ClearLog() empties it.
void RecordLog(const char* sender, UcLogType type, const char* format, va_list arguments);
std::vector<LogLine>& Logged();
void ClearLog();

// An information report in the module's layout: every label is the name padded with dots to 25
// characters and one blank; lines end in CR LF.
std::string ReportLine(const std::string& name, const std::string& value);
std::string Report(const std::vector<std::pair<std::string, std::string>>& fields);

// A report of a supported module with a valid individualization in the given upgrade state and
// configuration-set revision.
std::string ModuleReport(const std::string& upgrade_state, const std::string& revision);

}  // namespace uc_test

#endif  // UPDATE_CONTAINER_TESTS_SUPPORT_CONTAINER_LIBRARY_H_
