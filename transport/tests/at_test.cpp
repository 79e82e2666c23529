// AT channel, byte-exact over a raw pseudo-terminal pair whose master side plays the module.

#include "transport/src/at/at.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/wait.h"
#include "transport/src/device/device.h"
#include "transport/tests/support/pty_support.h"

namespace {

using tarvik_test::WaitFor;
using tl_test::PtyPair;
using tl_test::ScriptedModule;
using tl_test::TransportTest;

struct Heard {
  TlResult result;
  TlDeviceHandle handle;
  TlAtResultCode code;
  std::string data;
  const void* client_data;
};
std::mutex heard_mutex;
std::vector<Heard> heard;

void Listen(TlResult result, TlDeviceHandle handle, TlAtResult* at_result,
            const void* client_data) {
  {
    std::lock_guard<std::mutex> lock(heard_mutex);
    heard.push_back({result, handle, at_result->result_code,
                     at_result->data != nullptr ? at_result->data : "(none)", client_data});
  }
  TlAtReleaseAtResult(at_result);
}

void OtherListener(TlResult, TlDeviceHandle, TlAtResult* at_result, const void*) {
  TlAtReleaseAtResult(at_result);
}

std::vector<Heard> Heard_() {
  std::lock_guard<std::mutex> lock(heard_mutex);
  return heard;
}

class AtTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    {
      std::lock_guard<std::mutex> lock(heard_mutex);
      heard.clear();
    }
    ASSERT_TRUE(pty_.ok());
    module_.Start();
    ASSERT_EQ(kTlResultSuccess, tl_test::OpenDevice(pty_.SlavePath(), &handle_));
    ASSERT_TRUE(WaitFor([&] { return module_.Received() == "\r\n"; }, 2000));
    module_.ClearReceived();
  }
  void TearDown() override {
    TlDeviceClose(handle_);
    module_.Stop();
    TransportTest::TearDown();
  }

  // Sends and returns the response text ("(none)" without one).
  std::string Send(const char* command, TlAtResultCode* code, TlResult* result,
                   unsigned timeout = 5) {
    TlAtResult at_result = {kTlAtResultOk, nullptr};
    *result = TlAtSend(handle_, command, timeout, &at_result);
    *code = at_result.result_code;
    std::string text = at_result.data != nullptr ? at_result.data : "(none)";
    TlAtReleaseAtResult(&at_result);
    return text;
  }

  PtyPair pty_;
  ScriptedModule module_{&pty_};
  TlDeviceHandle handle_ = 0;
};

TEST_F(AtTest, EchoIsSwitchedOffOnTheFirstCommandOnly) {
  module_.On("AT+CGMI", {"\r\n+CGMI: X\r\n\r\nOK\r\n"});
  TlAtResultCode code;
  TlResult result;
  EXPECT_EQ("\r\n+CGMI: X\r\n\r\nOK\r\n", Send("AT+CGMI", &code, &result));
  EXPECT_EQ(kTlResultSuccess, result);
  EXPECT_EQ(kTlAtResultOk, code);
  EXPECT_EQ("ATE0\r\nAT+CGMI\r\n", module_.Received());

  EXPECT_EQ("\r\nOK\r\n", Send("AT", &code, &result));
  EXPECT_EQ(kTlAtResultOk, code);
  EXPECT_EQ("ATE0\r\nAT+CGMI\r\nAT\r\n", module_.Received());
  EXPECT_EQ(kTlResultSuccess, TlAtSendNoResponse(handle_, "KILL"));
  EXPECT_EQ("ATE0\r\nAT+CGMI\r\nAT\r\nKILL\r\n", module_.Received());
}

TEST_F(AtTest, ErrorAnswerIsASuccessfulExchange) {
  module_.On("AT+BAD", {"\r\nERROR\r\n"});
  TlAtResultCode code;
  TlResult result;
  EXPECT_EQ("\r\nERROR\r\n", Send("AT+BAD", &code, &result));
  EXPECT_EQ(kTlResultSuccess, result);
  EXPECT_EQ(kTlAtResultError, code);
}

