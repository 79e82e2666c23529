// What the container hands out: the packages a module asks for, the net configuration of its
// target, the description of the update and the list of upgrade paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/paths.h"
#include "update_container/tests/support/container_library.h"
#include "update_container/tools/package_bytes.h"

namespace {

using uc_test::ContainerLibrary;
using uc_test::ModuleReport;

constexpr const char* kNetworkList = "ZNL5504429_1_R1D_networklist";
constexpr const char* kFirmwareR4 = "ZNT4025527_1_R4A02_FC.ZIP";
constexpr const char* kFirmwareR1 = "ZNT4025527_1_R1G01_FC.ZIP";

// An "AT*EEVINFO=4" answer: the report followed by one "# <name>" line per requested package.
std::string AnswerRequesting(const std::vector<std::string>& names) {
  std::string answer = ModuleReport("2", "R5E/1");
  for (const std::string& name : names) answer += "# " + name + "\r\n";
  return answer;
}

// The bytes a package of that name and length must have.
std::vector<unsigned char> ExpectedPackage(const char* name, size_t length) {
  std::vector<unsigned char> bytes(length);
  uc_packages::FillPackage(name, bytes.data(), bytes.size());
  return bytes;
}

struct Item {
  UcStatus status;
  const unsigned char* data;
  size_t size;
};

class PackagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uc.ok()) << uc.error();
    uc_test::ClearLog();
    uc.SetLogFunctionCallback(uc_test::RecordLog);
  }

  Item NextItem() {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    size_t size = 12345;
    const UcStatus status = uc.GetNextUpdateItem(&data, &size);
    return {status, data, size};
  }

  void ExpectItem(const char* name, size_t length) {
    const Item item = NextItem();
    ASSERT_EQ(kUcUpdateSuccess, item.status) << name;
    ASSERT_EQ(length, item.size) << name;
    ASSERT_NE(nullptr, item.data) << name;
    const std::vector<unsigned char> expected = ExpectedPackage(name, length);
    EXPECT_EQ(0, std::memcmp(expected.data(), item.data, length)) << name;
  }

  void ExpectDone() {
    const Item item = NextItem();
    EXPECT_EQ(kUcUpdateDone, item.status);
    EXPECT_EQ(nullptr, item.data);
    EXPECT_EQ(0u, item.size);
  }

  ContainerLibrary uc{tarvik_test::kCarriedContainer};
};

TEST_F(PackagesTest, RequestedPackagesInRequestOrder) {
  const std::string answer = AnswerRequesting({kFirmwareR4, kNetworkList});
  size_t total = 0;
  EXPECT_EQ(kUcUpdateSuccess, uc.GetTotalSizeOfUpdate(answer.c_str(), &total));
  EXPECT_EQ(8466689u, total);
  ExpectItem(kFirmwareR4, 8432613);
  ExpectItem(kNetworkList, 34076);
  ExpectDone();
  ExpectDone();
  ExpectDone();
}

TEST_F(PackagesTest, EveryCarriedPackageHasItsLengthAndTheCommonHeader) {
  struct Row {
    const char* name;
    size_t length;
  };
  const Row rows[] = {{kNetworkList, 34076},
                      {kFirmwareR1, 4126},
                      {"ZNT4025527_1_R2A07_FC.ZIP", 4126},
                      {"ZNT4025527_1_R2B02_FC.ZIP", 4127},
                      {"ZNT4025527_1_R3A06_FC.ZIP", 4127},
                      {"ZNT4025527_1_R3C01_FC.ZIP", 8401222},
                      {kFirmwareR4, 8432613}};
  std::vector<std::string> names;
  size_t sum = 0;
  for (const Row& row : rows) {
    names.push_back(row.name);
    sum += row.length;
  }
  size_t total = 0;
  const std::string answer = AnswerRequesting(names);
  ASSERT_EQ(kUcUpdateSuccess, uc.GetTotalSizeOfUpdate(answer.c_str(), &total));
  EXPECT_EQ(sum, total);
  const unsigned char* previous = nullptr;
  for (const Row& row : rows) {
    const Item item = NextItem();
    ASSERT_EQ(kUcUpdateSuccess, item.status);
    ASSERT_EQ(row.length, item.size) << row.name;
    EXPECT_EQ(0, std::memcmp(uc_packages::kHeader, item.data, uc_packages::kHeaderSize));
    const std::vector<unsigned char> expected = ExpectedPackage(row.name, row.length);
    EXPECT_EQ(0, std::memcmp(expected.data(), item.data, row.length)) << row.name;
    // Packages of equal length still differ.
    if (previous != nullptr) {
      EXPECT_NE(0, std::memcmp(previous, item.data, 4126));
    }
    previous = item.data;
  }
  ExpectDone();
}

