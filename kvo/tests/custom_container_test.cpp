// Finding and loading the customization container, and the assignment lists built on it.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "kvo/src/custom/custom.h"
#include "kvo/tests/device_sim_fixture.h"
#include "testing/files.h"

namespace {

using tarvik_test::CountOf;

// The library started in a working directory that holds `container` (none when empty), logging
// everything to a file there.
class CustomTest : public ::testing::Test {
 protected:
  KvoResult Start(const std::string& container) {
    EXPECT_TRUE(container.empty() || kvo_test::PlaceContainer(directory_, container));
    KvoSetLogFile(directory_.File("kvo.log").c_str());
    KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
    return KvoInitialize();
  }
  void TearDown() override {
    KvoTerminate();
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
  }
  // The log once the library stopped.
  std::string Log() {
    KvoTerminate();
    return tarvik_test::ReadFile(directory_.File("kvo.log"));
  }
  // How often the loaded sample container was asked for its list (the library's own instance).
  unsigned ListCalls() const {
    void* library =
        dlopen(directory_.File("libcustomization_container.dll").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return 9999;
    auto count = reinterpret_cast<unsigned (*)()>(dlsym(library, "CcSampleListCallCount"));
    const unsigned calls = count != nullptr ? count() : 9999;
    dlclose(library);
    return calls;
  }
  tarvik_test::TempDir directory_{tarvik_test::TempDir::kEnter};
};

// The results of every list call of the interface; the sizes go to `sizes` in this order.
struct Lists {
  KvoResult simlocks, customizations, operator_domains, parameters, sub_domains;
};

Lists ListEverything(size_t* sizes) {
  KvoCustomSimLockData* simlocks = nullptr;
  KvoCustomCustomizationData* customizations = nullptr;
  KvoCustomOperatorDomainData* operator_domains = nullptr;
  KvoCustomPlatformParameterData* parameters = nullptr;
  KvoCustomSubDomainData* sub_domains = nullptr;
  const Lists lists = {KvoCustomSimlocksGetList(&simlocks, &sizes[0]),
                       KvoCustomCustomizationList(&customizations, &sizes[1]),
                       KvoCustomOperatorDomainGetList(&operator_domains, &sizes[2]),
                       KvoCustomPlatformParameterGetList(&parameters, &sizes[3]),
                       KvoCustomSubDomainList(&sub_domains, &sizes[4])};
  KvoCustomSimlocksReleaseList(simlocks);
  KvoCustomCustomizationReleaseList(customizations);
  KvoCustomOperatorDomainReleaseList(operator_domains);
  KvoCustomPlatformParameterReleaseList(parameters);
  KvoCustomSubDomainReleaseList(sub_domains);
  return lists;
}

TEST_F(CustomTest, WithoutContainerTheLibraryStartsAndEveryOperationSaysNotLoaded) {
  ASSERT_EQ(kKvoResultSuccess, Start(""));
  size_t sizes[5] = {7, 7, 7, 7, 7};
  const Lists lists = ListEverything(sizes);
  for (KvoResult result : {lists.simlocks, lists.customizations, lists.operator_domains,
                           lists.parameters, lists.sub_domains}) {
    EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, result);
  }
  KvoProductNumber product;
  KvoBaseline baseline;
  CustomAssignmentStructType assignment;
  size_t size = 7;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded,
            KvoCustomGetContainerInfo(&product, &baseline));
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, CustomGetAssignmentData(1001, &assignment));
  // The null list is not even looked at without a container.
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSimlocksGetList(nullptr, &size));
  EXPECT_EQ(7u, size);
  const std::string log = Log();
  EXPECT_EQ(1u, CountOf(log, "No customization container could be found. Proceed."));
  EXPECT_LE(1u, CountOf(log, "No customization container has been loaded."));
}

struct BrokenRow {
  const char* variant;  // empty: a file that is no library
  const char* logged;
};

