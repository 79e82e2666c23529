// AT channel on the fake device: what goes out, how a response is collected from the reads, what
// the listeners get, and the channel's bounds. Results in tables by value (golden/results.txt).

#include "transport/src/at/at.h"

#include <gtest/gtest.h>
#include <limits.h>

#include <functional>
#include <string>
#include <vector>

#include "testing/fake_device.h"
#include "transport/tests/support/pty_support.h"

namespace {

using Pieces = std::vector<std::string>;
const TlAtResultCode kOk = kTlAtResultOk, kError = kTlAtResultError, kNone = kTlAtResultUnknown;

// What the listeners got: "result:data" each, and their client data.
std::vector<std::string> heard;
std::vector<const void*> clients;
void Listen(TlResult result, TlDeviceHandle handle, TlAtResult* at_result, const void* client) {
  EXPECT_EQ(0u, handle);
  EXPECT_EQ(kNone, at_result->result_code);
  heard.push_back(std::to_string(result) + ":" + at_result->data);
  clients.push_back(client);
  TlAtReleaseAtResult(at_result);
}
void Other(TlResult, TlDeviceHandle, TlAtResult* at_result, const void*) {
  TlAtReleaseAtResult(at_result);
}
const int kTags[3] = {};

class AtTest : public tl_test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    fake_device::Reset();
    heard.clear();
    clients.clear();
    // The module answers ATE0 with OK and every other line with `answer_`.
    fake_device::SetResponder([this](const std::string& line) {
      return line == "ATE0\r\n" ? Pieces{"\r\nOK\r\n"} : answer_;
    });
  }
  void TearDown() override {
    // Every path out of the channel gives the lock back, and no byte moves without it.
    EXPECT_EQ(0, fake_device::LockDepth());
    EXPECT_FALSE(fake_device::UnlockedIo());
    TransportTest::TearDown();
  }
  // Sends to a module that answers with `answer`; `text` is "-" without a response text.
  TlResult Send(const char* command, Pieces answer, unsigned timeout = 5,
                TlAtResultCode* code = nullptr, std::string* text = nullptr) {
    answer_ = std::move(answer);
    TlAtResult at_result = {kOk, nullptr};
    const TlResult result = TlAtSend(0, command, timeout, &at_result);
    if (code != nullptr) *code = at_result.result_code;
    if (text != nullptr) *text = at_result.data != nullptr ? at_result.data : "-";
    TlAtReleaseAtResult(&at_result);
    return result;
  }
  Pieces answer_ = {"\r\nOK\r\n"};
};

TEST_F(AtTest, EchoGoesOffOnTheFirstCommandAndAgainAfterThePortFailedOrTheHandleWasReleased) {
  ASSERT_EQ(kTlResultSuccess, Send("AT+CGMI", {"\r\nOK\r\n"}));
  ASSERT_EQ(kTlResultSuccess, TlAtSendNoResponse(0, "KILL"));
  EXPECT_EQ("ATE0\r\nAT+CGMI\r\nKILL\r\n", fake_device::Sent());
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listen, nullptr));
  fake_device::ReceiveCallback()(0, kTlResultGeneralErrorDeviceNotOpen, nullptr, 0);
  fake_device::Load(nullptr, 0, 0);
  ASSERT_EQ(kTlResultSuccess, Send("AT", {"\r\nOK\r\n"}));
  EXPECT_EQ("ATE0\r\nAT\r\n", fake_device::Sent());
  // A released handle goes to the next open, perhaps of another module.
  AtForgetEcho(0);
  fake_device::Load(nullptr, 0, 0);
  ASSERT_EQ(kTlResultSuccess, Send("AT", {"\r\nOK\r\n"}));
  EXPECT_EQ("ATE0\r\nAT\r\n", fake_device::Sent());
}