TEST_F(PackagesTest, ANameThatIsNotCarriedFailsButKeepsTheListSoFar) {
  const std::string answer =
      AnswerRequesting({kFirmwareR1, "ZNT4025527_1_R9Z99_FC.ZIP", kNetworkList});
  size_t total = 0;
  EXPECT_EQ(kUcUpdateErrorMissingFile, uc.GetTotalSizeOfUpdate(answer.c_str(), &total));
  ExpectItem(kFirmwareR1, 4126);
  ExpectDone();
}

TEST_F(PackagesTest, RequestLinesFollowALineFeed) {
  size_t total = 99;
  // No "#" lines at all.
  const std::string plain = ModuleReport("2", "R3A06");
  EXPECT_EQ(kUcUpdateNoFilesFoundInEeevinfo, uc.GetTotalSizeOfUpdate(plain.c_str(), &total));
  EXPECT_EQ(0u, total);
  // A request at the very start, without a line feed before it, is not a request; neither is a
  // '#' that does not start a line, nor an empty name (which ends the scan).
  std::string odd = "# " + std::string(kFirmwareR1) + "\r\nx # " + kNetworkList + "\r\n# \r\n# " +
                    kNetworkList + "\r\n";
  EXPECT_EQ(kUcUpdateNoFilesFoundInEeevinfo, uc.GetTotalSizeOfUpdate(odd.c_str(), &total));
  // A request at the very end without a line end, and LF-only line ends.
  std::string tail = "OK\n# " + std::string(kFirmwareR1) + "\n#x" + kNetworkList;
  EXPECT_EQ(kUcUpdateSuccess, uc.GetTotalSizeOfUpdate(tail.c_str(), &total));
  EXPECT_EQ(4126u + 34076u, total);
  // Too short to hold a name.
  EXPECT_EQ(kUcUpdateNoFilesFoundInEeevinfo, uc.GetTotalSizeOfUpdate("\n# ", &total));
  EXPECT_EQ(kUcUpdateError, uc.GetTotalSizeOfUpdate(nullptr, &total));
  ExpectItem(kFirmwareR1, 4126);
  ExpectItem(kNetworkList, 34076);
  ExpectDone();
}

TEST_F(PackagesTest, TheListHoldsThirtyTwoEntries) {
  // Two queries fill the list to 32; the 33rd request is refused without touching the list.
  const std::string twenty = AnswerRequesting(std::vector<std::string>(20, kFirmwareR1));
  const std::string thirteen = AnswerRequesting(std::vector<std::string>(13, kNetworkList));
  size_t total = 0;
  ASSERT_EQ(kUcUpdateSuccess, uc.GetTotalSizeOfUpdate(twenty.c_str(), &total));
  EXPECT_EQ(20u * 4126u, total);
  EXPECT_EQ(kUcUpdateError, uc.GetTotalSizeOfUpdate(thirteen.c_str(), &total));
  ASSERT_FALSE(uc_test::Logged().empty());
  EXPECT_EQ(kUcLogTypeError, uc_test::Logged().back().type);
  EXPECT_NE(std::string::npos, uc_test::Logged().back().text.find("32"));
  for (int i = 0; i < 20; ++i) ExpectItem(kFirmwareR1, 4126);
  for (int i = 0; i < 12; ++i) ExpectItem(kNetworkList, 34076);
  ExpectDone();
  // Still refused once the list has been walked: it is never reset while loaded.
  EXPECT_EQ(kUcUpdateError,
            uc.GetTotalSizeOfUpdate(AnswerRequesting({kFirmwareR1}).c_str(), &total));
  ExpectDone();
}

