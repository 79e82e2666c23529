#include "tarvik_sim/tc_engine.h"

namespace tarvik_sim {
namespace {

constexpr int kStaleFrameMs = 2000;  // a half frame older than this is dropped

constexpr uint8_t kVersion = 2;
constexpr uint8_t kTypeControl = 0;
constexpr uint8_t kTypeControlResponse = 1;
constexpr uint8_t kTypeDatagram = 2;
constexpr uint8_t kTypeAcknowledgement = 3;
constexpr uint16_t kProtocolApplication = 3;
constexpr uint16_t kCommandClose = 0;
constexpr size_t kDatagramHeader = 10;

uint16_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

void PutLe16(std::string* bytes, uint16_t value) {
  bytes->push_back(static_cast<char>(value & 0xff));
  bytes->push_back(static_cast<char>(value >> 8));
}

void PutLe32(std::string* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

void TcEngine::Open(Effects* effects) {
  Reset();
  effects->Event("transparent channel open");
}

void TcEngine::Reset() {
  input_.clear();
  assembly_ = Assembly();
}

// A frame of the channel, in pieces when that fault is on.
void TcEngine::SendFrame(const std::string& frame, Effects* effects) const {
  const Faults& faults = state_.faults;
  if (faults.tc_split_frames && frame.size() >= 3) {
    const size_t third = frame.size() / 3;
    effects->Send(frame.substr(0, third));
    effects->Send(frame.substr(third, third), faults.split_pause_ms);
    effects->Send(frame.substr(2 * third), faults.split_pause_ms);
  } else {
    effects->Send(frame);
  }
}

std::string TcEngine::Feed(const std::string& bytes, Effects* effects) {
  input_ += bytes;
  std::string& in = input_;
  std::string rest;
  while (in.size() >= 2) {
    const uint8_t version = static_cast<uint8_t>(in[0]);
    const uint8_t type = static_cast<uint8_t>(in[1]);
    if (type == kTypeControl) {
      if (in.size() < 4) break;
      const uint16_t command = Le16(in, 2);
      in.erase(0, 4);
      effects->Command("TC control version " + std::to_string(version) + " command " +
                       std::to_string(command));
      std::string reply;
      reply.push_back(static_cast<char>(kVersion));
      reply.push_back(static_cast<char>(kTypeControlResponse));
      PutLe16(&reply, command);
      PutLe16(&reply, version == kVersion ? 0 : 1);
      SendFrame(reply, effects);
      if (command == kCommandClose) {
        state_.mode = Mode::kAt;
        assembly_ = Assembly();
        effects->Send("\r\nOK\r\n", 5);
        effects->Event("transparent channel closed");
        rest.swap(in);
        break;
      }
      continue;
    }
    if (type != kTypeDatagram) {
      effects->Event("transparent channel: dropped a byte of unknown frame type " +
                     std::to_string(type));
      in.erase(0, 1);
      continue;
    }
    if (in.size() < kDatagramHeader) break;
    const uint16_t length = Le16(in, 8);
    if (in.size() < kDatagramHeader + length) break;
    const std::string frame = in.substr(0, kDatagramHeader + length);
    in.erase(0, kDatagramHeader + length);
    Datagram(frame, effects);
  }
  if (in.empty()) {
    effects->StopTimer(Timer::kTcStale);
  } else {
    effects->StartTimer(Timer::kTcStale, kStaleFrameMs + 1);
  }
  return rest;
}

void TcEngine::OnStale(Effects* effects) {
  if (state_.mode != Mode::kTransparentChannel || input_.empty()) return;
  effects->Event("transparent channel: dropped a stale half frame");
  input_.clear();
}

void TcEngine::Datagram(const std::string& frame, Effects* effects) {
  Faults& faults = state_.faults;
  const uint8_t version = static_cast<uint8_t>(frame[0]);
  const uint16_t protocol = Le16(frame, 2);
  const uint16_t session = Le16(frame, 4);
  const uint16_t sequence = Le16(frame, 6);
  const uint16_t length = Le16(frame, 8);
  const long number = ++state_.datagrams_seen;
  effects->Command("TC datagram version " + std::to_string(version) + " protocol " +
                   std::to_string(protocol) + " session " + std::to_string(session) + " sequence " +
                   std::to_string(sequence) + " length " + std::to_string(length));
  if (faults.tc_no_ack_datagram != 0 && number == faults.tc_no_ack_datagram) {
    faults.tc_no_ack_datagram = 0;
    assembly_ = Assembly();
    effects->Event("fault: datagram not acknowledged");
    return;
  }
  uint16_t result = 0;
  if (version != kVersion || protocol != kProtocolApplication) {
    result = 1;
  } else if (assembly_.active && assembly_.session == session) {
    if (sequence != assembly_.expected_sequence) result = 2;
  } else {
    assembly_ = Assembly();
    assembly_.active = true;
    assembly_.session = session;
  }
  if (result == 0) {
    assembly_.payload.append(frame, kDatagramHeader, length);
    // Sequence numbers count down to 0, the last datagram of a payload.
    assembly_.expected_sequence = static_cast<uint16_t>(sequence - 1);
  }
  uint8_t ack_version = version;
  uint16_t ack_session = session;
  if (faults.tc_nack_datagram != 0 && number == faults.tc_nack_datagram) {
    faults.tc_nack_datagram = 0;
    result = static_cast<uint16_t>(faults.tc_nack_result);
    effects->Event("fault: negative acknowledgement " + std::to_string(result));
  }
  if (faults.tc_bad_version_datagram != 0 && number == faults.tc_bad_version_datagram) {
    faults.tc_bad_version_datagram = 0;
    ack_version = static_cast<uint8_t>(version + 1);
    effects->Event("fault: acknowledgement with a wrong version");
  }
  if (faults.tc_bad_session_datagram != 0 && number == faults.tc_bad_session_datagram) {
    faults.tc_bad_session_datagram = 0;
    ack_session = static_cast<uint16_t>(session + 1);
    effects->Event("fault: acknowledgement with a wrong session");
  }
  std::string ack;
  ack.push_back(static_cast<char>(ack_version));
  ack.push_back(static_cast<char>(kTypeAcknowledgement));
  PutLe16(&ack, protocol);
  PutLe16(&ack, ack_session);
  PutLe16(&ack, sequence);
  PutLe16(&ack, result);
  SendFrame(ack, effects);
  if (result != 0) {
    assembly_ = Assembly();
    return;
  }
  if (sequence != 0) return;
  const std::string payload = std::move(assembly_.payload);
  assembly_ = Assembly();
  const uint16_t answer_result = OnPayload(payload, effects);
  std::string answer;
  answer.push_back(static_cast<char>(kVersion));
  answer.push_back(static_cast<char>(kTypeDatagram));
  PutLe16(&answer, kProtocolApplication);
  PutLe16(&answer, session);
  PutLe16(&answer, 0);
  PutLe16(&answer, 12);
  // Answer header: request id and security mechanism echo the request.
  answer.push_back(payload.size() > 0 ? payload[0] : 0);
  answer.push_back(payload.size() > 1 ? payload[1] : 0);
  answer.push_back(payload.size() > 2 ? payload[2] : 0);
  answer.push_back(2);  // answer
  PutLe16(&answer, 0);
  PutLe32(&answer, 0);
  PutLe16(&answer, answer_result);
  SendFrame(answer, effects);
}

uint16_t TcEngine::OnPayload(const std::string& payload, Effects* effects) {
  NoteItpAssignment(&state_, payload, effects);
  if (state_.faults.tc_answer_result != 0) {
    effects->Event("payload of " + std::to_string(payload.size()) + " bytes refused by fault");
    return static_cast<uint16_t>(state_.faults.tc_answer_result);
  }
  if (ApplyAssignment(&state_, payload, effects)) return 0;
  return upgrade_.OnPayload(payload, effects);
}

}  // namespace tarvik_sim
