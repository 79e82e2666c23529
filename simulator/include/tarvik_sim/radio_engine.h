// The simulated module's radio test commands: "AT*E2BAND?", "AT*EEMRSSI", "AT*EEMGPSMEASURE" and
// "AT*EEMENABLETX" in AT mode; "mode", "gdre", "swrx", "rxbr", "wrxc", "rxpw", "rdiv", "grsd", the
// transmitter commands and "rera" in ITP mode. Measurements need the radio off ("AT+CFUN=4"), as
// do the AT-mode transmitter and scans.
#ifndef TARVIK_SIM_RADIO_ENGINE_H_
#define TARVIK_SIM_RADIO_ENGINE_H_

#include <string>
#include <vector>

#include "tarvik_sim/module_state.h"

namespace tarvik_sim {

struct RadioReply {
  std::string answer;  // the whole answer, final result included
  // Unsolicited text to write after the answer: each piece `delay_ms` after the answer.
  struct Later {
    std::string text;
    int delay_ms = 0;
  };
  std::vector<Later> later;
};

class RadioEngine {
 public:
  // False when the command is none of the radio's; `line` is the trimmed command line, `upper`
  // the same in capitals.
  bool AtCommand(ModuleState* state, const std::string& upper, RadioReply* reply);
  bool ItpCommand(ModuleState* state, const std::string& line, const std::string& upper,
                  RadioReply* reply);
  // The ITP receiver settings start afresh with each start of the module.
  void Reset();

 private:
  int band_ = -1;  // set with "mode", -1: none
  bool diversity_ = false;
  long gsm_channel_ = -1;  // tuned with "swrx", -1: none
  int gsm_samples_ = 0;    // "rxbr" bursts since
  long wcdma_channel_ = -1;
};

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_RADIO_ENGINE_H_
