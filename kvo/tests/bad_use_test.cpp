// The exported interface used wrongly: missing pointers, handles that were never issued or are
// closed, calls before the library started and after it stopped, listeners registered twice. Each
// ends in a result code; nothing crashes and (under the sanitizers) nothing leaks.

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kvo/tests/device_sim_fixture.h"
#include "testing/wait.h"

namespace {

using kvo_test::LibraryTest;

// One exported call that takes a handle; with `null_out` every pointer it takes is null.
struct HandleCall {
  const char* name;
  std::function<KvoResult(KvoDeviceHandle, bool null_out)> run;
};

#define GETTER(function, Type)                                       \
  {                                                                  \
#function, [](KvoDeviceHandle h, bool null_out) {                  \
      Type value;                                                      \
      return function(h, null_out ? nullptr : &value);                 \
    } \
  }

void NoListener(KvoResult, KvoDeviceHandle, KvoAtResult* at, const void*) {
  KvoAtReleaseAtResult(at);
}

void NoRssiRecords(KvoDeviceHandle, KvoResult, KvoRadioRssiScanData* record, void*) {
  KvoRadioRssiReleaseScanData(record);
}

template <typename T>
T* Out(bool null_out, T* storage) {
  return null_out ? nullptr : storage;
}

const KvoRadioRssiScanParameters kScan = {
    kKvoRadioBandWcdmaI, 10562, 10572, kKvoRadioAntennaPathMain, 0, 5, 1};

// Calls that only read from the module, or refuse: safe on a module that must stay open.
const std::vector<HandleCall> kReadingCalls = {
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
    // One pointer null at a time: each is checked on its own.
    {"KvoDeviceSetPinCode(pin)",
     [](KvoDeviceHandle h, bool null_out) {
       KvoDevicePinCodeState state;
       return KvoDeviceSetPinCode(h, null_out ? nullptr : "1234", &state);
     }},
    {"KvoDeviceSetPinCode(state)",
     [](KvoDeviceHandle h, bool null_out) {
       KvoDevicePinCodeState state;
       return KvoDeviceSetPinCode(h, "1234", null_out ? nullptr : &state);
     }},
    {"KvoAtSend(command)",
     [](KvoDeviceHandle h, bool null_out) {
       KvoAtResult at = {kKvoAtResultNotKnown, nullptr};
       const KvoResult r = KvoAtSend(h, null_out ? nullptr : "AT", 5, &at);
       KvoAtReleaseAtResult(&at);
       return r;
     }},
    {"KvoAtSend(result)",
     [](KvoDeviceHandle h, bool null_out) {
       KvoAtResult at = {kKvoAtResultNotKnown, nullptr};
       const KvoResult r = KvoAtSend(h, "AT", 5, null_out ? nullptr : &at);
       KvoAtReleaseAtResult(&at);
       return r;
     }},
    {"KvoUpdateStart",
     [](KvoDeviceHandle h, bool null_out) {
       return KvoUpdateStart(h, null_out ? nullptr : "/nonexistent/container.dll");
     }},
    {"KvoDeviceSetLedState(7)",
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
       KvoRadioRssiScanData* list = nullptr;
       size_t size = 0;
       const KvoResult r = KvoRadioRssiScan(h, Out(null_out, &kScan), false, &list, &size);
       if (list != nullptr) KvoRadioRssiReleaseScanData(list);
       return r;
     }},
    {"KvoRadioRssiScanAsync",
     [](KvoDeviceHandle h, bool null_out) {
       return KvoRadioRssiScanAsync(h, &kScan, null_out ? nullptr : NoRssiRecords, nullptr);
     }},
    {"KvoRadioTxEnable",
     [](KvoDeviceHandle h, bool null_out) {
       const KvoRadioTxEnableParameters tx = {kKvoRadioBandWcdmaI, kKvoRadioGsmTxModeStatic, 9612,
                                              kKvoRadioModulationWCDMA, 1};
       return KvoRadioTxEnable(h, Out(null_out, &tx));
     }},
    // Outside an update there is no container to go on with, whatever the handle.
    {"KvoUpdateAllowBegin", [](KvoDeviceHandle h, bool no) { return KvoUpdateAllowBegin(h, !no); }},
    {"KvoUpdateAllowRestart",
     [](KvoDeviceHandle h, bool no) { return KvoUpdateAllowRestart(h, !no); }},
};

