// The parsers of the module's answers, on well-formed and malformed text.

#include <apr_hash.h>
#include <apr_pools.h>
#include <gtest/gtest.h>

#include <string>

#include "kvo/src/device/information.h"

namespace {

std::string Label(const std::string& name) {
  std::string label = name;
  label.resize(25, '.');
  return label + " ";
}

std::string Line(const std::string& name, const std::string& value) {
  return Label(name) + value + "\r\n";
}

class ReportParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(APR_SUCCESS, apr_pool_create(&pool_, nullptr));
    map_ = apr_hash_make(pool_);
  }
  void TearDown() override { apr_pool_destroy(pool_); }

  void Parse(const std::string& report) {
    ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseEevinfo(pool_, report.c_str(), map_));
  }

  std::string Value(const char* key) {
    char value[64];
    if (DeviceInformationGetStringValue(map_, key, value, sizeof(value)) != kKvoResultSuccess) {
      return "<missing>";
    }
    return value;
  }

  apr_pool_t* pool_ = nullptr;
  apr_hash_t* map_ = nullptr;
};

TEST_F(ReportParserTest, ReadsLabelledLinesAndKeepsTheValueAsItStands) {
  Parse("\r\n" + Line("Model", "Tarvik Module T3  ") + Line("Product Number", "ZRB 207 43/1") +
        Line("Config. Set Product", "ZNT4028813/1") + Line("Config. Set Revision", "R3C01") +
        Line("Upgrade State", "5") + "\r\nOK\r\n");
  EXPECT_EQ("Tarvik Module T3  ", Value("MODEL"));
  EXPECT_EQ("ZRB 207 43/1", Value("PRODUCT_NUMBER"));
  // "Config. Set ..." holds ". " in the name itself.
  EXPECT_EQ("ZNT4028813/1", Value("CONFIGURATION_SET_PRODUCT"));
  EXPECT_EQ("R3C01", Value("CONFIGURATION_SET_REVISION"));
  int state = -1;
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationGetIntValue(map_, "UPGRADE_STATE", &state));
  EXPECT_EQ(5, state);
}

TEST_F(ReportParserTest, IgnoresLinesWhoseLabelIsSpelledDifferently) {
  Parse(
      "Upgrade State........... 5\r\n"    // one dot short
      "Upgrade State ........... 5\r\n"   // blank before the dots
      "upgrade State............ 5\r\n"   // case
      "Model....................5\r\n"    // no blank after the dots
      "IMEI Data................ \r\n");  // empty value is a value
  EXPECT_EQ("<missing>", Value("UPGRADE_STATE"));
  EXPECT_EQ("<missing>", Value("MODEL"));
  EXPECT_EQ("", Value("IMEI"));
}

TEST_F(ReportParserTest, ClearsTheMapAndLaterLinesReplaceEarlierOnes) {
  Parse(Line("Model", "old") + Line("SVN", "01"));
  Parse(Line("Model", "first") + Line("Model", "second"));
  EXPECT_EQ("second", Value("MODEL"));
  EXPECT_EQ("<missing>", Value("SVN"));
}

TEST_F(ReportParserTest, NetworkCustomizationOverridesTheNetworkSettingLine) {
  Parse(Line("Current Network Setting", "1") + Line("Network Customization", "TRV_VODACORP;3"));
  EXPECT_EQ("TRV_VODACORP", Value("CURRENT_NETWORK_NAME"));
  EXPECT_EQ("3", Value("CURRENT_NETWORK_SETTING"));

  Parse(Line("Current Network Setting", "1") + Line("Network Customization", "7"));
  EXPECT_EQ("<missing>", Value("CURRENT_NETWORK_NAME"));
  EXPECT_EQ("7", Value("CURRENT_NETWORK_SETTING"));
}

TEST_F(ReportParserTest, DomainAndIndividualizationSplitAtTheFirstPoint) {
  Parse(Line("Domain", "3") + Line("Individualization", "189.204"));
  EXPECT_EQ("3", Value("PRODUCT_DOMAIN"));
  EXPECT_EQ("<missing>", Value("SUB_DOMAIN"));
  EXPECT_EQ("189", Value("CID"));
  EXPECT_EQ("204", Value("TPID"));

  Parse(Line("Domain", "3.1.2"));
  EXPECT_EQ("3", Value("PRODUCT_DOMAIN"));
  EXPECT_EQ("1.2", Value("SUB_DOMAIN"));
}

TEST_F(ReportParserTest, ToleratesEmptyAndMissingText) {
  Parse("");
  Parse("\r\n\r\n\n\r");
  EXPECT_EQ(kKvoResultSuccess, DeviceInformationParseEevinfo(pool_, nullptr, map_));
  EXPECT_EQ(0u, apr_hash_count(map_));
  // A line shorter than any label.
  Parse("Mod\r\n");
  EXPECT_EQ(0u, apr_hash_count(map_));
}