// How the reads of a response make its result, its text and the unsolicited rest.
TEST_F(AtTest, ResponseCollection) {
  const std::string mib = std::string(1024 * 1024 - 6, 'x') + "\r\nOK\r\n";
  const struct {
    const char* name;
    Pieces reads;
    int result;
    TlAtResultCode code;
    std::string text;  // "": the reads joined
    std::string unsolicited;
  } rows[] = {
      {"whole", {"\r\n+CGMI: X\r\n\r\nOK\r\n"}, 0, kOk, "", ""},
      {"pieces", {"\r\nO", "K\r\n"}, 0, kOk, "", ""},
      {"error", {"\r\nERROR\r\n"}, 0, kError, "", ""},
      {"cme", {"\r\n+CME ERROR: 10\r\n"}, 0, kError, "", "0: 10\r\n"},
      {"then report", {"OK\r\n\r\n*EEUSTATE:1,2\r\n"}, 0, kOk, "", "0:\r\n*EEUSTATE:1,2\r\n"},
      {"ok wins", {"\r\nERROR\r\n\r\nOK\r\n"}, 0, kOk, "", ""},
      {"zero byte", {std::string("\r\na\0b\r\nOK\r\n", 11)}, 0, kOk, "\r\nab\r\nOK\r\n", ""},
      {"silence", {"\r\n+S: 1\r\n", "", "\r\nOK\r\n"}, 5, kNone, "-", ""},
      {"nothing", {}, 5, kNone, "-", ""},
      {"1 MiB", {mib}, 0, kOk, "", ""},
      {"1 MiB + 1", {"x" + mib}, 3, kNone, "-", ""},
      {"1 MiB of zero bytes", {std::string(1024 * 1024, '\0')}, 3, kNone, "-", ""},
  };
  ASSERT_EQ(kTlResultSuccess, Send("AT", {"\r\nOK\r\n"}));
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listen, &kTags[1]));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    heard.clear();
    fake_device::Load(nullptr, 0, 0);
    TlAtResultCode code;
    std::string text, joined;
    EXPECT_EQ(row.result, Send("AT+Q", row.reads, 7, &code, &text));
    EXPECT_EQ(row.code, code);
    for (const auto& piece : row.reads) joined += piece;
    EXPECT_TRUE((row.text.empty() ? joined : row.text) == text) << text.substr(0, 80);
    EXPECT_EQ(row.unsolicited.empty() ? Pieces{} : Pieces{row.unsolicited}, heard);
    // Each read gets the caller's time-out anew.
    for (int timeout : fake_device::ReadTimeouts()) EXPECT_EQ(7, timeout);
  }
  EXPECT_EQ(&kTags[1], clients[0]);
}

// The time-out of each read: the caller's, -1 for "no limit", capped; 5 s to read an answer away.
TEST_F(AtTest, ReadTimeouts) {
  const struct {
    std::function<TlResult()> call;
    std::vector<int> timeouts;
  } rows[] = {
      {[] { return TlAtSendNoResponse(0, "AT"); }, {5, 5}},  // the echo-off answer first
      {[] { return TlAtSendNoResponse(0, "AT"); }, {5}},
      {[this] { return Send("AT", answer_, kTlAtTimeoutInfinite); }, {-1}},
      {[this] { return Send("AT", answer_, 3000000000u); }, {INT_MAX}},
  };
  for (const auto& row : rows) {
    fake_device::Load(nullptr, 0, 0);
    EXPECT_EQ(kTlResultSuccess, row.call());
    EXPECT_EQ(row.timeouts, fake_device::ReadTimeouts());
  }
}

TEST_F(AtTest, NothingIsSentUnlessTheOwnerIsAtAndTheLockTaken) {
  for (TlDeviceOwner owner :
       {kTlDeviceOwnerTransparentChannel, kTlDeviceOwnerDebugMux, kTlDeviceOwnerCrashDump,
        kTlDeviceOwnerSecureFrame, kTlDeviceOwnerInvalid}) {
    fake_device::SetOwner(owner);
    TlAtResult at_result = {kOk, nullptr};
    EXPECT_EQ(kTlResultAtErrorDeviceNotInAtMode, TlAtSend(0, "AT", 5, &at_result));
    EXPECT_EQ(kNone, at_result.result_code);
    EXPECT_EQ(nullptr, at_result.data);
    EXPECT_EQ(kTlResultAtErrorDeviceNotInAtMode, TlAtSendNoResponse(0, "AT"));
  }
  // Nor when the device closed while the command waited for its lock.
  fake_device::SetOwner(kTlDeviceOwnerAt);
  fake_device::SetLockResult(kTlResultDeviceErrorCouldNotOpenDevice);
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, Send("AT", answer_));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlAtSendNoResponse(0, "AT"));
  EXPECT_EQ(kTlResultDeviceErrorCouldNotOpenDevice, TlAtRegisterCallback(0, Listen, nullptr));
  EXPECT_EQ("", fake_device::Sent());
}

