// Finding and loading the customization container, and the assignment lists built on it.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "device_sim_fixture.h"
#include "kvo/src/custom/custom.h"
#include "testing/files.h"

namespace {

// The library started in a working directory that holds `container` (none when empty), logging
// everything to a file there.
class CustomTest : public ::testing::Test {
 protected:
  void Start(const std::string& container, KvoResult expected = kKvoResultSuccess) {
    ASSERT_TRUE(directory_.ok());
    if (!container.empty()) {
      ASSERT_TRUE(kvo_test::PlaceContainer(directory_, container));
    }
    log_path_ = directory_.File("kvo.log");
    KvoSetLogFile(log_path_.c_str());
    KvoSetLogTypesForFile(kKvoLogTypeMaskAll);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
    ASSERT_EQ(expected, KvoInitialize());
    started_ = true;
  }

  void TearDown() override {
    if (started_) KvoTerminate();
    KvoSetLogFile("");
    KvoSetLogTypesForFile(kKvoLogTypeMaskDefaultFile);
  }

  std::string Log() const { return tarvik_test::ReadFile(log_path_); }

  // How often the loaded sample container was asked for its list (the library's own instance).
  unsigned int ListCalls() const {
    std::string path = directory_.File("libcustomization_container.dll");
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return 9999;
    auto count = reinterpret_cast<unsigned int (*)()>(dlsym(library, "CcSampleListCallCount"));
    unsigned int calls = count != nullptr ? count() : 9999;
    dlclose(library);
    return calls;
  }

  tarvik_test::TempDir directory_{tarvik_test::TempDir::kEnter};
  std::string log_path_;
  bool started_ = false;
};

TEST_F(CustomTest, WithoutContainerTheLibraryStartsAndEveryOperationSaysNotLoaded) {
  Start("");
  KvoCustomSimLockData* simlocks = nullptr;
  KvoCustomCustomizationData* customizations = nullptr;
  KvoCustomOperatorDomainData* operator_domains = nullptr;
  KvoCustomPlatformParameterData* parameters = nullptr;
  KvoCustomSubDomainData* sub_domains = nullptr;
  size_t size = 7;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSimlocksGetList(&simlocks, &size));
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded,
            KvoCustomCustomizationList(&customizations, &size));
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded,
            KvoCustomOperatorDomainGetList(&operator_domains, &size));
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded,
            KvoCustomPlatformParameterGetList(&parameters, &size));
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSubDomainList(&sub_domains, &size));
  KvoProductNumber product;
  KvoBaseline baseline;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded,
            KvoCustomGetContainerInfo(&product, &baseline));
  CustomAssignmentStructType assignment;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, CustomGetAssignmentData(1001, &assignment));
  // The null list is not even looked at without a container.
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSimlocksGetList(nullptr, &size));
  EXPECT_EQ(7u, size);
  KvoTerminate();
  started_ = false;

  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("No customization container could be found. Proceed."));
  EXPECT_NE(std::string::npos, log.find("No customization container has been loaded."));
}

struct BrokenCase {
  const char* variant;
  const char* logged;
};

void PrintTo(const BrokenCase& test, std::ostream* stream) {
  *stream << test.variant;
}

class BrokenContainerTest : public CustomTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenContainerTest, FailsTheLibraryStartAndStaysUnloaded) {
  Start(kvo_test::ContainerVariant(GetParam().variant), kKvoResultCustomErrorContainerLoadFailure);
  KvoCustomSubDomainData* sub_domains = nullptr;
  size_t size = 0;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSubDomainList(&sub_domains, &size));
  KvoTerminate();
  started_ = false;
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find(GetParam().logged)) << log;
  EXPECT_NE(std::string::npos, log.find("Customization container could not be loaded."));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, BrokenContainerTest,
    ::testing::Values(
        BrokenCase{"api2",
                   "Customization Container API version mismatch, API is 3.0 but library is 2.1."},
        BrokenCase{"api4",
                   "Customization Container API version mismatch, API is 3.0 but library is 4.0."},
        BrokenCase{"no_container_info", "(CcGetContainerInfo)"}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) {
      return std::string(info.param.variant);
    });

TEST_F(CustomTest, FileThatIsNoLibraryFailsToLoad) {
  tarvik_test::WriteFile(directory_.File("libcustomization_container.dll"), "not a library");
  Start("", kKvoResultCustomErrorContainerLoadFailure);
  KvoTerminate();
  started_ = false;
  EXPECT_NE(std::string::npos, Log().find("dso-error:"));
}

