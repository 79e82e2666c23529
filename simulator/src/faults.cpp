#include "tarvik_sim/faults.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "text.h"

namespace tarvik_sim {

using text::Trim;
using text::Unescape;

bool ApplyFaultSetting(Faults* f, const std::string& raw_key, const std::string& raw_value,
                       std::string* error) {
  std::string key = Trim(raw_key);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string value = Trim(raw_value);
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = "fault '" + key + "': " + why;
    return false;
  };
  auto number = [&](long min, long max, long* out) {
    if (value.empty()) return false;
    char* end = nullptr;
    long parsed = std::strtol(value.c_str(), &end, 10);
    if (*end != '\0' || parsed < min || parsed > max) return false;
    *out = parsed;
    return true;
  };
  auto flag = [&](bool* out) {
    if (value == "1" || value == "true" || value == "on" || value == "yes") {
      *out = true;
    } else if (value == "0" || value == "false" || value == "off" || value == "no") {
      *out = false;
    } else {
      return false;
    }
    return true;
  };
  long n = 0;
  if (key == "clear") {
    *f = Faults();
  } else if (key == "never_ready") {
    if (!flag(&f->never_ready)) return fail("expected 0 or 1");
  } else if (key == "split_offsets") {
    std::vector<size_t> offsets;
    std::stringstream stream(value);
    std::string item;
    while (std::getline(stream, item, ',')) {
      item = Trim(item);
      if (item.empty()) continue;
      char* end = nullptr;
      long offset = std::strtol(item.c_str(), &end, 10);
      if (*end != '\0' || offset <= 0) return fail("expected positive offsets");
      offsets.push_back(static_cast<size_t>(offset));
    }
    std::sort(offsets.begin(), offsets.end());
    f->split_offsets = offsets;
  } else if (key == "split_pause_ms") {
    if (!number(0, 60000, &n)) return fail("expected milliseconds");
    f->split_pause_ms = static_cast<int>(n);
  } else if (key == "answer_delay_ms") {
    if (!number(0, 600000, &n)) return fail("expected milliseconds");
    f->answer_delay_ms = static_cast<int>(n);
  } else if (key == "garbage_before_answer") {
    f->garbage_before_answer = Unescape(value);
  } else if (key == "error_commands") {
    f->error_commands.clear();
    std::stringstream stream(value);
    std::string item;
    while (std::getline(stream, item, '|')) {
      item = Trim(item);
      if (!item.empty()) f->error_commands.push_back(item);
    }
  } else if (key == "no_unsolicited") {
    if (!flag(&f->no_unsolicited)) return fail("expected 0 or 1");
  } else if (key == "unplug_after_bytes") {
    if (!number(-1, 0x7fffffff, &n)) return fail("expected a byte count or -1");
    f->unplug_after_bytes = n;
  } else if (key == "stay_away") {
    if (!flag(&f->stay_away)) return fail("expected 0 or 1");
  } else if (key == "tc_nack_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_nack_datagram = static_cast<int>(n);
  } else if (key == "tc_nack_result") {
    if (!number(1, 65535, &n)) return fail("expected 1 to 65535");
    f->tc_nack_result = static_cast<int>(n);
  } else if (key == "tc_bad_version_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_bad_version_datagram = static_cast<int>(n);
  } else if (key == "tc_bad_session_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_bad_session_datagram = static_cast<int>(n);
  } else if (key == "tc_no_ack_datagram") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a datagram number");
    f->tc_no_ack_datagram = static_cast<int>(n);
  } else if (key == "tc_split_frames") {
    if (!flag(&f->tc_split_frames)) return fail("expected 0 or 1");
  } else if (key == "tc_unplug_after_payload_bytes") {
    if (!number(-1, 0x7fffffff, &n)) return fail("expected a byte count or -1");
    f->tc_unplug_after_payload_bytes = n;
  } else if (key == "sf_ack_result") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a result code");
    f->sf_ack_result = static_cast<int>(n);
  } else if (key == "sf_final_result") {
    if (!number(0, 0x7fffffff, &n)) return fail("expected a result code");
    f->sf_final_result = static_cast<int>(n);
  } else if (key == "sf_no_return") {
    if (!flag(&f->sf_no_return)) return fail("expected 0 or 1");
  } else if (key == "sf_split_ok") {
    if (!flag(&f->sf_split_ok)) return fail("expected 0 or 1");
  } else if (key == "sf_stray_bytes") {
    f->sf_stray_bytes = Unescape(value);
  } else if (key == "tc_answer_result") {
    if (!number(0, 65535, &n)) return fail("expected 0 to 65535");
    f->tc_answer_result = static_cast<int>(n);
  } else {
    return fail("unknown fault");
  }
  return true;
}

}  // namespace tarvik_sim
