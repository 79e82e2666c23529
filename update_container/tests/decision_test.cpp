// The container's choice of the next update step: platform and individualization checks, the
// path lookup and every row of the decision table.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testing/paths.h"
#include "update_container/tests/support/container_library.h"

namespace {

using uc_test::ContainerLibrary;
using uc_test::ModuleReport;
using uc_test::Report;

constexpr const char* kAvailableRevision = "R3A06";     // matches "R3*"
constexpr const char* kOnTargetRevision = "R5E/1";      // the target itself
constexpr const char* kNotAvailableRevision = "R5B/1";  // matches no row

class DecisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uc.ok()) << uc.error();
    uc_test::ClearLog();
    uc.SetLogFunctionCallback(uc_test::RecordLog);
  }

  UcActionType Next(const std::string& report, UcTriggerType trigger = kUcTriggerInitial,
                    UcInstallFlagType flag = kUcUserInteractionUnknown) {
    return uc.GetNextAction(report.c_str(), trigger, flag, kUcNetConfigurationAvailable);
  }

  // A supported module with the given individualization.
  static std::string WithIndividualization(const std::string& individualization) {
    return Report({{"Product Number", "ZRB 207 43/1"},
                   {"Config. Set Product", "ZNT 402 8813/1"},
                   {"Config. Set Revision", kAvailableRevision},
                   {"Individualization", individualization},
                   {"Upgrade State", "1"}});
  }

  ContainerLibrary uc{tarvik_test::kCarriedContainer};
};

TEST_F(DecisionTest, ExportsExactlyTheInterface) {
  UcVersion version{0, 0};
  EXPECT_EQ(kUcUpdateSuccess, uc.GetApiVersion(&version));
  EXPECT_EQ(3u, version.major);
  EXPECT_EQ(1u, version.minor);
  UcRevision revision = {};
  EXPECT_EQ(kUcUpdateSuccess, uc.GetRevision(&revision));
  EXPECT_STREQ("R5E06", revision);
  UcProductNumber product = {};
  EXPECT_EQ(kUcUpdateSuccess, uc.GetProduct(&product));
  EXPECT_STREQ("ZNT 402 3364/1", product);
  // Internal helpers and tables stay hidden.
  for (const char* hidden :
       {"UcLog", "UcParseInfoElementString", "UcGetUpgradeInformation", "UcIsCidTpidValid",
        "kUcUpdateMatrix", "kUcAssignmentMatrix", "uc_package_0", "_Z15UcIsCidTpidValidPKc"}) {
    EXPECT_FALSE(uc.Exports(hidden)) << hidden;
  }
}

TEST_F(DecisionTest, PlatformMustBeSupported) {
  for (const char* product : {"ZRB 207 43/1", "ZRB 207 44/1", "ZRB 207 45/1", "ZRB 207 46/1",
                              "ZRB 207 47/1", "xx ZRB 207 47 yy"}) {
    std::string report = Report({{"Product Number", product},
                                 {"Config. Set Revision", kOnTargetRevision},
                                 {"Individualization", "189.190"},
                                 {"Upgrade State", "1"}});
    EXPECT_EQ(kUcActionNoUpgradeNeeded, Next(report)) << product;
  }
  for (const uc_test::LogLine& line : uc_test::Logged()) {
    EXPECT_EQ(std::string::npos, line.text.find("platform")) << line.text;
  }

  // "ZRB 207 48" and Brem numbers are refused whatever the state.
  for (const char* product : {"ZRB 207 48/1", "ZRB 207 42/1", "ZRB 20743", ""}) {
    for (const char* state : {"0", "1", "2", "4", "11", "13"}) {
      uc_test::ClearLog();
      std::string report = Report({{"Product Number", product},
                                   {"Config. Set Revision", kAvailableRevision},
                                   {"Individualization", "189.190"},
                                   {"Upgrade State", state}});
      EXPECT_EQ(kUcActionInvalidPackage, Next(report, kUcTriggerModuleStatusChanged))
          << product << " state " << state;
      ASSERT_EQ(1u, uc_test::Logged().size());
      EXPECT_EQ("UC - Module platform not supported.", uc_test::Logged()[0].text);
      EXPECT_EQ("UC", uc_test::Logged()[0].sender);
      EXPECT_EQ(kUcLogTypeError, uc_test::Logged()[0].type);
    }
  }
  // No "Product Number" field at all.
  EXPECT_EQ(kUcActionInvalidPackage,
            Next(Report({{"Individualization", "189.190"}, {"Upgrade State", "1"}})));
}

