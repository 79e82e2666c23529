#include "update_container/tests/support/container_library.h"

#include <cstdarg>
#include <cstdio>
#include <type_traits>

namespace uc_test {

ContainerLibrary::ContainerLibrary(const std::string& path) {
  apr_pool_create(&pool_, nullptr);
  if (apr_dso_load(&dso_, path.c_str(), pool_) != APR_SUCCESS) {
    char text[256];
    error_ = "cannot load " + path + ": " + apr_dso_error(dso_, text, sizeof text);
    dso_ = nullptr;
    return;
  }
  auto resolve = [this](auto* function, const char* name) {
    apr_dso_handle_sym_t symbol = nullptr;
    if (apr_dso_sym(&symbol, dso_, name) != APR_SUCCESS && error_.empty()) {
      error_ = std::string("missing export ") + name;
    }
    *function = reinterpret_cast<std::remove_pointer_t<decltype(function)>>(symbol);
  };
  resolve(&GetApiVersion, "UcGetApiVersion");
  resolve(&GetRevision, "UcGetRevision");
  resolve(&GetProduct, "UcGetProduct");
  resolve(&GetNextAction, "UcGetNextAction");
  resolve(&GetUpdateInformation, "UcGetUpdateInformation");
  resolve(&GetNetConfiguration, "UcGetNetConfiguration");
  resolve(&GetTotalSizeOfUpdate, "UcGetTotalSizeOfUpdate");
  resolve(&GetNextUpdateItem, "UcGetNextUpdateItem");
  resolve(&GetUpgradePaths, "UcGetUpgradePaths");
  resolve(&SetLogFunctionCallback, "UcSetLogFunctionCallback");
}

ContainerLibrary::~ContainerLibrary() {
  if (dso_ != nullptr) apr_dso_unload(dso_);
  apr_pool_destroy(pool_);
}

bool ContainerLibrary::Exports(const char* name) {
  apr_dso_handle_sym_t symbol = nullptr;
  return dso_ != nullptr && apr_dso_sym(&symbol, dso_, name) == APR_SUCCESS;
}

std::vector<LogLine>& Logged() {
  static std::vector<LogLine> lines;
  return lines;
}

void RecordLog(const char* sender, UcLogType type, const char* format, va_list arguments) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, arguments);
  Logged().push_back({sender, type, text});
}

std::string Report(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string text;
  for (const auto& [name, value] : fields) {
    text += name + std::string(name.size() < 25 ? 25 - name.size() : 0, '.') + " " + value + "\r\n";
  }
  return text;
}

std::string ModuleReport(const std::string& upgrade_state, const std::string& revision) {
  return Report({{"Model", "Tarvik Module TM-21"},
                 {"Product Number", "ZRB 207 45/1"},
                 {"FS Product Number", "ZRB 207 48/1"},
                 {"Config. Set Product", "ZNT 402 8813/1"},
                 {"Config. Set Revision", revision},
                 {"Network Customization", "Vendor One;24201"},
                 {"Individualization", "189.190"},
                 {"Upgrade State", upgrade_state}});
}

}  // namespace uc_test
