// The exported interface used wrongly: missing pointers, handles that were never issued, calls
// before the library started and after it stopped, starting and stopping twice, listeners
// registered twice. Each ends in a result code; nothing crashes and (under the sanitizers)
// nothing leaks.

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kvo.h"
#include "kvo/tests/device_sim_fixture.h"
#include "testing/paths.h"
#include "testing/wait.h"

namespace {

// One exported call that takes a handle. With `null_out` every pointer argument is null;
// otherwise each points at a buffer of the right type.
struct HandleCall {
  const char* name;
  std::function<KvoResult(KvoDeviceHandle, bool null_out)> run;
};

template <typename T>
T* Out(bool null_out, T* storage) {
  return null_out ? nullptr : storage;
}

void NoRssiRecords(KvoDeviceHandle, KvoResult, KvoRadioRssiScanData* record, void*) {
  KvoRadioRssiReleaseScanData(record);
}

#define GETTER(function, Type)                                               \
  HandleCall {                                                               \
#function, [](KvoDeviceHandle h, bool null_out) {                          \
      Type value;                                                              \
      memset(&value, 0, sizeof value);                                         \
      return function(h, Out(null_out, &value));                               \
    } \
  }

// The calls that only read from the module, or refuse: safe on a module that must stay open.
std::vector<HandleCall> ReadingCalls() {
  return {
      GETTER(KvoDeviceGetType, KvoDevicePlatformType),
      GETTER(KvoDeviceGetProductNumber, KvoProductNumber),
      GETTER(KvoDeviceGetModel, KvoDeviceModel),
      GETTER(KvoDeviceGetImei, KvoImei),
      GETTER(KvoDeviceGetSvn, KvoSvn),
      GETTER(KvoDeviceGetSerialNumber, KvoSerialNumber),
      GETTER(KvoDeviceGetProductRevision, KvoRevision),
      GETTER(KvoDeviceGetFirmwareProduct, KvoProductNumber),
      GETTER(KvoDeviceGetFirmwareRevision, KvoRevision),
      GETTER(KvoDeviceGetFirmwareBuildDate, KvoDateAndTime),
      GETTER(KvoDeviceGetCustomizationProduct, KvoProductNumber),
      GETTER(KvoDeviceGetCustomizationRevision, KvoRevision),
      GETTER(KvoDeviceGetNetworkListProduct, KvoProductNumber),
      GETTER(KvoDeviceGetNetworkListRevision, KvoRevision),
      GETTER(KvoDeviceGetNetworkCustomizationProduct, KvoProductNumber),
      GETTER(KvoDeviceGetNetworkCustomizationRevision, KvoRevision),
      GETTER(KvoDeviceGetConfigurationSetProduct, KvoProductNumber),
      GETTER(KvoDeviceGetConfigurationSetRevision, KvoRevision),
      GETTER(KvoDeviceGetSimlockProduct, KvoProductNumber),
      GETTER(KvoDeviceGetSimlockRevision, KvoRevision),
      GETTER(KvoDeviceGetSimlockDescription, KvoSimlockDescription),
      GETTER(KvoDeviceGetCurrentNetworkName, KvoNetworkName),
      GETTER(KvoDeviceGetCurrentNetworkSetting, KvoNetworkSetting),
      GETTER(KvoDeviceGetDomain, KvoDomain),
      GETTER(KvoDeviceGetIndividualization, KvoIndividualization),
      GETTER(KvoDeviceGetPinCodeState, KvoDevicePinCodeState),
      GETTER(KvoDeviceGetTemperature, KvoTemperature),
      GETTER(KvoDeviceGetLockInformation, KvoDeviceLockInformation),
      GETTER(KvoDeviceGetCurrentOperatorDomain, KvoNetworkName),
      GETTER(KvoDeviceGetIccid, KvoIccid),
      GETTER(KvoDeviceGetImsi, KvoImsi),
      {"KvoDeviceSetPinCode(pin)",
       [](KvoDeviceHandle h, bool null_out) {
         KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
         return KvoDeviceSetPinCode(h, null_out ? nullptr : "1234", &state);
       }},
      {"KvoDeviceSetPinCode(state)",
       [](KvoDeviceHandle h, bool null_out) {
         KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
         return KvoDeviceSetPinCode(h, "1234", Out(null_out, &state));
       }},
      {"KvoAtSend(command)",
       [](KvoDeviceHandle h, bool null_out) {
         KvoAtResult result = {kKvoAtResultNotKnown, nullptr};
         const KvoResult r = KvoAtSend(h, null_out ? nullptr : "AT", 5, &result);
         KvoAtReleaseAtResult(&result);
         return r;
       }},
      {"KvoAtSend(result)",
       [](KvoDeviceHandle h, bool null_out) {
         KvoAtResult result = {kKvoAtResultNotKnown, nullptr};
         const KvoResult r = KvoAtSend(h, "AT", 5, Out(null_out, &result));
         KvoAtReleaseAtResult(&result);
         return r;
       }},
      {"KvoUpdateStart(path)",
       [](KvoDeviceHandle h, bool null_out) {
         return KvoUpdateStart(h, null_out ? nullptr : "/nonexistent/container.dll");
       }},
      {"KvoDeviceSetLedState(invalid)",
       [](KvoDeviceHandle h, bool) {
         return KvoDeviceSetLedState(h, static_cast<KvoDeviceLedState>(7));
       }},
      {"KvoRadioGetSupportedBands",
       [](KvoDeviceHandle h, bool null_out) {
         KvoRadioBand* list = nullptr;
         size_t size = 0;
         const KvoResult r = KvoRadioGetSupportedBands(h, Out(null_out, &list), &size);
         if (list != nullptr) KvoRadioReleaseSupportedBands(list);
         return r;
       }},
      {"KvoRadioRssiScan",
       [](KvoDeviceHandle h, bool null_out) {
         const KvoRadioRssiScanParameters scan = {
             kKvoRadioBandWcdmaI, 10562, 10572, kKvoRadioAntennaPathMain, 0, 5, 1};
         KvoRadioRssiScanData* list = nullptr;
         size_t size = 0;
         const KvoResult r = KvoRadioRssiScan(h, Out(null_out, &scan), false, &list, &size);
         if (list != nullptr) KvoRadioRssiReleaseScanData(list);
         return r;
       }},
      {"KvoRadioRssiScanAsync",
       [](KvoDeviceHandle h, bool null_out) {
         const KvoRadioRssiScanParameters scan = {
             kKvoRadioBandWcdmaI, 10562, 10572, kKvoRadioAntennaPathMain, 0, 5, 1};
         return KvoRadioRssiScanAsync(h, &scan, null_out ? nullptr : NoRssiRecords, nullptr);
       }},
      {"KvoRadioTxEnable",
       [](KvoDeviceHandle h, bool null_out) {
         const KvoRadioTxEnableParameters tx = {kKvoRadioBandWcdmaI, kKvoRadioGsmTxModeStatic, 9612,
                                                kKvoRadioModulationWCDMA, 1};
         return KvoRadioTxEnable(h, Out(null_out, &tx));
       }},
  };
}

