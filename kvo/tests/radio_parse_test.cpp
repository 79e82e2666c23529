// The radio answers' readers and the channel tables, as case tables over the pure functions.

#include "kvo/src/radio/radio_parse.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "kvo/src/radio/radio_convert.h"

namespace {

constexpr KvoResult kOk = kKvoResultSuccess;
constexpr KvoResult kParse = kKvoResultGeneralErrorParseError;
constexpr KvoResult kRssi = kKvoResultRadioErrorUnexpectedRssiResponse;

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  return text;
}

// One range of a band: its frequency limits and the channels they give, and its channel limits;
// for WCDMA the uplink channel whose downlink is the lowest channel (0: GSM, which keeps the
// output as it was).
struct RangeCase {
  KvoRadioBand band;
  float low_mhz, high_mhz;
  KvoRadioChannel low_channel, high_channel, uplink;
};

const RangeCase kRanges[] = {
    {kKvoRadioBandGsm900, 925.2f, 934.8f, 975, 1023, 0},
    {kKvoRadioBandGsm900, 935.2f, 959.8f, 1, 124, 0},
    {kKvoRadioBandGsm1900, 1930.2f, 1989.8f, 512, 810, 0},
    {kKvoRadioBandGsm1800, 1805.2f, 1879.8f, 512, 885, 0},
    {kKvoRadioBandGsm850, 869.2f, 893.8f, 128, 251, 0},
    {kKvoRadioBandWcdmaI, 2112.4f, 2167.6f, 10562, 10838, 9612},
    {kKvoRadioBandWcdmaII, 1932.4f, 1987.6f, 9662, 9938, 9262},
    {kKvoRadioBandWcdmaIII, 1807.4f, 1877.6f, 1162, 1513, 937},
    {kKvoRadioBandWcdmaIV, 2112.4f, 2152.6f, 1537, 1738, 1312},
    {kKvoRadioBandWcdmaV, 871.4f, 891.6f, 4357, 4458, 4132},
    {kKvoRadioBandWcdmaVI, 877.4f, 882.6f, 4387, 4413, 4162},
    {kKvoRadioBandWcdmaVII, 2622.4f, 2687.6f, 2237, 2563, 2012},
    {kKvoRadioBandWcdmaVIII, 927.4f, 957.6f, 2937, 3088, 2712},
    {kKvoRadioBandWcdmaIX, 1847.4f, 1877.4f, 9237, 9387, 8762},
};

TEST(RadioConvertTest, BothEndsOfEveryRangeAndJustOutside) {
  for (const RangeCase& c : kRanges) {
    SCOPED_TRACE("band " + std::to_string(c.band) + " from " + Number(c.low_mhz));
    KvoRadioChannel channel = 0;
    KvoRadioFrequency frequency = 0;
    EXPECT_EQ(kOk, KvoRadioConvertFrequencyToChannel(c.band, c.low_mhz, &channel));
    EXPECT_EQ(c.low_channel, channel);
    EXPECT_EQ(kOk, KvoRadioConvertFrequencyToChannel(c.band, c.high_mhz, &channel));
    EXPECT_EQ(c.high_channel, channel);
    EXPECT_EQ(kOk, KvoRadioConvertChannelToFrequency(c.band, c.low_channel, &frequency));
    EXPECT_EQ(c.low_mhz, frequency);
    EXPECT_EQ(kOk, KvoRadioConvertChannelToFrequency(c.band, c.high_channel, &frequency));
    EXPECT_EQ(c.high_mhz, frequency);

    channel = 7;
    frequency = 7;
    for (float outside : {c.low_mhz - 0.2f, c.high_mhz + 0.2f}) {
      EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
                KvoRadioConvertFrequencyToChannel(c.band, outside, &channel))
          << outside;
    }
    EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
              KvoRadioConvertChannelToFrequency(c.band, c.high_channel + 1, &frequency));
    if (c.low_channel != 1) {
      EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
                KvoRadioConvertChannelToFrequency(c.band, c.low_channel - 1, &frequency));
    }
    EXPECT_EQ(7u, channel);
    EXPECT_EQ(7.0f, frequency);
    KvoRadioChannel downlink = 99;
    RadioConvertDlChannelToUlChannel(c.band, c.uplink != 0 ? c.uplink : 62, &downlink);
    EXPECT_EQ(c.uplink != 0 ? c.low_channel : 99u, downlink);
  }
  // GSM 900 channel 0 is 935.0 MHz, a frequency the other direction refuses; band 13 is none.
  KvoRadioFrequency frequency = 0;
  KvoRadioChannel channel = 0;
  EXPECT_EQ(kOk, KvoRadioConvertChannelToFrequency(kKvoRadioBandGsm900, 0, &frequency));
  EXPECT_EQ(935.0f, frequency);
  EXPECT_NE(kOk, KvoRadioConvertFrequencyToChannel(kKvoRadioBandGsm900, 935.0f, &channel));
  EXPECT_NE(kOk, KvoRadioConvertFrequencyToChannel(kKvoRadioBandMax, 2112.4f, &channel));
  EXPECT_NE(kOk, KvoRadioConvertChannelToFrequency(kKvoRadioBandMax, 10562, &frequency));
}