TEST(CustomBrokenTest, ContainersThatFailTheLibraryStartAndStayUnloaded) {
  const BrokenRow rows[] = {
      {"api2", "Customization Container API version mismatch, API is 3.0 but library is 2.1."},
      {"api4", "Customization Container API version mismatch, API is 3.0 but library is 4.0."},
      {"no_container_info", "(CcGetContainerInfo)"},
      {"", "dso-error:"},
  };
  for (const BrokenRow& row : rows) {
    tarvik_test::TempDir directory(tarvik_test::TempDir::kEnter);
    if (*row.variant != '\0') {
      ASSERT_TRUE(kvo_test::PlaceContainer(directory, kvo_test::ContainerVariant(row.variant)));
    } else {
      tarvik_test::WriteFile(directory.File("libcustomization_container.dll"), "not a library");
    }
    KvoSetLogFile(directory.File("kvo.log").c_str());
    KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
    EXPECT_EQ(kKvoResultCustomErrorContainerLoadFailure, KvoInitialize()) << row.variant;
    KvoCustomSubDomainData* sub_domains = nullptr;
    size_t size = 0;
    EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSubDomainList(&sub_domains, &size));
    KvoTerminate();
    KvoSetLogFile("");
    const std::string log = tarvik_test::ReadFile(directory.File("kvo.log"));
    EXPECT_EQ(1u, CountOf(log, row.logged)) << log;
    EXPECT_EQ(1u, CountOf(log, "Customization container could not be loaded.")) << row.variant;
  }
  KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
}

TEST_F(CustomTest, AnotherMinorVersionLoads) {
  ASSERT_EQ(kKvoResultSuccess, Start(kvo_test::ContainerVariant("api37")));
  KvoProductNumber product;
  KvoBaseline baseline;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomGetContainerInfo(&product, &baseline));
  EXPECT_STREQ("ZNT4029900/1", product);
  EXPECT_STREQ("CCB-2026-01", baseline);
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoCustomGetContainerInfo(nullptr, &baseline));
}

// Each list in container order with its own fields; the common part is the container's record.
TEST_F(CustomTest, EveryListOfTheSampleContainer) {
  ASSERT_EQ(kKvoResultSuccess, Start(kvo_test::SampleContainer()));
  size_t size = 0;
  KvoCustomSimLockData* locks = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSimlocksGetList(&locks, &size));
  ASSERT_EQ(3u, size);
  CustomAssignmentStructType* internal = nullptr;
  size_t internal_size = 0;
  ASSERT_EQ(kKvoResultSuccess,
            CustomListAssignments(kCustomAssignmentTypeSimlock, &internal, &internal_size));
  ASSERT_EQ(3u, internal_size);
  const KvoCustomSimLockType types[] = {kKvoCustomSimLockTypeNetworkLock,
                                        kKvoCustomSimLockTypeCorporateLock,
                                        kKvoCustomSimLockTypeSimLock};
  for (size_t i = 0; i < size; ++i) {
    const KvoCustomCommonAssignmentData& common = locks[i].common_data;
    EXPECT_EQ(1001u + i, common.assignment_id);
    EXPECT_EQ(types[i], locks[i].type);
    EXPECT_EQ(internal[i].assignment_id, common.assignment_id);
    EXPECT_STREQ(internal[i].zrb, common.zrb);
    EXPECT_STREQ(internal[i].product_number, common.product_number);
    EXPECT_STREQ(internal[i].revision, common.revision);
    EXPECT_STREQ(internal[i].file_name, common.file_name);
    EXPECT_EQ(internal[i].restart_required, common.restart_required);
    EXPECT_EQ(internal[i].checksum, common.checksum);
    EXPECT_NE(0u, common.checksum);
  }
  EXPECT_STREQ("24001", locks[0].id);
  EXPECT_STREQ("CORP-0123456789", locks[1].id) << "a 20-character lock id keeps 15";
  EXPECT_STREQ("Corporate lock TRV Fleet", locks[1].description);
  CustomReleaseListAssignments(internal);
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSimlocksReleaseList(locks));

  KvoCustomSubDomainData* sub_domains = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSubDomainList(&sub_domains, nullptr));  // null size
  EXPECT_EQ(3001u, sub_domains[0].common_data.assignment_id);
  EXPECT_STREQ("Customization", sub_domains[0].name);
  EXPECT_STREQ("User", sub_domains[1].name);
  KvoCustomSubDomainReleaseList(sub_domains);
  KvoCustomCustomizationData* customizations = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomCustomizationList(&customizations, &size));
  ASSERT_EQ(2u, size);
  EXPECT_EQ(42u, customizations[0].customization_id);
  EXPECT_EQ(43u, customizations[1].customization_id);
  EXPECT_TRUE(customizations[0].common_data.restart_required);
  EXPECT_STREQ("custom_42.bin", customizations[0].common_data.file_name);
  KvoCustomCustomizationReleaseList(customizations);

  size_t sizes[5] = {};
  const Lists lists = ListEverything(sizes);
  EXPECT_EQ(kKvoResultSuccess, lists.operator_domains);
  EXPECT_EQ(kKvoResultSuccess, lists.parameters);
  EXPECT_EQ(2u, sizes[2]);
  EXPECT_EQ(1u, sizes[3]);
  EXPECT_EQ(2u, sizes[4]);

  // ITP assignments have no exported list, but the device layer lists them.
  CustomAssignmentStructType* itp = nullptr;
  ASSERT_EQ(kKvoResultSuccess, CustomListAssignments(kCustomAssignmentTypeITP, &itp, &size));
  ASSERT_EQ(4u, size);
  EXPECT_STREQ("ZRB 207 41", itp[0].zrb);
  EXPECT_STREQ("ZRB 207 44", itp[2].zrb);
  EXPECT_NE(nullptr, itp[0].data_start);
  EXPECT_LT(0u, itp[0].data_size);
  CustomReleaseListAssignments(itp);
}