TEST_F(AtTest, ResponseInPiecesEachRestartingTheReadTimeOut) {
  // 1.4 s in all, but never more than 0.7 s of silence: a 1 s time-out per read is enough.
  module_.On("AT+SLOW", {"\r\n+SLOW: 1\r\n", "\r\nO", "K\r\n"}, 700);
  TlAtResultCode code;
  TlResult result;
  EXPECT_EQ("\r\n+SLOW: 1\r\n\r\nOK\r\n", Send("AT+SLOW", &code, &result, 1));
  EXPECT_EQ(kTlResultSuccess, result);
  EXPECT_EQ(kTlAtResultOk, code);
}

TEST_F(AtTest, SilenceLongerThanTheTimeOutEndsTheExchangeWithoutData) {
  module_.On("AT+STALL", {"\r\n+STALL: 1\r\n", "\r\nOK\r\n"}, 2500);
  TlAtResultCode code;
  TlResult result;
  EXPECT_EQ("(none)", Send("AT+STALL", &code, &result, 1));
  EXPECT_EQ(kTlResultGeneralErrorOperationTimedOut, result);
  EXPECT_EQ(kTlAtResultUnknown, code);
}

TEST_F(AtTest, TextAfterTheFinalResultCodeReachesTheListeners) {
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listen, &heard_mutex));
  module_.On("AT+CPIN?", {"\r\n+CME ERROR: 10\r\n"});
  module_.On("AT*EEUSTATE=1", {"\r\nOK\r\n\r\n*EEUSTATE:1,2\r\n"});
  TlAtResultCode code;
  TlResult result;

  EXPECT_EQ("\r\n+CME ERROR: 10\r\n", Send("AT+CPIN?", &code, &result));
  EXPECT_EQ(kTlResultSuccess, result);
  EXPECT_EQ(kTlAtResultError, code);
  auto seen = Heard_();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(" 10\r\n", seen[0].data);
  EXPECT_EQ(kTlResultSuccess, seen[0].result);
  EXPECT_EQ(kTlAtResultUnknown, seen[0].code);
  EXPECT_EQ(handle_, seen[0].handle);
  EXPECT_EQ(&heard_mutex, seen[0].client_data);

  EXPECT_EQ("\r\nOK\r\n\r\n*EEUSTATE:1,2\r\n", Send("AT*EEUSTATE=1", &code, &result));
  EXPECT_EQ(kTlAtResultOk, code);
  seen = Heard_();
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("\r\n*EEUSTATE:1,2\r\n", seen[1].data);
}

TEST_F(AtTest, SuccessWinsWhenOkAndErrorShareOneText) {
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listen, nullptr));
  module_.On("AT+BOTH", {"\r\nERROR\r\n\r\nOK\r\n"});
  TlAtResultCode code;
  TlResult result;
  EXPECT_EQ("\r\nERROR\r\n\r\nOK\r\n", Send("AT+BOTH", &code, &result));
  EXPECT_EQ(kTlAtResultOk, code);
  // OK ended the text: nothing was left over for the listeners.
  EXPECT_TRUE(Heard_().empty());
}

