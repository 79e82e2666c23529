// Information queries: the getters over the information report stored at identification, the live
// queries, and every parser of the module's answers.

#include "kvo/src/device/information.h"

#include <apr_strings.h>
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/src/common_functions.h"
#include "common/src/wait_seam.h"
#include "kvo/src/device/device_at.h"

namespace {

const char kSender[] = "KVO:Device";

// Every label of the report is the field name padded with dots to 25 characters and a blank.
constexpr size_t kLabelLength = 26;

struct EevinfoRow {
  const char* name;
  const char* key;
};

const EevinfoRow kEevinfoMap[] = {
    {"Model", "MODEL"},
    {"IMEI Data", "IMEI"},
    {"SVN", "SVN"},
    {"Serial Number", "SERIAL_NUMBER"},
    {"Product Number", "PRODUCT_NUMBER"},
    {"Revision", "PRODUCT_REVISION"},
    {"FW Product", "FIRMWARE_PRODUCT"},
    {"FW Version", "FIRMWARE_VERSION"},
    {"FW Build Date/Time", "FIRMWARE_BUILD_DATE"},
    {"Cust. Product", "CUSTOMIZATION_PRODUCT"},
    {"Cust. Version", "CUSTOMIZATION_VERSION"},
    {"Network List Product", "NETWORK_LIST_PRODUCT"},
    {"Network List Revision", "NETWORK_LIST_REVISION"},
    {"FS Product Number", "FILESYSTEM_PRODUCT_NUMBER"},
    {"FS Version", "FILESYSTEM_VERSION"},
    {"Network Cust. Product", "NETWORK_CUSTOMIZATION_PRODUCT"},
    {"Network Cust. Version", "NETWORK_CUSTOMIZATION_VERSION"},
    {"Current Network Setting", "CURRENT_NETWORK_SETTING"},
    {"Customization Descr", "CUSTOMIZATION_DESCRIPTION"},
    {"Format", "FORMAT"},
    {"Base Product Number", "BASE_PRODUCT_NUMBER"},
    {"Base Product Revision", "BASE_PRODUCT_REVISION"},
    {"SIMLock Deployment", "SIMLOCK_DEPLOYMENT"},
    {"SIMLock Description", "SIMLOCK_DESCRIPTION"},
    {"SIMLock Product", "SIMLOCK_PRODUCT"},
    {"SIMLock Revision", "SIMLOCK_REVISION"},
    {"SIM approved", "SIM_APPROVED"},
    {"Locked Network", "LOCKED_NETWORK"},
    {"Locked Network Subset", "LOCKED_NETWORK_SUBSET"},
    {"Locked Service Provider", "LOCKED_SERVICE_PROVIDER"},
    {"Locked Corporate", "LOCKED_CORPORATE"},
    {"Locked SIMLock", "LOCKED_SIMLOCK"},
    {"Locked Extended SIMLock", "LOCKED_EXTENDED_SIMLOCK"},
    {"AutoLock activated", "AUTOLOCK_ACTIVATED"},
    {"Model Description", "MODEL_DESCRIPTION"},
    {"Vendor Name", "VENDOR_NAME"},
    {"Config. Set Product", "CONFIGURATION_SET_PRODUCT"},
    {"Config. Set Revision", "CONFIGURATION_SET_REVISION"},
    {"Network Customization", "NETWORK_CUSTOMIZATION"},
    {"Customization State", "CUSTOMIZATION_STATE"},
    {"Configuration Product", "CONFIGURATION_PRODUCT"},
    {"Configuration Revision", "CONFIGURATION_REVISION"},
    {"Protocol FW Product", "PROTOCOL_FIRMWARE_PRODUCT"},
    {"Protocol FW Version", "PROTOCOL_FIRMWARE_VERSION"},
    {"Application FW Product", "APPLICATION_FIRMWARE_PRODUCT"},
    {"Application FW Version", "APPLICATION_FIRMWARE_VERSION"},
    {"Individualization", "INDIVIDUALIZATION"},
    {"Domain", "DOMAIN"},
    {"Upgrade State", "UPGRADE_STATE"},
};

std::string Label(const char* name) {
  std::string label(name);
  label.resize(kLabelLength - 1, '.');
  label.push_back(' ');
  return label;
}

void Store(apr_pool_t* pool, apr_hash_t* map, const char* key, const char* value) {
  apr_hash_set(map, apr_pstrdup(pool, key), APR_HASH_KEY_STRING, apr_pstrdup(pool, value));
}

// Splits the value of `source` at the first `separator`: the part before goes to `first`, the
// part after to `second`; without a separator the whole value goes to `whole`.
void SplitDerived(apr_pool_t* pool, apr_hash_t* map, const char* source, char separator,
                  const char* first, const char* second, const char* whole) {
  char value[64];
  if (DeviceInformationGetStringValue(map, source, value, sizeof(value)) != kKvoResultSuccess) {
    return;
  }
  char* split = strchr(value, separator);
  if (split == nullptr) {
    Store(pool, map, whole, value);
    return;
  }
  *split = '\0';
  Store(pool, map, first, value);
  Store(pool, map, second, split + 1);
}

// The text from `start` up to the next CR LF, then its first token up to CR or LF. Empty when
// there is none.
std::string FirstTokenOfLine(const char* start) {
  std::string rest(start);
  size_t crlf = rest.find("\r\n");
  if (crlf != std::string::npos) rest.resize(crlf);
  size_t begin = rest.find_first_not_of("\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = rest.find_first_of("\r\n", begin);
  return rest.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// A signed decimal number, leading blanks allowed, ending at the first non-digit. False when
// there is no digit.
bool ParseDecimal(const char* text, long* value) {
  errno = 0;
  char* end = nullptr;
  long parsed = strtol(text, &end, 10);
  if (end == text) return false;
  if (errno == ERANGE) parsed = parsed < 0 ? LONG_MIN : LONG_MAX;
  *value = parsed;
  return true;
}

void CopyCut(char* destination, const std::string& source) {
  apr_cpystrn(destination, source.c_str(), 64);
}

// Every getter works on a module in AT mode.
KvoResult PrepareQuery(KvoDeviceHandle handle) {
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;
  result = DeviceSetItpMode(handle, kDeviceItpModeOff);
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Unable to fetch information in ITP mode.");
  }
  return result;
}

KvoResult GetMapString(KvoDeviceHandle handle, const char* key, char* value) {
  if (value == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  value[0] = '\0';
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  return DeviceInformationGetStringValue(DeviceGetRecord(handle)->value_map, key, value, 64);
}

// Sends a live query; a transport failure or a final result other than OK is an AT error.
KvoResult SendQuery(KvoDeviceHandle handle, const char* command, unsigned int timeout,
                    DeviceAtExchange* exchange) {
  if (exchange->Send(kSender, handle, command, timeout) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange->Ok()) {
    KvoLogError(kSender, "Command %s returned error.", command);
    return kKvoResultGeneralErrorAtError;
  }
  return kKvoResultSuccess;
}

struct PoolGuard {
  apr_pool_t* pool = nullptr;
  PoolGuard() {
    if (apr_pool_create(&pool, nullptr) != APR_SUCCESS) pool = nullptr;
  }
  ~PoolGuard() {
    if (pool != nullptr) apr_pool_destroy(pool);
  }
  PoolGuard(const PoolGuard&) = delete;
  PoolGuard& operator=(const PoolGuard&) = delete;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parsers

KvoResult DeviceInformationParseEevinfo(apr_pool_t* pool, const char* response,
                                        apr_hash_t* value_map) {
  if (pool == nullptr || value_map == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  apr_hash_clear(value_map);
  if (response == nullptr) return kKvoResultSuccess;

  static const std::vector<std::string> labels = [] {
    std::vector<std::string> all;
    for (const EevinfoRow& row : kEevinfoMap) all.push_back(Label(row.name));
    return all;
  }();

  std::string copy(response);
  size_t position = 0;
  while (position < copy.size()) {
    size_t end = copy.find_first_of("\r\n", position);
    if (end == std::string::npos) end = copy.size();
    if (end > position) {
      std::string line = copy.substr(position, end - position);
      for (size_t i = 0; i < labels.size(); ++i) {
        if (line.compare(0, kLabelLength, labels[i]) != 0) continue;
        const char* value = line.c_str() + kLabelLength;
        KvoLogDebug(kSender, "Parsed: \"%s\"=\"%s\"", kEevinfoMap[i].key, value);
        Store(pool, value_map, kEevinfoMap[i].key, value);
      }
    }
    position = end + 1;
  }

  SplitDerived(pool, value_map, "NETWORK_CUSTOMIZATION", ';', "CURRENT_NETWORK_NAME",
               "CURRENT_NETWORK_SETTING", "CURRENT_NETWORK_SETTING");
  SplitDerived(pool, value_map, "DOMAIN", '.', "PRODUCT_DOMAIN", "SUB_DOMAIN", "PRODUCT_DOMAIN");
  SplitDerived(pool, value_map, "INDIVIDUALIZATION", '.', "CID", "TPID", "CID");
  return kKvoResultSuccess;
}

KvoResult DeviceInformationGetStringValue(apr_hash_t* value_map, const char* key, char* value,
                                          size_t size) {
  if (value != nullptr && size > 0) value[0] = '\0';
  if (value_map == nullptr || key == nullptr || value == nullptr || size == 0) {
    return kKvoResultGeneralErrorInvalidParameter;
  }
  const char* stored = static_cast<const char*>(apr_hash_get(value_map, key, APR_HASH_KEY_STRING));
  if (stored == nullptr) {
    KvoLogDebug(kSender, "No information stored on key %s.", key);
    return kKvoResultDeviceErrorFailedToGetInformation;
  }
  apr_cpystrn(value, stored, size);
  return kKvoResultSuccess;
}

KvoResult DeviceInformationGetIntValue(apr_hash_t* value_map, const char* key, int* value) {
  if (value == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  char text[64];
  KvoResult result = DeviceInformationGetStringValue(value_map, key, text, sizeof(text));
  if (result != kKvoResultSuccess) return result;
  long parsed = 0;
  if (!ParseDecimal(text, &parsed)) parsed = 0;
  if (parsed > INT_MAX) parsed = INT_MAX;
  if (parsed < INT_MIN) parsed = INT_MIN;
  *value = static_cast<int>(parsed);
  return kKvoResultSuccess;
}

KvoResult DeviceInformationParseCpin(apr_pool_t* /*pool*/, const char* response,
                                     KvoDevicePinCodeState* state) {
  if (state == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  struct CpinRow {
    const char* text;
    KvoDevicePinCodeState state;
    const char* log;
  };
  // Order matters: "SIM PIN" also finds "SIM PIN2", and "READY" wins over the PH- codes.
  static const CpinRow kRows[] = {
      {"SIM PIN", kKvoDevicePinCodeStatePinLocked, "Found state: PIN locked."},
      {"SIM PUK", kKvoDevicePinCodeStatePukLocked, "Found state: PUK locked."},
      {"READY", kKvoDevicePinCodeStateUnlocked, "Found state: unlocked."},
      {"PH-NET PIN", kKvoDevicePinCodeStatePHNETLocked, "Found state: PH-NET PIN locked."},
      {"PH-NETSUB PIN", kKvoDevicePinCodeStatePHNETSUBLocked, "Found state: PH-NETSUB PIN locked."},
      {"PH-SP PIN", kKvoDevicePinCodeStatePHSPLocked, "Found state: PH-SP PIN locked."},
      {"PH-CORP PIN", kKvoDevicePinCodeStatePHCORPLocked, "Found state: PH-CORP PIN locked."},
      {"PH-SIMLOCK PIN", kKvoDevicePinCodeStatePHSIMLocked, "Found state: PH-SIMLOCK PIN locked."},
      {"PH-ESL PIN", kKvoDevicePinCodeStatePHESLLocked, "Found state: PH-ESL PIN locked."},
  };
  if (response != nullptr) {
    for (const CpinRow& row : kRows) {
      if (strstr(response, row.text) != nullptr) {
        KvoLogDebug(kSender, "%s", row.log);
        *state = row.state;
        return kKvoResultSuccess;
      }
    }
  }
  KvoLogDebug(kSender, "Found state: (unknown).");
  *state = kKvoDevicePinCodeStateUnknown;
  return kKvoResultGeneralErrorParseError;
}

KvoResult DeviceInformationParseE2otr(apr_pool_t* /*pool*/, const char* response,
                                      KvoTemperature* temperature) {
  if (temperature == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  const char* comma = response != nullptr ? strrchr(response, ',') : nullptr;
  const char* line_end = comma != nullptr ? strstr(comma + 1, "\r\n") : nullptr;
  long value = 0;
  if (line_end == nullptr || !ParseDecimal(std::string(comma + 1, line_end).c_str(), &value) ||
      value > INT_MAX || value < INT_MIN) {
    KvoLogError(kSender, "Unable to parse temperature response.");
    return kKvoResultGeneralErrorParseError;
  }
  *temperature = static_cast<KvoTemperature>(value);
  KvoLogDebug(kSender, "Read temperature is %d C.", *temperature);
  return kKvoResultSuccess;
}

KvoResult DeviceInformationParseIccid(apr_pool_t* /*pool*/, const char* response, KvoIccid* iccid) {
  if (iccid == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  const char* open = response != nullptr ? strchr(response, '"') : nullptr;
  const char* close = open != nullptr ? strchr(open + 1, '"') : nullptr;
  if (close == nullptr) {
    KvoLogError(kSender, "Unable to parse, ICCID response.");
    return kKvoResultGeneralErrorParseError;
  }
  // Each byte holds two digits, low nibble first; the filler nibble F ends the number.
  std::string digits;
  for (const char* pair = open + 1; pair + 1 < close; pair += 2) {
    char a = pair[0];
    char b = pair[1];
    if (b == 'F' || b == 'f') break;
    if (a == 'F' || a == 'f') {
      digits.push_back(b);
      break;
    }
    digits.push_back(b);
    digits.push_back(a);
  }
  CopyCut(*iccid, digits);
  return kKvoResultSuccess;
}

KvoResult DeviceInformationParseImsi(apr_pool_t* /*pool*/, const char* response, KvoImsi* imsi) {
  if (imsi == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  std::string text = response != nullptr ? response : "";
  // A module that echoes puts the command before the answer.
  size_t echo = text.find("AT+CIMI");
  if (echo != std::string::npos) {
    size_t crlf = text.find("\r\n", echo);
    text = crlf != std::string::npos ? text.substr(crlf) : std::string();
  }
  char trimmed[64];
  CommonTrimString(trimmed, text.c_str(), "\r\n", sizeof(trimmed));
  char* line_end = strstr(trimmed, "\r\n");
  if (line_end != nullptr) *line_end = '\0';
  apr_cpystrn(*imsi, trimmed, sizeof(*imsi));
  return kKvoResultSuccess;
}

KvoResult DeviceInformationParseRadioMode(const char* response, DeviceRadioMode* mode) {
  if (mode == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  if (response != nullptr && strstr(response, "+CFUN: 1") != nullptr) {
    *mode = kDeviceRadioModeOn;
  } else if (response != nullptr && strstr(response, "+CFUN: 4") != nullptr) {
    *mode = kDeviceRadioModeOff;
  } else {
    KvoLogError(kSender, "Unable to parse radio mode response.");
    return kKvoResultGeneralErrorParseError;
  }
  return kKvoResultSuccess;
}

KvoResult DeviceInformationGetOperatorDomain(const char* response, KvoNetworkName* name) {
  if (name == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  const char* colon = response != nullptr ? strrchr(response, ':') : nullptr;
  if (colon == nullptr) {
    KvoLogError(kSender, "Unable to parse operator domain response.");
    return kKvoResultGeneralErrorParseError;
  }
  // Skip the colon and the blank after it (never past the end of the text).
  const char* start = colon + 1;
  if (*start != '\0') ++start;
  std::string token = FirstTokenOfLine(start);
  if (token.empty()) {
    KvoLogError(kSender, "Unable to parse operator domain response.");
    return kKvoResultGeneralErrorParseError;
  }
  CopyCut(*name, token);
  return kKvoResultSuccess;
}

KvoResult DeviceInformationParseUpgradeState(const char* response,
                                             DeviceUpgradeState* upgrade_state) {
  if (upgrade_state == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  const char* comma = response != nullptr ? strrchr(response, ',') : nullptr;
  if (comma == nullptr) return kKvoResultGeneralErrorParseError;
  std::string token = FirstTokenOfLine(comma + 1);
  if (token.empty()) return kKvoResultGeneralErrorParseError;
  KvoLogDebug(kSender, "Ustate: %s", token.c_str());
  // A state is never negative; a token without digits is not a state.
  long value = 0;
  if (!ParseDecimal(token.c_str(), &value) || value < 0 || value > INT_MAX) {
    return kKvoResultGeneralErrorParseError;
  }
  *upgrade_state = static_cast<DeviceUpgradeState>(value);
  return kKvoResultSuccess;
}

// ---------------------------------------------------------------------------------------------
// Getters over the stored report

#define KVO_MAP_GETTER(function, type, key)                                \
  KvoResult function(KvoDeviceHandle handle, type* value) {                \
    return GetMapString(handle, key, value != nullptr ? *value : nullptr); \
  }

KVO_MAP_GETTER(KvoDeviceGetModel, KvoDeviceModel, "MODEL")
KVO_MAP_GETTER(KvoDeviceGetImei, KvoImei, "IMEI")
KVO_MAP_GETTER(KvoDeviceGetSvn, KvoSvn, "SVN")
KVO_MAP_GETTER(KvoDeviceGetSerialNumber, KvoSerialNumber, "SERIAL_NUMBER")
KVO_MAP_GETTER(KvoDeviceGetProductRevision, KvoRevision, "PRODUCT_REVISION")
KVO_MAP_GETTER(KvoDeviceGetFirmwareProduct, KvoProductNumber, "FIRMWARE_PRODUCT")
KVO_MAP_GETTER(KvoDeviceGetFirmwareRevision, KvoRevision, "FIRMWARE_VERSION")
KVO_MAP_GETTER(KvoDeviceGetFirmwareBuildDate, KvoDateAndTime, "FIRMWARE_BUILD_DATE")
KVO_MAP_GETTER(KvoDeviceGetCustomizationProduct, KvoProductNumber, "CUSTOMIZATION_PRODUCT")
KVO_MAP_GETTER(KvoDeviceGetCustomizationRevision, KvoRevision, "CUSTOMIZATION_VERSION")
KVO_MAP_GETTER(KvoDeviceGetNetworkListProduct, KvoProductNumber, "NETWORK_LIST_PRODUCT")
KVO_MAP_GETTER(KvoDeviceGetNetworkListRevision, KvoRevision, "NETWORK_LIST_REVISION")
KVO_MAP_GETTER(KvoDeviceGetNetworkCustomizationProduct, KvoProductNumber,
               "NETWORK_CUSTOMIZATION_PRODUCT")
KVO_MAP_GETTER(KvoDeviceGetNetworkCustomizationRevision, KvoRevision,
               "NETWORK_CUSTOMIZATION_VERSION")
KVO_MAP_GETTER(KvoDeviceGetConfigurationSetProduct, KvoProductNumber, "CONFIGURATION_SET_PRODUCT")
KVO_MAP_GETTER(KvoDeviceGetConfigurationSetRevision, KvoRevision, "CONFIGURATION_SET_REVISION")
KVO_MAP_GETTER(KvoDeviceGetSimlockProduct, KvoProductNumber, "SIMLOCK_PRODUCT")
KVO_MAP_GETTER(KvoDeviceGetSimlockRevision, KvoRevision, "SIMLOCK_REVISION")
KVO_MAP_GETTER(KvoDeviceGetSimlockDescription, KvoSimlockDescription, "SIMLOCK_DESCRIPTION")
KVO_MAP_GETTER(KvoDeviceGetCurrentNetworkName, KvoNetworkName, "CURRENT_NETWORK_NAME")

#undef KVO_MAP_GETTER

KvoResult KvoDeviceGetCurrentNetworkSetting(KvoDeviceHandle handle,
                                            KvoNetworkSetting* network_setting) {
  if (network_setting == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  int value = 0;
  result = DeviceInformationGetIntValue(DeviceGetRecord(handle)->value_map,
                                        "CURRENT_NETWORK_SETTING", &value);
  if (result == kKvoResultSuccess) *network_setting = static_cast<KvoNetworkSetting>(value);
  return result;
}

KvoResult KvoDeviceGetDomain(KvoDeviceHandle handle, KvoDomain* domain) {
  if (domain == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  apr_hash_t* map = DeviceGetRecord(handle)->value_map;
  int value = 0;
  result = DeviceInformationGetIntValue(map, "PRODUCT_DOMAIN", &value);
  if (result != kKvoResultSuccess) return result;
  domain->product_domain = static_cast<KvoProductDomain>(value);
  result = DeviceInformationGetIntValue(map, "SUB_DOMAIN", &value);
  if (result != kKvoResultSuccess) return result;
  domain->sub_domain = static_cast<KvoSubDomain>(value);
  return kKvoResultSuccess;
}

KvoResult KvoDeviceGetIndividualization(KvoDeviceHandle handle,
                                        KvoIndividualization* individualization) {
  if (individualization == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  apr_hash_t* map = DeviceGetRecord(handle)->value_map;
  int value = 0;
  result = DeviceInformationGetIntValue(map, "CID", &value);
  if (result != kKvoResultSuccess) return result;
  individualization->cid = static_cast<KvoCid>(value);
  result = DeviceInformationGetIntValue(map, "TPID", &value);
  if (result != kKvoResultSuccess) return result;
  individualization->tpid = static_cast<KvoTpid>(value);
  return kKvoResultSuccess;
}

// ---------------------------------------------------------------------------------------------
// Live queries

KvoResult KvoDeviceGetPinCodeState(KvoDeviceHandle handle, KvoDevicePinCodeState* state) {
  if (state == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  char command[32];
  apr_snprintf(command, sizeof(command), "%s?", "AT+CPIN");
  DeviceAtExchange exchange;
  result = SendQuery(handle, command, 10, &exchange);
  if (result != kKvoResultSuccess) return result;
  return DeviceInformationParseCpin(nullptr, exchange.Text(), state);
}

KvoResult KvoDeviceSetPinCode(KvoDeviceHandle handle, const char* pin,
                              KvoDevicePinCodeState* state) {
  if (pin == nullptr || state == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  // The PIN goes into an AT command: anything but digits could end it and add another.
  if (pin[0] == '\0' || pin[strspn(pin, "0123456789")] != '\0') {
    KvoLogError(kSender, "A PIN code has digits only.");
    return kKvoResultGeneralErrorInvalidParameter;
  }
  KvoResult result = DeviceCheckHandle(handle);
  if (result != kKvoResultSuccess) return result;

  KvoDevicePinCodeState initial = kKvoDevicePinCodeStateUnknown;
  result = KvoDeviceGetPinCodeState(handle, &initial);
  if (result != kKvoResultSuccess) {
    KvoLogErrorCode(kSender, result);
    return kKvoResultGeneralErrorAtError;
  }
  if (initial == kKvoDevicePinCodeStateUnlocked) {
    *state = kKvoDevicePinCodeStateUnlocked;
    return kKvoResultSuccess;
  }

  // The module takes at most 31 characters here; a longer PIN is cut.
  char command[32];
  apr_snprintf(command, sizeof(command), "%s=\"%s\"", "AT+CPIN", pin);
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, command, 10) != kTlResultSuccess) {
    return kKvoResultGeneralErrorAtError;
  }
  if (!exchange.Ok()) {
    KvoLogError(kSender, "The PIN code was not accepted.");
    return kKvoResultDeviceErrorCouldNotConfirmSimUnlock;
  }
  exchange.Release();

  KvoLogInfo(kSender, "Verifying that SIM state changed...");
  for (int attempt = 0; attempt < 10; ++attempt) {
    KvoDevicePinCodeState current = kKvoDevicePinCodeStateUnknown;
    if (KvoDeviceGetPinCodeState(handle, &current) != kKvoResultSuccess) {
      return kKvoResultGeneralErrorAtError;
    }
    if (current != initial) {
      KvoLogInfo(kSender, "SIM state now changed.");
      *state = current;
      return kKvoResultSuccess;
    }
    CommonSleep(apr_time_from_sec(1));
  }
  KvoLogError(kSender, "Unable to verify that SIM has been unlocked.");
  return kKvoResultDeviceErrorCouldNotConfirmSimUnlock;
}

KvoResult KvoDeviceGetTemperature(KvoDeviceHandle handle, KvoTemperature* temperature) {
  if (temperature == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  char command[32];
  apr_snprintf(command, sizeof(command), "%s?", "AT*E2OTR");
  DeviceAtExchange exchange;
  result = SendQuery(handle, command, 10, &exchange);
  if (result != kKvoResultSuccess) return result;
  return DeviceInformationParseE2otr(nullptr, exchange.Text(), temperature);
}

KvoResult KvoDeviceGetLockInformation(KvoDeviceHandle handle,
                                      KvoDeviceLockInformation* lock_information) {
  if (lock_information == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  DeviceAtExchange exchange;
  result = DeviceSendEevinfo(kSender, handle, 2, &exchange);
  if (result != kKvoResultSuccess) return result;

  // A map of its own: the record's map keeps the full report of the identification.
  PoolGuard temporary;
  if (temporary.pool == nullptr) return kKvoResultGeneralErrorMemory;
  apr_hash_t* map = apr_hash_make(temporary.pool);
  DeviceInformationParseEevinfo(temporary.pool, exchange.Text(), map);

  struct Field {
    const char* key;
    char* value;
  };
  const Field fields[] = {
      {"LOCKED_NETWORK", lock_information->network},
      {"LOCKED_NETWORK_SUBSET", lock_information->network_subset},
      {"LOCKED_SERVICE_PROVIDER", lock_information->service_provider},
      {"LOCKED_CORPORATE", lock_information->corporate},
      {"LOCKED_SIMLOCK", lock_information->sim_lock},
      {"LOCKED_EXTENDED_SIMLOCK", lock_information->extended_sim_lock},
      {"AUTOLOCK_ACTIVATED", lock_information->auto_lock_activated},
  };
  for (const Field& field : fields) {
    char value[64];
    result = DeviceInformationGetStringValue(map, field.key, value, sizeof(value));
    if (result != kKvoResultSuccess) return result;
    apr_cpystrn(field.value, value, 64);
  }
  return kKvoResultSuccess;
}

KvoResult KvoDeviceGetCurrentOperatorDomain(KvoDeviceHandle handle,
                                            KvoNetworkName* operator_domain) {
  if (operator_domain == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  char command[64];
  apr_snprintf(command, sizeof(command), "%s=0,\"TRV_OPERATOR_DOMAIN\"", "AT*EERCUST");
  DeviceAtExchange exchange;
  if (exchange.Send(kSender, handle, command, 10) != kTlResultSuccess) {
    return kKvoResultDeviceErrorFailedToGetInformation;
  }
  return DeviceInformationGetOperatorDomain(exchange.Text(), operator_domain);
}

KvoResult KvoDeviceGetIccid(KvoDeviceHandle handle, KvoIccid* iccid) {
  if (iccid == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  char command[64];
  apr_snprintf(command, sizeof(command), "%s=%d,%d,0,0,10", "AT+CRSM",
               static_cast<int>(kDeviceSimCommandReadBinary),
               static_cast<int>(kDeviceSimFileIdIccid));
  DeviceAtExchange exchange;
  result = SendQuery(handle, command, 10, &exchange);
  if (result != kKvoResultSuccess) return result;
  return DeviceInformationParseIccid(nullptr, exchange.Text(), iccid);
}

KvoResult KvoDeviceGetImsi(KvoDeviceHandle handle, KvoImsi* imsi) {
  if (imsi == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  KvoResult result = PrepareQuery(handle);
  if (result != kKvoResultSuccess) return result;
  DeviceAtExchange exchange;
  result = SendQuery(handle, "AT+CIMI", 10, &exchange);
  if (result != kKvoResultSuccess) return result;
  return DeviceInformationParseImsi(nullptr, exchange.Text(), imsi);
}
