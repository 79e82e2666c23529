// Opening and identifying modules against the simulated module.

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device_sim_fixture.h"

namespace {

using kvo_test::LibraryTest;
using kvo_test::NamedProfile;

class DeviceOpenPlatformTest : public LibraryTest,
                               public ::testing::WithParamInterface<NamedProfile> {};

TEST_P(DeviceOpenPlatformTest, IdentifiesThePlatformFromTheReport) {
  KvoDeviceHandle handle = StartAndOpen(GetParam().make());
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(GetParam().type, type);

  KvoProductNumber product_number;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetProductNumber(handle, &product_number));
  EXPECT_STREQ(GetParam().make().Get("Product Number").c_str(), product_number);

  // Identification asked for readiness and the report, in that order.
  std::vector<std::string> commands = module_.Commands();
  auto ready = std::find(commands.begin(), commands.end(), "AT*EMRDY?");
  auto report = std::find(commands.begin(), commands.end(), "AT*EEVINFO=99");
  ASSERT_NE(commands.end(), ready);
  ASSERT_NE(commands.end(), report);
  EXPECT_LT(ready - commands.begin(), report - commands.begin());

  EXPECT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetType(handle, &type));
}

INSTANTIATE_TEST_SUITE_P(Platforms, DeviceOpenPlatformTest,
                         ::testing::ValuesIn(kvo_test::kPlatformProfiles), kvo_test::ProfileName);

TEST_F(LibraryTest, FirstMatchingPlatformRowWins) {
  // Holds the Brem text first and a Dovin text later.
  tarvik_sim::Profile profile = tarvik_sim::DovinProfile();
  profile.Set("Product Number", "ZRB 207 41/ZRB 207 44");
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoDevicePlatformTypeBrem, type);
}

TEST_F(LibraryTest, UnknownProductNumberClosesTheDeviceAndFreesTheHandle) {
  StartModule(tarvik_sim::UnknownProfile());
  KvoDeviceHandle handle = 77;
  EXPECT_EQ(kKvoResultGeneralErrorUnknownDeviceType, Open(&handle));
  EXPECT_EQ(77u, handle) << "a failed open hands out no handle";

  // The row is free again: the next module takes handle 0.
  module_.Stop();
  tarvik_sim::Module calt;
  ASSERT_TRUE(map_.Start(&calt, tarvik_sim::CaltProfile()));
  KvoDeviceOpenParameters parameters =
      tarvik_test::OpenParameters<KvoDeviceOpenParameters>(calt.AtPortPath());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceOpen(&parameters, &handle));
  EXPECT_EQ(0u, handle);
  KvoDeviceClose(handle);
}

TEST_F(LibraryTest, ReadyOnTheTenthQueryStillOpens) {
  tarvik_sim::Profile profile = tarvik_sim::CaltProfile();
  profile.ready_after_queries = 10;
  KvoDeviceHandle handle = StartAndOpen(profile);
  std::vector<std::string> commands = module_.Commands();
  EXPECT_EQ(10, std::count(commands.begin(), commands.end(), "AT*EMRDY?"));
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
}

TEST_F(LibraryTest, NeverReadyGivesUpAfterTenQueries) {
  StartModule(tarvik_sim::CaltProfile());
  tarvik_sim::Faults faults;
  faults.never_ready = true;
  module_.SetFaults(faults);
  KvoDeviceHandle handle = 77;
  EXPECT_EQ(kKvoResultDeviceErrorTimeoutWhileWaitingForReady, Open(&handle));
  std::vector<std::string> commands = module_.Commands();
  EXPECT_EQ(10, std::count(commands.begin(), commands.end(), "AT*EMRDY?"));
  EXPECT_EQ(0, std::count(commands.begin(), commands.end(), "AT*EEVINFO=99"));
}

TEST_F(LibraryTest, ModuleInItpModeIsIdentifiedThroughVers) {
  tarvik_sim::Profile profile = tarvik_sim::BremProfile();
  profile.itp_mode = true;
  KvoDeviceHandle handle = StartAndOpen(profile);
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetType(handle, &type));
  EXPECT_EQ(kKvoDevicePlatformTypeBrem, type);
  std::vector<std::string> commands = module_.Commands();
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "VERS"));
  // The report is not asked for in ITP mode.
  EXPECT_EQ(commands.end(), std::find(commands.begin(), commands.end(), "AT*EEVINFO=99"));
}

