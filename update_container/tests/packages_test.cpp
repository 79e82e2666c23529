// What the container hands out: the packages a module asks for (the carried ones against
// update_container/tests/golden/packages.txt), the net configuration of its target and the
// description of the update.

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/golden.h"
#include "testing/paths.h"
#include "update_container/tests/support/container_library.h"
#include "update_container/tools/package_bytes.h"

namespace {

using uc_test::ContainerLibrary;
using uc_test::ModuleReport;

constexpr const char* kNetworkList = "ZNL5504429_1_R1D_networklist";
constexpr const char* kFirmwareR1 = "ZNT4025527_1_R1G01_FC.ZIP";
const std::string kGolden = TARVIK_SOURCE_DIR "/update_container/tests/golden/packages.txt";

// An "AT*EEVINFO=4" answer: the report, then one "# <name>" line per requested package.
std::string Requesting(const std::vector<std::string>& names) {
  std::string answer = ModuleReport("2", "R5E/1");
  for (const std::string& name : names) answer += "# " + name + "\r\n";
  return answer;
}

// The bytes that a package of that name and length must have.
bool HasItsBytes(const char* name, const unsigned char* data, size_t size) {
  std::vector<unsigned char> bytes(size);
  uc_packages::FillPackage(name, bytes.data(), bytes.size());
  return data != nullptr && std::memcmp(bytes.data(), data, size) == 0 &&
         std::memcmp(uc_packages::kHeader, data, uc_packages::kHeaderSize) == 0;
}

class PackagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uc.ok()) << uc.error();
    uc_test::ClearLog();
    uc.SetLogFunctionCallback(uc_test::RecordLog);
  }
  // The next package as "name length" (the name given), after checking its bytes.
  std::string Next(const std::string& name) {
    unsigned char* data = nullptr;
    size_t size = 0;
    if (uc.GetNextUpdateItem(&data, &size) != kUcUpdateSuccess) return "done";
    EXPECT_TRUE(HasItsBytes(name.c_str(), data, size)) << name;
    return name + " " + std::to_string(size);
  }
  bool Done() {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    size_t size = 7;
    return uc.GetNextUpdateItem(&data, &size) == kUcUpdateDone && data == nullptr && size == 0;
  }
  ContainerLibrary uc{tarvik_test::kCarriedContainer};
};

// Every package the golden file names, requested at once, comes in request order with its length
// and bytes; the total is their sum.
TEST_F(PackagesTest, EveryCarriedPackage) {
  std::vector<std::string> names;
  for (const std::string& line : tarvik_test::SplitLines(tarvik_test::ReadFile(kGolden), "\n")) {
    names.push_back(line.substr(0, line.find(' ')));
  }
  ASSERT_FALSE(names.empty());
  size_t total = 0;
  ASSERT_EQ(kUcUpdateSuccess, uc.GetTotalSizeOfUpdate(Requesting(names).c_str(), &total));
  std::string listed;
  size_t sum = 0;
  for (const std::string& name : names) {
    const std::string line = Next(name);
    listed += line + "\n";
    sum += std::stoul(line.substr(line.rfind(' ') + 1));
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(kGolden, listed));
  EXPECT_EQ(sum, total);
  EXPECT_TRUE(Done());
  EXPECT_TRUE(Done()) << "and stays done";
}

struct RequestRow {
  std::string answer;
  UcStatus status;
  size_t total;
  std::vector<std::string> listed;  // the packages then handed out
};

