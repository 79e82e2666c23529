// Faults of the simulated module: the ways it can misbehave on purpose, so that tests can see the
// host cope with silence, garbage, split answers, refusals and a module that goes away.
#ifndef TARVIK_SIM_FAULTS_H_
#define TARVIK_SIM_FAULTS_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace tarvik_sim {

// Faults. Counters ("from now") start when the faults are set with SetFaults or from options.
struct Faults {
  bool never_ready = false;           // "AT*EMRDY?" never answers "*EMRDY: 1"
  std::vector<size_t> split_offsets;  // every answer is written in pieces cut at these offsets
  int split_pause_ms = 30;            // pause between the pieces
  int answer_delay_ms = 0;            // delay before each answer (echo is not delayed)
  std::string garbage_before_answer;  // bytes written just before each answer
  std::vector<std::string> error_commands;  // commands (exact, case-insensitive) answered "ERROR"
  bool no_unsolicited = false;              // never send unsolicited lines
  long unplug_after_bytes = -1;             // unplug once this many more bytes came in (-1: off)
  bool stay_away = false;                   // after a restart or unplug, never come back

  // Transparent channel. Datagram numbers count the datagrams received from now, from 1; each of
  // these fires once (0: off).
  int tc_nack_datagram = 0;  // acknowledge that datagram with `tc_nack_result`
  int tc_nack_result = 2;
  int tc_bad_version_datagram = 0;          // acknowledge it with a wrong version
  int tc_bad_session_datagram = 0;          // acknowledge it with a wrong session
  int tc_no_ack_datagram = 0;               // do not acknowledge it (nor anything after it in the
                                            // payload)
  bool tc_split_frames = false;             // write every frame the module sends in pieces
  long tc_unplug_after_payload_bytes = -1;  // unplug after this many more payload bytes (-1: off)
  int tc_answer_result = 0;                 // result field of every answer header (0: OK)

  // Secure frame.
  int sf_ack_result = 0;      // result of every packet acknowledgement (not 0: the module gives up)
  int sf_final_result = 0;    // result of the acknowledgement of the whole data
  bool sf_no_return = false;  // no "\r\nOK\r\n" after the final acknowledgement
  std::string sf_stray_bytes;  // written before every response packet
  bool sf_split_ok = false;    // the final "\r\nOK\r\n" written in two pieces
};

// Applies one fault "key" = "value"; keys are the field names above ("never_ready", "split_offsets"
// as a comma list, "error_commands" as a '|' list, "garbage_before_answer" with \r \n \xNN escapes,
// ...). "clear" with any value resets all faults.
bool ApplyFaultSetting(Faults* faults, const std::string& key, const std::string& value,
                       std::string* error);

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_FAULTS_H_
