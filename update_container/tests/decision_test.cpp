// The container's choice of the next update step: the report rows that decide before the table
// (platform, individualization, fields), the path lookup, and every cell of the decision table
// against update_container/tests/golden/decisions.txt.

#include <gtest/gtest.h>

#include <string>

#include "testing/golden.h"
#include "testing/paths.h"
#include "update_container/tests/support/container_library.h"

namespace {

using uc_test::ModuleReport;
using uc_test::Report;

constexpr const char* kAvailable = "R3A06";     // matches "R3*"
constexpr const char* kOnTarget = "R5E/1";      // the target itself
constexpr const char* kNotAvailable = "R5B/1";  // matches no row

class DecisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uc.ok()) << uc.error();
    uc_test::ClearLog();
    uc.SetLogFunctionCallback(uc_test::RecordLog);
  }
  UcActionType Next(const std::string& report, int trigger = kUcTriggerInitial,
                    int flag = kUcUserInteractionUnknown) {
    return uc.GetNextAction(report.c_str(), static_cast<UcTriggerType>(trigger),
                            static_cast<UcInstallFlagType>(flag), kUcNetConfigurationAvailable);
  }
  uc_test::ContainerLibrary uc{tarvik_test::kCarriedContainer};
};

TEST_F(DecisionTest, IdentityAndHiddenInternals) {
  UcVersion version{0, 0};
  UcRevision revision = {};
  UcProductNumber product = {};
  EXPECT_EQ(kUcUpdateSuccess, uc.GetApiVersion(&version));
  EXPECT_EQ(kUcUpdateSuccess, uc.GetRevision(&revision));
  EXPECT_EQ(kUcUpdateSuccess, uc.GetProduct(&product));
  EXPECT_EQ(3u, version.major);
  EXPECT_EQ(1u, version.minor);
  EXPECT_STREQ("R5E06", revision);
  EXPECT_STREQ("ZNT 402 3364/1", product);
  for (const char* hidden :
       {"UcLog", "UcParseInfoElementString", "UcGetUpgradeInformation", "UcIsCidTpidValid",
        "kUcUpdateMatrix", "kUcAssignmentMatrix", "uc_package_0", "_Z15UcIsCidTpidValidPKc"}) {
    EXPECT_FALSE(uc.Exports(hidden)) << hidden;
  }
}

std::string Module(const char* product, const char* individualization, const char* state = "1",
                   const char* revision = kAvailable) {
  return Report({{"Product Number", product},
                 {"Config. Set Revision", revision},
                 {"Individualization", individualization},
                 {"Upgrade State", state}});
}