// Requests are "# <name>" lines right after a line feed; a name the container lacks fails the
// query but keeps the packages before it. Each row loads the container afresh.
TEST(RequestTest, RequestLines) {
  const std::string r1(kFirmwareR1), net(kNetworkList);
  // clang-format off
  const RequestRow rows[] = {
      {Requesting({"ZNT4025527_1_R4A02_FC.ZIP", net}), kUcUpdateSuccess, 8466689, {"ZNT4025527_1_R4A02_FC.ZIP 8432613", net + " 34076"}},
      {Requesting({r1, "ZNT4025527_1_R9Z99_FC.ZIP", net}), kUcUpdateErrorMissingFile, 4126, {r1 + " 4126"}},
      {ModuleReport("2", "R3A06"), kUcUpdateNoFilesFoundInEeevinfo, 0, {}},
      // Not at the very start, not after other text, and an empty name ends the scan.
      {"# " + r1 + "\r\nx # " + net + "\r\n# \r\n# " + net + "\r\n", kUcUpdateNoFilesFoundInEeevinfo, 0, {}},
      // At the very end without a line end, and after bare line feeds.
      {"OK\n# " + r1 + "\n#x" + net, kUcUpdateSuccess, 4126 + 34076, {r1 + " 4126", net + " 34076"}},
      {"\n# ", kUcUpdateNoFilesFoundInEeevinfo, 0, {}},  // too short to hold a name
  };
  // clang-format on
  for (const RequestRow& row : rows) {
    ContainerLibrary fresh(tarvik_test::kCarriedContainer);
    size_t total = 99;
    EXPECT_EQ(row.status, fresh.GetTotalSizeOfUpdate(row.answer.c_str(), &total)) << row.answer;
    EXPECT_EQ(row.total, total) << row.answer;
    for (const std::string& line : row.listed) {
      unsigned char* data = nullptr;
      size_t size = 0;
      ASSERT_EQ(kUcUpdateSuccess, fresh.GetNextUpdateItem(&data, &size)) << line;
      EXPECT_EQ(line, line.substr(0, line.find(' ')) + " " + std::to_string(size));
    }
    unsigned char* data = nullptr;
    size_t size = 0;
    EXPECT_EQ(kUcUpdateDone, fresh.GetNextUpdateItem(&data, &size)) << row.answer;
  }
  ContainerLibrary uc(tarvik_test::kCarriedContainer);
  size_t total = 0;
  EXPECT_EQ(kUcUpdateError, uc.GetTotalSizeOfUpdate(nullptr, &total));
}

// The list holds 32 entries for as long as the library stays loaded: a query that would go beyond
// fails whole, and a fresh load starts a fresh list.
TEST(ContainerLifetimeTest, ThirtyTwoEntriesPerLoad) {
  size_t total = 0;
  unsigned char* data = nullptr;
  size_t size = 0;
  {
    ContainerLibrary first(tarvik_test::kCarriedContainer);
    ASSERT_TRUE(first.ok()) << first.error();
    uc_test::ClearLog();
    first.SetLogFunctionCallback(uc_test::RecordLog);
    ASSERT_EQ(kUcUpdateSuccess,
              first.GetTotalSizeOfUpdate(
                  Requesting(std::vector<std::string>(20, kFirmwareR1)).c_str(), &total));
    EXPECT_EQ(kUcUpdateError,
              first.GetTotalSizeOfUpdate(
                  Requesting(std::vector<std::string>(13, kNetworkList)).c_str(), &total));
    ASSERT_FALSE(uc_test::Logged().empty());
    EXPECT_EQ(kUcLogTypeError, uc_test::Logged().back().type);
    EXPECT_NE(std::string::npos, uc_test::Logged().back().text.find("32"));
    // Loaded twice is still one library with one list.
    ContainerLibrary again(tarvik_test::kCarriedContainer);
    int handed_out = 0;
    while (again.GetNextUpdateItem(&data, &size) == kUcUpdateSuccess) ++handed_out;
    EXPECT_EQ(20 + 12, handed_out);
    EXPECT_EQ(kUcUpdateError,
              again.GetTotalSizeOfUpdate(Requesting({kFirmwareR1}).c_str(), &total));
  }
  ContainerLibrary fresh(tarvik_test::kCarriedContainer);
  EXPECT_EQ(kUcUpdateDone, fresh.GetNextUpdateItem(&data, &size));
  EXPECT_EQ(kUcUpdateSuccess,
            fresh.GetTotalSizeOfUpdate(Requesting({kNetworkList}).c_str(), &total));
}

