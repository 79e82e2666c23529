// The parsers of the module's answers: one table for the information report and one for the short
// answers, one row a line.

#include <apr_hash.h>
#include <apr_pools.h>
#include <gtest/gtest.h>

#include <string>

#include "kvo/src/device/information.h"

namespace {

// A report line: the name padded with dots to 25 characters, a blank, the value.
std::string L(std::string name, const std::string& value) {
  name.resize(25, '.');
  return name + " " + value + "\r\n";
}

// Every row's report is parsed after this one, so a row that expects no entry also proves that
// the map was cleared in between.
const std::string kStale = L("SVN", "stale") + L("Model", "stale") + L("Upgrade State", "9") +
                           L("Network Customization", "STALE;1") + L("Domain", "1.2");

const std::string kCut(63, 'm');

struct ReportRow {
  std::string report;
  const char* key;
  const char* value;  // nullptr: no entry
};

const ReportRow kReportRows[] = {
    {L("Model", "Tarvik Module T3  "), "MODEL", "Tarvik Module T3  "},
    {"\r\n" + L("Product Number", "ZRB 207 43/1") + "\r\nOK\r\n", "PRODUCT_NUMBER", "ZRB 207 43/1"},
    // "Config. Set ..." holds ". " in the name itself.
    {L("Config. Set Product", "ZNT4028813/1"), "CONFIGURATION_SET_PRODUCT", "ZNT4028813/1"},
    {L("Config. Set Revision", "R3C01"), "CONFIGURATION_SET_REVISION", "R3C01"},
    {"Upgrade State........... 5\r\n", "UPGRADE_STATE", nullptr},   // one dot short
    {"Upgrade State ........... 5\r\n", "UPGRADE_STATE", nullptr},  // blank before the dots
    {"upgrade State............ 5\r\n", "UPGRADE_STATE", nullptr},  // case
    {"Model....................5\r\n", "MODEL", nullptr},           // no blank after the dots
    {L("IMEI Data", ""), "IMEI", ""},                               // an empty value is a value
    {L("SVN", "01"), "SVN", "01"},
    {L("Model", "first") + L("Model", "second"), "MODEL", "second"},
    {L("Model", std::string(100, 'm')), "MODEL", kCut.c_str()},  // cut to the buffer
    {L("Current Network Setting", "1") + L("Network Customization", "TRV_VODA;3"),
     "CURRENT_NETWORK_NAME", "TRV_VODA"},
    {L("Current Network Setting", "1") + L("Network Customization", "TRV_VODA;3"),
     "CURRENT_NETWORK_SETTING", "3"},
    {L("Current Network Setting", "1") + L("Network Customization", "7"), "CURRENT_NETWORK_NAME",
     nullptr},
    {L("Current Network Setting", "1") + L("Network Customization", "7"), "CURRENT_NETWORK_SETTING",
     "7"},
    {L("Domain", "3"), "PRODUCT_DOMAIN", "3"},
    {L("Domain", "3"), "SUB_DOMAIN", nullptr},
    {L("Domain", "3.1.2"), "PRODUCT_DOMAIN", "3"},
    {L("Domain", "3.1.2"), "SUB_DOMAIN", "1.2"},
    {L("Individualization", "189.204"), "CID", "189"},
    {L("Individualization", "189.204"), "TPID", "204"},
    {"", "MODEL", nullptr},
    {"\r\n\r\n\n\r", "SVN", nullptr},
    {"Mod\r\n", "MODEL", nullptr},  // shorter than any label
};

class ReportParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(APR_SUCCESS, apr_pool_create(&pool_, nullptr));
    map_ = apr_hash_make(pool_);
  }
  void TearDown() override { apr_pool_destroy(pool_); }

  void Parse(const char* report) {
    ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseEevinfo(pool_, kStale.c_str(), map_));
    ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseEevinfo(pool_, report, map_));
  }

  apr_pool_t* pool_ = nullptr;
  apr_hash_t* map_ = nullptr;
};

TEST_F(ReportParserTest, EveryRow) {
  for (const ReportRow& row : kReportRows) {
    Parse(row.report.c_str());
    char value[64];
    const KvoResult result = DeviceInformationGetStringValue(map_, row.key, value, sizeof value);
    if (row.value == nullptr) {
      EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation, result) << row.report << row.key;
    } else {
      EXPECT_EQ(kKvoResultSuccess, result) << row.report << row.key;
      EXPECT_STREQ(row.value, value) << row.report << row.key;
    }
  }
  Parse(nullptr);
  EXPECT_EQ(0u, apr_hash_count(map_));
}