std::string Bands(const std::vector<KvoRadioBand>& bands) {
  std::string text;
  for (KvoRadioBand band : bands) text += (text.empty() ? "" : " ") + std::to_string(band);
  return text;
}

std::string Records(const std::vector<RadioRssiRecord>& records) {
  std::string text;
  for (const RadioRssiRecord& record : records) {
    text += (text.empty() ? "" : " ") + std::to_string(record.channel) +
            (record.path == kKvoRadioAntennaPathMain ? "M" : "D");
    for (KvoRadioRssiValue value : record.values) text += ":" + Number(value);
  }
  return text;
}

enum class Reader {
  kE2Band,
  kGps,
  kLine,
  kLineDiversity,
  kItpBands,
  kOffset,
  kRxbr,
  kRxpw,
  kItpGps
};

struct AnswerCase {
  Reader reader;
  const char* text;
  unsigned gain;  // kOffset only
  KvoResult result;
  const char* read;  // what was read, printed; "" when the result is a failure
};

// Reads the text with the case's reader and prints what came out.
std::string Read(const AnswerCase& c, KvoResult* result) {
  std::string read;
  switch (c.reader) {
    case Reader::kE2Band: {
      unsigned gsm = 0, wcdma = 0;
      *result = RadioParseE2Band(c.text, &gsm, &wcdma);
      if (*result == kOk) read = Bands(RadioBandsFromMasks(gsm, wcdma));
      break;
    }
    case Reader::kGps: {
      RadioGpsReport report;
      *result = RadioParseGpsReport(c.text, &report);
      if (*result == kOk) {
        read = std::to_string(report.validity) + " " + std::to_string(report.data.satellite_id) +
               " " + std::to_string(report.data.signal_strength) + " " +
               std::to_string(report.data.signal_to_noise_ratio);
      }
      break;
    }
    case Reader::kLine:
    case Reader::kLineDiversity: {
      RadioRssiSample sample;
      const bool diversity = c.reader == Reader::kLineDiversity;
      const RadioLineStatus status = RadioParseRssiLine(c.text, diversity, &sample);
      *result = status == RadioLineStatus::kOk                 ? kOk
                : status == RadioLineStatus::kMissingDiversity ? kKvoResultGeneralErrorMemory
                                                               : kRssi;
      if (*result == kOk) {
        read = std::to_string(sample.band) + " " + std::to_string(sample.channel) + " " +
               Number(sample.main) + (diversity ? " " + Number(sample.diversity) : "");
      }
      break;
    }
    case Reader::kItpBands: {
      std::vector<long> numbers;
      *result = RadioParseItpBandNumbers(c.text, &numbers);
      for (long n : numbers) read += (read.empty() ? "" : " ") + std::to_string(n);
      break;
    }
    case Reader::kOffset: {
      int offset = 0;
      *result = RadioParseItpGsmOffset(c.text, c.gain, &offset);
      if (*result == kOk) read = std::to_string(offset);
      break;
    }
    case Reader::kRxbr: {
      long raw = 0;
      const RadioRxbrStatus status = RadioParseItpRxbr(c.text, &raw);
      *result = status == RadioRxbrStatus::kOk                ? kOk
                : status == RadioRxbrStatus::kUnknownResponse ? kParse
                                                              : kRssi;
      if (*result == kOk) read = std::to_string(raw) + " " + Number(RadioItpGsmLevel(raw, 0));
      break;
    }
    case Reader::kRxpw: {
      KvoRadioRssiValue value = 0;
      *result = RadioParseItpRssiWcdmaData(c.text, &value);
      if (*result == kOk) read = Number(value);
      break;
    }
    case Reader::kItpGps: {
      KvoRadioGpsSingleSatelliteTestData data = {};
      *result = RadioParseItpGps(c.text, &data);
      if (*result == kOk) {
        read = std::to_string(data.satellite_id) + " " + std::to_string(data.signal_strength) +
               " " + std::to_string(data.signal_to_noise_ratio);
      }
      break;
    }
  }
  return read;
}