std::string WithoutCarriageReturns(std::string text) {
  for (size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r'))
    text.erase(at, 1);
  return text;
}

struct ReportRow {
  std::string report;
  UcActionType action;
};

// clang-format off
const ReportRow kReportRows[] = {
    {Report({{"Individualization", "189.190"}, {"Upgrade State", "1"}}), kUcActionInvalidPackage},
    {"no report at all", kUcActionInvalidPackage},
    {Report({{"Product Number", "ZRB 207 43/1"}, {"Upgrade State", "1"}}), kUcActionInvalidConfiguration},
    // "Config. Set Revision" holds ". " itself: the value is not read from inside the name.
    {ModuleReport("1", kOnTarget), kUcActionNoUpgradeNeeded},
    {WithoutCarriageReturns(ModuleReport("1", kOnTarget)), kUcActionNoUpgradeNeeded},
    // A missing state is 0; a state that is no number or above 13 leads nowhere.
    {Report({{"Product Number", "ZRB 207 43/1"}, {"Config. Set Revision", kNotAvailable}, {"Individualization", "189.190"}}), kUcActionWithProgressInfo},
    {ModuleReport("14", kNotAvailable), kUcActionNone},
    {ModuleReport("1234567", kNotAvailable), kUcActionNone},
    {ModuleReport("abc", kNotAvailable), kUcActionNone},
    {ModuleReport("-1", kNotAvailable), kUcActionNone},
    {ModuleReport("1a", kNotAvailable), kUcActionNone},
    // At most 7 characters of the state are read: "00000001" reads as "0000000".
    {ModuleReport("00000001", kNotAvailable), kUcActionWithProgressInfo},
    // Only the exact text "1" on the target needs no upgrade; "1 " goes to the table.
    {ModuleReport("1 ", kOnTarget), kUcActionNone},
};

// Each list holds the product numbers or individualizations that lead to one action.
const struct {
  bool product;  // the texts are product numbers (else individualizations)
  UcActionType action;
  std::vector<const char*> texts;
} kListRows[] = {
    // The supported platforms, anywhere in the text; "ZRB 207 48" and Brem modules are refused.
    {true, kUcActionDoUpgradeNotif, {"ZRB 207 43/1", "ZRB 207 44/1", "ZRB 207 45/1", "ZRB 207 46/1", "xx ZRB 207 47 yy"}},
    {true, kUcActionInvalidPackage, {"ZRB 207 48/1", "ZRB 207 42/1", "ZRB 20743", ""}},
    // CID list "189"; TPID list "189-192", "204-210", "100-112".
    {false, kUcActionDoUpgradeNotif, {"189.190", "189.189", "189.192", "189.204", "189.210", "189.100", "189.112", "0189.0190"}},
    {false, kUcActionInvalidConfiguration, {"189.193", "189.188", "189.203", "189.211", "189.99", "189.113", "188.190", "190.190", "177.190", "189", "189.", ".190", "189.19x", "18a.190", "189.-190", "189.190-192", "189.190.1", ""}},
};
// clang-format on

TEST_F(DecisionTest, EveryReportRow) {
  for (const auto& row : kListRows) {
    for (const char* text : row.texts) {
      EXPECT_EQ(row.action,
                Next(row.product ? Module(text, "189.190") : Module("ZRB 207 43/1", text)))
          << text;
    }
  }
  for (const ReportRow& row : kReportRows) {
    EXPECT_EQ(row.action, Next(row.report)) << WithoutCarriageReturns(row.report);
  }
  EXPECT_EQ(kUcActionInvalidPackage,
            uc.GetNextAction(nullptr, kUcTriggerInitial, kUcUserInteractionUnknown,
                             kUcNetConfigurationAvailable));
}

// A refused platform is logged once, the same in every state.
TEST_F(DecisionTest, PlatformRefusals) {
  for (const char* state : {"0", "1", "2", "4", "11", "13"}) {
    uc_test::ClearLog();
    EXPECT_EQ(kUcActionInvalidPackage,
              Next(Module("ZRB 207 48/1", "189.190", state), kUcTriggerModuleStatusChanged));
    ASSERT_EQ(1u, uc_test::Logged().size());
    EXPECT_EQ("UC", uc_test::Logged()[0].sender);
    EXPECT_EQ(kUcLogTypeError, uc_test::Logged()[0].type);
    EXPECT_EQ("UC - Module platform not supported.", uc_test::Logged()[0].text);
  }
  uc.SetLogFunctionCallback(nullptr);
  uc_test::ClearLog();
  EXPECT_EQ(kUcActionInvalidPackage, Next(""));
  EXPECT_TRUE(uc_test::Logged().empty()) << "nothing is logged without a callback";
}

// The number of "Comparing path" lines shows which row of the update matrix decided.
TEST_F(DecisionTest, PathLookupTakesTheFirstMatchingRow) {
  const struct {
    const char* revision;
    UcUpdateInformationType result;
    size_t rows_compared;
  } rows[] = {
      {"P1A", kUcNetConfigurationAvailable, 1},
      {"R1A01", kUcNetConfigurationAvailable, 2},
      {"R3A06", kUcNetConfigurationAvailable, 4},
      {"R4A02", kUcNetConfigurationAvailable, 5},
      {"R5A/1", kUcNetConfigurationAvailable, 6},
      {"R5A/10", kUcNetConfigurationAvailable, 6},  // a pattern without '*' is a prefix too
      {"R5C/1", kUcNetConfigurationAvailable, 7},
      {"R5E/1", kUcNetConfigurationAlreadyOnTarget, 1},
      {"R5B/1", kUcNetConfigurationNotAvailable, 7},
      {"R5E/2", kUcNetConfigurationNotAvailable, 7},
      {"r3A06", kUcNetConfigurationNotAvailable, 7},
      {"", kUcNetConfigurationNotAvailable, 7},
  };
  for (const auto& row : rows) {
    uc_test::ClearLog();
    char text[6][64] = {};
    const std::string report = ModuleReport("0", row.revision);
    EXPECT_EQ(row.result, uc.GetUpdateInformation(report.c_str(), text[0], text[1], text[2],
                                                  text[3], text[4], text[5]))
        << row.revision;
    EXPECT_EQ(row.rows_compared, uc_test::Logged().size()) << row.revision;
    EXPECT_EQ(row.result == kUcNetConfigurationNotAvailable ? "" : "ZNT4028813/1 R5E/1",
              std::string(text[2]))
        << row.revision;
  }
  ASSERT_FALSE(uc_test::Logged().empty());
  EXPECT_EQ("Comparing path, Current: P*, Target: R5E/1 with Device: .", uc_test::Logged()[0].text);
  EXPECT_EQ(kUcLogTypeDebug, uc_test::Logged()[0].type);
}

// clang-format off
const char* const kActionNames[] = {
    "None", "InvalidPackage", "NoUpgradeNeeded", "DoUpgradeConfirm", "DoUpgradeNotif", "ConfigsetCloseGUI", "ConfigSet",
    "WithProgressInfo", "WithoutProgressInfo", "UpgradeReadyReporting", "ActivationConfirm", "ActivationNotifReset",
    "ActivationNotif", "ModuleActivation", "DeleteContainer", "CloseGUI", "UpgradeNotAvailable", "ReceivedUpdatePackages",
    "Installing", "UpdateSucceeded", "ActivationError", "InvalidConfiguration"};
// clang-format on

// One line per state, trigger and path result: the actions for the install flags Unknown,
// Confirmed, Notified and Silent. State 1 is also written "01": the exact text "1" on the target is
// decided before the table.
TEST_F(DecisionTest, EveryCellOfTheDecisionTable) {
  const char* const paths[][2] = {
      {kAvailable, "available"}, {kOnTarget, "on-target"}, {kNotAvailable, "not-available"}};
  std::string table;
  for (int number = 0; number <= 14; ++number) {
    const std::string state = number == 14 ? "01" : std::to_string(number);
    for (int trigger = 0; trigger <= 5; ++trigger) {
      for (const auto& path : paths) {
        table += "state " + state + " trigger " + std::to_string(trigger) + " " + path[1] + ":";
        for (int flag = kUcUserInteractionUnknown; flag <= kUcUserInteractionSilent; ++flag) {
          table +=
              std::string(" ") + kActionNames[Next(ModuleReport(state, path[0]), trigger, flag)];
        }
        table += "\n";
      }
    }
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(
      TARVIK_SOURCE_DIR "/update_container/tests/golden/decisions.txt", table));
}

}  // namespace
