#include "simulator/tests/support/tc_client.h"

namespace tarvik_sim_test {

using tarvik_test::Le16At;

TcExchange SendPayload(RawClient* client, uint16_t session, const std::string& payload,
                       int timeout_ms) {
  TcExchange exchange;
  const size_t kMax = 65535;
  size_t frames = (payload.size() + kMax - 1) / kMax;
  uint16_t sequence = static_cast<uint16_t>(frames - 1);
  for (size_t position = 0; position < payload.size(); position += kMax, --sequence) {
    std::string slice = payload.substr(position, kMax);
    if (!client->Write(tarvik_test::TcDatagram(session, sequence, slice))) return exchange;
    std::string raw;
    if (!client->Take(10, timeout_ms, &raw)) return exchange;
    exchange.acks.push_back(tarvik_test::ParseTcAck(raw));
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
  if (!client->Write(tarvik_test::TcControlFrame())) return false;
  std::string bytes;
  if (!client->Take(6, 3000, &bytes)) return false;
  if (reply != nullptr) *reply = bytes;
  std::string ok;
  return client->Take(6, 3000, &ok) && ok == "\r\nOK\r\n";
}

}  // namespace tarvik_sim_test