TEST_F(ReportParserTest, IntegerValuesReadLikeDecimalNumbers) {
  Parse(Line("Format", "  42abc") + Line("SVN", "none") + Line("Upgrade State", "-3"));
  int value = 0;
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationGetIntValue(map_, "FORMAT", &value));
  EXPECT_EQ(42, value);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationGetIntValue(map_, "SVN", &value));
  EXPECT_EQ(0, value);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationGetIntValue(map_, "UPGRADE_STATE", &value));
  EXPECT_EQ(-3, value);
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation,
            DeviceInformationGetIntValue(map_, "MODEL", &value));
}

TEST_F(ReportParserTest, StringValuesAreCutToTheBuffer) {
  Parse(Line("Model", std::string(100, 'm')));
  char value[64];
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationGetStringValue(map_, "MODEL", value, 64));
  EXPECT_EQ(std::string(63, 'm'), value);
}

struct CpinCase {
  const char* answer;
  KvoDevicePinCodeState state;
};

TEST(CpinParserTest, FirstSubstringInTableOrderDecides) {
  const CpinCase cases[] = {
      {"\r\n+CPIN: READY\r\n\r\nOK\r\n", kKvoDevicePinCodeStateUnlocked},
      {"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n", kKvoDevicePinCodeStatePinLocked},
      {"\r\n+CPIN: SIM PIN2\r\n\r\nOK\r\n", kKvoDevicePinCodeStatePinLocked},
      {"\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n", kKvoDevicePinCodeStatePukLocked},
      {"\r\n+CPIN: PH-NET PIN\r\n", kKvoDevicePinCodeStatePHNETLocked},
      {"\r\n+CPIN: PH-NETSUB PIN\r\n", kKvoDevicePinCodeStatePHNETSUBLocked},
      {"\r\n+CPIN: PH-SP PIN\r\n", kKvoDevicePinCodeStatePHSPLocked},
      {"\r\n+CPIN: PH-CORP PIN\r\n", kKvoDevicePinCodeStatePHCORPLocked},
      {"\r\n+CPIN: PH-SIMLOCK PIN\r\n", kKvoDevicePinCodeStatePHSIMLocked},
      {"\r\n+CPIN: PH-ESL PIN\r\n", kKvoDevicePinCodeStatePHESLLocked},
      // "READY" is tested before the personalisation codes.
      {"PH-NET PIN READY", kKvoDevicePinCodeStateUnlocked},
  };
  for (const CpinCase& test : cases) {
    KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
    EXPECT_EQ(kKvoResultSuccess, DeviceInformationParseCpin(nullptr, test.answer, &state))
        << test.answer;
    EXPECT_EQ(test.state, state) << test.answer;
  }
  KvoDevicePinCodeState state = kKvoDevicePinCodeStatePinLocked;
  EXPECT_EQ(kKvoResultGeneralErrorParseError,
            DeviceInformationParseCpin(nullptr, "\r\n+CPIN: BUSY\r\n", &state));
  EXPECT_EQ(kKvoDevicePinCodeStateUnknown, state);
  EXPECT_EQ(kKvoResultGeneralErrorParseError, DeviceInformationParseCpin(nullptr, nullptr, &state));
}

TEST(TemperatureParserTest, TakesTheNumberAfterTheLastComma) {
  KvoTemperature temperature = 0;
  ASSERT_EQ(kKvoResultSuccess,
            DeviceInformationParseE2otr(nullptr, "\r\n*E2OTR: 0,1,45\r\n\r\nOK\r\n", &temperature));
  EXPECT_EQ(45, temperature);
  ASSERT_EQ(kKvoResultSuccess,
            DeviceInformationParseE2otr(nullptr, "*E2OTR: 0,-12\r\n", &temperature));
  EXPECT_EQ(-12, temperature);

  temperature = 99;
  const char* malformed[] = {
      "*E2OTR: 45\r\n", "*E2OTR: 0,45", "*E2OTR: 0,\r\n", "*E2OTR: 0,hot\r\n", "", nullptr};
  for (const char* answer : malformed) {
    EXPECT_EQ(kKvoResultGeneralErrorParseError,
              DeviceInformationParseE2otr(nullptr, answer, &temperature))
        << (answer != nullptr ? answer : "(null)");
  }
  EXPECT_EQ(99, temperature);
}