TEST_F(AtTest, UnsolicitedLineBetweenCommandsReachesEveryListenerWithItsClientData) {
  static const int kTags[3] = {};
  for (const int& tag : kTags) {
    ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listen, &tag));
  }
  ASSERT_TRUE(pty_.Write("\r\n*EEUSTATE:1,5\r\n"));
  ASSERT_TRUE(WaitFor([] { return Heard_().size() >= 3; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto seen = Heard_();
  ASSERT_EQ(3u, seen.size());
  for (size_t index = 0; index < 3; ++index) {
    EXPECT_EQ("\r\n*EEUSTATE:1,5\r\n", seen[index].data);
    EXPECT_EQ(&kTags[index], seen[index].client_data);
  }
}

TEST_F(AtTest, ListenerSlots) {
  for (int index = 0; index < 10; ++index) {
    ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listen, nullptr)) << index;
  }
  EXPECT_EQ(kTlResultAtErrorMaximumCallbacksExceeded,
            TlAtRegisterCallback(handle_, OtherListener, nullptr));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered,
            TlAtUnregisterCallback(handle_, OtherListener));
  // Unregistering frees one slot, which takes a new listener.
  EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(handle_, Listen));
  EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, OtherListener, nullptr));
  EXPECT_EQ(kTlResultAtErrorMaximumCallbacksExceeded,
            TlAtRegisterCallback(handle_, OtherListener, nullptr));
  for (int index = 0; index < 9; ++index) {
    EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(handle_, Listen)) << index;
  }
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(handle_, Listen));
  EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(handle_, OtherListener));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered,
            TlAtUnregisterCallback(handle_, OtherListener));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlAtRegisterCallback(handle_, nullptr, nullptr));
}

TEST_F(AtTest, ClearingListenersForAHandle) {
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, Listen, nullptr));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, OtherListener, nullptr));
  EXPECT_EQ(kTlResultSuccess, AtClearCallbacksForHandle(handle_));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(handle_, Listen));
  ASSERT_TRUE(pty_.Write("\r\nRING\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Heard_().empty());
  // All ten slots are free again.
  for (int index = 0; index < 10; ++index) {
    EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, OtherListener, nullptr));
  }
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, AtClearCallbacksForHandle(10));
}

TEST_F(AtTest, NoExchangeUnlessTheOwnerIsAt) {
  const TlDeviceOwner others[] = {kTlDeviceOwnerTransparentChannel, kTlDeviceOwnerDebugMux,
                                  kTlDeviceOwnerCrashDump, kTlDeviceOwnerSecureFrame};
  for (const TlDeviceOwner owner : others) {
    ASSERT_EQ(kTlResultSuccess, TlDeviceSetOwner(handle_, owner));
    TlAtResult at_result = {kTlAtResultOk, nullptr};
    EXPECT_EQ(kTlResultAtErrorDeviceNotInAtMode, TlAtSend(handle_, "AT", 5, &at_result));
    EXPECT_EQ(kTlAtResultUnknown, at_result.result_code);
    EXPECT_EQ(nullptr, at_result.data);
    EXPECT_EQ(kTlResultAtErrorDeviceNotInAtMode, TlAtSendNoResponse(handle_, "AT"));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ("", module_.Received());
}

TEST_F(AtTest, ChecksComeBeforeTheResultRecordIsTouched) {
  TlAtResult at_result = {kTlAtResultError, nullptr};
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlAtSend(10, "AT", 5, &at_result));
  EXPECT_EQ(kTlAtResultError, at_result.result_code);
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlAtSendNoResponse(10, "AT"));
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlAtRegisterCallback(10, Listen, nullptr));
  EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, TlAtUnregisterCallback(10, Listen));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlAtSend(handle_, nullptr, 5, &at_result));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlAtSend(handle_, "AT", 5, nullptr));
}

TEST_F(AtTest, ClosedDeviceRefusesCommands) {
  ASSERT_EQ(kTlResultSuccess, TlDeviceClose(handle_));
  TlAtResult at_result = {kTlAtResultOk, nullptr};
  EXPECT_EQ(kTlResultAtErrorDeviceNotInAtMode, TlAtSend(handle_, "AT", 5, &at_result));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlAtRegisterCallback(handle_, Listen, nullptr));
  EXPECT_EQ("", module_.Received());
}