// Calls that close, restart or re-identify the module: only used where no module is open.
std::vector<HandleCall> AllHandleCalls() {
  std::vector<HandleCall> calls = ReadingCalls();
  calls.push_back({"KvoDeviceClose", [](KvoDeviceHandle h, bool) { return KvoDeviceClose(h); }});
  calls.push_back(
      {"KvoDeviceReopen", [](KvoDeviceHandle h, bool) { return KvoDeviceReopen(h, 1); }});
  calls.push_back({"KvoDeviceReset", [](KvoDeviceHandle h, bool) { return KvoDeviceReset(h); }});
  calls.push_back({"KvoDeviceForceCacheRefresh",
                   [](KvoDeviceHandle h, bool) { return KvoDeviceForceCacheRefresh(h); }});
  calls.push_back({"KvoDeviceSetLedState", [](KvoDeviceHandle h, bool) {
                     return KvoDeviceSetLedState(h, kKvoDeviceLedStateOn);
                   }});
  calls.push_back(
      {"KvoRadioTxDisable", [](KvoDeviceHandle h, bool) { return KvoRadioTxDisable(h); }});
  calls.push_back({"KvoUpdateStart", [](KvoDeviceHandle h, bool) {
                     return KvoUpdateStart(h, tarvik_test::kCarriedContainer);
                   }});
  return calls;
}

