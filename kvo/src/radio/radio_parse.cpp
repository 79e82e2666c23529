#include "kvo/src/radio/radio_parse.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <limits>

namespace {

constexpr char kE2BandHead[] = "*E2BAND: ";
constexpr size_t kE2BandGsmOffset = 11;
constexpr size_t kE2BandWcdmaOffset = 17;
constexpr char kRssiPrefix[] = "*EEMRSSI:";
constexpr char kRssiLinePrefix[] = "*EEMRSSI: ";
constexpr char kGpsPrefix[] = "*EEMGPSMEASURE:";
constexpr char kRxbrHead[] = "RXBR: 0x";
constexpr size_t kItpGdreSkip = 8;
constexpr size_t kItpRxbrSkip = 8;
constexpr size_t kItpRxpwSkip = 6;
constexpr size_t kItpGrsdSkip = 6;
// A module that never ends its line must not make the reader hold an unbounded text.
constexpr size_t kMaxPendingLine = 1024;

struct BandBit {
  unsigned bit;
  KvoRadioBand band;
};

const BandBit kGsmBits[] = {
    {1, kKvoRadioBandGsm850},  {2, kKvoRadioBandGsm900},   {4, kKvoRadioBandGsm900},
    {8, kKvoRadioBandGsm1800}, {16, kKvoRadioBandGsm1900},
};
const BandBit kWcdmaBits[] = {
    {1, kKvoRadioBandWcdmaI},     {2, kKvoRadioBandWcdmaII},   {4, kKvoRadioBandWcdmaIII},
    {8, kKvoRadioBandWcdmaIV},    {16, kKvoRadioBandWcdmaV},   {32, kKvoRadioBandWcdmaVI},
    {64, kKvoRadioBandWcdmaVIII}, {128, kKvoRadioBandWcdmaIX},
};

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// The text from `skip` characters on up to its first line end; false when it is shorter.
bool LineAfter(const char* text, size_t skip, std::string* line) {
  if (text == nullptr || strnlen(text, skip) < skip) return false;
  const char* start = text + skip;
  *line = std::string(start, strcspn(start, "\r\n"));
  return true;
}

// The first line with content, without an optional prefix (and the blank after it).
std::string FirstLineWithoutPrefix(const char* text, const char* prefix) {
  if (text == nullptr) return std::string();
  text += strspn(text, "\r\n ");
  const size_t prefix_length = strlen(prefix);
  if (strncmp(text, prefix, prefix_length) == 0) {
    text += prefix_length;
    if (*text == ' ') ++text;
  }
  return std::string(text, strcspn(text, "\r\n"));
}

// Empty pieces are kept: an empty field is a field that cannot be read.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    fields.push_back(
        text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

std::string Trimmed(const std::string& field) {
  const size_t start = field.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  return field.substr(start, field.find_last_not_of(" \t") - start + 1);
}

// The whole field (blanks around it allowed) as an integer of `base`.
bool ReadLong(const std::string& field, int base, long* value) {
  const std::string text = Trimmed(field);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = strtol(text.c_str(), &end, base);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool ReadFloat(const std::string& field, float* value) {
  const std::string text = Trimmed(field);
  if (text.empty()) return false;
  char* end = nullptr;
  const double parsed = strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !isfinite(parsed) ||
      fabs(parsed) > std::numeric_limits<float>::max()) {
    return false;
  }
  *value = static_cast<float>(parsed);
  return true;
}

bool ReadBand(const std::string& field, KvoRadioBand* band) {
  long value = 0;
  if (!ReadLong(field, 10, &value) || value < 0 || value >= kKvoRadioBandMax) return false;
  *band = static_cast<KvoRadioBand>(value);
  return true;
}

bool ReadChannel(const std::string& field, KvoRadioChannel* channel) {
  long value = 0;
  if (!ReadLong(field, 10, &value) || value < 0 ||
      static_cast<unsigned long>(value) > std::numeric_limits<KvoRadioChannel>::max()) {
    return false;
  }
  *channel = static_cast<KvoRadioChannel>(value);
  return true;
}

// Satellites are 1 to 32; 0 is what a module reports when it found none. Other numbers are no
// satellite (nor a value the enumeration can hold).
bool ReadSatellite(const std::string& field, KvoRadioGpsSatelliteId* satellite) {
  long value = 0;
  if (!ReadLong(field, 10, &value) || value < 0 || value > kKvoRadioGpsSatelliteId32) {
    return false;
  }
  *satellite = static_cast<KvoRadioGpsSatelliteId>(value);
  return true;
}

bool ReadInt(const std::string& field, int base, int* value) {
  long parsed = 0;
  if (!ReadLong(field, base, &parsed) || parsed < std::numeric_limits<int>::min() ||
      parsed > std::numeric_limits<int>::max()) {
    return false;
  }
  *value = static_cast<int>(parsed);
  return true;
}

// A two-character mask: blanks, then at least one digit; what follows the digits is not read.
bool ReadMask(const char* text, size_t offset, unsigned* mask) {
  if (strnlen(text, offset + 2) < offset + 2) return false;
  const char* digits = text + offset;
  const char* end = text + offset + 2;
  while (digits < end && *digits == ' ') ++digits;
  if (digits == end || *digits < '0' || *digits > '9') return false;
  unsigned value = 0;
  for (; digits < end && *digits >= '0' && *digits <= '9'; ++digits) {
    value = value * 10 + static_cast<unsigned>(*digits - '0');
  }
  *mask = value;
  return true;
}

}  // namespace