TEST_F(LibraryTest, ModuleInItpModeDoesNotInheritTheReportOfTheHandlesLastModule) {
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  module_.Stop();

  tarvik_sim::Profile profile = tarvik_sim::BremProfile();
  profile.itp_mode = true;
  KvoDeviceHandle second = StartAndOpen(profile);
  ASSERT_EQ(handle, second);
  KvoProductNumber product_number = "x";
  EXPECT_EQ(kKvoResultDeviceErrorFailedToGetInformation,
            KvoDeviceGetProductNumber(second, &product_number));
  EXPECT_STREQ("", product_number);
}

TEST_F(LibraryTest, VersNamingNoPlatformOpensButLeavesTheHandleInvalid) {
  tarvik_sim::Profile profile = tarvik_sim::CaltProfile();
  profile.itp_mode = true;
  profile.platform_name = "Quorn";
  StartModule(profile);
  KvoDeviceHandle handle = 77;
  ASSERT_EQ(kKvoResultSuccess, Open(&handle));
  KvoDevicePlatformType type = kKvoDevicePlatformTypeInvalid;
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetType(handle, &type));
  KvoDeviceModel model;
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetModel(handle, &model));
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
}

TEST_F(LibraryTest, PortThatCannotBeOpenedIsReported) {
  KvoDeviceOpenParameters parameters =
      tarvik_test::OpenParameters<KvoDeviceOpenParameters>(map_.dir() + "/no-such-port");
  KvoDeviceHandle handle = 77;
  EXPECT_EQ(kKvoResultDeviceErrorDeviceNotOpen, KvoDeviceOpen(&parameters, &handle));
}

TEST_F(LibraryTest, ListsTheModulePort) {
  StartModule(tarvik_sim::CaltProfile());
  KvoDeviceName* list = nullptr;
  size_t length = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceGetList(&list, &length));
  ASSERT_EQ(1u, length);
  EXPECT_STREQ(module_.AtPortPath().c_str(), list[0]);
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceReleaseList(list));
}

TEST_F(LibraryTest, BadArgumentsAndHandlesAreRefused) {
  KvoDeviceHandle handle = 0;
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceOpen(nullptr, &handle));
  KvoDeviceOpenParameters parameters = {};
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceOpen(&parameters, nullptr));
  size_t length = 0;
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetList(nullptr, &length));

  KvoDevicePlatformType type;
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetType(10, &type));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceGetType(0, &type));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoDeviceGetType(0, nullptr));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceClose(12));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceReset(4000000000u));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceForceCacheRefresh(10));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, KvoDeviceSetLedState(3, kKvoDeviceLedStateOn));
  KvoDeviceCidType cid;
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoDeviceGetCidType(0, kKvoDevicePlatformTypeBrem, nullptr));
  EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle,
            KvoDeviceGetCidType(11, kKvoDevicePlatformTypeBrem, &cid));
}

TEST(DeviceWithoutLibraryTest, EveryCallSaysNotInitialized) {
  KvoDeviceOpenParameters parameters = {};
  KvoDeviceHandle handle = 0;
  EXPECT_EQ(kKvoResultGeneralErrorNotInitialized, KvoDeviceOpen(&parameters, &handle));
  KvoDevicePlatformType type;
  EXPECT_EQ(kKvoResultGeneralErrorNotInitialized, KvoDeviceGetType(0, &type));
  EXPECT_EQ(kKvoResultGeneralErrorNotInitialized, KvoDeviceClose(0));
  EXPECT_EQ(kKvoResultGeneralErrorNotInitialized, KvoDeviceForceCacheRefresh(0));
  EXPECT_EQ(kKvoResultGeneralErrorNotInitialized, KvoDeviceSetLedState(0, kKvoDeviceLedStateOn));
  KvoImei imei;
  EXPECT_EQ(kKvoResultGeneralErrorNotInitialized, KvoDeviceGetImei(0, &imei));
}

}  // namespace
