#include "tarvik_sim/sf_engine.h"

namespace tarvik_sim {
namespace {

constexpr size_t kHeaderSize = 24;
constexpr uint32_t kMagic = 0x5A414D55;  // "ZAMU"
constexpr uint32_t kVersion = 32;
constexpr uint32_t kMaxPayload = 32768;
constexpr int kQuietMs = 1000;  // no further packet this long after a full one: data complete
constexpr int kAnswerGapMs = 20;

void PutBe32(std::string* bytes, uint32_t value) {
  for (int i = 3; i >= 0; --i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

uint32_t Be32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

}  // namespace

void SfEngine::Open(Effects* effects) {
  Reset();
  // Without any packet the data is empty; the final acknowledgement follows a quiet spell.
  effects->StartTimer(Timer::kSfQuiet, kQuietMs);
  effects->Event("secure frame open");
}

void SfEngine::Reset() {
  input_.clear();
  data_.clear();
}

void SfEngine::Respond(uint32_t result, int delay_ms, Effects* effects) const {
  std::string packet;
  PutBe32(&packet, kMagic);
  PutBe32(&packet, kVersion);
  PutBe32(&packet, 0);  // response
  PutBe32(&packet, result);
  PutBe32(&packet, 0xFFFFFFFFu);
  PutBe32(&packet, 0);
  effects->Send(state_.faults.sf_stray_bytes + packet, delay_ms);
}

void SfEngine::Leave(Effects* effects) {
  state_.mode = Mode::kAt;
  Reset();
  effects->StopTimer(Timer::kSfQuiet);
}

// The data is complete: the final acknowledgement, then back to AT mode with OK.
void SfEngine::Finish(Effects* effects) {
  effects->StopTimer(Timer::kSfQuiet);
  const uint32_t result = static_cast<uint32_t>(state_.faults.sf_final_result);
  if (result == 0) {
    NoteItpAssignment(&state_, data_, effects);
    ApplyAssignment(&state_, data_, effects);
  }
  effects->Event("secure frame: " + std::to_string(data_.size()) + " bytes, final result " +
                 std::to_string(result));
  // The module checks the data before it answers for the whole: the final acknowledgement and
  // the OK come a moment after the last packet's acknowledgement, not in the same read.
  Respond(result, kAnswerGapMs, effects);
  if (state_.faults.sf_no_return) {
    effects->Event("fault: secure frame never returns to AT mode");
    Reset();
    return;
  }
  if (state_.faults.sf_split_ok) {
    effects->Event("fault: final OK in two pieces");
    effects->Send("\r\nOK", 2 * kAnswerGapMs);
    effects->Send("\r\n", 2 * kAnswerGapMs);
  } else {
    effects->Send("\r\nOK\r\n", 2 * kAnswerGapMs);
  }
  Leave(effects);
}

void SfEngine::Feed(const std::string& bytes, Effects* effects) {
  effects->StopTimer(Timer::kSfQuiet);  // more is coming
  input_ += bytes;
  std::string& in = input_;
  while (state_.mode == Mode::kSecureFrame && in.size() >= kHeaderSize) {
    if (Be32(in, 0) != kMagic || Be32(in, 4) != kVersion) {
      in.erase(0, 1);  // not a header here: look one byte further
      continue;
    }
    const uint32_t size = Be32(in, 20);
    if (size > kMaxPayload) {
      effects->Command("SF packet of " + std::to_string(size) + " bytes");
      in.erase(0, kHeaderSize);
      Respond(2, 0, effects);
      continue;
    }
    if (in.size() < kHeaderSize + size) break;
    effects->Command("SF packet of " + std::to_string(size) + " bytes");
    data_.append(in, kHeaderSize, size);
    in.erase(0, kHeaderSize + size);
    if (state_.faults.sf_ack_result != 0) {
      effects->Event("fault: secure frame packet refused");
      Respond(static_cast<uint32_t>(state_.faults.sf_ack_result), 0, effects);
      Leave(effects);
      return;
    }
    Respond(0, 0, effects);
    if (size < kMaxPayload) {
      Finish(effects);
    } else {
      effects->StartTimer(Timer::kSfQuiet, kQuietMs);
    }
  }
}

}  // namespace tarvik_sim
