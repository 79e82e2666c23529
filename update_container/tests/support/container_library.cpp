#include "update_container/tests/support/container_library.h"

#include <cstdarg>
#include <cstdio>

namespace uc_test {

namespace {

template <typename Function>
bool Resolve(apr_dso_handle_t* dso, const char* name, Function* out, std::string* error) {
  apr_dso_handle_sym_t symbol = nullptr;
  if (apr_dso_sym(&symbol, dso, name) != APR_SUCCESS) {
    *error = std::string("missing export ") + name;
    return false;
  }
  *out = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

ContainerLibrary::ContainerLibrary(const std::string& path) {
  apr_pool_create(&pool_, nullptr);
  if (apr_dso_load(&dso_, path.c_str(), pool_) != APR_SUCCESS) {
    char text[256];
    error_ = "cannot load " + path + ": " + apr_dso_error(dso_, text, sizeof text);
    dso_ = nullptr;
    return;
  }
  ok_ = Resolve(dso_, "UcGetApiVersion", &GetApiVersion, &error_) &&
        Resolve(dso_, "UcGetRevision", &GetRevision, &error_) &&
        Resolve(dso_, "UcGetProduct", &GetProduct, &error_) &&
        Resolve(dso_, "UcGetNextAction", &GetNextAction, &error_) &&
        Resolve(dso_, "UcGetUpdateInformation", &GetUpdateInformation, &error_) &&
        Resolve(dso_, "UcGetNetConfiguration", &GetNetConfiguration, &error_) &&
        Resolve(dso_, "UcGetTotalSizeOfUpdate", &GetTotalSizeOfUpdate, &error_) &&
        Resolve(dso_, "UcGetNextUpdateItem", &GetNextUpdateItem, &error_) &&
        Resolve(dso_, "UcGetUpgradePaths", &GetUpgradePaths, &error_) &&
        Resolve(dso_, "UcSetLogFunctionCallback", &SetLogFunctionCallback, &error_);
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

void ClearLog() {
  Logged().clear();
}

void RecordLog(const char* sender, UcLogType type, const char* format, va_list arguments) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, arguments);
  Logged().push_back({sender, type, text});
}

std::string ReportLine(const std::string& name, const std::string& value) {
  std::string label = name;
  if (label.size() < 25) label.append(25 - label.size(), '.');
  return label + " " + value + "\r\n";
}

std::string Report(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string text;
  for (const auto& field : fields) text += ReportLine(field.first, field.second);
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