void NoAtListener(KvoResult, KvoDeviceHandle, KvoAtResult* at_result, const void*) {
  KvoAtReleaseAtResult(at_result);
}

// Outside an update there is no container to go on with, whatever the handle.
void ExpectNoUpdateToContinue(KvoDeviceHandle handle) {
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowBegin(handle, true));
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowBegin(handle, false));
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowRestart(handle, true));
  EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, KvoUpdateAllowRestart(handle, false));
}

enum class Expect {
  kExactly,     // every call gives `expected` (pointer-less variants may refuse their pointers)
  kAnyFailure,  // every call fails somehow; closing a row that is free is no failure
};

void ExpectEveryCallRefused(KvoDeviceHandle handle, KvoResult expected,
                            Expect how = Expect::kExactly) {
  for (const HandleCall& call : AllHandleCalls()) {
    for (bool null_out : {false, true}) {
      const KvoResult result = call.run(handle, null_out);
      const std::string where =
          std::string(call.name) + " handle " + std::to_string(handle) + (null_out ? " null" : "");
      if (how == Expect::kAnyFailure) {
        if (std::string(call.name) != "KvoDeviceClose") {
          EXPECT_NE(kKvoResultSuccess, result) << where;
        }
      } else if (!(null_out && result == kKvoResultGeneralErrorInvalidParameter)) {
        EXPECT_EQ(expected, result) << where;
      }
    }
  }
  EXPECT_NE(kKvoResultSuccess, KvoAtRegisterCallback(handle, NoAtListener, nullptr));
  ExpectNoUpdateToContinue(handle);
}