TEST_F(PackagesTest, NetConfigurationOfTheTarget) {
  for (const char* revision : {"R3A06", "P1A", "R5C/1", "R5E/1", "R5B/1", ""}) {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    size_t size = 7;
    const bool has_path = *revision != '\0' && std::strcmp(revision, "R5B/1") != 0;
    EXPECT_EQ(has_path ? kUcUpdateSuccess : kUcUpdateError,
              uc.GetNetConfiguration(ModuleReport("1", revision).c_str(), &data, &size))
        << revision;
    EXPECT_EQ(has_path ? 24792u : 0u, size);
    EXPECT_TRUE(has_path ? HasItsBytes("R5E/1", data, size) : data == nullptr) << revision;
  }
}

TEST_F(PackagesTest, UpdateInformationDescribesModuleCurrentAndTarget) {
  char model[64] = {}, current[64] = {}, target[64] = {}, domain[64] = {}, hplmn[5] = {},
       interaction[7] = {};
  auto describe = [&](const std::string& report) {
    return uc.GetUpdateInformation(report.c_str(), model, current, target, domain, hplmn,
                                   interaction);
  };
  EXPECT_EQ(kUcNetConfigurationAvailable, describe(ModuleReport("0", "R3A06")));
  EXPECT_STREQ("Tarvik Module TM-21", model);
  EXPECT_STREQ("ZNT4028813/1 R3A06", current);  // white space of the product removed
  EXPECT_STREQ("ZNT4028813/1 R5E/1", target);
  EXPECT_STREQ("Vendor One", domain);
  EXPECT_STREQ("2420", hplmn);
  EXPECT_EQ(0, std::memcmp("Notify\0", interaction, 7));

  EXPECT_EQ(kUcNetConfigurationAlreadyOnTarget, describe(ModuleReport("2", "R5E/1")));
  EXPECT_STREQ("ZNT4028813/1 R5E/1", current);
  EXPECT_STREQ(current, target);

  // No path: no target; a domain without ';' leaves the home network empty.
  std::strcpy(target, "stale");
  std::strcpy(hplmn, "9999");
  EXPECT_EQ(kUcNetConfigurationNotAvailable,
            describe(uc_test::Report({{"Model", "M"},
                                      {"Config. Set Product", " ZNT 402\t8813/1 "},
                                      {"Config. Set Revision", "R5B/1"},
                                      {"Network Customization", "Plain"}})));
  EXPECT_STREQ("ZNT4028813/1 R5B/1", current);
  EXPECT_STREQ("", target);
  EXPECT_STREQ("Plain", domain);
  EXPECT_STREQ("", hplmn);

  // Long values are cut to the buffers.
  const std::string x(100, 'x');
  EXPECT_EQ(kUcNetConfigurationAvailable,
            describe(uc_test::Report({{"Model", x},
                                      {"Config. Set Product", x},
                                      {"Config. Set Revision", "R3" + x},
                                      {"Network Customization", x + ";123456"}})));
  EXPECT_EQ(63u, std::strlen(model));
  EXPECT_EQ(63u, std::strlen(current));
  EXPECT_EQ(63u, std::strlen(domain));
  EXPECT_LT(std::strlen(hplmn), sizeof hplmn);
  EXPECT_STREQ("ZNT4028813/1 R5E/1", target);
  EXPECT_EQ(kUcNetConfigurationInvalid,
            uc.GetUpdateInformation("", nullptr, current, target, domain, hplmn, interaction));

  // The path list itself is checked where the library lists it; here only its log line.
  UcPathStructType* list = nullptr;
  size_t size = 0;
  uc_test::ClearLog();
  uc.GetUpgradePaths(&list, &size);
  ASSERT_EQ(1u, uc_test::Logged().size());
  EXPECT_EQ("Number of upgrade paths in container: 7", uc_test::Logged()[0].text);
  EXPECT_EQ(kUcLogTypeInfo, uc_test::Logged()[0].type);
}

}  // namespace