KvoResult RadioParseE2Band(const char* text, unsigned* gsm_mask, unsigned* wcdma_mask) {
  if (text == nullptr || strstr(text, kE2BandHead) == nullptr) {
    return kKvoResultGeneralErrorParseError;
  }
  if (!ReadMask(text, kE2BandGsmOffset, gsm_mask) ||
      !ReadMask(text, kE2BandWcdmaOffset, wcdma_mask)) {
    return kKvoResultGeneralErrorParseError;
  }
  return kKvoResultSuccess;
}

std::vector<KvoRadioBand> RadioBandsFromMasks(unsigned gsm_mask, unsigned wcdma_mask) {
  std::vector<KvoRadioBand> bands;
  for (const BandBit& row : kGsmBits) {
    if ((gsm_mask & row.bit) != 0) bands.push_back(row.band);
  }
  for (const BandBit& row : kWcdmaBits) {
    if ((wcdma_mask & row.bit) != 0) bands.push_back(row.band);
  }
  return bands;
}

uint64_t RadioScanChannelCount(const KvoRadioRssiScanParameters& parameters) {
  if (parameters.step_size == 0 || parameters.start_channel > parameters.end_channel) return 0;
  const uint64_t span = uint64_t{parameters.end_channel} - parameters.start_channel;
  return span / parameters.step_size + 1;
}

KvoResult RadioParseRssiSync(const char* text, size_t channels, size_t values_per_record,
                             bool main_and_diversity, KvoRadioBand* band,
                             std::vector<RadioRssiRecord>* records) {
  records->clear();
  const std::vector<std::string> fields = Split(FirstLineWithoutPrefix(text, kRssiPrefix), ',');
  // Checked piece by piece so that no product can overflow.
  const size_t paths = main_and_diversity ? 2 : 1;
  if (channels == 0 || values_per_record == 0 || values_per_record > fields.size() ||
      channels > fields.size()) {
    return kKvoResultGeneralErrorParseError;
  }
  const size_t per_channel = 1 + values_per_record * paths;
  if (channels > (fields.size() - 1) / per_channel) return kKvoResultGeneralErrorParseError;
  if (!ReadBand(fields[0], band)) return kKvoResultGeneralErrorParseError;

  records->reserve(channels * paths);
  size_t field = 1;
  for (size_t c = 0; c < channels; ++c) {
    RadioRssiRecord main;
    if (!ReadChannel(fields[field++], &main.channel)) return kKvoResultGeneralErrorParseError;
    RadioRssiRecord diversity;
    diversity.channel = main.channel;
    diversity.path = kKvoRadioAntennaPathDiversity;
    for (size_t v = 0; v < values_per_record; ++v) {
      float value = 0;
      if (!ReadFloat(fields[field++], &value)) return kKvoResultGeneralErrorParseError;
      main.values.push_back(value);
      if (!main_and_diversity) continue;
      if (!ReadFloat(fields[field++], &value)) return kKvoResultGeneralErrorParseError;
      diversity.values.push_back(value);
    }
    records->push_back(std::move(main));
    if (main_and_diversity) records->push_back(std::move(diversity));
  }
  return kKvoResultSuccess;
}

void RadioRssiLineReader::Feed(const char* text, std::vector<std::string>* measurements) {
  if (text != nullptr) pending_ += text;
  size_t start = 0;
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (!IsLineEnd(pending_[i])) continue;
    TakeLine(pending_.substr(start, i - start), measurements);
    start = i + 1;
  }
  pending_.erase(0, start);
  if (pending_.size() > kMaxPendingLine) {
    TakeLine(pending_, measurements);
    pending_.clear();
  }
}

void RadioRssiLineReader::TakeLine(const std::string& line,
                                   std::vector<std::string>* measurements) {
  size_t at = line.find(kRssiLinePrefix);
  while (at != std::string::npos) {
    const size_t next = line.find(kRssiLinePrefix, at + 1);
    measurements->push_back(line.substr(at, next == std::string::npos ? next : next - at));
    at = next;
  }
}