TEST_F(DecisionTest, CidAndTpidMustBeListed) {
  // CID list "189"; TPID list "189-192", "204-210", "100-112".
  for (const char* good : {"189.190", "189.189", "189.192", "189.204", "189.207", "189.210",
                           "189.100", "189.112", "0189.0190"}) {
    EXPECT_EQ(kUcActionDoUpgradeNotif, Next(WithIndividualization(good))) << good;
  }
  for (const char* bad : {"189.200", "177.190", "189", "189.", ".190", "189.193", "189.188",
                          "189.203", "189.211", "189.99", "189.113", "188.190", "190.190",
                          "189.19x", "18a.190", "189.-190", "189.190-192", "", "189.190.1"}) {
    EXPECT_EQ(kUcActionInvalidConfiguration, Next(WithIndividualization(bad))) << bad;
  }
  // No "Individualization" field.
  EXPECT_EQ(kUcActionInvalidConfiguration,
            Next(Report({{"Product Number", "ZRB 207 43/1"}, {"Upgrade State", "1"}})));
}

// The number of "Comparing path" lines shows which row of the matrix decided.
TEST_F(DecisionTest, PathLookupTakesTheFirstMatchingRow) {
  struct Case {
    const char* revision;
    UcUpdateInformationType result;
    size_t rows_compared;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    uc_test::ClearLog();
    char model[64] = {}, current[64] = {}, target[64] = {}, domain[64] = {}, hplmn[8] = {},
         interaction[16] = {};
    const std::string report = ModuleReport("0", c.revision);
    EXPECT_EQ(c.result, uc.GetUpdateInformation(report.c_str(), model, current, target, domain,
                                                hplmn, interaction))
        << c.revision;
    EXPECT_EQ(c.rows_compared, uc_test::Logged().size()) << c.revision;
    EXPECT_EQ(c.result == kUcNetConfigurationNotAvailable ? "" : "ZNT4028813/1 R5E/1",
              std::string(target))
        << c.revision;
  }
  // The compared row is named in the log.
  uc_test::ClearLog();
  char buffers[6][64] = {};
  const std::string report = ModuleReport("0", "R3A06");
  uc.GetUpdateInformation(report.c_str(), buffers[0], buffers[1], buffers[2], buffers[3],
                          buffers[4], buffers[5]);
  ASSERT_EQ(4u, uc_test::Logged().size());
  EXPECT_EQ("Comparing path, Current: R3*, Target: R5E/1 with Device: R3A06.",
            uc_test::Logged()[3].text);
  EXPECT_EQ(kUcLogTypeDebug, uc_test::Logged()[3].type);
}

TEST_F(DecisionTest, FieldsAreReadAfterTheirNames) {
  // "Config. Set Revision" holds ". " itself; the value must not be read from inside the name.
  std::string report = ModuleReport("1", kOnTargetRevision);
  EXPECT_EQ(kUcActionNoUpgradeNeeded, Next(report));
  // Values end at CR or LF; a report with bare LF line ends works alike.
  std::string lf_report = report;
  for (size_t at = lf_report.find('\r'); at != std::string::npos; at = lf_report.find('\r')) {
    lf_report.erase(at, 1);
  }
  EXPECT_EQ(kUcActionNoUpgradeNeeded, Next(lf_report));
  // A missing "Upgrade State" is state 0.
  std::string no_state = Report({{"Product Number", "ZRB 207 43/1"},
                                 {"Config. Set Revision", kNotAvailableRevision},
                                 {"Individualization", "189.190"}});
  EXPECT_EQ(kUcActionWithProgressInfo, Next(no_state));
  // A state that is no number, or above 13, leads nowhere.
  for (const char* state : {"14", "99", "1234567", "abc", "-1", "1a"}) {
    EXPECT_EQ(kUcActionNone, Next(ModuleReport(state, kNotAvailableRevision))) << state;
  }
  // "Upgrade State" is read with at most 7 characters: "00000001" reads as "0000000".
  EXPECT_EQ(kUcActionWithProgressInfo, Next(ModuleReport("00000001", kNotAvailableRevision)));
}

