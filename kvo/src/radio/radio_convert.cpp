#include "kvo/src/radio/radio_convert.h"

#include <math.h>

namespace {

constexpr char kSender[] = "KVO:Radio";

// One channel range of a band's downlink: frequency = reference_mhz + (N - reference_channel) / 5.
// The frequency limits are the 32-bit values a caller writes, so that a limit is inside its range.
struct ChannelRange {
  KvoRadioBand band;
  float low_mhz;
  float high_mhz;
  KvoRadioChannel low_channel;
  KvoRadioChannel high_channel;
  double reference_mhz;
  double reference_channel;
};

// GSM 900 has two ranges, tried in this order.
const ChannelRange kRanges[] = {
    {kKvoRadioBandGsm900, 925.2f, 934.8f, 975, 1023, 935.0, 1024},
    {kKvoRadioBandGsm900, 935.2f, 959.8f, 0, 124, 935.0, 0},
    {kKvoRadioBandGsm1900, 1930.2f, 1989.8f, 512, 810, 1930.2, 512},
    {kKvoRadioBandGsm1800, 1805.2f, 1879.8f, 512, 885, 1805.2, 512},
    {kKvoRadioBandGsm850, 869.2f, 893.8f, 128, 251, 869.2, 128},
    {kKvoRadioBandWcdmaI, 2112.4f, 2167.6f, 10562, 10838, 0.0, 0},
    {kKvoRadioBandWcdmaII, 1932.4f, 1987.6f, 9662, 9938, 0.0, 0},
    {kKvoRadioBandWcdmaIII, 1807.4f, 1877.6f, 1162, 1513, 1575.0, 0},
    {kKvoRadioBandWcdmaIV, 2112.4f, 2152.6f, 1537, 1738, 1805.0, 0},
    {kKvoRadioBandWcdmaV, 871.4f, 891.6f, 4357, 4458, 0.0, 0},
    {kKvoRadioBandWcdmaVI, 877.4f, 882.6f, 4387, 4413, 0.0, 0},
    {kKvoRadioBandWcdmaVII, 2622.4f, 2687.6f, 2237, 2563, 2175.0, 0},
    {kKvoRadioBandWcdmaVIII, 927.4f, 957.6f, 2937, 3088, 340.0, 0},
    {kKvoRadioBandWcdmaIX, 1847.4f, 1877.4f, 9237, 9387, 0.0, 0},
};

// Uplink-to-downlink channel distance of the WCDMA bands I to IX.
const KvoRadioChannel kUplinkDistance[] = {950, 400, 225, 225, 225, 225, 225, 225, 475};

}  // namespace

bool RadioFrequencyToChannel(KvoRadioBand band, KvoRadioFrequency frequency,
                             KvoRadioChannel* channel) {
  for (const ChannelRange& range : kRanges) {
    if (range.band != band || !(frequency >= range.low_mhz && frequency <= range.high_mhz)) {
      continue;
    }
    const double exact =
        (static_cast<double>(frequency) - range.reference_mhz) * 5.0 + range.reference_channel;
    *channel = static_cast<KvoRadioChannel>(llround(exact));
    return true;
  }
  return false;
}

bool RadioChannelToFrequency(KvoRadioBand band, KvoRadioChannel channel,
                             KvoRadioFrequency* frequency) {
  for (const ChannelRange& range : kRanges) {
    if (range.band != band || channel < range.low_channel || channel > range.high_channel) {
      continue;
    }
    *frequency = static_cast<KvoRadioFrequency>(
        range.reference_mhz + (static_cast<double>(channel) - range.reference_channel) / 5.0);
    return true;
  }
  return false;
}

void RadioConvertDlChannelToUlChannel(KvoRadioBand band, KvoRadioChannel channel,
                                      KvoRadioChannel* out) {
  if (band < kKvoRadioBandWcdmaI || band > kKvoRadioBandWcdmaIX) return;
  *out = channel + kUplinkDistance[band - kKvoRadioBandWcdmaI];
}

KvoResult KvoRadioConvertFrequencyToChannel(KvoRadioBand band, KvoRadioFrequency frequency,
                                            KvoRadioChannel* channel) {
  if (channel == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  if (!RadioFrequencyToChannel(band, frequency, channel)) {
    KvoLogDebug(kSender, "Band outside range in KvoRadioConvertFrequencyToChannel (%d)",
                static_cast<int>(band));
    return kKvoResultGeneralErrorInvalidParameter;
  }
  return kKvoResultSuccess;
}

KvoResult KvoRadioConvertChannelToFrequency(KvoRadioBand band, KvoRadioChannel channel,
                                            KvoRadioFrequency* frequency) {
  if (frequency == nullptr) return kKvoResultGeneralErrorInvalidParameter;
  if (!RadioChannelToFrequency(band, channel, frequency)) {
    KvoLogDebug(kSender, "Band outside range in KvoRadioConvertChannelToFrequency (%d).\n",
                static_cast<int>(band));
    return kKvoResultGeneralErrorInvalidParameter;
  }
  return kKvoResultSuccess;
}