// kKvoResultGeneralErrorMemory stands for a line whose diversity value is missing.
const AnswerCase kAnswers[] = {
    {Reader::kE2Band, "\r\n*E2BAND: 31,00,03\r\n\r\nOK\r\n", 0, kOk, "3 0 0 2 1 4 5"},
    {Reader::kE2Band, "\r\n*E2BAND: 06,00,64\r\n\r\nOK\r\n", 0, kOk, "0 0 11"},
    {Reader::kE2Band, "\r\n*E2BAND: 96,00,99\r\n", 0, kOk, "4 5 9 11"},
    {Reader::kE2Band, "\r\n*E2BAND: 0 ,00, 0\r\n", 0, kOk, ""},
    {Reader::kE2Band, "\r\n*E2BAND: 31,00,0", 0, kParse, ""},
    {Reader::kE2Band, "\r\n*E2BAND: xx,00,03\r\n", 0, kParse, ""},
    {Reader::kE2Band, "\r\n*E2BND: 31,00,03\r\n", 0, kParse, ""},
    {Reader::kGps, "\r\n*EEMGPSMEASURE: 1,5,-130,42\r\n\r\nOK\r\n", 0, kOk, "1 5 -130 42"},
    {Reader::kGps, "\r\n0,17,-141,3\r\n\r\nOK\r\n", 0, kOk, "0 17 -141 3"},
    {Reader::kGps, "\r\n1,5,-130\r\n\r\nOK\r\n", 0, kParse, ""},
    {Reader::kGps, "\r\n1,33,-130,42\r\n", 0, kParse, ""},
    {Reader::kGps, "\r\n1,5,-1x0,42\r\n", 0, kParse, ""},
    {Reader::kLine, "*EEMRSSI: 4,10562,-61.25", 0, kOk, "4 10562 -61.25"},
    {Reader::kLine, "*EEMRSSI: 4,10562,-61.25,-63.5", 0, kOk, "4 10562 -61.25"},
    {Reader::kLine, "*EEMRSSI: 4,10562", 0, kRssi, ""},
    {Reader::kLine, "*EEMRSSI: 13,10562,-61", 0, kRssi, ""},
    {Reader::kLine, "*EEMRSSI: 4,10562,low", 0, kRssi, ""},
    {Reader::kLineDiversity, "*EEMRSSI: 4,10562,-61.25,-63.5", 0, kOk, "4 10562 -61.25 -63.5"},
    {Reader::kLineDiversity, "*EEMRSSI: 4,10562,-61.25", 0, kKvoResultGeneralErrorMemory, ""},
    {Reader::kItpBands, "GDRE: 0,0x01,0x02,0x08\r\nOK\r\n", 0, kOk, "1 2 8"},
    {Reader::kItpBands, "GDRE: 0,0x01,8,0x09\r\nOK\r\n", 0, kOk, "1"},
    {Reader::kItpBands, "GDRE: 0,17\r\nOK\r\n", 0, kOk, ""},
    {Reader::kItpBands, "XXXXXXXX0x03,0x12", 0, kOk, "3 12"},
    {Reader::kItpBands, "GDRE: 0,\r\nOK\r\n", 0, kParse, ""},
    {Reader::kItpBands, "GDRE:", 0, kParse, ""},
    {Reader::kOffset, "GDRE: 0,0,FE,FD,FC\r\nOK\r\n", 0, kOk, "0"},
    {Reader::kOffset, "GDRE: 0,0,FE,FD,FC\r\nOK\r\n", 2, kOk, "-3"},
    {Reader::kOffset, "GDRE: 0,5,FE,FD,FC\r\nOK\r\n", 0, kOk, "-251"},
    {Reader::kOffset, "GDRE: 0,0,FE,FD\r\nOK\r\n", 1, kParse, ""},
    {Reader::kOffset, "GDRE: 0,0,FE,FD,XY\r\nOK\r\n", 1, kParse, ""},
    {Reader::kRxbr, "RXBR: 0x80\r\nOK\r\n", 0, kOk, "128 -48"},
    {Reader::kRxbr, "RXBR: 0x0\r\nOK\r\n", 0, kOk, "0 -96"},
    {Reader::kRxbr, "RXBR: 0x\r\nOK\r\n", 0, kRssi, ""},
    {Reader::kRxbr, "RXBR: 0x-4\r\nOK\r\n", 0, kRssi, ""},
    {Reader::kRxbr, "RXBQ: 0x80\r\nOK\r\n", 0, kParse, ""},
    {Reader::kRxpw, "RXPW: 5,10562,-61.375\r\nOK\r\n", 0, kOk, "-61.375"},
    {Reader::kRxpw, "RXPW: 5,10562\r\nOK\r\n", 0, kRssi, ""},
    {Reader::kRxpw, "RXPW", 0, kRssi, ""},
    {Reader::kItpGps, "GRSD: 7,-130,42\r\nOK\r\n", 0, kOk, "7 -130 42"},
    {Reader::kItpGps, "GRSD: 7,-130\r\nOK\r\n", 0, kParse, ""},
};