TEST_F(CustomTest, TypesWithoutAssignmentsGiveNoFilesFound) {
  ASSERT_EQ(kKvoResultSuccess, Start(kvo_test::ContainerVariant("locks_only")));
  size_t sizes[5] = {9, 9, 9, 9, 9};
  const Lists lists = ListEverything(sizes);
  EXPECT_EQ(kKvoResultSuccess, lists.simlocks);
  EXPECT_EQ(3u, sizes[0]);
  EXPECT_EQ(kKvoResultSuccess, lists.sub_domains);
  for (int i : {1, 2, 3}) EXPECT_EQ(0u, sizes[i]);
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType, lists.customizations);
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType, lists.operator_domains);
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType, lists.parameters);
}

TEST_F(CustomTest, NullListIsRefusedWithoutAskingTheContainer) {
  ASSERT_EQ(kKvoResultSuccess, Start(kvo_test::SampleContainer()));
  const unsigned before = ListCalls();
  ASSERT_NE(9999u, before);
  size_t size = 0;
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoCustomSimlocksGetList(nullptr, &size));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoCustomSubDomainList(nullptr, &size));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoCustomCustomizationList(nullptr, &size));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoCustomOperatorDomainGetList(nullptr, &size));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoCustomPlatformParameterGetList(nullptr, &size));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            CustomListAssignments(kCustomAssignmentTypeSimlock, nullptr, &size));
  EXPECT_EQ(before, ListCalls());
  KvoCustomSimLockData* simlocks = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSimlocksGetList(&simlocks, &size));
  EXPECT_EQ(before + 1, ListCalls()) << "the counter does see a real list call";
  KvoCustomSimlocksReleaseList(simlocks);
}

TEST_F(CustomTest, AssignmentsByIdFeatureConfigurationAndUnloading) {
  ASSERT_EQ(kKvoResultSuccess, Start(kvo_test::SampleContainer()));
  CustomAssignmentStructType assignment;
  ASSERT_EQ(kKvoResultSuccess, CustomGetAssignmentData(3002, &assignment));
  EXPECT_EQ(kCustomAssignmentTypeSubDomain, assignment.assignment_type);
  EXPECT_STREQ("3", assignment.meta_data_list[kCustomGenericMetaDataSubDomain].value);
  EXPECT_EQ(kKvoResultCustomErrorInvalidFileId, CustomGetAssignmentData(4242, &assignment));

  const int cc_results[] = {kCcResultSuccess, kCcResultInvalidFileId, kCcResultFailure, 17};
  const KvoResult kvo_results[] = {kKvoResultSuccess, kKvoResultCustomErrorInvalidFileId,
                                   kKvoResultGeneralErrorUnknown, kKvoResultGeneralErrorUnknown};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(kvo_results[i],
              CustomConvertCcResultToKvoResult(static_cast<CcResult>(cc_results[i])));
  }

  CustomFeatureConfiguration configuration;
  ASSERT_EQ(kKvoResultSuccess, CustomGetConfiguration("ZRB 207 44/1", 189, &configuration));
  EXPECT_STREQ("ZRB 207 44", configuration.quarn_device_product_number);
  EXPECT_TRUE(configuration.set_ext_mode_allowed);
  EXPECT_FALSE(configuration.set_sim_softlock_allowed);
  EXPECT_EQ(kKvoResultGeneralErrorUnknown,
            CustomGetConfiguration("ZRB 207 44/1", 190, &configuration));

  EXPECT_EQ(1u, CountOf(Log(), "The container handle was unloaded."));
  KvoCustomSimLockData* simlocks = nullptr;
  size_t size = 0;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSimlocksGetList(&simlocks, &size));
}

}  // namespace
