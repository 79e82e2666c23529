// The parsers of the module's answers against any text: the information report and the small
// answers (PIN state, temperature, ICCID, IMSI, radio mode, operator domain, upgrade state). Every
// parser gets the same text; fixed-size results must stay terminated inside their arrays and the
// report's values must be readable under every key.

#include <apr_general.h>
#include <apr_hash.h>
#include <apr_pools.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "kvo.h"
#include "kvo/src/device/information.h"
#include "testing/fuzz.h"

namespace {

using tarvik_fuzz::Check;
using tarvik_fuzz::CheckTerminated;

apr_pool_t* root_pool = nullptr;

const char* const kKeys[] = {"MODEL",
                             "IMEI",
                             "PRODUCT_NUMBER",
                             "PRODUCT_REVISION",
                             "CURRENT_NETWORK_SETTING",
                             "NETWORK_CUSTOMIZATION",
                             "CONFIGURATION_SET_PRODUCT",
                             "CONFIGURATION_SET_REVISION",
                             "INDIVIDUALIZATION",
                             "DOMAIN",
                             "UPGRADE_STATE",
                             "FORMAT",
                             "SVN",
                             "SUB_DOMAIN",
                             ""};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  apr_initialize();
  if (apr_pool_create(&root_pool, nullptr) != APR_SUCCESS) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  const std::string text(reinterpret_cast<const char*>(input), size);
  const char* response = text.c_str();
  apr_pool_t* pool = nullptr;
  if (apr_pool_create(&pool, root_pool) != APR_SUCCESS) abort();

  apr_hash_t* map = apr_hash_make(pool);
  Check(DeviceInformationParseEevinfo(pool, response, map) == kKvoResultSuccess,
        "the report parser always succeeds");
  for (const char* key : kKeys) {
    char value[64];
    memset(value, 'x', sizeof value);
    if (DeviceInformationGetStringValue(map, key, value, sizeof value) == kKvoResultSuccess) {
      CheckTerminated(value, "report value terminated");
      // Values, derived ones too, are pieces of the report's own text.
      Check(text.find(value) != std::string::npos, "report value comes from the report");
    } else {
      Check(value[0] == '\0', "a missing value reads as empty");
    }
    char small[4];
    memset(small, 'x', sizeof small);
    DeviceInformationGetStringValue(map, key, small, sizeof small);
    CheckTerminated(small, "report value cut to a small buffer");
    int number = 0;
    DeviceInformationGetIntValue(map, key, &number);
  }
  // Every stored value is a terminated text.
  for (apr_hash_index_t* entry = apr_hash_first(pool, map); entry != nullptr;
       entry = apr_hash_next(entry)) {
    const void* key = nullptr;
    apr_ssize_t key_length = 0;
    void* value = nullptr;
    apr_hash_this(entry, &key, &key_length, &value);
    Check(key != nullptr && value != nullptr, "map entries have key and value");
    (void)strlen(static_cast<const char*>(value));
  }

  KvoDevicePinCodeState pin_state;
  DeviceInformationParseCpin(pool, response, &pin_state);

  KvoTemperature temperature = 0;
  DeviceInformationParseE2otr(pool, response, &temperature);

  KvoIccid iccid;
  memset(iccid, 'x', sizeof iccid);
  if (DeviceInformationParseIccid(pool, response, &iccid) == kKvoResultSuccess) {
    CheckTerminated(iccid, "ICCID terminated");
  }

  KvoImsi imsi;
  memset(imsi, 'x', sizeof imsi);
  if (DeviceInformationParseImsi(pool, response, &imsi) == kKvoResultSuccess) {
    CheckTerminated(imsi, "IMSI terminated");
  }

  DeviceRadioMode mode = kDeviceRadioModeOff;
  if (DeviceInformationParseRadioMode(response, &mode) == kKvoResultSuccess) {
    Check(mode == kDeviceRadioModeOn || mode == kDeviceRadioModeOff, "radio mode is on or off");
  }

  KvoNetworkName domain;
  memset(domain, 'x', sizeof domain);
  if (DeviceInformationGetOperatorDomain(response, &domain) == kKvoResultSuccess) {
    CheckTerminated(domain, "operator domain terminated");
  }

  DeviceUpgradeState upgrade_state = 0;
  DeviceInformationParseUpgradeState(response, &upgrade_state);

  apr_pool_destroy(pool);
  return 0;
}