// Calls that close, restart or re-identify the module: only where no module is open.
std::vector<HandleCall> AllHandleCalls() {
  std::vector<HandleCall> calls = kReadingCalls;
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
  calls.push_back({"KvoUpdateStart(carried)", [](KvoDeviceHandle h, bool) {
                     return KvoUpdateStart(h, tarvik_test::kCarriedContainer);
                   }});
  return calls;
}

bool IsUpdateContinuation(const std::string& name) {
  return name.rfind("KvoUpdateAllow", 0) == 0;
}

// Every call on `handle` gives `expected` (or, without one, fails somehow; closing a free row is
// no failure). Continuing an update always finds no container.
void ExpectEveryCallRefused(KvoDeviceHandle handle, const KvoResult* expected) {
  EXPECT_NE(kKvoResultSuccess, KvoAtRegisterCallback(handle, NoListener, nullptr));
  for (const HandleCall& call : AllHandleCalls()) {
    for (bool null_out : {false, true}) {
      const KvoResult result = call.run(handle, null_out);
      const std::string where = std::string(call.name) + " handle " + std::to_string(handle);
      if (IsUpdateContinuation(call.name)) {
        EXPECT_EQ(kKvoResultUpdateErrorFailedToLoadDLL, result) << where;
      } else if (expected == nullptr) {
        EXPECT_TRUE(result != kKvoResultSuccess || std::string(call.name) == "KvoDeviceClose")
            << where;
      } else if (!(null_out && result == kKvoResultGeneralErrorInvalidParameter)) {
        EXPECT_EQ(*expected, result) << where << (null_out ? " null" : "");
      }
    }
  }
}

// Calls without a handle, with missing or impossible arguments.
void ExpectBadArgumentsRefused() {
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
  EXPECT_NE(kKvoResultSuccess, KvoDeviceOpen(&parameters, &handle));   // empty name
  memset(parameters.device_name, 'x', sizeof parameters.device_name);  // no terminator
  EXPECT_NE(kKvoResultSuccess, KvoDeviceOpen(&parameters, &handle));
  EXPECT_EQ(77u, handle);

  EXPECT_NE(kKvoResultSuccess, KvoGetApiVersion(nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoGetRevision(nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoGetProduct(nullptr));
  EXPECT_NE(kKvoResultSuccess, KvoGetResultDescription(kKvoResultSuccess, nullptr));
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
  EXPECT_NE(kKvoResultSuccess, KvoUpdateGetUpdatePath(0, nullptr, &paths, &size));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoUpdateGetUpdatePath(0, tarvik_test::kCarriedContainer, nullptr, nullptr));
  EXPECT_EQ(nullptr, paths);
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateReleaseKvoUpdatePath(nullptr));
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoAtReleaseAtResult(nullptr));
  KvoAtResult empty = {kKvoAtResultOk, nullptr};
  EXPECT_EQ(kKvoResultSuccess, KvoAtReleaseAtResult(&empty));
  EXPECT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(10, nullptr, nullptr));
}

const KvoResult kNotInitialized = kKvoResultGeneralErrorNotInitialized;
const KvoResult kInvalidHandle = kKvoResultDeviceErrorInvalidHandle;

TEST(BadUseWithoutLibraryTest, EveryCallBeforeTheStartAndAfterTheStop) {
  tarvik_test::TempDir directory(tarvik_test::TempDir::kEnter);
  KvoSetLogTypesForScreen(kKvoLogTypeMaskNone);
  ExpectEveryCallRefused(0, &kNotInitialized);
  ExpectEveryCallRefused(10, nullptr);
  ExpectBadArgumentsRefused();
  EXPECT_NE(kKvoResultSuccess, KvoTerminate());

  // One stop ends the library however often it was started, and it starts again afterwards.
  ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
  EXPECT_EQ(kKvoResultSuccess, KvoInitialize());
  EXPECT_EQ(kKvoResultSuccess, KvoTerminate());
  ExpectEveryCallRefused(0, &kNotInitialized);
  EXPECT_NE(kKvoResultSuccess, KvoTerminate());
  ASSERT_EQ(kKvoResultSuccess, KvoInitialize());
  KvoDeviceName* names = nullptr;
  size_t size = 0;
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetList(&names, &size));
  KvoDeviceReleaseList(names);
  EXPECT_EQ(kKvoResultSuccess, KvoTerminate());
}

