// The port driver's listing of the device map against odd link names and targets. Each input
// becomes a fresh map directory; the listing must keep exactly the candidate links, in name order,
// with identities and port names cut inside their arrays.
//
// Input: entries separated by '\n'; an entry is "<name>\t<target>" (a link), or starts with 0x01
// (a plain file) or 0x02 (a directory) followed by the name. Names holding '/' are skipped.

#include <apr_general.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "testing/fuzz.h"
#include "transport/src/common/common.h"
#include "transport/src/device/posix/serial.h"

namespace {

using tarvik_fuzz::Check;

std::string base;

bool IsCandidate(const std::string& lower) {
  return lower.find("mdm") != std::string::npos || lower.find("usbser") != std::string::npos ||
         lower.find("mgmt") != std::string::npos;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  base = tarvik_fuzz::ScratchDir("serial_list_fuzz");
  apr_initialize();
  if (TlInitialize() != kTlResultSuccess) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  const std::string map = base + "/map";
  tarvik_fuzz::RemoveTree(map);
  if (mkdir(map.c_str(), 0700) != 0) abort();
  setenv("TARVIK_DEVICE_MAP", map.c_str(), 1);

  // The links that exist after creation, by name, as the listing must see them.
  std::set<std::string> links;
  const std::string text(reinterpret_cast<const char*>(input), size);
  for (const std::string& entry : tarvik_fuzz::SplitAt(text, '\n')) {
    if (entry.empty()) continue;
    if (entry[0] == '\x01' || entry[0] == '\x02') {
      const std::string name = entry.substr(1);
      if (name.empty() || name.find('/') != std::string::npos ||
          name.find('\0') != std::string::npos)
        continue;
      const std::string path = map + "/" + name;
      if (entry[0] == '\x02') {
        mkdir(path.c_str(), 0700);
      } else {
        FILE* file = fopen(path.c_str(), "w");
        if (file != nullptr) fclose(file);
      }
      continue;
    }
    const size_t tab = entry.find('\t');
    const std::string name = entry.substr(0, tab);
    const std::string target = tab == std::string::npos ? name : entry.substr(tab + 1);
    if (name.empty() || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || target.find('\0') != std::string::npos) {
      continue;
    }
    if (symlink(target.c_str(), (map + "/" + name).c_str()) == 0) links.insert(name);
  }

  // Expected: the candidate links in ascending name order, identity the lower-cased name cut to
  // 31 characters.
  std::vector<std::string> expected;
  for (const std::string& name : links) {
    if (IsCandidate(Lower(name))) expected.push_back(Lower(name).substr(0, 31));
  }

  TlLocDeviceItem* list = nullptr;
  size_t length = 0;
  Check(TlLocDeviceSerialGetList(&list, &length) == kTlResultSuccess, "listing succeeds");
  Check(length == expected.size(), "every candidate link listed, nothing else");
  Check((list == nullptr) == (length == 0), "list pointer and length agree");
  for (size_t i = 0; i < length; ++i) {
    const TlLocDeviceItem& item = list[i];
    Check(memchr(item.unique_identifier, '\0', sizeof item.unique_identifier) != nullptr,
          "identity terminated");
    Check(memchr(item.device_name, '\0', sizeof item.device_name) != nullptr,
          "port name terminated");
    Check(expected[i] == item.unique_identifier, "identity and order");
    // The port name is a plain absolute path: no empty, "." or ".." parts.
    const std::string port = item.device_name;
    Check(!port.empty() && port[0] == '/', "port name absolute");
    if (port.size() < sizeof item.device_name - 1) {
      const std::string ended = port + "/";
      Check(ended.find("//") == std::string::npos || port == "/", "port name has no empty part");
      Check(ended.find("/./") == std::string::npos && ended.find("/../") == std::string::npos,
            "port name folded");
    }
    // The identity of a listed port is found again by its name (the first row of that name).
    TlDeviceUniqueIdentifier identity;
    memset(identity, 0, sizeof identity);
    char name[64];
    memcpy(name, item.device_name, sizeof name);
    TlLocDeviceSerialGetUniqueIdentifier(&name, &identity);
    size_t first = 0;
    while (strncmp(list[first].device_name, item.device_name, sizeof name) != 0) ++first;
    Check(strcmp(identity, list[first].unique_identifier) == 0, "identity found by port name");
  }
  TlLocDeviceSerialReleaseList(list);
  return 0;
}
