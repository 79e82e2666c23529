#include "testing/tc_frames.h"

namespace tarvik_test {

std::string Le16(uint16_t value) {
  return std::string{static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
}

uint16_t Le16At(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

std::string TcDatagram(uint16_t session, uint16_t sequence, const std::string& payload,
                       uint8_t version, uint16_t protocol, uint8_t type) {
  return std::string{static_cast<char>(version), static_cast<char>(type)} + Le16(protocol) +
         Le16(session) + Le16(sequence) + Le16(static_cast<uint16_t>(payload.size())) + payload;
}

std::string TcAck(uint16_t session, uint16_t sequence, uint16_t result, uint8_t version,
                  uint8_t type, uint16_t protocol) {
  return std::string{static_cast<char>(version), static_cast<char>(type)} + Le16(protocol) +
         Le16(session) + Le16(sequence) + Le16(result);
}

std::string TcControlFrame(uint16_t command, uint8_t version) {
  return std::string{static_cast<char>(version), static_cast<char>(kTcControl)} + Le16(command);
}

std::string TcAnswerPayload(uint16_t result, const std::string& data, uint16_t request_id) {
  std::string header = Le16(request_id);
  header += '\0';  // security mechanism
  header += '\2';  // answer
  header += Le16(0x0042);
  const uint32_t length = static_cast<uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) header += static_cast<char>((length >> (8 * i)) & 0xff);
  header += Le16(result);
  return header + data;
}

std::string TcRequestPayload(size_t size, uint16_t request_id) {
  std::string payload(size, '\0');
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>((i * 7 + 3) & 0xff);
  if (size >= 2) payload.replace(0, 2, Le16(request_id));
  if (size >= 4) {
    payload[2] = 0;  // no security mechanism
    payload[3] = 4;  // request
  }
  return payload;
}

}  // namespace tarvik_test
