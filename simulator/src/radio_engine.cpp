#include "tarvik_sim/radio_engine.h"

#include <stdio.h>

#include <cstdlib>

#include "text.h"

namespace tarvik_sim {
namespace {

using text::Trim;

const char kOk[] = "\r\nOK\r\n";
const char kError[] = "\r\nERROR\r\n";
constexpr long kBandCount = 13;
constexpr long kGsmBandCount = 4;
constexpr int kRadioOff = 4;
// Scans whose answer would exceed this many values are refused.
constexpr long kMaxValues = 200000;

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    fields.push_back(Trim(text.substr(start, comma == std::string::npos ? comma : comma - start)));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// Every field a whole decimal number.
bool Numbers(const std::string& text, std::vector<long>* numbers) {
  numbers->clear();
  for (const std::string& field : Split(text)) {
    char* end = nullptr;
    const long value = std::strtol(field.c_str(), &end, 10);
    if (field.empty() || *end != '\0') return false;
    numbers->push_back(value);
  }
  return true;
}

// The arguments after "<NAME>=" (blanks around '=' allowed), or false for another command.
bool ArgumentsOf(const std::string& upper, const std::string& name, std::vector<long>* numbers) {
  if (upper.rfind(name, 0) != 0) return false;
  const std::string rest = Trim(upper.substr(name.size()));
  if (rest.empty() || rest[0] != '=') return false;
  return Numbers(Trim(rest.substr(1)), numbers);
}

std::string Level(double dbm) {
  char text[32];
  snprintf(text, sizeof text, "%.3f", dbm);
  return text;
}

std::string Info(const std::string& info) {
  return "\r\n" + info + "\r\n\r\nOK\r\n";
}

std::string ItpInfo(const std::string& info) {
  return info + "\r\nOK\r\n";
}

std::string BandList(const std::vector<int>& bands) {
  std::string text = "GDRE: 0";
  for (int band : bands) {
    char field[16];
    snprintf(field, sizeof field, ",0x%02d", band);
    text += field;
  }
  return text;
}

// "AT*EEMRSSI=" arguments: band, start, end, [path,] samples, step, report type.
struct Scan {
  long band = 0, start = 0, end = 0, path = 0, samples = 0, step = 0, type = 0;
  long Channels() const { return (end - start) / step + 1; }
};

bool ReadScan(const std::vector<long>& n, Scan* scan) {
  if (n.empty() || n[0] < 0 || n[0] >= kBandCount) return false;
  const bool wcdma = n[0] >= kGsmBandCount;
  if (n.size() != (wcdma ? 7u : 6u)) return false;
  size_t i = 0;
  scan->band = n[i++];
  scan->start = n[i++];
  scan->end = n[i++];
  scan->path = wcdma ? n[i++] : 0;
  scan->samples = n[i++];
  scan->step = n[i++];
  scan->type = n[i++];
  return scan->start >= 0 && scan->start <= scan->end && scan->step >= 1 && scan->samples >= 1 &&
         scan->path >= 0 && scan->path <= 2 && scan->type >= 0 && scan->type <= 2 &&
         scan->Channels() <= kMaxValues / scan->samples;
}

// The values of one channel's sample: main, diversity, or both (main first).
std::string SampleValues(const Scan& scan, unsigned channel, int sample) {
  if (scan.path == 2) {
    return Level(RssiLevel(channel, false, sample)) + "," + Level(RssiLevel(channel, true, sample));
  }
  return Level(RssiLevel(channel, scan.path == 1, sample));
}

std::string SyncAnswer(const Scan& scan) {
  std::string text = "*EEMRSSI: " + std::to_string(scan.band);
  for (long channel = scan.start; channel <= scan.end; channel += scan.step) {
    const unsigned c = static_cast<unsigned>(channel);
    text += "," + std::to_string(channel);
    if (scan.type == 0) {
      const int n = static_cast<int>(scan.samples);
      text +=
          "," + (scan.path == 2 ? Level(RssiMean(c, false, n)) + "," + Level(RssiMean(c, true, n))
                                : Level(RssiMean(c, scan.path == 1, n)));
      continue;
    }
    for (int sample = 0; sample < scan.samples; ++sample) {
      text += "," + SampleValues(scan, c, sample);
    }
  }
  return Info(text);
}

void AsyncAnswer(const ModuleState& state, const Scan& scan, RadioReply* reply) {
  std::vector<std::string> lines;
  for (long channel = scan.start; channel <= scan.end; channel += scan.step) {
    for (int sample = 0; sample < scan.samples; ++sample) {
      lines.push_back("\r\n*EEMRSSI: " + std::to_string(scan.band) + "," + std::to_string(channel) +
                      "," + SampleValues(scan, static_cast<unsigned>(channel), sample) + "\r\n");
    }
  }
  reply->answer = kOk;
  if (state.faults.no_unsolicited) return;
  const RadioProfile& radio = state.profile.radio;
  if (radio.rssi_delivery == RssiDelivery::kWithResult) {
    for (const std::string& line : lines) reply->answer += line;
    return;
  }
  const size_t per_write =
      radio.rssi_delivery == RssiDelivery::kBursts ? static_cast<size_t>(radio.rssi_burst) : 1;
  for (size_t first = 0; first < lines.size(); first += per_write) {
    RadioReply::Later later;
    for (size_t i = first; i < lines.size() && i < first + per_write; ++i) later.text += lines[i];
    later.delay_ms = static_cast<int>(first / per_write + 1) * radio.rssi_gap_ms;
    reply->later.push_back(std::move(later));
  }
}

}  // namespace

double RssiLevel(unsigned channel, bool diversity, int sample) {
  return -50.0 - (channel % 32) * 0.5 - sample * 0.25 - (diversity ? 2.5 : 0.0);
}

double RssiMean(unsigned channel, bool diversity, int count) {
  double sum = 0;
  for (int sample = 0; sample < count; ++sample) sum += RssiLevel(channel, diversity, sample);
  return count > 0 ? sum / count : 0.0;
}

int RxbrLevel(unsigned channel, int sample) {
  return 0x80 + static_cast<int>(channel % 8) + 2 * sample;
}

void RadioEngine::Reset() {
  band_ = -1;
  diversity_ = false;
  gsm_channel_ = -1;
  gsm_samples_ = 0;
  wcdma_channel_ = -1;
}

bool RadioEngine::AtCommand(ModuleState* state, const std::string& upper, RadioReply* reply) {
  Profile& profile = state->profile;
  RadioProfile& radio = profile.radio;
  const bool radio_off = profile.radio_mode == kRadioOff;
  std::vector<long> n;
  if (upper == "AT*E2BAND?") {
    char info[48];
    snprintf(info, sizeof info, "*E2BAND: %02d,00,%02d", radio.gsm_bands, radio.wcdma_bands);
    reply->answer = Info(info);
  } else if (ArgumentsOf(upper, "AT*EEMRSSI", &n)) {
    Scan scan;
    if (!ReadScan(n, &scan) || !radio_off) {
      reply->answer = kError;
    } else if (scan.type == 2) {
      AsyncAnswer(*state, scan, reply);
    } else {
      reply->answer = SyncAnswer(scan);
    }
  } else if (ArgumentsOf(upper, "AT*EEMGPSMEASURE", &n)) {
    if (n.size() != 2 || n[0] != 1 || n[1] < 1 || n[1] > 32) {
      reply->answer = kError;
    } else {
      reply->answer = Info("*EEMGPSMEASURE: " + std::to_string(radio.gps_valid) + "," +
                           std::to_string(n[1]) + "," + std::to_string(radio.gps_signal_strength) +
                           "," + std::to_string(radio.gps_signal_to_noise_ratio));
    }
  } else if (ArgumentsOf(upper, "AT*EEMENABLETX", &n)) {
    if (n.size() == 1 && n[0] == 99) {
      radio.tx_on = false;
      reply->answer = kOk;
    } else if (n.size() == 4 && n[0] >= 0 && n[0] < kBandCount && n[2] == 0 && radio_off) {
      radio.tx_on = true;
      reply->answer = kOk;
    } else {
      reply->answer = kError;
    }
  } else {
    return false;
  }
  return true;
}

bool RadioEngine::ItpCommand(ModuleState* state, const std::string& line, const std::string& upper,
                             RadioReply* reply) {
  RadioProfile& radio = state->profile.radio;
  const std::string err = "\r\n" + line + ", ERR\r\n";
  std::vector<long> n;
  reply->answer = kOk;
  if (ArgumentsOf(upper, "MODE", &n)) {
    if (n.empty() || n.size() > 2 || n[0] < 0 || n[0] >= kBandCount) {
      reply->answer = err;
    } else {
      band_ = static_cast<int>(n[0]);
    }
  } else if (ArgumentsOf(upper, "RDIV", &n)) {
    if (n.size() != 1 || (n[0] != 1 && n[0] != 2)) {
      reply->answer = err;
    } else {
      diversity_ = n[0] == 2;
    }
  } else if (ArgumentsOf(upper, "GDRE", &n)) {
    if (n.size() != 2 || n[0] != 0) {
      reply->answer = err;
    } else if (n[1] == 404 || n[1] == 417) {
      reply->answer = ItpInfo(BandList(n[1] == 404 ? radio.itp_supported : radio.itp_enabled));
    } else if (n[1] >= 1244 && n[1] <= 1247) {
      reply->answer = ItpInfo("GDRE: 0," + radio.itp_gsm_calibration);
    } else {
      reply->answer = err;
    }
  } else if (ArgumentsOf(upper, "SWRX", &n)) {
    if (n.size() != 2 || n[0] < 0 || n[1] < 0 || n[1] > 3) {
      reply->answer = err;
    } else {
      gsm_channel_ = n[0];
      gsm_samples_ = 0;
    }
  } else if (ArgumentsOf(upper, "RXBR", &n)) {
    if (n.size() != 1 || gsm_channel_ < 0 || band_ < 0 || band_ >= kGsmBandCount) {
      reply->answer = err;
    } else {
      char info[32];
      snprintf(info, sizeof info, "RXBR: 0x%X",
               RxbrLevel(static_cast<unsigned>(gsm_channel_), gsm_samples_++));
      reply->answer = ItpInfo(info);
    }
  } else if (ArgumentsOf(upper, "WRXC", &n)) {
    if (n.size() != 1 || n[0] < 0) {
      reply->answer = err;
    } else {
      wcdma_channel_ = n[0];
    }
  } else if (ArgumentsOf(upper, "RXPW", &n)) {
    if (n.size() != 1 || n[0] < 1 || n[0] > kMaxValues || wcdma_channel_ < 0 ||
        band_ < kGsmBandCount) {
      reply->answer = err;
    } else {
      const unsigned channel = static_cast<unsigned>(wcdma_channel_);
      reply->answer = ItpInfo("RXPW: " + std::to_string(n[0]) + "," + std::to_string(channel) +
                              "," + Level(RssiMean(channel, diversity_, static_cast<int>(n[0]))));
    }
  } else if (ArgumentsOf(upper, "WCMP", &n) || ArgumentsOf(upper, "WBSL", &n) ||
             ArgumentsOf(upper, "WSTA", &n) || ArgumentsOf(upper, "TX3C", &n)) {
    // Settings the simulated transmitter does not need.
  } else if (ArgumentsOf(upper, "STTX", &n) || ArgumentsOf(upper, "SWTX", &n) ||
             ArgumentsOf(upper, "WTRX", &n) || ArgumentsOf(upper, "WTXC", &n)) {
    radio.tx_on = true;
  } else if (upper == "RERA") {
    radio.tx_on = false;
  } else if (ArgumentsOf(upper, "GRSD", &n)) {
    if (n.size() == 1 && n[0] == 0) {
      reply->answer = ItpInfo("GRSD: " + std::to_string(radio.itp_gps_state));
    } else if (n.size() == 2 && n[0] == 1) {
      reply->answer = ItpInfo("GRSD: " + std::to_string(radio.itp_gps_satellite) + "," +
                              std::to_string(radio.gps_signal_strength) + "," +
                              std::to_string(radio.gps_signal_to_noise_ratio));
    } else {
      reply->answer = err;
    }
  } else {
    reply->answer.clear();
    return false;
  }
  return true;
}

bool ApplyRadioSetting(RadioProfile* radio, const std::string& key, const std::string& value,
                       std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = "profile setting 'radio." + key + "': " + why;
    return false;
  };
  auto number = [&](long min, long max, int* out) {
    std::vector<long> n;
    if (!Numbers(value, &n) || n.size() != 1 || n[0] < min || n[0] > max) return false;
    *out = static_cast<int>(n[0]);
    return true;
  };
  auto band_list = [&](std::vector<int>* out) {
    std::vector<long> n;
    out->clear();
    if (Trim(value).empty()) return true;
    if (!Numbers(value, &n)) return false;
    for (long band : n) {
      if (band < 0 || band > 99) return false;
      out->push_back(static_cast<int>(band));
    }
    return true;
  };
  if (key == "gsm_bands") {
    if (!number(0, 99, &radio->gsm_bands)) return fail("expected 0 to 99");
  } else if (key == "wcdma_bands") {
    if (!number(0, 99, &radio->wcdma_bands)) return fail("expected 0 to 99");
  } else if (key == "itp_supported") {
    if (!band_list(&radio->itp_supported)) return fail("expected band numbers");
  } else if (key == "itp_enabled") {
    if (!band_list(&radio->itp_enabled)) return fail("expected band numbers");
  } else if (key == "itp_gsm_calibration") {
    radio->itp_gsm_calibration = value;
  } else if (key == "gps_valid") {
    if (!number(0, 9, &radio->gps_valid)) return fail("expected 0 to 9");
  } else if (key == "gps_signal_strength") {
    if (!number(-1000, 1000, &radio->gps_signal_strength)) return fail("expected a number");
  } else if (key == "gps_snr") {
    if (!number(-1000, 1000, &radio->gps_signal_to_noise_ratio)) return fail("expected a number");
  } else if (key == "itp_gps_state") {
    if (!number(0, 9, &radio->itp_gps_state)) return fail("expected 0 to 9");
  } else if (key == "itp_gps_satellite") {
    if (!number(0, 32, &radio->itp_gps_satellite)) return fail("expected 0 to 32");
  } else if (key == "rssi_delivery") {
    if (value == "lines") {
      radio->rssi_delivery = RssiDelivery::kLines;
    } else if (value == "bursts") {
      radio->rssi_delivery = RssiDelivery::kBursts;
    } else if (value == "with_result") {
      radio->rssi_delivery = RssiDelivery::kWithResult;
    } else {
      return fail("expected lines, bursts or with_result");
    }
  } else if (key == "rssi_burst") {
    if (!number(1, 10000, &radio->rssi_burst)) return fail("expected 1 to 10000");
  } else if (key == "rssi_gap_ms") {
    if (!number(0, 60000, &radio->rssi_gap_ms)) return fail("expected milliseconds");
  } else {
    return fail("unknown key");
  }
  return true;
}

}  // namespace tarvik_sim