TEST_F(AtTest, EndlessResponseWithoutFinalCodeIsCutOff) {
  module_.Silence("AT+FLOOD");
  TlAtResult at_result = {kTlAtResultOk, nullptr};
  TlResult result = kTlResultSuccess;
  std::thread sender([&] { result = TlAtSend(handle_, "AT+FLOOD", 5, &at_result); });
  ASSERT_TRUE(module_.WaitForLine("AT+FLOOD", 5000));
  const std::string chunk(4096, 'x');
  // More than any answer may hold; the host stops reading somewhere in here.
  for (int index = 0; index < 300; ++index) {
    pty_.Write(chunk);
  }
  sender.join();
  EXPECT_EQ(kTlResultGeneralErrorMemory, result);
  EXPECT_EQ(nullptr, at_result.data);
}

TEST_F(AtTest, ZeroBytesInTheAnswerDoNotHideTheFinalCode) {
  static const char kAnswer[] = "\r\n+NUL: a\0b\r\n\r\nOK\r\n";
  module_.On("AT+NUL", {std::string(kAnswer, sizeof kAnswer - 1)});
  TlAtResultCode code;
  TlResult result;
  Send("AT+NUL", &code, &result);
  EXPECT_EQ(kTlResultSuccess, result);
  EXPECT_EQ(kTlAtResultOk, code);
}

TEST(AtStoppedTest, NothingWorksBeforeTheLibraryStarts) {
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  TlAtResult at_result = {kTlAtResultError, nullptr};
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlAtSend(0, "AT", 5, &at_result));
  EXPECT_EQ(kTlAtResultError, at_result.result_code);
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlAtSendNoResponse(0, "AT"));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlAtRegisterCallback(0, Listen, nullptr));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, TlAtUnregisterCallback(0, Listen));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, AtClearCallbacksForHandle(0));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, AtTerminate());
  TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
}

// The classification on its own: patterns in table order, first one found decides.
TEST(AtProtocolTest, FinalResultCodes) {
  struct Case {
    const char* text;
    TlAtResultCode code;
    size_t end;
  };
  const Case cases[] = {
      {"", kTlAtResultUnknown, 0},
      {"\r\n+CGMI: X\r\n", kTlAtResultUnknown, 0},
      {"\r\nO", kTlAtResultUnknown, 0},
      {"\r\nOK\r\n", kTlAtResultOk, 6},
      {"OK\r\n", kTlAtResultOk, 4},
      {"\r\nCONNECT\r\n", kTlAtResultOk, 11},
      {"\r\nERROR\r\n", kTlAtResultError, 9},
      {"\r\n+CME ERROR: 10\r\n", kTlAtResultError, 13},
      {"\r\n+CMS ERROR: 500\r\n", kTlAtResultError, 13},
      {"\r\nNO CARRIER\r\n", kTlAtResultError, 14},
      {"\r\nCERR: 3\r\n", kTlAtResultError, 7},
      {"ledc=1, ERR\r\n", kTlAtResultError, 13},
      // Success patterns are searched first, wherever they stand.
      {"\r\nERROR\r\n\r\nOK\r\n", kTlAtResultOk, 15},
      {"\r\nNO CARRIER\r\n\r\nCONNECT\r\n", kTlAtResultOk, 25},
      // The first occurrence of the deciding pattern gives the end.
      {"\r\nOK\r\n\r\nOK\r\n", kTlAtResultOk, 6},
      // Lower case or a missing line end is no final result code.
      {"\r\nok\r\n", kTlAtResultUnknown, 0},
      {"\r\nERROR", kTlAtResultUnknown, 0},
  };
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  for (const Case& c : cases) {
    size_t end = 0;
    EXPECT_EQ(c.code, AtProtocolIsResponse(c.text, &end)) << c.text;
    EXPECT_EQ(c.end, end) << c.text;
  }
  EXPECT_EQ(kTlAtResultUnknown, AtProtocolIsResponse(nullptr, nullptr));
  TlSetLogTypesForScreen(kTlLogTypeMaskDefaultScreen);
}

}  // namespace