// The decision table, written as its rows. A row applies to a set of states, triggers and path
// results and names the action for Notified and for Silent; rows 3 and 7 name other actions for
// state 1.
struct Rule {
  std::set<int> states;
  std::set<int> triggers;
  std::set<UcUpdateInformationType> paths;
  UcActionType notified;
  UcActionType silent;
  bool state_one_differs;
  UcActionType state_one_notified;
  UcActionType state_one_silent;
};

const std::set<UcUpdateInformationType> kAnyPath = {kUcNetConfigurationAvailable,
                                                    kUcNetConfigurationAlreadyOnTarget,
                                                    kUcNetConfigurationNotAvailable};

std::vector<Rule> DecisionRows() {
  const std::set<int> first_states = {0, 1, 2};
  const std::set<int> first_use = {kUcTriggerInitial, kUcTriggerNewContainer};
  return {
      {first_states,
       first_use,
       {kUcNetConfigurationAvailable},
       kUcActionDoUpgradeNotif,
       kUcActionConfigsetCloseGUI,
       false,
       kUcActionNone,
       kUcActionNone},
      {first_states,
       first_use,
       {kUcNetConfigurationAlreadyOnTarget},
       kUcActionNone,
       kUcActionNone,
       false,
       kUcActionNone,
       kUcActionNone},
      {first_states,
       first_use,
       {kUcNetConfigurationNotAvailable},
       kUcActionWithProgressInfo,
       kUcActionWithoutProgressInfo,
       true,
       kUcActionNoUpgradeNeeded,
       kUcActionNoUpgradeNeeded},
      {first_states,
       {kUcTriggerUserConfirmUpgrade},
       {kUcNetConfigurationAvailable, kUcNetConfigurationNotAvailable},
       kUcActionConfigSet,
       kUcActionConfigSet,
       false,
       kUcActionNone,
       kUcActionNone},
      {first_states,
       {kUcTriggerUserConfirmUpgrade},
       {kUcNetConfigurationAlreadyOnTarget},
       kUcActionNone,
       kUcActionNone,
       false,
       kUcActionNone,
       kUcActionNone},
      {first_states,
       {kUcTriggerModuleStatusChanged},
       {kUcNetConfigurationAvailable},
       kUcActionNone,
       kUcActionNone,
       false,
       kUcActionNone,
       kUcActionNone},
      {first_states,
       {kUcTriggerModuleStatusChanged},
       {kUcNetConfigurationAlreadyOnTarget, kUcNetConfigurationNotAvailable},
       kUcActionWithProgressInfo,
       kUcActionWithoutProgressInfo,
       true,
       kUcActionUpgradeReadyReporting,
       kUcActionDeleteContainer},
      {first_states,
       {kUcTriggerUserConfirmActivation},
       kAnyPath,
       kUcActionActivationConfirm,
       kUcActionActivationConfirm,
       false,
       kUcActionNone,
       kUcActionNone},
      {{4},
       {kUcTriggerModuleStatusChanged},
       kAnyPath,
       kUcActionActivationNotif,
       kUcActionModuleActivation,
       false,
       kUcActionNone,
       kUcActionNone},
      {{4},
       {kUcTriggerInitial, kUcTriggerNewContainer, kUcTriggerUserConfirmUpgrade,
        kUcTriggerUserConfirmActivation, 5},
       kAnyPath,
       kUcActionModuleActivation,
       kUcActionModuleActivation,
       false,
       kUcActionNone,
       kUcActionNone},
      {{5},
       {kUcTriggerModuleStatusChanged},
       kAnyPath,
       kUcActionActivationNotif,
       kUcActionDeleteContainer,
       false,
       kUcActionNone,
       kUcActionNone},
      {{5},
       {kUcTriggerUserConfirmActivation},
       kAnyPath,
       kUcActionModuleActivation,
       kUcActionModuleActivation,
       false,
       kUcActionNone,
       kUcActionNone},
      {{11},
       {0, 1, 2, 3, 4, 5},
       kAnyPath,
       kUcActionWithProgressInfo,
       kUcActionWithoutProgressInfo,
       false,
       kUcActionNone,
       kUcActionNone},
      {{12},
       {kUcTriggerInitial, kUcTriggerModuleStatusChanged},
       kAnyPath,
       kUcActionActivationConfirm,
       kUcActionActivationConfirm,
       false,
       kUcActionNone,
       kUcActionNone},
      {{12},
       {kUcTriggerUserConfirmActivation},
       kAnyPath,
       kUcActionModuleActivation,
       kUcActionModuleActivation,
       false,
       kUcActionNone,
       kUcActionNone},
      {{13},
       {kUcTriggerInitial, kUcTriggerModuleStatusChanged},
       kAnyPath,
       kUcActionActivationNotif,
       kUcActionActivationNotif,
       false,
       kUcActionNone,
       kUcActionNone},
      {{13},
       {kUcTriggerUserConfirmActivation},
       kAnyPath,
       kUcActionModuleActivation,
       kUcActionModuleActivation,
       false,
       kUcActionNone,
       kUcActionNone},
  };
}

