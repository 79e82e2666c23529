// Host side of the transparent channel for tests of the simulated module, written from the frame
// formats on the wire (little-endian fields).
#ifndef TARVIK_SIM_TESTS_SUPPORT_TC_CLIENT_H_
#define TARVIK_SIM_TESTS_SUPPORT_TC_CLIENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/tests/support/raw_client.h"

namespace tarvik_sim_test {

struct TcAck {
  uint8_t version = 0;
  uint8_t type = 0;
  uint16_t protocol = 0;
  uint16_t session = 0;
  uint16_t sequence = 0;
  uint16_t result = 0;
};

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

uint16_t Le16At(const std::string& bytes, size_t at);
std::string Datagram(uint16_t session, uint16_t sequence, const std::string& payload,
                     uint8_t version = 2, uint16_t protocol = 3);
std::string ControlFrame(uint16_t command = 0, uint8_t version = 2);
TcAck ParseAck(const std::string& bytes);  // 10 bytes

// A payload of `size` bytes whose first two bytes (the request id) are `request_id`.
std::string Payload(size_t size, uint16_t request_id = 1);

struct TcExchange {
  bool complete = false;  // every acknowledgement and the answer arrived
  std::vector<TcAck> acks;
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