TEST(IccidParserTest, SwapsNibblePairsAndStopsAtTheFiller) {
  KvoIccid iccid;
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(
                                   nullptr, "+CRSM: 144,0,\"98103200000000000000\"\r\n", &iccid));
  EXPECT_STREQ("89012300000000000000", iccid);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(nullptr, "\"9810214F\"", &iccid));
  EXPECT_STREQ("890112", iccid);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(nullptr, "\"981021F4FF\"", &iccid));
  EXPECT_STREQ("8901124", iccid) << "F then a digit gives the digit and ends";
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(nullptr, "\"F8\"", &iccid));
  EXPECT_STREQ("8", iccid);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(nullptr, "\"8F98\"", &iccid));
  EXPECT_STREQ("", iccid);
  // An odd trailing character has no partner and is dropped.
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(nullptr, "\"981\"", &iccid));
  EXPECT_STREQ("89", iccid);
  // Longer than the record: cut to 63 digits.
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseIccid(
                                   nullptr, ("\"" + std::string(80, '1') + "\"").c_str(), &iccid));
  EXPECT_EQ(std::string(63, '1'), iccid);

  EXPECT_EQ(kKvoResultGeneralErrorParseError,
            DeviceInformationParseIccid(nullptr, "+CRSM: 144,0,9810\r\n", &iccid));
  EXPECT_EQ(kKvoResultGeneralErrorParseError,
            DeviceInformationParseIccid(nullptr, "+CRSM: 144,0,\"9810\r\n", &iccid));
  EXPECT_EQ(kKvoResultGeneralErrorParseError,
            DeviceInformationParseIccid(nullptr, nullptr, &iccid));
}

TEST(ImsiParserTest, SkipsAnEchoAndReturnsTheFirstLine) {
  KvoImsi imsi;
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseImsi(
                                   nullptr, "AT+CIMI\r\r\n240991234567890\r\n\r\nOK\r\n", &imsi));
  EXPECT_STREQ("240991234567890", imsi);
  ASSERT_EQ(kKvoResultSuccess,
            DeviceInformationParseImsi(nullptr, "\r\n240991234567890\r\n\r\nOK\r\n", &imsi));
  EXPECT_STREQ("240991234567890", imsi);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseImsi(nullptr, "\r\n\r\n", &imsi));
  EXPECT_STREQ("", imsi);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseImsi(nullptr, "AT+CIMI", &imsi));
  EXPECT_STREQ("", imsi);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseImsi(nullptr, nullptr, &imsi));
  EXPECT_STREQ("", imsi);
}

TEST(RadioModeParserTest, KnowsOnAndOffOnly) {
  DeviceRadioMode mode = kDeviceRadioModeOff;
  ASSERT_EQ(kKvoResultSuccess,
            DeviceInformationParseRadioMode("\r\n+CFUN: 1\r\n\r\nOK\r\n", &mode));
  EXPECT_EQ(kDeviceRadioModeOn, mode);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseRadioMode("\r\n+CFUN: 4\r\n", &mode));
  EXPECT_EQ(kDeviceRadioModeOff, mode);
  EXPECT_EQ(kKvoResultGeneralErrorParseError,
            DeviceInformationParseRadioMode("\r\n+CFUN: 0\r\n", &mode));
  EXPECT_EQ(kKvoResultGeneralErrorParseError, DeviceInformationParseRadioMode(nullptr, &mode));
}

TEST(OperatorDomainParserTest, TakesTheTokenAfterTheLastColon) {
  KvoNetworkName name;
  ASSERT_EQ(kKvoResultSuccess,
            DeviceInformationGetOperatorDomain("\r\n*EERCUST: TRV_VODACORP\r\n\r\nOK\r\n", &name));
  EXPECT_STREQ("TRV_VODACORP", name);
  const char* malformed[] = {"\r\nOK\r\n", "*EERCUST: \r\n", "*EERCUST:", "", nullptr};
  for (const char* answer : malformed) {
    EXPECT_EQ(kKvoResultGeneralErrorParseError, DeviceInformationGetOperatorDomain(answer, &name))
        << (answer != nullptr ? answer : "(null)");
  }
}

TEST(UpgradeStateParserTest, ReadsAnswersAndUnsolicitedLines) {
  DeviceUpgradeState state = 99;
  ASSERT_EQ(kKvoResultSuccess,
            DeviceInformationParseUpgradeState("\r\n*EEUSTATE: 1,4\r\n\r\nOK\r\n", &state));
  EXPECT_EQ(4u, state);
  ASSERT_EQ(kKvoResultSuccess, DeviceInformationParseUpgradeState("*EEUSTATE:1,13", &state));
  EXPECT_EQ(13u, state);

  state = 99;
  const char* malformed[] = {"*EEUSTATE: 4\r\n",
                             "*EEUSTATE:1,\r\n",
                             "*EEUSTATE:1,x\r\n",
                             "*EEUSTATE:1,-2\r\n",
                             "",
                             nullptr};
  for (const char* answer : malformed) {
    EXPECT_EQ(kKvoResultGeneralErrorParseError, DeviceInformationParseUpgradeState(answer, &state))
        << (answer != nullptr ? answer : "(null)");
  }
  EXPECT_EQ(99u, state);
}

TEST(ParserArgumentsTest, NullOutputsAreRefused) {
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceInformationParseCpin(nullptr, "READY", nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceInformationParseE2otr(nullptr, "0,1\r\n", nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceInformationParseIccid(nullptr, "\"98\"", nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceInformationParseImsi(nullptr, "1", nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceInformationParseUpgradeState("1,1", nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            DeviceInformationParseEevinfo(nullptr, "x", nullptr));
}

}  // namespace
