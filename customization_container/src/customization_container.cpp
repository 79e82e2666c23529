// A sample customization container: a fixed set of assignments of every type (SIM locks, operator
// domains, ITP switches for each platform, customization files, sub-domains, platform parameters)
// and the feature configurations of the simulated modules.
//
// The same source builds the test variants; the build selects them with:
//   CC_API_MAJOR, CC_API_MINOR     the interface version reported (default 3.0)
//   CC_WITHOUT_CONTAINER_INFO      leaves out the entry point "CcGetContainerInfo"
//   CC_LOCKS_ONLY                  holds only the SIM-lock and sub-domain assignments

#include "customization_container/include/customization_container.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#ifndef CC_API_MAJOR
#define CC_API_MAJOR 3
#endif
#ifndef CC_API_MINOR
#define CC_API_MINOR 0
#endif

#define CC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char kRevision[] = "R1A";
const char kProduct[] = "ZNT4029900/1";
// Unused in the variant without CcGetContainerInfo.
[[maybe_unused]] const char kBaseline[] = "CCB-2026-01";

// Text of one assignment, before it is laid out in the interface records.
struct AssignmentSource {
  CcAssignmentId id;
  CcAssignmentType type;
  const char* zrb;
  const char* cid;
  const char* file_name;
  bool restart_required;
  // Metadata values by position; null leaves the position empty.
  const char* meta[kCcAssignmentMetaDataCount];
};

// Container order. The SIM locks and sub-domains are interleaved with other types on purpose:
// lists by type must keep this order.
const AssignmentSource kSources[] = {
    {1001,
     kCcAssignmentTypeSimlock,
     "ZRB 207 4",
     "189",
     "simlock_network.bin",
     false,
     {"SoftLock", "190", "16", "Network lock TRV Vodacorp", "24001"}},
#ifndef CC_LOCKS_ONLY
    {2001,
     kCcAssignmentTypeITP,
     "ZRB 207 41",
     "189",
     "itp_brem.bin",
     true,
     {"ExtMode", "190", "ITP Brem", "1", "2", "1"}},
#endif
    {1002,
     kCcAssignmentTypeSimlock,
     "ZRB 207 4",
     "189",
     "simlock_corporate.bin",
     false,
     // A lock id of 20 characters: the library keeps 15.
     {"SoftLock", "190", "19", "Corporate lock TRV Fleet", "CORP-0123456789ABCDE"}},
    {3001,
     kCcAssignmentTypeSubDomain,
     "ZRB 207 4",
     "189",
     "subdomain_customization.bin",
     false,
     {"SubDomain", "190", "Customization", "3001", "2", "1", "1"}},
#ifndef CC_LOCKS_ONLY
    {2002,
     kCcAssignmentTypeITP,
     "ZRB 207 43",
     "189",
     "itp_calt.bin",
     true,
     {"ExtMode", "190", "ITP Calt", "2", "2", "1"}},
    {4001,
     kCcAssignmentTypeOperatorDomain,
     "ZRB 207 4",
     "189",
     "opdomain_vodacorp.bin",
     true,
     {"OperatorDomain", "190", "TRV_VODACORP", "4001", "2", "1"}},
#endif
    {1003,
     kCcAssignmentTypeSimlock,
     "ZRB 207 4",
     "189",
     "simlock_autolock.bin",
     false,
     {"AutoLock", "190", "20", "SIM lock (automatic)", "240019876543210"}},
#ifndef CC_LOCKS_ONLY
    {5001,
     kCcAssignmentTypeCustomizationFile,
     "ZRB 207 4",
     "189",
     "custom_42.bin",
     true,
     {"Customization", "190", "Factory defaults", "42", "2", "1"}},
    {2003,
     kCcAssignmentTypeITP,
     "ZRB 207 44",
     "189",
     "itp_dovin.bin",
     true,
     {"ExtMode", "190", "ITP Dovin", "3", "2", "1"}},
#endif
    {3002,
     kCcAssignmentTypeSubDomain,
     "ZRB 207 4",
     "189",
     "subdomain_user.bin",
     false,
     {"SubDomain", "190", "User", "3002", "2", "1", "3"}},
#ifndef CC_LOCKS_ONLY
    {6001,
     kCcAssignmentTypeSetPlatformParameter,
     "ZRB 207 4",
     "189",
     "platform_param_1.bin",
     false,
     {"PlatformParameter", "190", "Band selection", "6001", "2", "1"}},
    {4002,
     kCcAssignmentTypeOperatorDomain,
     "ZRB 207 4",
     "189",
     "opdomain_generic.bin",
     true,
     {"OperatorDomain", "190", "TRV_GENERIC", "4002", "2", "1"}},
    {5002,
     kCcAssignmentTypeCustomizationFile,
     "ZRB 207 4",
     "189",
     "custom_43.bin",
     false,
     {"Customization", "190", "Branding", "43", "2", "1"}},
    {2004,
     kCcAssignmentTypeITP,
     "ZRB 207 42",
     "177",
     "itp_brem_177.bin",
     false,
     {"ExtMode", "190", "ITP Brem 177", "4", "2", "1"}},
#endif
};

