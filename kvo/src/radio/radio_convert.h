#ifndef KVO_SRC_RADIO_RADIO_CONVERT_H_
#define KVO_SRC_RADIO_RADIO_CONVERT_H_

// Downlink frequencies and channel numbers per band, and the fixed distance between a WCDMA
// band's uplink and downlink channels. Pure: the exported conversions add only their log line.

#include "kvo.h"

// Nearest channel of `frequency`; false when the band is unknown or the frequency lies outside
// every range of the band.
bool RadioFrequencyToChannel(KvoRadioBand band, KvoRadioFrequency frequency,
                             KvoRadioChannel* channel);
// False when the band is unknown or the channel lies outside every range of the band.
bool RadioChannelToFrequency(KvoRadioBand band, KvoRadioChannel channel,
                             KvoRadioFrequency* frequency);

// Adds the band's uplink-to-downlink channel distance for WCDMA bands; GSM bands (and unknown
// ones) leave `out` as it was.
void RadioConvertDlChannelToUlChannel(KvoRadioBand band, KvoRadioChannel channel,
                                      KvoRadioChannel* out);

#endif  // KVO_SRC_RADIO_RADIO_CONVERT_H_