// Calls without a handle, each with its pointers null.
void ExpectNullArgumentsRefused() {
  size_t size = 0;
  KvoDeviceName* names = nullptr;
  EXPECT_NE(kKvoResultSuccess, KvoDeviceGetList(nullptr, &size));
  EXPECT_NE(kKvoResultSuccess, KvoDeviceGetList(&names, nullptr));
  EXPECT_EQ(nullptr, names);
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceReleaseList(nullptr));

  KvoDeviceHandle handle = 77;
  KvoDeviceOpenParameters parameters = {};
  EXPECT_NE(kKvoResultSuccess, KvoDeviceOpen(nullptr, &handle));
  EXPECT_NE(kKvoResultSuccess, KvoDeviceOpen(&parameters, nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoDeviceOpen(&parameters, &handle));  // empty name
  // A name that fills the whole field without a terminator.
  memset(parameters.device_name, 'x', sizeof parameters.device_name);
  parameters.baud = 115200;
  EXPECT_NE(kKvoResultSuccess, KvoDeviceOpen(&parameters, &handle));

  EXPECT_NE(kKvoResultSuccess, KvoGetApiVersion(nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoGetRevision(nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoGetProduct(nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoGetResultDescription(kKvoResultSuccess, nullptr));
  KvoResultDescription description;
  EXPECT_NE(kKvoResultSuccess, KvoGetResultDescription(static_cast<KvoResult>(-5), &description));
  EXPECT_NE(kKvoResultSuccess,
            KvoGetResultDescription(static_cast<KvoResult>(12345), &description));

  // Logging with missing texts writes nothing harmful and reports a code.
  KvoLogInfo(nullptr, "%s", "no sender");
  KvoLogError("bad-use", nullptr);
  KvoLogErrorCode(nullptr, kKvoResultGeneralErrorUnknown);

  EXPECT_NE(kKvoResultSuccess, KvoCustomGetContainerInfo(nullptr, nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoCustomSimlocksGetList(nullptr, nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoCustomCustomizationList(nullptr, nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoCustomOperatorDomainGetList(nullptr, nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoCustomPlatformParameterGetList(nullptr, nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoCustomSubDomainList(nullptr, nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSimlocksReleaseList(nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomCustomizationReleaseList(nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomOperatorDomainReleaseList(nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomPlatformParameterReleaseList(nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoCustomSubDomainReleaseList(nullptr));

  KvoUpdatePathStructType* paths = nullptr;
  const std::string container = tarvik_test::kCarriedContainer;
  EXPECT_NE(kKvoResultSuccess, KvoUpdateGetUpdatePath(0, nullptr, &paths, &size));
  EXPECT_NE(kKvoResultSuccess, KvoUpdateGetUpdatePath(0, container.c_str(), nullptr, nullptr));
  EXPECT_EQ(nullptr, paths);
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateReleaseKvoUpdatePath(nullptr));
  const KvoResult released = KvoAtReleaseAtResult(nullptr);
  EXPECT_TRUE(released == kKvoResultSuccess || released == kKvoResultGeneralErrorInvalidParameter)
      << released;
  KvoAtResult empty = {kKvoAtResultOk, nullptr};
  EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&empty));
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(10, nullptr, nullptr));
}

class BadUseWithoutLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonSetWaitDivisor(kvo_test::kWaitDivisor);
    KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
  }
  void TearDown() override { CommonSetWaitDivisor(1); }
  tarvik_test::TempDir directory_{tarvik_test::TempDir::kEnter};
};

TEST_F(BadUseWithoutLibraryTest, EveryCallBeforeStartIsRefused) {
  for (KvoDeviceHandle handle : {0u, 9u}) {
    ExpectEveryCallRefused(handle, kKvoResultGeneralErrorNotInitialized);
  }
  ExpectEveryCallRefused(10, kKvoResultSuccess, Expect::kAnyFailure);
  ExpectNullArgumentsRefused();
  KvoDeviceName* names = nullptr;
  size_t size = 5;
  EXPECT_NE(kKvoResultSuccess, KvoDeviceGetList(&names, &size));
  EXPECT_EQ(nullptr, names);
}

TEST_F(BadUseWithoutLibraryTest, StopWithoutStartAndStartingAndStoppingTwice) {
  EXPECT_NE(kKvoResultSuccess, KvoTerminate());
  ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
  EXPECT_EQ(kKvoResultSuccess, KvoInitialize());
  KvoDeviceName* names = nullptr;
  size_t size = 0;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetList(&names, &size));
  KvoDeviceReleaseList(names);
  // One stop ends the library however often it was started.
  EXPECT_EQ(kKvoResultSuccess, KvoTerminate());
  ExpectEveryCallRefused(0, kKvoResultGeneralErrorNotInitialized);
  EXPECT_NE(kKvoResultSuccess, KvoTerminate());
  ExpectEveryCallRefused(0, kKvoResultGeneralErrorNotInitialized);

  // And it starts again afterwards.
  ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetList(&names, &size));
  KvoDeviceReleaseList(names);
  EXPECT_EQ(kKvoResultSuccess, KvoTerminate());
}

class BadUseTest : public kvo_test::LibraryTest {};

TEST_F(BadUseTest, HandlesThatWereNeverIssuedAreInvalid) {
  for (KvoDeviceHandle handle : {10u, 11u, 0xFFFFFFFFu}) {
    ExpectEveryCallRefused(handle, kKvoResultDeviceErrorInvalidHandle);
  }
  // Rows that exist but hold no module.
  for (KvoDeviceHandle handle : {0u, 9u}) {
    ExpectEveryCallRefused(handle, kKvoResultSuccess, Expect::kAnyFailure);
  }
  ExpectNullArgumentsRefused();
}

TEST_F(BadUseTest, NullPointersOnAnOpenModuleLeaveItWorking) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  for (const HandleCall& call : ReadingCalls()) {
    EXPECT_NE(kKvoResultSuccess, call.run(handle, true)) << call.name;
  }
  EXPECT_NE(kKvoResultSuccess, KvoAtRegisterCallback(handle, nullptr, nullptr));
  ExpectNullArgumentsRefused();
  ExpectNoUpdateToContinue(handle);
  ExpectEveryCallRefused(handle == 9 ? 8 : handle + 1, kKvoResultSuccess, Expect::kAnyFailure);
  ExpectEveryCallRefused(10, kKvoResultDeviceErrorInvalidHandle);

  KvoImei imei = "";
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetImei(handle, &imei));
  EXPECT_STRNE("", imei);
}

TEST_F(BadUseTest, ASecondStartKeepsTheOpenModule) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  EXPECT_EQ(kKvoResultSuccess, KvoInitialize());
  KvoImei imei = "";
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetImei(handle, &imei));
  EXPECT_STRNE("", imei);
}

TEST_F(BadUseTest, ClosedHandleIsRefusedAndClosingAgainIsHarmless) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  for (const HandleCall& call : ReadingCalls()) {
    EXPECT_EQ(kKvoResultDeviceErrorInvalidHandle, call.run(handle, false)) << call.name;
  }
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  // The row is free for the next module.
  KvoDeviceHandle again = 99;
  ASSERT_EQ(kKvoResultSuccess, Open(&again));
  KvoImei imei = "";
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetImei(again, &imei));
}