// The list lives as long as the library stays loaded; the host loads it once per update run.
TEST(ContainerLifetimeTest, AFreshLoadStartsAFreshList) {
  const std::string full = AnswerRequesting(std::vector<std::string>(32, kFirmwareR1));
  const std::string one = AnswerRequesting({kNetworkList});
  unsigned char* data = nullptr;
  size_t size = 0;
  size_t total = 0;
  {
    ContainerLibrary first(tarvik_test::kCarriedContainer);
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_EQ(kUcUpdateSuccess, first.GetTotalSizeOfUpdate(full.c_str(), &total));
    ContainerLibrary again(tarvik_test::kCarriedContainer);
    ASSERT_TRUE(again.ok());
    // Loaded twice is still one library with one list.
    EXPECT_EQ(kUcUpdateError, again.GetTotalSizeOfUpdate(one.c_str(), &total));
    EXPECT_EQ(kUcUpdateSuccess, again.GetNextUpdateItem(&data, &size));
  }
  ContainerLibrary fresh(tarvik_test::kCarriedContainer);
  ASSERT_TRUE(fresh.ok());
  EXPECT_EQ(kUcUpdateDone, fresh.GetNextUpdateItem(&data, &size));
  EXPECT_EQ(kUcUpdateSuccess, fresh.GetTotalSizeOfUpdate(one.c_str(), &total));
  EXPECT_EQ(kUcUpdateSuccess, fresh.GetNextUpdateItem(&data, &size));
  EXPECT_EQ(34076u, size);
}

TEST_F(PackagesTest, NetConfigurationOfTheTarget) {
  for (const char* revision : {"R3A06", "P1A", "R5C/1", "R5E/1"}) {
    const std::string report = ModuleReport("1", revision);
    unsigned char* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(kUcUpdateSuccess, uc.GetNetConfiguration(report.c_str(), &data, &size)) << revision;
    ASSERT_EQ(24792u, size);
    const std::vector<unsigned char> expected = ExpectedPackage("R5E/1", 24792);
    EXPECT_EQ(0, std::memcmp(expected.data(), data, size));
  }
  for (const char* revision : {"R5B/1", ""}) {
    const std::string report = ModuleReport("1", revision);
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    size_t size = 7;
    EXPECT_EQ(kUcUpdateError, uc.GetNetConfiguration(report.c_str(), &data, &size)) << revision;
    EXPECT_EQ(0u, size);
    EXPECT_EQ(nullptr, data);
  }
}

TEST_F(PackagesTest, UpdateInformationDescribesModuleCurrentAndTarget) {
  char model[64] = {}, current[64] = {}, target[64] = {}, domain[64] = {}, hplmn[5] = {},
       interaction[7] = {};
  const std::string report = ModuleReport("0", "R3A06");
  EXPECT_EQ(
      kUcNetConfigurationAvailable,
      uc.GetUpdateInformation(report.c_str(), model, current, target, domain, hplmn, interaction));
  EXPECT_STREQ("Tarvik Module TM-21", model);
  EXPECT_STREQ("ZNT4028813/1 R3A06", current);  // white space of the product removed
  EXPECT_STREQ("ZNT4028813/1 R5E/1", target);
  EXPECT_STREQ("Vendor One", domain);
  EXPECT_STREQ("2420", hplmn);
  EXPECT_EQ(0, std::memcmp("Notify\0", interaction, 7));

  // On target: the same texts on both sides.
  const std::string on_target = ModuleReport("2", "R5E/1");
  EXPECT_EQ(kUcNetConfigurationAlreadyOnTarget,
            uc.GetUpdateInformation(on_target.c_str(), model, current, target, domain, hplmn,
                                    interaction));
  EXPECT_STREQ("ZNT4028813/1 R5E/1", current);
  EXPECT_STREQ(current, target);

  // No path: no target; a domain without ';' leaves the home network empty.
  std::string no_path = uc_test::Report({{"Model", "M"},
                                         {"Config. Set Product", " ZNT 402\t8813/1 "},
                                         {"Config. Set Revision", "R5B/1"},
                                         {"Network Customization", "Plain"}});
  std::strcpy(target, "stale");
  std::strcpy(hplmn, "9999");
  EXPECT_EQ(
      kUcNetConfigurationNotAvailable,
      uc.GetUpdateInformation(no_path.c_str(), model, current, target, domain, hplmn, interaction));
  EXPECT_STREQ("ZNT4028813/1 R5B/1", current);
  EXPECT_STREQ("", target);
  EXPECT_STREQ("Plain", domain);
  EXPECT_STREQ("", hplmn);

  // Long values are cut to the buffers.
  const std::string long_text(100, 'x');
  std::string long_report = uc_test::Report({{"Model", long_text},
                                             {"Config. Set Product", long_text},
                                             {"Config. Set Revision", "R3" + long_text},
                                             {"Network Customization", long_text + ";123456"}});
  EXPECT_EQ(kUcNetConfigurationAvailable,
            uc.GetUpdateInformation(long_report.c_str(), model, current, target, domain, hplmn,
                                    interaction));
  EXPECT_EQ(63u, std::strlen(model));
  EXPECT_EQ(63u, std::strlen(current));
  EXPECT_EQ(63u, std::strlen(domain));
  EXPECT_STREQ("ZNT4028813/1 R5E/1", target);

  EXPECT_EQ(kUcNetConfigurationInvalid,
            uc.GetUpdateInformation(report.c_str(), nullptr, current, target, domain, hplmn,
                                    interaction));
}