const char* RevisionFor(UcUpdateInformationType path) {
  switch (path) {
    case kUcNetConfigurationAvailable:
      return kAvailableRevision;
    case kUcNetConfigurationAlreadyOnTarget:
      return kOnTargetRevision;
    default:
      return kNotAvailableRevision;
  }
}

TEST_F(DecisionTest, EveryCellOfTheDecisionTable) {
  const std::vector<Rule> rows = DecisionRows();
  int cells = 0;
  for (int state = 0; state <= 13; ++state) {
    for (int trigger = 0; trigger <= 5; ++trigger) {
      for (UcUpdateInformationType path : kAnyPath) {
        // State 1 is also written "01": the exact text "1" on target is decided before the
        // table (NoUpgradeNeeded), "01" reaches the table's state-1 cells.
        std::vector<std::string> texts = {std::to_string(state)};
        if (state == 1) texts.push_back("01");
        for (const std::string& text : texts) {
          for (int flag = kUcUserInteractionUnknown; flag <= kUcUserInteractionSilent; ++flag) {
            const bool silent = flag == kUcUserInteractionSilent;
            UcActionType expected = kUcActionNone;
            int matching_rows = 0;
            for (const Rule& row : rows) {
              if (row.states.count(state) == 0 || row.triggers.count(trigger) == 0 ||
                  row.paths.count(path) == 0) {
                continue;
              }
              ++matching_rows;
              if (row.state_one_differs && state == 1) {
                expected = silent ? row.state_one_silent : row.state_one_notified;
              } else {
                expected = silent ? row.silent : row.notified;
              }
            }
            ASSERT_LE(matching_rows, 1) << "rows of the table overlap";
            if (text == "1" && path == kUcNetConfigurationAlreadyOnTarget) {
              expected = kUcActionNoUpgradeNeeded;
            }
            EXPECT_EQ(expected, Next(ModuleReport(text, RevisionFor(path)),
                                     static_cast<UcTriggerType>(trigger),
                                     static_cast<UcInstallFlagType>(flag)))
                << "state " << text << " trigger " << trigger << " path " << path << " flag "
                << flag;
            ++cells;
          }
        }
      }
    }
  }
  EXPECT_EQ((14 * 6 * 3 + 6 * 3) * 4, cells);
}

TEST_F(DecisionTest, OnTargetInStateOneNeedsNoUpgradeWhateverTheTrigger) {
  for (int trigger = 0; trigger <= 5; ++trigger) {
    EXPECT_EQ(kUcActionNoUpgradeNeeded,
              Next(ModuleReport("1", kOnTargetRevision), static_cast<UcTriggerType>(trigger),
                   kUcUserInteractionSilent));
  }
  // Anything after the digit makes it another text; the table then decides numerically.
  EXPECT_EQ(kUcActionUpgradeReadyReporting,
            Next(ModuleReport("1 ", kOnTargetRevision), kUcTriggerModuleStatusChanged));
  EXPECT_EQ(kUcActionNone, Next(ModuleReport("1 ", kOnTargetRevision), kUcTriggerInitial));
}

TEST_F(DecisionTest, NothingIsLoggedWithoutACallback) {
  uc.SetLogFunctionCallback(nullptr);
  EXPECT_EQ(kUcActionInvalidPackage, Next("no report at all"));
  EXPECT_EQ(kUcActionInvalidPackage, Next(""));
  EXPECT_EQ(kUcActionInvalidPackage,
            uc.GetNextAction(nullptr, kUcTriggerInitial, kUcUserInteractionUnknown,
                             kUcNetConfigurationAvailable));
  EXPECT_TRUE(uc_test::Logged().empty());
}

}  // namespace