TEST_F(ReportParserTest, IntegerValuesReadLikeDecimalNumbers) {
  const struct {
    const char* value;
    int number;
  } rows[] = {{"5", 5}, {"  42abc", 42}, {"none", 0}, {"-3", -3}};
  for (const auto& row : rows) {
    Parse(L("Format", row.value).c_str());
    int number = 99;
    ASSERT_EQ(kKvoResultSuccess, DeviceInformationGetIntValue(map_, "FORMAT", &number));
    EXPECT_EQ(row.number, number) << row.value;
  }
  int number = 0;
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation,
            DeviceInformationGetIntValue(map_, "MODEL", &number));
}

// The short answers: each parser's output as text ("-" where it was left as it was).
enum Parser { kCpin, kE2otr, kIccid, kImsi, kRadio, kOperatorDomain, kUstate };

struct AnswerRow {
  Parser parser;
  const char* answer;  // nullptr: no text at all
  KvoResult result;
  std::string value;
};

constexpr KvoResult kOk = kKvoResultSuccess;
constexpr KvoResult kParseError = kKvoResultGeneralErrorParseError;
std::string S(int value) {
  return std::to_string(value);
}

const AnswerRow kAnswerRows[] = {
    {kCpin, "\r\n+CPIN: READY\r\n\r\nOK\r\n", kOk, S(kKvoDevicePinCodeStateUnlocked)},
    {kCpin, "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n", kOk, S(kKvoDevicePinCodeStatePinLocked)},
    {kCpin, "\r\n+CPIN: SIM PIN2\r\n\r\nOK\r\n", kOk, S(kKvoDevicePinCodeStatePinLocked)},
    {kCpin, "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n", kOk, S(kKvoDevicePinCodeStatePukLocked)},
    {kCpin, "\r\n+CPIN: PH-NET PIN\r\n", kOk, S(kKvoDevicePinCodeStatePHNETLocked)},
    {kCpin, "\r\n+CPIN: PH-NETSUB PIN\r\n", kOk, S(kKvoDevicePinCodeStatePHNETSUBLocked)},
    {kCpin, "\r\n+CPIN: PH-SP PIN\r\n", kOk, S(kKvoDevicePinCodeStatePHSPLocked)},
    {kCpin, "\r\n+CPIN: PH-CORP PIN\r\n", kOk, S(kKvoDevicePinCodeStatePHCORPLocked)},
    {kCpin, "\r\n+CPIN: PH-SIMLOCK PIN\r\n", kOk, S(kKvoDevicePinCodeStatePHSIMLocked)},
    {kCpin, "\r\n+CPIN: PH-ESL PIN\r\n", kOk, S(kKvoDevicePinCodeStatePHESLLocked)},
    {kCpin, "PH-NET PIN READY", kOk, S(kKvoDevicePinCodeStateUnlocked)},  // READY is tested first
    {kCpin, "\r\n+CPIN: BUSY\r\n", kParseError, S(kKvoDevicePinCodeStateUnknown)},
    {kCpin, nullptr, kParseError, S(kKvoDevicePinCodeStateUnknown)},
    {kE2otr, "\r\n*E2OTR: 0,1,45\r\n\r\nOK\r\n", kOk, "45"},
    {kE2otr, "*E2OTR: 0,-12\r\n", kOk, "-12"},
    {kE2otr, "*E2OTR: 45\r\n", kParseError, "-"},
    {kE2otr, "*E2OTR: 0,45", kParseError, "-"},
    {kE2otr, "*E2OTR: 0,\r\n", kParseError, "-"},
    {kE2otr, "*E2OTR: 0,hot\r\n", kParseError, "-"},
    {kE2otr, "", kParseError, "-"},
    {kE2otr, nullptr, kParseError, "-"},
    {kIccid, "+CRSM: 144,0,\"98103200000000000000\"\r\n", kOk, "89012300000000000000"},
    {kIccid, "\"9810214F\"", kOk, "890112"},
    {kIccid, "\"981021F4FF\"", kOk, "8901124"},  // F then a digit: the digit, and the end
    {kIccid, "\"F8\"", kOk, "8"},
    {kIccid, "\"8F98\"", kOk, ""},
    {kIccid, "\"981\"", kOk, "89"},  // an odd last character has no partner
    {kIccid, "+CRSM: 144,0,9810\r\n", kParseError, "-"},
    {kIccid, "+CRSM: 144,0,\"9810\r\n", kParseError, "-"},
    {kIccid, nullptr, kParseError, "-"},
    {kImsi, "AT+CIMI\r\r\n240991234567890\r\n\r\nOK\r\n", kOk, "240991234567890"},  // echo
    {kImsi, "\r\n240991234567890\r\n\r\nOK\r\n", kOk, "240991234567890"},
    {kImsi, "\r\n\r\n", kOk, ""},
    {kImsi, "AT+CIMI", kOk, ""},
    {kImsi, nullptr, kOk, ""},
    {kRadio, "\r\n+CFUN: 1\r\n\r\nOK\r\n", kOk, "on"},
    {kRadio, "\r\n+CFUN: 4\r\n", kOk, "off"},
    {kRadio, "\r\n+CFUN: 0\r\n", kParseError, "-"},
    {kRadio, nullptr, kParseError, "-"},
    {kOperatorDomain, "\r\n*EERCUST: TRV_VODACORP\r\n\r\nOK\r\n", kOk, "TRV_VODACORP"},
    {kOperatorDomain, "\r\nOK\r\n", kParseError, "-"},
    {kOperatorDomain, "*EERCUST: \r\n", kParseError, "-"},
    {kOperatorDomain, "*EERCUST:", kParseError, "-"},
    {kOperatorDomain, nullptr, kParseError, "-"},
    {kUstate, "\r\n*EEUSTATE: 1,4\r\n\r\nOK\r\n", kOk, "4"},
    {kUstate, "*EEUSTATE:1,13", kOk, "13"},
    {kUstate, "*EEUSTATE: 4\r\n", kParseError, "-"},
    {kUstate, "*EEUSTATE:1,\r\n", kParseError, "-"},
    {kUstate, "*EEUSTATE:1,x\r\n", kParseError, "-"},
    {kUstate, "*EEUSTATE:1,-2\r\n", kParseError, "-"},
    {kUstate, nullptr, kParseError, "-"},
};