TEST_F(PackagesTest, UpgradePathsAreTheMatrix) {
  UcPathStructType* list = nullptr;
  size_t size = 0;
  uc.GetUpgradePaths(&list, &size);
  ASSERT_EQ(7u, size);
  ASSERT_NE(nullptr, list);
  const char* patterns[] = {"P*", "R1*", "R2*", "R3*", "R4*", "R5A/1", "R5C/1"};
  for (size_t i = 0; i < size; ++i) {
    EXPECT_STREQ(patterns[i], list[i].current_rstate);
    EXPECT_STREQ("R5E/1", list[i].target_rstate);
  }
  ASSERT_EQ(1u, uc_test::Logged().size());
  EXPECT_EQ("Number of upgrade paths in container: 7", uc_test::Logged()[0].text);
  EXPECT_EQ(kUcLogTypeInfo, uc_test::Logged()[0].type);
}

// The small container built from other tables by the same build function.
TEST(ConfirmContainerTest, OtherTablesSameLogic) {
  ContainerLibrary uc(tarvik_test::kConfirmContainer);
  ASSERT_TRUE(uc.ok()) << uc.error();
  UcRevision revision = {};
  uc.GetRevision(&revision);
  EXPECT_STRNE("R5E06", revision);

  char model[64] = {}, current[64] = {}, target[64] = {}, domain[64] = {}, hplmn[8] = {},
       interaction[16] = {};
  const std::string report = ModuleReport("1", "R4A02");
  EXPECT_EQ(
      kUcNetConfigurationAvailable,
      uc.GetUpdateInformation(report.c_str(), model, current, target, domain, hplmn, interaction));
  EXPECT_STREQ("ZNT4028813/1 R5E/1", target);
  EXPECT_STREQ("Confirm", interaction);
  EXPECT_EQ(kUcActionDoUpgradeNotif,
            uc.GetNextAction(report.c_str(), kUcTriggerInitial, kUcUserInteractionUnknown,
                             kUcNetConfigurationAvailable));
  // P... leads nowhere in this container.
  const std::string early = ModuleReport("0", "P1A");
  EXPECT_EQ(
      kUcNetConfigurationNotAvailable,
      uc.GetUpdateInformation(early.c_str(), model, current, target, domain, hplmn, interaction));

  std::string answer =
      ModuleReport("2", "R5E/1") +
      "# TEST_PACKAGE_100.ZIP\r\n# TEST_PACKAGE_200.ZIP\r\n# TEST_PACKAGE_700.ZIP\r\n";
  size_t total = 0;
  EXPECT_EQ(kUcUpdateSuccess, uc.GetTotalSizeOfUpdate(answer.c_str(), &total));
  EXPECT_EQ(1000u, total);
  for (size_t expected : {100u, 200u, 700u}) {
    unsigned char* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(kUcUpdateSuccess, uc.GetNextUpdateItem(&data, &size));
    EXPECT_EQ(expected, size);
    EXPECT_EQ(0, std::memcmp(uc_packages::kHeader, data, uc_packages::kHeaderSize));
  }
  unsigned char* data = nullptr;
  size_t size = 0;
  EXPECT_EQ(kUcUpdateDone, uc.GetNextUpdateItem(&data, &size));
}

}  // namespace