// Never issued, free rows, the neighbour of an open module, null pointers on it, a second start,
// its handle once closed and once the library stopped.
TEST_F(LibraryTest, EveryKindOfHandleAroundAnOpenModule) {
  for (KvoDeviceHandle handle : {10u, 11u, 0xFFFFFFFFu}) {
    ExpectEveryCallRefused(handle, &kInvalidHandle);
  }
  KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  ExpectEveryCallRefused(handle + 1, nullptr);
  for (const HandleCall& call : kReadingCalls) {
    const KvoResult result = call.run(handle, true);
    EXPECT_TRUE(result != kKvoResultSuccess || IsUpdateContinuation(call.name)) << call.name;
  }
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
            KvoAtRegisterCallback(handle, nullptr, nullptr));
  EXPECT_EQ(kKvoResultSuccess, KvoInitialize());
  ExpectBadArgumentsRefused();
  KvoImei imei = "";
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceGetImei(handle, &imei));
  EXPECT_STRNE("", imei);

  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  for (const HandleCall& call : kReadingCalls) {
    const KvoResult result = call.run(handle, false);
    EXPECT_TRUE(result == kInvalidHandle || IsUpdateContinuation(call.name)) << call.name;
  }
  EXPECT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  // The row is free for the next session.
  ASSERT_EQ(kKvoResultSuccess, Open(&handle));
  ASSERT_EQ(kKvoResultSuccess, KvoTerminate());
  ExpectEveryCallRefused(handle, &kNotInitialized);
}

std::atomic<int> first_calls{0};
std::atomic<int> second_calls{0};

template <std::atomic<int>* counter>
void CountTestLines(KvoResult, KvoDeviceHandle, KvoAtResult* at, const void*) {
  if (at != nullptr && at->data != nullptr && strstr(at->data, "*TEST:") != nullptr) ++*counter;
  KvoAtReleaseAtResult(at);
}

// Each registration hears every line, also of the same listener; closing drops them all.
TEST_F(LibraryTest, ListenerRegisteredTwiceHearsEachLineOncePerRegistration) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DefaultProfile());
  ASSERT_EQ(kKvoResultSuccess,
            KvoAtRegisterCallback(handle, CountTestLines<&first_calls>, nullptr));
  ASSERT_EQ(kKvoResultSuccess,
            KvoAtRegisterCallback(handle, CountTestLines<&first_calls>, nullptr));
  ASSERT_EQ(kKvoResultSuccess,
            KvoAtRegisterCallback(handle, CountTestLines<&second_calls>, nullptr));
  module_.SendUnsolicited("\r\n*TEST: 1\r\n");
  ASSERT_TRUE(tarvik_test::WaitFor([] { return first_calls >= 2 && second_calls >= 1; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // time for a third delivery
  EXPECT_EQ(2, first_calls.load());
  EXPECT_EQ(1, second_calls.load());

  ASSERT_EQ(kKvoResultSuccess, KvoDeviceClose(handle));
  KvoDeviceHandle again = 99;
  ASSERT_EQ(kKvoResultSuccess, Open(&again));
  ASSERT_EQ(kKvoResultSuccess,
            KvoAtRegisterCallback(again, CountTestLines<&second_calls>, nullptr));
  module_.SendUnsolicited("\r\n*TEST: 2\r\n");
  ASSERT_TRUE(tarvik_test::WaitFor([] { return second_calls >= 2; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(2, first_calls.load());
  EXPECT_EQ(2, second_calls.load());
}

}  // namespace