// Runs the row's parser on outputs marked beforehand.
std::string Parse(const AnswerRow& row, KvoResult* result) {
  const char* answer = row.answer;
  KvoDevicePinCodeState pin = kKvoDevicePinCodeStatePinLocked;
  KvoTemperature temperature = 99;
  DeviceRadioMode radio = kDeviceRadioModeOn;
  DeviceUpgradeState ustate = 99;
  char text[64] = "-";
  switch (row.parser) {
    case kCpin:
      *result = DeviceInformationParseCpin(nullptr, answer, &pin);
      return S(pin);
    case kE2otr:
      *result = DeviceInformationParseE2otr(nullptr, answer, &temperature);
      return temperature == 99 ? "-" : S(temperature);
    case kIccid:
      *result = DeviceInformationParseIccid(nullptr, answer, &text);
      return text;
    case kImsi:
      *result = DeviceInformationParseImsi(nullptr, answer, &text);
      return text;
    case kRadio:
      *result = DeviceInformationParseRadioMode(answer, &radio);
      // Whatever the mode holds after a failure, it is no answer.
      if (*result != kKvoResultSuccess) return "-";
      return radio == kDeviceRadioModeOn ? "on" : "off";
    case kOperatorDomain:
      *result = DeviceInformationGetOperatorDomain(answer, &text);
      return text;
    case kUstate:
      *result = DeviceInformationParseUpgradeState(answer, &ustate);
      return ustate == 99 ? "-" : S(static_cast<int>(ustate));
  }
  return "?";
}

TEST(AnswerParserTest, EveryRow) {
  for (const AnswerRow& row : kAnswerRows) {
    const std::string where =
        std::to_string(row.parser) + ": " + (row.answer != nullptr ? row.answer : "(null)");
    KvoResult result = kKvoResultGeneralErrorUnknown;
    const std::string value = Parse(row, &result);
    EXPECT_EQ(row.result, result) << where;
    EXPECT_EQ(row.value, value) << where;
  }
}

TEST(AnswerParserTest, LongIccidIsCutToTheRecord) {
  KvoIccid iccid;
  const std::string answer = "\"" + std::string(80, '1') + "\"";
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(nullptr, answer.c_str(), &iccid));
  EXPECT_EQ(std::string(63, '1'), iccid);
}

TEST(AnswerParserTest, NullOutputsAreRefused) {
  const KvoResult results[] = {
      DeviceInformationParseCpin(nullptr, "READY", nullptr),
      DeviceInformationParseE2otr(nullptr, "0,1\r\n", nullptr),
      DeviceInformationParseIccid(nullptr, "\"98\"", nullptr),
      DeviceInformationParseImsi(nullptr, "1", nullptr),
      DeviceInformationParseUpgradeState("1,1", nullptr),
      DeviceInformationParseEevinfo(nullptr, "x", nullptr),
  };
  for (KvoResult result : results) EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, result);
}

}  // namespace
