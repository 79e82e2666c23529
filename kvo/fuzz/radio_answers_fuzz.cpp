// The AT-mode radio answers against any text: bands, the synchronous scan (its layout taken from
// the input's first bytes) and the GPS report. What a reader accepts must have the shape asked for.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "kvo/src/radio/radio_parse.h"
#include "testing/fuzz.h"

using tarvik_fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const size_t channels = input[0] % 16;
  const size_t values = input[1] % 8;
  const bool both = (input[1] & 0x80) != 0;
  const std::string text(reinterpret_cast<const char*>(input) + 2, size - 2);

  unsigned gsm = 0;
  unsigned wcdma = 0;
  if (RadioParseE2Band(text.c_str(), &gsm, &wcdma) == kKvoResultSuccess) {
    Check(gsm <= 99 && wcdma <= 99, "a mask is two decimal digits");
    Check(RadioBandsFromMasks(gsm, wcdma).size() <= 13, "one band per bit");
  }

  KvoRadioBand band = kKvoRadioBandMax;
  std::vector<RadioRssiRecord> records;
  if (RadioParseRssiSync(text.c_str(), channels, values, both, &band, &records) ==
      kKvoResultSuccess) {
    Check(band < kKvoRadioBandMax, "a known band");
    Check(records.size() == channels * (both ? 2 : 1), "one record per channel and path");
    for (const RadioRssiRecord& record : records) {
      Check(record.values.size() == values, "every record holds the values asked for");
    }
  }

  RadioGpsReport report;
  if (RadioParseGpsReport(text.c_str(), &report) == kKvoResultSuccess) {
    Check(report.data.satellite_id >= 0 && report.data.satellite_id <= 32, "a satellite number");
  }
  return 0;
}