TEST(RadioParseTest, Answers) {
  for (const AnswerCase& c : kAnswers) {
    KvoResult result = kKvoResultGeneralErrorUnknown;
    const std::string read = Read(c, &result);
    EXPECT_EQ(c.result, result) << c.text;
    EXPECT_EQ(c.read, read) << c.text;
  }
}

TEST(RadioParseTest, SynchronousScan) {
  const struct {
    const char* text;
    size_t channels, values;
    bool both;
    KvoResult result;
    const char* records;  // band first
  } cases[] = {
      {"\r\n*EEMRSSI: 4,10562,-50,-50.25,10567,-51.5,-51.75\r\n\r\nOK\r\n", 2, 2, false, kOk,
       "4 10562M:-50:-50.25 10567M:-51.5:-51.75"},
      {"\r\n4,10562,-50,-52.5,-50.25,-52.75\r\n\r\nOK\r\n", 1, 2, true, kOk,
       "4 10562M:-50:-50.25 10562D:-52.5:-52.75"},
      {"\r\n*EEMRSSI:0,975,-60.5,976,-61\r\n\r\nOK\r\n", 2, 1, false, kOk, "0 975M:-60.5 976M:-61"},
      {"\r\n*EEMRSSI: 4,10562,-50,10567\r\n\r\nOK\r\n", 2, 1, false, kParse, ""},
      {"\r\n*EEMRSSI: 4,10562,-50,\r\n10567,-51\r\nOK\r\n", 2, 1, false, kParse, ""},
      {"\r\n*EEMRSSI: 4,10562,strong\r\n\r\nOK\r\n", 1, 1, false, kParse, ""},
      {"\r\n*EEMRSSI: 14,10562,-50\r\n\r\nOK\r\n", 1, 1, false, kParse, ""},
      {"\r\n*EEMRSSI: 4,10562,-50\r\n\r\nOK\r\n", 1, 3000000000u, false, kParse, ""},
  };
  for (const auto& c : cases) {
    KvoRadioBand band = kKvoRadioBandMax;
    std::vector<RadioRssiRecord> records;
    EXPECT_EQ(c.result, RadioParseRssiSync(c.text, c.channels, c.values, c.both, &band, &records))
        << c.text;
    const std::string read = std::to_string(band) + " " + Records(records);
    EXPECT_EQ(c.records, c.result == kOk ? read : std::string()) << c.text;
  }
}

TEST(RadioParseTest, LinesCutAnywhereComeOutWhole) {
  const std::string endless(1100, 'x');
  const struct {
    std::vector<const char*> reads;
    std::vector<std::string> measurements;
  } cases[] = {
      {{"\r\n*EEMRSSI: 4,105", "62,-50\r\n\r\n*EEMRSSI: 4,10567,-51\r\n"},
       {"*EEMRSSI: 4,10562,-50", "*EEMRSSI: 4,10567,-51"}},
      {{"OK\r\n*EEMRSSI: 0,975,-1*EEMRSSI: 0,976,-2\r", "\n*EEMUSTATE: 1\r\n"},
       {"*EEMRSSI: 0,975,-1", "*EEMRSSI: 0,976,-2"}},
      {{"*EEMRSSI: 4,10562,-50"}, {}},
      {{endless.c_str(), "*EEMRSSI: 0,1,-1\r\n"}, {"*EEMRSSI: 0,1,-1"}},
  };
  for (const auto& c : cases) {
    RadioRssiLineReader reader;
    std::vector<std::string> measurements;
    for (const char* read : c.reads) reader.Feed(read, &measurements);
    EXPECT_EQ(c.measurements, measurements) << c.reads[0];
  }
}

}  // namespace