RadioLineStatus RadioParseRssiLine(const std::string& measurement, bool with_diversity,
                                   RadioRssiSample* sample) {
  const size_t at = measurement.find(kRssiLinePrefix);
  if (at == std::string::npos) return RadioLineStatus::kMissingField;
  const std::vector<std::string> fields =
      Split(measurement.substr(at + strlen(kRssiLinePrefix)), ',');
  KvoRadioBand band = kKvoRadioBandGsm900;
  if (fields.size() < 3 || !ReadBand(fields[0], &band) ||
      !ReadChannel(fields[1], &sample->channel) || !ReadFloat(fields[2], &sample->main)) {
    return RadioLineStatus::kMissingField;
  }
  sample->band = band;
  if (!with_diversity) return RadioLineStatus::kOk;
  if (fields.size() < 4 || !ReadFloat(fields[3], &sample->diversity)) {
    return RadioLineStatus::kMissingDiversity;
  }
  return RadioLineStatus::kOk;
}

KvoResult RadioParseGpsReport(const char* text, RadioGpsReport* report) {
  const std::vector<std::string> fields = Split(FirstLineWithoutPrefix(text, kGpsPrefix), ',');
  RadioGpsReport read;
  if (fields.size() < 4 || !ReadLong(fields[0], 10, &read.validity) ||
      !ReadSatellite(fields[1], &read.data.satellite_id) ||
      !ReadInt(fields[2], 10, &read.data.signal_strength) ||
      !ReadInt(fields[3], 10, &read.data.signal_to_noise_ratio)) {
    return kKvoResultGeneralErrorParseError;
  }
  *report = read;
  return kKvoResultSuccess;
}

KvoResult RadioParseItpBandNumbers(const char* text, std::vector<long>* numbers) {
  numbers->clear();
  std::string line;
  if (!LineAfter(text, kItpGdreSkip, &line) || line.empty()) {
    return kKvoResultGeneralErrorParseError;
  }
  for (const std::string& field : Split(line, ',')) {
    if (field.find("0x") == std::string::npos) break;
    // The digits after "0x" are read as a decimal band number, as far as they go.
    numbers->push_back(strtol(field.c_str() + 2, nullptr, 10));
  }
  return kKvoResultSuccess;
}

KvoResult RadioParseItpGsmOffset(const char* text, unsigned gain, int* offset) {
  std::string line;
  if (gain > 3 || !LineAfter(text, kItpGdreSkip, &line)) return kKvoResultGeneralErrorParseError;
  const std::vector<std::string> fields = Split(line, ',');
  if (fields.size() < 4) return kKvoResultGeneralErrorParseError;
  int values[4] = {0, 0, 0, 0};
  for (unsigned i = 0; i < 4; ++i) {
    // Bounded so that the reduction below cannot overflow.
    if (!ReadInt(fields[i], i == 0 ? 10 : 16, &values[i]) || values[i] < -65536 ||
        values[i] > 65536) {
      return kKvoResultGeneralErrorParseError;
    }
  }
  *offset = values[gain] != 0 ? values[gain] - 256 : 0;
  return kKvoResultSuccess;
}

RadioRxbrStatus RadioParseItpRxbr(const char* text, long* raw_level) {
  if (text == nullptr || strstr(text, kRxbrHead) == nullptr) {
    return RadioRxbrStatus::kUnknownResponse;
  }
  if (strnlen(text, kItpRxbrSkip) < kItpRxbrSkip) return RadioRxbrStatus::kNoLevel;
  const char* digits = text + kItpRxbrSkip;
  char* end = nullptr;
  errno = 0;
  const long value = strtol(digits, &end, 16);
  if (end == digits || errno != 0) return RadioRxbrStatus::kNoLevel;
  if (value < 0) return RadioRxbrStatus::kNegativeLevel;
  *raw_level = value;
  return RadioRxbrStatus::kOk;
}

double RadioItpGsmLevel(long raw_level, int offset) {
  return static_cast<double>(raw_level) * 0.375 - 96.0 + offset;
}

KvoResult RadioParseItpRssiWcdmaData(const char* text, KvoRadioRssiValue* value) {
  std::string line;
  if (!LineAfter(text, kItpRxpwSkip, &line)) return kKvoResultRadioErrorUnexpectedRssiResponse;
  const std::vector<std::string> fields = Split(line, ',');
  if (fields.size() < 3 || !ReadFloat(fields[2], value)) {
    return kKvoResultRadioErrorUnexpectedRssiResponse;
  }
  return kKvoResultSuccess;
}

KvoResult RadioParseItpGps(const char* text, KvoRadioGpsSingleSatelliteTestData* data) {
  std::string line;
  if (!LineAfter(text, kItpGrsdSkip, &line)) return kKvoResultGeneralErrorParseError;
  const std::vector<std::string> fields = Split(line, ',');
  KvoRadioGpsSingleSatelliteTestData read = {};
  if (fields.size() < 3 || !ReadSatellite(fields[0], &read.satellite_id) ||
      !ReadInt(fields[1], 10, &read.signal_strength) ||
      !ReadInt(fields[2], 10, &read.signal_to_noise_ratio)) {
    return kKvoResultGeneralErrorParseError;
  }
  *data = read;
  return kKvoResultSuccess;
}
