// Unsolicited measurement lines cut into reads anywhere (pieces between 0x00 bytes of the input):
// every measurement handed out is one whole line's, and its reading never fails silently.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "kvo/src/radio/radio_parse.h"
#include "testing/fuzz.h"

using tarvik_fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  const std::string text(reinterpret_cast<const char*>(input), size);
  RadioRssiLineReader reader;
  std::vector<std::string> measurements;
  for (const std::string& read : tarvik_fuzz::SplitAt(text, '\0')) {
    reader.Feed(read.c_str(), &measurements);
  }
  for (const std::string& measurement : measurements) {
    Check(measurement.rfind("*EEMRSSI: ", 0) == 0, "a measurement starts with its prefix");
    Check(measurement.find_first_of("\r\n") == std::string::npos, "within one line");
    for (bool diversity : {false, true}) {
      RadioRssiSample sample;
      if (RadioParseRssiLine(measurement, diversity, &sample) == RadioLineStatus::kOk) {
        Check(sample.band >= 0 && sample.band < kKvoRadioBandMax, "a known band");
      }
    }
  }
  return 0;
}
