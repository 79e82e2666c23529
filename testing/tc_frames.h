// Transparent-channel frames as they travel, built and read field by field (16-bit fields least
// significant byte first), for tests on either side of the channel.
#ifndef TESTING_TC_FRAMES_H_
#define TESTING_TC_FRAMES_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace tarvik_test {

// Frame types (second byte of every frame).
constexpr uint8_t kTcControl = 0;
constexpr uint8_t kTcDatagram = 2;
constexpr uint8_t kTcAcknowledgement = 3;

std::string Le16(uint16_t value);
uint16_t Le16At(const std::string& bytes, size_t at);

// A datagram: the 10-byte header (version, type, protocol, session, sequence, length) and payload.
std::string TcDatagram(uint16_t session, uint16_t sequence, const std::string& payload,
                       uint8_t version = 2, uint16_t protocol = 3, uint8_t type = kTcDatagram);
// An acknowledgement: version, type, protocol, session, sequence, result (10 bytes).
std::string TcAck(uint16_t session, uint16_t sequence, uint16_t result = 0, uint8_t version = 2,
                  uint8_t type = kTcAcknowledgement, uint16_t protocol = 3);
// A control frame (command 0 closes the channel): 4 bytes.
std::string TcControlFrame(uint16_t command = 0, uint8_t version = 2);
// The module's answer as a datagram payload: the 12-byte answer header, then `data`.
std::string TcAnswerPayload(uint16_t result, const std::string& data = std::string(),
                            uint16_t request_id = 0x0101);
// A request payload of `size` bytes: a fixed pattern whose first two bytes are the request id and
// whose next two mark a plain request.
std::string TcRequestPayload(size_t size, uint16_t request_id = 1);

}  // namespace tarvik_test

#endif  // TESTING_TC_FRAMES_H_