TEST_F(CustomTest, AnotherMinorVersionLoads) {
  Start(kvo_test::ContainerVariant("api37"));
  KvoProductNumber product;
  KvoBaseline baseline;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomGetContainerInfo(&product, &baseline));
  EXPECT_STREQ("ZNT4029900/1", product);
  EXPECT_STREQ("CCB-2026-01", baseline);
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoCustomGetContainerInfo(nullptr, &baseline));
}

TEST_F(CustomTest, SimLocksInContainerOrderWithTheirOwnFields) {
  Start(kvo_test::SampleContainer());
  KvoCustomSimLockData* list = nullptr;
  size_t size = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSimlocksGetList(&list, &size));
  ASSERT_EQ(3u, size);
  EXPECT_EQ(1001u, list[0].common_data.assignment_id);
  EXPECT_EQ(1002u, list[1].common_data.assignment_id);
  EXPECT_EQ(1003u, list[2].common_data.assignment_id);

  EXPECT_EQ(kKvoCustomSimLockTypeNetworkLock, list[0].type);
  EXPECT_EQ(kKvoCustomSimLockTypeCorporateLock, list[1].type);
  EXPECT_EQ(kKvoCustomSimLockTypeSimLock, list[2].type);
  EXPECT_STREQ("24001", list[0].id);
  EXPECT_STREQ("CORP-0123456789", list[1].id) << "a 20-character lock id keeps 15";
  EXPECT_STREQ("Corporate lock TRV Fleet", list[1].description);

  // The common part matches the container's record.
  CustomAssignmentStructType* internal = nullptr;
  size_t internal_size = 0;
  ASSERT_EQ(kKvoResultSuccess,
            CustomListAssignments(kCustomAssignmentTypeSimlock, &internal, &internal_size));
  ASSERT_EQ(3u, internal_size);
  for (size_t i = 0; i < size; ++i) {
    const KvoCustomCommonAssignmentData& common = list[i].common_data;
    EXPECT_EQ(internal[i].assignment_id, common.assignment_id);
    EXPECT_STREQ(internal[i].zrb, common.zrb);
    EXPECT_STREQ(internal[i].product_number, common.product_number);
    EXPECT_STREQ(internal[i].revision, common.revision);
    EXPECT_STREQ(internal[i].file_name, common.file_name);
    EXPECT_EQ(internal[i].restart_required, common.restart_required);
    EXPECT_EQ(internal[i].checksum, common.checksum);
    EXPECT_NE(0u, common.checksum);
  }
  CustomReleaseListAssignments(internal);
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSimlocksReleaseList(list));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSimlocksReleaseList(nullptr));
}

TEST_F(CustomTest, EveryListOfTheSampleContainer) {
  Start(kvo_test::SampleContainer());
  size_t size = 0;

  KvoCustomSubDomainData* sub_domains = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSubDomainList(&sub_domains, &size));
  ASSERT_EQ(2u, size);
  EXPECT_EQ(3001u, sub_domains[0].common_data.assignment_id);
  EXPECT_STREQ("Customization", sub_domains[0].name);
  EXPECT_EQ(3002u, sub_domains[1].common_data.assignment_id);
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

  KvoCustomOperatorDomainData* operator_domains = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomOperatorDomainGetList(&operator_domains, &size));
  ASSERT_EQ(2u, size);
  EXPECT_EQ(4001u, operator_domains[0].common_data.assignment_id);
  EXPECT_EQ(4002u, operator_domains[1].common_data.assignment_id);
  KvoCustomOperatorDomainReleaseList(operator_domains);

  KvoCustomPlatformParameterData* parameters = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomPlatformParameterGetList(&parameters, &size));
  ASSERT_EQ(1u, size);
  EXPECT_EQ(6001u, parameters[0].common_data.assignment_id);
  KvoCustomPlatformParameterReleaseList(parameters);

  // ITP assignments have no exported list, but the device layer lists them.
  CustomAssignmentStructType* itp = nullptr;
  ASSERT_EQ(kKvoResultSuccess, CustomListAssignments(kCustomAssignmentTypeITP, &itp, &size));
  ASSERT_EQ(4u, size);
  EXPECT_STREQ("ZRB 207 41", itp[0].zrb);
  EXPECT_STREQ("ZRB 207 43", itp[1].zrb);
  EXPECT_STREQ("ZRB 207 44", itp[2].zrb);
  EXPECT_NE(nullptr, itp[0].data_start);
  EXPECT_LT(0u, itp[0].data_size);
  CustomReleaseListAssignments(itp);
}

