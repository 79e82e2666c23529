// The channel's counters start with the process: the first payload is request 1 of session 1,
// and the request id is the payload's first two bytes on the wire, least significant first.
// (A test executable of its own, so that no other send runs before it.)

#include <gtest/gtest.h>

#include "testing/wait.h"
#include "transport/src/device/device.h"
#include "transport/src/transparent_channel/transparent_channel.h"
#include "transport/tests/support/pty_support.h"
#include "transport/tests/tc_module.h"

namespace {

class TcFirstRequestTest : public tl_test::TransportTest {};

TEST_F(TcFirstRequestTest, FirstPayloadAfterStartUpIsRequestOneOfSessionOne) {
  tl_test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  tc_test::TcModule module(&pty);
  module.Start();
  TlDeviceHandle handle = 0;
  ASSERT_EQ(kTlResultSuccess, tl_test::OpenDevice(pty.SlavePath(), &handle));
  ASSERT_EQ(kTlResultSuccess, TlTcOpen(handle, kTlTcVersionTwo, 2));
  ASSERT_TRUE(tarvik_test::WaitFor([&] { return module.InChannel(); }, 2000));
  module.ClearReceived();

  unsigned char payload[6] = {0xEE, 0xEE, 0, 4, 'a', 'b'};
  uint16_t request_id = 0;
  ASSERT_EQ(kTlResultSuccess,
            TlTcSend(handle, nullptr, 2, payload, sizeof payload, &request_id, nullptr));
  EXPECT_EQ(1, request_id);
  const std::string expected(
      "\x02\x02\x03\x00\x01\x00\x00\x00\x06\x00"
      "\x01\x00\x00\x04"
      "ab",
      16);
  EXPECT_EQ(expected, module.Received());
  ASSERT_EQ(kTlResultSuccess, TlTcClose(handle, 2));
  TlDeviceClose(handle);
  module.Stop();
}

}  // namespace
