#include "simulator/tests/support/tc_client.h"

namespace tarvik_sim_test {
namespace {

void Put16(std::string* bytes, uint16_t value) {
  bytes->push_back(static_cast<char>(value & 0xff));
  bytes->push_back(static_cast<char>(value >> 8));
}

}  // namespace

uint16_t Le16At(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

std::string Datagram(uint16_t session, uint16_t sequence, const std::string& payload,
                     uint8_t version, uint16_t protocol) {
  std::string frame;
  frame.push_back(static_cast<char>(version));
  frame.push_back(2);
  Put16(&frame, protocol);
  Put16(&frame, session);
  Put16(&frame, sequence);
  Put16(&frame, static_cast<uint16_t>(payload.size()));
  return frame + payload;
}

std::string ControlFrame(uint16_t command, uint8_t version) {
  std::string frame;
  frame.push_back(static_cast<char>(version));
  frame.push_back(0);
  Put16(&frame, command);
  return frame;
}

TcAck ParseAck(const std::string& bytes) {
  TcAck ack;
  ack.version = static_cast<uint8_t>(bytes[0]);
  ack.type = static_cast<uint8_t>(bytes[1]);
  ack.protocol = Le16At(bytes, 2);
  ack.session = Le16At(bytes, 4);
  ack.sequence = Le16At(bytes, 6);
  ack.result = Le16At(bytes, 8);
  return ack;
}

std::string Payload(size_t size, uint16_t request_id) {
  std::string payload(size, '\0');
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>((i * 7 + 3) & 0xff);
  if (size >= 2) {
    payload[0] = static_cast<char>(request_id & 0xff);
    payload[1] = static_cast<char>(request_id >> 8);
  }
  if (size >= 4) {
    payload[2] = 0;  // no security mechanism
    payload[3] = 4;  // request
  }
  return payload;
}

TcExchange SendPayload(RawClient* client, uint16_t session, const std::string& payload,
                       int timeout_ms) {
  TcExchange exchange;
  const size_t kMax = 65535;
  size_t frames = (payload.size() + kMax - 1) / kMax;
  uint16_t sequence = static_cast<uint16_t>(frames - 1);
  for (size_t position = 0; position < payload.size(); position += kMax, --sequence) {
    std::string slice = payload.substr(position, kMax);
    if (!client->Write(Datagram(session, sequence, slice))) return exchange;
    std::string raw;
    if (!client->Take(10, timeout_ms, &raw)) return exchange;
    exchange.acks.push_back(ParseAck(raw));
    if (exchange.acks.back().result != 0) return exchange;
  }
  std::string header;
  if (!client->Take(10, timeout_ms, &header)) return exchange;
  TcAnswer& answer = exchange.answer;
  answer.version = static_cast<uint8_t>(header[0]);
  answer.type = static_cast<uint8_t>(header[1]);
  answer.session = Le16At(header, 4);
  answer.sequence = Le16At(header, 6);
  answer.length = Le16At(header, 8);
  std::string body;
  if (!client->Take(answer.length, timeout_ms, &body) || body.size() < 12) return exchange;
  answer.request_id = Le16At(body, 0);
  answer.command_type = static_cast<uint8_t>(body[3]);
  answer.result = Le16At(body, 10);
  answer.data = body.substr(12);
  exchange.complete = true;
  return exchange;
}

bool OpenChannel(RawClient* client) {
  // An unsolicited line may come just before the answer.
  const std::string answer = client->Command("AT*EETC=2");
  return answer.size() >= 6 && answer.compare(answer.size() - 6, 6, "\r\nOK\r\n") == 0 &&
         answer.find("ERROR") == std::string::npos;
}

bool CloseChannel(RawClient* client, std::string* reply) {
  if (!client->Write(ControlFrame())) return false;
  std::string bytes;
  if (!client->Take(6, 3000, &bytes)) return false;
  if (reply != nullptr) *reply = bytes;
  std::string ok;
  return client->Take(6, 3000, &ok) && ok == "\r\nOK\r\n";
}

}  // namespace tarvik_sim_test