struct ConfigurationSource {
  const char* product_number;
  const char* cid;
  const char* tpid_range;
  const char* imei_range;
  bool allowed[10];
};

// What each simulated platform with CID 189 may receive; the Dovin row refuses SIM locks.
const ConfigurationSource kConfigurations[] = {
    {"ZRB 207 41",
     "189",
     "190",
     "353456789000000:353456789999999",
     {true, true, true, true, true, true, false, false, false, true}},
    {"ZRB 207 42",
     "177",
     "190",
     "353456789000000:353456789999999",
     {true, true, true, true, true, true, false, false, false, true}},
    {"ZRB 207 43",
     "189",
     "190",
     "353456789000000:353456789999999",
     {true, true, true, true, true, true, false, false, false, true}},
    {"ZRB 207 44",
     "189",
     "190",
     "353456789000000:353456789999999",
     {true, true, false, false, true, true, false, false, false, true}},
};

// What the module reports once it accepted the assignment, as "KEY=VALUE" lines.
std::string Settings(const AssignmentSource& source, const char* product_number) {
  const std::string product(product_number);
  switch (source.type) {
    case kCcAssignmentTypeSimlock: {
      static const char* const kLockFields[] = {"Network",   "Network Subset", "Service Provider",
                                                "Corporate", "SIMLock",        "Extended SIMLock"};
      const int lock = atoi(source.meta[kCcSimLockMetaDataLockType]) - 16;
      std::string lines =
          "report.SIMLock Description=" + std::string(source.meta[kCcSimLockMetaDataDescription]) +
          "\nreport.SIMLock Product=" + product + "\nreport.SIMLock Revision=" + kRevision + "\n";
      if (lock >= 0 && lock < 6)
        lines += std::string("report.Locked ") + kLockFields[lock] + "=2\n";
      if (strcmp(source.meta[kCcSimLockMetaDataCommandType], "AutoLock") == 0) {
        lines += "report.AutoLock activated=Yes\n";
      }
      return lines;
    }
    case kCcAssignmentTypeOperatorDomain:
      return "operator_domain=" + std::string(source.meta[kCcGenericMetaDataName]) +
             "\nnetwork_customization=" + source.meta[kCcGenericMetaDataName] + ";3\n";
    case kCcAssignmentTypeITP:
      return "itp=1\n";
    case kCcAssignmentTypeCustomizationFile:
      return "report.Cust. Product=" + product + "\nreport.Cust. Version=" + kRevision + "\n";
    case kCcAssignmentTypeSubDomain:
      return "domain=3." + std::string(source.meta[kCcGenericMetaDataSubDomain]) + "\n";
    case kCcAssignmentTypeSetPlatformParameter:
      break;
  }
  return std::string();
}

// Interface records and their storage, laid out once.
struct Container {
  // Deques: the records point into these, so elements must never move.
  std::deque<std::string> texts;
  std::deque<std::vector<unsigned char>> data;
  std::vector<CcAssignmentStructType> assignments;

  Container() {
    for (const AssignmentSource& source : kSources) {
      CcAssignmentStructType record;
      memset(&record, 0, sizeof(record));
      record.assignment_id = source.id;
      record.zrb = Text(source.zrb);
      record.cid = Text(source.cid);
      record.revision = Text(kRevision);
      record.product_number = Text(("ZNA" + std::to_string(source.id) + "/1").c_str());
      record.assignment_type = source.type;
      record.restart_required = source.restart_required;
      record.file_name = Text(source.file_name);
      // The service pre-header (two bytes the transparent channel fills with its request id,
      // the security mechanism, a request), the assignment's header line, the settings the
      // module applies when it accepts it, an empty line, then a counting pattern.
      const char* mechanism = source.type == kCcAssignmentTypeSimlock ? "0" : source.meta[5];
      std::string text = "TRVCC " + std::to_string(source.id) + " " +
                         std::to_string(static_cast<int>(source.type)) + "\n" +
                         Settings(source, record.product_number) + "\n";
      // Sized once and filled in place: an insert after a four-byte list trips a false
      // array-bounds warning in optimised builds.
      std::vector<unsigned char> bytes(4 + text.size());
      bytes[2] = static_cast<unsigned char>(atoi(mechanism ? mechanism : "0"));
      bytes[3] = 4;
      std::copy(text.begin(), text.end(), bytes.begin() + 4);
      for (unsigned int i = 0; i < 64 + source.id % 97; ++i) {
        bytes.push_back(static_cast<unsigned char>((i * 7 + source.id) & 0xff));
      }
      data.push_back(bytes);
      record.data_start = data.back().data();
      record.data_size = data.back().size();
      uint32_t checksum = 0;
      for (unsigned char byte : bytes) checksum = checksum * 31 + byte;
      record.checksum = checksum;
      for (int i = 0; i < kCcAssignmentMetaDataCount; ++i) {
        record.meta_data_list[i].id = static_cast<uint32_t>(i);
        record.meta_data_list[i].value = source.meta[i] != nullptr ? Text(source.meta[i]) : nullptr;
      }
      assignments.push_back(record);
    }
  }

