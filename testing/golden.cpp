#include "testing/golden.h"

#include <stdio.h>
#include <stdlib.h>

#include "testing/files.h"

namespace tarvik_test {

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\b') {
      out += "\\b";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

::testing::AssertionResult MatchesGolden(const std::string& path, const std::string& actual) {
  const char* update = getenv("TARVIK_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    if (!WriteFile(path, actual)) return ::testing::AssertionFailure() << "cannot write " << path;
    return ::testing::AssertionSuccess();
  }
  if (!FileExists(path)) {
    return ::testing::AssertionFailure()
           << path << " is missing (TARVIK_UPDATE_GOLDEN=1 writes it from the actual text)";
  }
  const std::string expected = ReadFile(path);
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const size_t from = at > 80 ? at - 80 : 0;
  return ::testing::AssertionFailure()
         << path << " differs at byte " << at << " (golden " << expected.size() << " bytes, actual "
         << actual.size() << ")\n  golden: ..." << Escaped(expected.substr(from, 160))
         << "\n  actual: ..." << Escaped(actual.substr(from, 160));
}

}  // namespace tarvik_test
