// The simulated module's radio: what it reports for its bands, GPS and calibration, how it
// delivers unsolicited measurement lines, and the levels it measures. Levels are fixed functions
// of channel, receiver and sample, so that a test can predict every value a scan returns.
#ifndef TARVIK_SIM_RADIO_PROFILE_H_
#define TARVIK_SIM_RADIO_PROFILE_H_

#include <string>
#include <vector>

namespace tarvik_sim {

// How the measurement lines of an unsolicited scan reach the host.
enum class RssiDelivery {
  kLines,       // one write per line, `rssi_gap_ms` apart
  kBursts,      // `rssi_burst` lines per write, `rssi_gap_ms` apart
  kWithResult,  // all lines in the same write as the command's OK, right after it
};

struct RadioProfile {
  int gsm_bands = 31;   // "AT*E2BAND?" GSM mask, 0 to 99
  int wcdma_bands = 3;  // WCDMA mask, 0 to 99
  // "gdre=0,404" (bands the hardware supports) and "gdre=0,417" (enabled), 3GPP band numbers.
  std::vector<int> itp_supported = {1, 2, 8};
  std::vector<int> itp_enabled = {1, 8};
  // The four fields of a GSM calibration answer ("gdre=0,1244" to 1247): a decimal one and three
  // hexadecimal ones; the field numbered by the gain is the offset (non-zero ones less 256).
  std::string itp_gsm_calibration = "0,FE,FD,FC";

  int gps_valid = 1;  // validity of "AT*EEMGPSMEASURE" reports
  int gps_signal_strength = -130;
  int gps_signal_to_noise_ratio = 42;
  int itp_gps_state = 1;      // "grsd=0" answers "GRSD: <state>"; 3 is an error
  int itp_gps_satellite = 7;  // the satellite an ITP measurement picks

  RssiDelivery rssi_delivery = RssiDelivery::kLines;
  int rssi_burst = 4;
  int rssi_gap_ms = 40;

  bool tx_on = false;  // live: a continuous transmission runs
};

// dBm that the module measures on `channel`: main receiver -50 - (channel % 32) / 2, the
// diversity receiver 2.5 dB less, each later sample of a channel 0.25 dB less.
double RssiLevel(unsigned channel, bool diversity, int sample);
// Mean of samples 0 .. count-1.
double RssiMean(unsigned channel, bool diversity, int count);
// Raw "rxbr" level (0.375 dB steps): 0x80 + channel % 8 + 2 * sample.
int RxbrLevel(unsigned channel, int sample);

// Applies one "radio.<key>" setting (key without the prefix); keys as in `tarvik-sim --help`.
bool ApplyRadioSetting(RadioProfile* radio, const std::string& key, const std::string& value,
                       std::string* error);

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_RADIO_PROFILE_H_
