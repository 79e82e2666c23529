#ifndef KVO_SRC_RADIO_RADIO_PARSE_H_
#define KVO_SRC_RADIO_RADIO_PARSE_H_

// Readers of the module's radio answers. They work only on the text they are given: no I/O, no
// logging, no library state, so that the receive thread may use them and the fuzz targets reach
// every branch. Numbers must be numbers: a field that holds something else is a parse error,
// never a silent 0.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "kvo.h"

// AT mode.

// "AT*E2BAND?": the text must hold "*E2BAND: "; the GSM band mask is the two characters at offset
// 11 of the whole text, the WCDMA mask the two at offset 17, each a decimal number.
// kKvoResultGeneralErrorParseError otherwise.
KvoResult RadioParseE2Band(const char* text, unsigned* gsm_mask, unsigned* wcdma_mask);
// One band per set bit, GSM bits 1, 2, 4, 8, 16 then WCDMA bits 1 to 128; other bits give none.
std::vector<KvoRadioBand> RadioBandsFromMasks(unsigned gsm_mask, unsigned wcdma_mask);

// ceil((end_channel + 1 - start_channel) / step_size); 0 for a step of 0 or a start above the end.
uint64_t RadioScanChannelCount(const KvoRadioRssiScanParameters& parameters);

struct RadioRssiRecord {
  KvoRadioChannel channel = 0;
  KvoRadioAntennaPath path = kKvoRadioAntennaPathMain;
  std::vector<KvoRadioRssiValue> values;
};

// The synchronous scan's answer: after line ends and an optional "*EEMRSSI:" prefix, one line of
// comma-separated fields: the band, then per channel its number and values_per_record values, a
// main value followed by its diversity value when main_and_diversity. Records come out per
// channel (main, then diversity). kKvoResultGeneralErrorParseError for a missing or unreadable
// field.
KvoResult RadioParseRssiSync(const char* text, size_t channels, size_t values_per_record,
                             bool main_and_diversity, KvoRadioBand* band,
                             std::vector<RadioRssiRecord>* records);

// Unsolicited measurement lines arrive in reads cut anywhere: this keeps the unfinished end of a
// read for the next one and hands out whole lines that hold "*EEMRSSI: ", one entry per
// occurrence (the text from the prefix up to the next occurrence or the line end).
class RadioRssiLineReader {
 public:
  void Feed(const char* text, std::vector<std::string>* measurements);
  void Clear() { pending_.clear(); }

 private:
  void TakeLine(const std::string& line, std::vector<std::string>* measurements);
  std::string pending_;
};

struct RadioRssiSample {
  long band = 0;
  KvoRadioChannel channel = 0;
  KvoRadioRssiValue main = 0;
  KvoRadioRssiValue diversity = 0;
};

enum class RadioLineStatus { kOk, kMissingField, kMissingDiversity };

// One "*EEMRSSI: band,channel,main[,diversity]" measurement; the diversity value is read when
// with_diversity.
RadioLineStatus RadioParseRssiLine(const std::string& measurement, bool with_diversity,
                                   RadioRssiSample* sample);

struct RadioGpsReport {
  long validity = 0;
  KvoRadioGpsSingleSatelliteTestData data = {};
};

// "AT*EEMGPSMEASURE": after line ends and an optional "*EEMGPSMEASURE:" prefix, four decimal
// fields: validity, satellite id, signal strength, signal-to-noise ratio.
// kKvoResultGeneralErrorParseError for a missing or unreadable field.
KvoResult RadioParseGpsReport(const char* text, RadioGpsReport* report);

// ITP mode: each answer is read from a fixed offset of its text, whatever stands before it, up to
// the end of that line.

// "gdre=0,404" and "gdre=0,417": after 8 characters, the fields up to the first that lacks "0x";
// each gives the decimal number after its first two characters. kKvoResultGeneralErrorParseError
// when there is no field at all.
KvoResult RadioParseItpBandNumbers(const char* text, std::vector<long>* numbers);

// The GSM calibration answer ("gdre=0,<parameter>"): after 8 characters a decimal field and three
// hexadecimal ones; the offset is the field numbered gain (0 to 3), reduced by 256 unless it is 0.
// kKvoResultGeneralErrorParseError for a missing or unreadable field.
KvoResult RadioParseItpGsmOffset(const char* text, unsigned gain, int* offset);

enum class RadioRxbrStatus { kOk, kUnknownResponse, kNoLevel, kNegativeLevel };

// "rxbr": the text must hold "RXBR: 0x"; the raw level is the hexadecimal number after 8
// characters.
RadioRxbrStatus RadioParseItpRxbr(const char* text, long* raw_level);
// A raw "rxbr" level in dBm: raw * 0.375 - 96 + offset.
double RadioItpGsmLevel(long raw_level, int offset);

// "rxpw": after 6 characters, the third comma-separated field is the level.
// kKvoResultRadioErrorUnexpectedRssiResponse when it is missing or unreadable.
KvoResult RadioParseItpRssiWcdmaData(const char* text, KvoRadioRssiValue* value);

// "grsd=1,5000": after 6 characters three decimal fields: satellite id, signal strength,
// signal-to-noise ratio. kKvoResultGeneralErrorParseError for a missing or unreadable field.
KvoResult RadioParseItpGps(const char* text, KvoRadioGpsSingleSatelliteTestData* data);

#endif  // KVO_SRC_RADIO_RADIO_PARSE_H_