  char* Text(const char* value) {
    texts.emplace_back(value);
    return &texts.back()[0];
  }
};

// Calls of CcGetAssignmentList, for tests that check when the library asks.
unsigned int list_calls = 0;

Container& TheContainer() {
  static Container container;
  return container;
}

void CopyOut(char* destination, const char* source) {
  strncpy(destination, source, 63);
  destination[63] = '\0';
}

}  // namespace

CC_EXPORT CcResult CcGetApiVersion(CcVersion* version) {
  if (version == nullptr) return kCcResultFailure;
  version->major = CC_API_MAJOR;
  version->minor = CC_API_MINOR;
  return kCcResultSuccess;
}

CC_EXPORT CcResult CcGetRevision(CcRevision* revision) {
  if (revision == nullptr) return kCcResultFailure;
  CopyOut(*revision, kRevision);
  return kCcResultSuccess;
}

CC_EXPORT CcResult CcGetProduct(CcProductNumber* product_number) {
  if (product_number == nullptr) return kCcResultFailure;
  CopyOut(*product_number, kProduct);
  return kCcResultSuccess;
}

CC_EXPORT CcResult CcGetAssignmentList(CcAssignmentStructType** list, size_t* size) {
  ++list_calls;
  if (list == nullptr || size == nullptr) return kCcResultFailure;
  Container& container = TheContainer();
  *list = container.assignments.data();
  *size = container.assignments.size();
  return kCcResultSuccess;
}

CC_EXPORT CcResult CcGetConfiguration(CcFeatureConfiguration* configuration,
                                      CcProductNumber* product_number, CcCid cid) {
  if (configuration == nullptr || product_number == nullptr) return kCcResultFailure;
  std::string module_product(*product_number, strnlen(*product_number, sizeof(*product_number)));
  for (const ConfigurationSource& source : kConfigurations) {
    if (module_product.find(source.product_number) == std::string::npos) continue;
    if (std::to_string(cid) != source.cid) continue;
    // The texts are constant; the interface hands them out as char* that the library only reads.
    configuration->quarn_device_product_number = const_cast<char*>(source.product_number);
    configuration->quarn_individualization_cid = const_cast<char*>(source.cid);
    configuration->quarn_individualization_tpid_range = const_cast<char*>(source.tpid_range);
    configuration->quarn_individualization_imei_range = const_cast<char*>(source.imei_range);
    bool* flags[] = {&configuration->set_ext_mode_allowed,
                     &configuration->set_operator_domain_allowed,
                     &configuration->set_sim_autolock_allowed,
                     &configuration->set_sim_softlock_allowed,
                     &configuration->set_module_customization_allowed,
                     &configuration->set_sub_domain_allowed,
                     &configuration->set_imei_allowed,
                     &configuration->set_tpid_allowed,
                     &configuration->set_sim_lock_keys_allowed,
                     &configuration->set_platform_parameter_allowed};
    for (int i = 0; i < 10; ++i) *flags[i] = source.allowed[i];
    return kCcResultSuccess;
  }
  return kCcResultFailure;
}

// Not part of the container interface: lets tests see how often the list was asked for.
CC_EXPORT unsigned int CcSampleListCallCount(void) {
  return list_calls;
}

#ifndef CC_WITHOUT_CONTAINER_INFO
CC_EXPORT CcResult CcGetContainerInfo(CcProductNumber* product_number, CcBaseline* baseline) {
  if (product_number == nullptr || baseline == nullptr) return kCcResultFailure;
  CopyOut(*product_number, kProduct);
  CopyOut(*baseline, kBaseline);
  return kCcResultSuccess;
}
#endif

CC_EXPORT CcResult CcGetAssignmentData(CcAssignmentId assignment_id,
                                       CcAssignmentStructType* assignment) {
  if (assignment == nullptr) return kCcResultFailure;
  for (const CcAssignmentStructType& record : TheContainer().assignments) {
    if (record.assignment_id == assignment_id) {
      *assignment = record;
      return kCcResultSuccess;
    }
  }
  return kCcResultInvalidFileId;
}