// The handle and start checks come first, before the result record is touched.
TEST_F(AtTest, ArgumentChecks) {
  TlAtResult at_result = {kError, nullptr};
  const std::function<TlResult(TlDeviceHandle)> calls[] = {
      [&](TlDeviceHandle handle) { return TlAtSend(handle, "AT", 5, &at_result); },
      [](TlDeviceHandle handle) { return TlAtSendNoResponse(handle, "AT"); },
      [](TlDeviceHandle handle) { return TlAtRegisterCallback(handle, Listen, nullptr); },
      [](TlDeviceHandle handle) { return TlAtUnregisterCallback(handle, Listen); },
      [](TlDeviceHandle handle) { return AtClearCallbacksForHandle(handle); },
  };
  for (const auto& call : calls) EXPECT_EQ(kTlResultDeviceErrorInvalidHandle, call(10));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlAtSend(0, nullptr, 5, &at_result));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlAtSend(0, "AT", 5, nullptr));
  EXPECT_EQ(kTlResultGeneralErrorInvalidParameter, TlAtRegisterCallback(0, nullptr, nullptr));
  TlTerminate();
  for (const auto& call : calls) EXPECT_EQ(kTlResultGeneralErrorNotInitialized, call(0));
  EXPECT_EQ(kTlResultGeneralErrorNotInitialized, AtTerminate());
  EXPECT_EQ(kError, at_result.result_code);
  ASSERT_EQ(kTlResultSuccess, TlInitialize());
}

TEST_F(AtTest, TenListenerSlotsPerHandle) {
  for (int slot = 0; slot < 10; ++slot) {
    ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listen, &kTags[slot % 3])) << slot;
  }
  EXPECT_EQ(kTlResultAtErrorMaximumCallbacksExceeded, TlAtRegisterCallback(0, Other, nullptr));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(0, Other));
  // Unregistering frees one slot; the next registration takes it.
  EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(0, Listen));
  EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Other, nullptr));
  EXPECT_EQ(kTlResultAtErrorMaximumCallbacksExceeded, TlAtRegisterCallback(0, Other, nullptr));
  EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(0, Other));
  // Text from the receive thread reaches the nine left, in slot order, with their client data.
  fake_device::ReceiveCallback()(0, kTlResultSuccess, "RING", 4);
  EXPECT_EQ(Pieces(9, "0:RING"), heard);
  for (size_t index = 0; index < clients.size(); ++index) {
    EXPECT_EQ(&kTags[(index + 1) % 3], clients[index]);
  }
  // A port failure reaches each once with no data and empties all ten slots.
  heard.clear();
  fake_device::ReceiveCallback()(0, kTlResultGeneralErrorDeviceNotOpen, nullptr, 0);
  fake_device::ReceiveCallback()(0, kTlResultGeneralErrorDeviceNotOpen, nullptr, 0);
  EXPECT_EQ(Pieces(9, "4:"), heard);
  for (int slot = 0; slot < 10; ++slot) {
    EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Other, nullptr));
  }
  // So does a clear, which stops deliveries.
  EXPECT_EQ(kTlResultSuccess, AtClearCallbacksForHandle(0));
  EXPECT_EQ(kTlResultSuccess, TlAtRegisterCallback(0, Listen, nullptr));
  EXPECT_EQ(kTlResultAtErrorNoSuchCallbackRegistered, TlAtUnregisterCallback(0, Other));
}

// The classification on its own: patterns in table order, the first one found decides.
TEST(AtProtocolTest, FinalResultCodes) {
  const struct {
    const char* text;
    TlAtResultCode code;
    size_t end;
  } rows[] = {
      {"", kNone, 0},
      {"\r\n+CGMI: X\r\n", kNone, 0},
      {"\r\nO", kNone, 0},
      {"\r\nOK\r\n", kOk, 6},
      {"OK\r\n", kOk, 4},
      {"\r\nCONNECT\r\n", kOk, 11},
      {"\r\nERROR\r\n", kError, 9},
      {"\r\n+CME ERROR: 10\r\n", kError, 13},
      {"\r\n+CMS ERROR: 500\r\n", kError, 13},
      {"\r\nNO CARRIER\r\n", kError, 14},
      {"\r\nCERR: 3\r\n", kError, 7},
      {"ledc=1, ERR\r\n", kError, 13},
      {"\r\nERROR\r\n\r\nOK\r\n", kOk, 15},  // success patterns are searched first
      {"\r\nNO CARRIER\r\n\r\nCONNECT\r\n", kOk, 25},
      {"\r\nOK\r\n\r\nOK\r\n", kOk, 6},  // the first occurrence gives the end
      {"\r\nok\r\n", kNone, 0},
      {"\r\nERROR", kNone, 0},
  };
  TlSetLogTypesForScreen(kTlLogTypeMaskNone);
  for (const auto& row : rows) {
    size_t end = 0;
    EXPECT_EQ(row.code, AtProtocolIsResponse(row.text, &end)) << row.text;
    EXPECT_EQ(row.end, end) << row.text;
  }
  EXPECT_EQ(kNone, AtProtocolIsResponse(nullptr, nullptr));
}

}  // namespace