TEST_F(BadUseTest, CallsWithAHandleAfterTheLibraryStopped) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  ASSERT_EQ(kKvoResultSuccess, KvoTerminate());
  initialized_ = false;
  ExpectEveryCallRefused(handle, kKvoResultGeneralErrorNotInitialized);
  ExpectNullArgumentsRefused();
  EXPECT_NE(kKvoResultSuccess, KvoTerminate());
}

std::atomic<int> first_listener_calls{0};
std::atomic<int> second_listener_calls{0};

void FirstListener(KvoResult, KvoDeviceHandle, KvoAtResult* at_result, const void*) {
  if (at_result != nullptr && at_result->data != nullptr && strstr(at_result->data, "*TEST:")) {
    ++first_listener_calls;
  }
  KvoAtReleaseAtResult(at_result);
}

void SecondListener(KvoResult, KvoDeviceHandle, KvoAtResult* at_result, const void*) {
  if (at_result != nullptr && at_result->data != nullptr && strstr(at_result->data, "*TEST:")) {
    ++second_listener_calls;
  }
  KvoAtReleaseAtResult(at_result);
}

// The same listener may be registered more than once; each registration hears every line, and
// a device takes at most ten.
TEST_F(BadUseTest, ListenerRegisteredTwiceHearsEachLineOncePerRegistration) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  first_listener_calls = 0;
  second_listener_calls = 0;
  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, FirstListener, nullptr));
  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, FirstListener, nullptr));
  ASSERT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, SecondListener, nullptr));
  module_.SendUnsolicited("\r\n*TEST: 1\r\n");
  ASSERT_TRUE(tarvik_test::WaitFor([] { return second_listener_calls.load() >= 1; }, 3000));
  ASSERT_TRUE(tarvik_test::WaitFor([] { return first_listener_calls.load() >= 2; }, 3000));
  // Time for a third delivery to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(2, first_listener_calls.load());
  EXPECT_EQ(1, second_listener_calls.load());

  for (int i = 3; i < 10; ++i) {
    EXPECT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(handle, SecondListener, nullptr));
  }
  EXPECT_EQ(kKvoResultGeneralErrorAtError, KvoAtRegisterCallback(handle, SecondListener, nullptr));

  // The update callback keeps the last registration; registering twice is harmless.
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(handle, nullptr, nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(handle, nullptr, nullptr));

  // Closing drops the listeners with the port: a new session starts with none.
  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  KvoDeviceHandle again = 99;
  ASSERT_EQ(kKvoResultSuccess, Open(&again));
  EXPECT_EQ(kKvoResultSuccess, KvoAtRegisterCallback(again, SecondListener, nullptr));
  second_listener_calls = 0;
  module_.SendUnsolicited("\r\n*TEST: 2\r\n");
  ASSERT_TRUE(tarvik_test::WaitFor([] { return second_listener_calls.load() >= 1; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(1, second_listener_calls.load());
}

}  // namespace
