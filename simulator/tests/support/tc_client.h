// Host side of the transparent channel for tests of the simulated module: a whole payload sent and
// answered, and the channel opened and closed, over a raw client (frames from testing/tc_frames.h).
#ifndef TARVIK_SIM_TESTS_SUPPORT_TC_CLIENT_H_
#define TARVIK_SIM_TESTS_SUPPORT_TC_CLIENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/tests/support/raw_client.h"
#include "testing/tc_frames.h"

namespace tarvik_sim_test {

struct TcAnswer {
  uint8_t version = 0;
  uint8_t type = 0;
  uint16_t session = 0;
  uint16_t sequence = 0;
  uint16_t length = 0;
  uint16_t request_id = 0;
  uint8_t command_type = 0;
  uint16_t result = 0;
  std::string data;  // after the 12-byte answer header
};

struct TcExchange {
  bool complete = false;  // every acknowledgement and the answer arrived
  std::vector<tarvik_test::TcAckFields> acks;
  TcAnswer answer;
};

// Sends `payload` in datagrams of up to 65535 bytes, reading one acknowledgement after each and
// the answer at the end; stops at the first missing or negative acknowledgement.
TcExchange SendPayload(RawClient* client, uint16_t session, const std::string& payload,
                       int timeout_ms = 3000);

// "AT*EETC=2" and its OK.
bool OpenChannel(RawClient* client);
// Close frame, its 6-byte reply (returned in `reply`) and the "\r\nOK\r\n" after it.
bool CloseChannel(RawClient* client, std::string* reply = nullptr);

}  // namespace tarvik_sim_test

#endif  // TARVIK_SIM_TESTS_SUPPORT_TC_CLIENT_H_