TEST_F(CustomTest, TypesWithoutAssignmentsGiveNoFilesFound) {
  Start(kvo_test::ContainerVariant("locks_only"));
  size_t size = 5;
  KvoCustomOperatorDomainData* operator_domains = nullptr;
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType,
            KvoCustomOperatorDomainGetList(&operator_domains, &size));
  EXPECT_EQ(nullptr, operator_domains);
  EXPECT_EQ(0u, size);
  KvoCustomCustomizationData* customizations = nullptr;
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType,
            KvoCustomCustomizationList(&customizations, &size));
  KvoCustomPlatformParameterData* parameters = nullptr;
  EXPECT_EQ(kKvoResultCustomErrorNoFilesFoundForType,
            KvoCustomPlatformParameterGetList(&parameters, &size));

  KvoCustomSimLockData* simlocks = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSimlocksGetList(&simlocks, &size));
  EXPECT_EQ(3u, size);
  KvoCustomSimlocksReleaseList(simlocks);
  KvoCustomSubDomainData* sub_domains = nullptr;
  ASSERT_EQ(kKvoResultSuccess, KvoCustomSubDomainList(&sub_domains, nullptr));
  EXPECT_STREQ("User", sub_domains[1].name) << "a null size is allowed";
  KvoCustomSubDomainReleaseList(sub_domains);
}

TEST_F(CustomTest, NullListIsRefusedWithoutAskingTheContainer) {
  Start(kvo_test::SampleContainer());
  unsigned int before = ListCalls();
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

TEST_F(CustomTest, SingleAssignmentsByIdAndContainerResults) {
  Start(kvo_test::SampleContainer());
  CustomAssignmentStructType assignment;
  ASSERT_EQ(kKvoResultSuccess, CustomGetAssignmentData(3002, &assignment));
  EXPECT_EQ(kCustomAssignmentTypeSubDomain, assignment.assignment_type);
  EXPECT_STREQ("3", assignment.meta_data_list[kCustomGenericMetaDataSubDomain].value);
  EXPECT_EQ(kKvoResultCustomErrorInvalidFileId, CustomGetAssignmentData(4242, &assignment));

  EXPECT_EQ(kKvoResultSuccess, CustomConvertCcResultToKvoResult(kCcResultSuccess));
  EXPECT_EQ(kKvoResultCustomErrorInvalidFileId,
            CustomConvertCcResultToKvoResult(kCcResultInvalidFileId));
  EXPECT_EQ(kKvoResultGeneralErrorUnknown, CustomConvertCcResultToKvoResult(kCcResultFailure));
  EXPECT_EQ(kKvoResultGeneralErrorUnknown,
            CustomConvertCcResultToKvoResult(static_cast<CcResult>(17)));
}

TEST_F(CustomTest, FeatureConfigurationOfASimulatedModule) {
  Start(kvo_test::SampleContainer());
  CustomFeatureConfiguration configuration;
  ASSERT_EQ(kKvoResultSuccess, CustomGetConfiguration("ZRB 207 44/1", 189, &configuration));
  EXPECT_STREQ("ZRB 207 44", configuration.quarn_device_product_number);
  EXPECT_TRUE(configuration.set_ext_mode_allowed);
  EXPECT_FALSE(configuration.set_sim_softlock_allowed);
  EXPECT_EQ(kKvoResultGeneralErrorUnknown,
            CustomGetConfiguration("ZRB 207 44/1", 190, &configuration));
}

TEST_F(CustomTest, TerminateUnloadsTheContainer) {
  Start(kvo_test::SampleContainer());
  KvoTerminate();
  started_ = false;
  KvoCustomSimLockData* simlocks = nullptr;
  size_t size = 0;
  EXPECT_EQ(kKvoResultCustomErrorContainerNotLoaded, KvoCustomSimlocksGetList(&simlocks, &size));
  EXPECT_NE(std::string::npos, Log().find("The container handle was unloaded."));
}

}  // namespace
