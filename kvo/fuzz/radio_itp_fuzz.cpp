// The ITP-mode radio answers against any text: band lists, the GSM calibration offset, "rxbr" and
// "rxpw" levels and the GPS measurement, each read from its fixed offset.

#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "kvo/src/radio/radio_parse.h"
#include "testing/fuzz.h"

using tarvik_fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  const std::string text(reinterpret_cast<const char*>(input), size);
  const char* answer = text.c_str();

  std::vector<long> numbers;
  if (RadioParseItpBandNumbers(answer, &numbers) == kKvoResultSuccess) {
    Check(numbers.size() <= text.size() / 2, "one number per field holding 0x");
  }
  for (unsigned gain = 0; gain <= 4; ++gain) {
    int offset = 0;
    if (RadioParseItpGsmOffset(answer, gain, &offset) == kKvoResultSuccess) {
      Check(gain <= 3, "gains 0 to 3 only");
      Check(offset >= -65536 - 256 && offset <= 65536, "a bounded offset");
    }
  }
  long raw = -1;
  if (RadioParseItpRxbr(answer, &raw) == RadioRxbrStatus::kOk) {
    Check(raw >= 0, "a raw level is not negative");
    Check(isfinite(RadioItpGsmLevel(raw, 0)), "a level in dBm");
  }
  KvoRadioRssiValue value = 0;
  if (RadioParseItpRssiWcdmaData(answer, &value) == kKvoResultSuccess) {
    Check(isfinite(value), "a finite level");
  }
  KvoRadioGpsSingleSatelliteTestData gps = {};
  if (RadioParseItpGps(answer, &gps) == kKvoResultSuccess) {
    Check(gps.satellite_id >= 0 && gps.satellite_id <= 32, "a satellite number");
  }
  return 0;
}
