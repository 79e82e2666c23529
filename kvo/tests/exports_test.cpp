// The shared library must export exactly the names listed in exports/*.txt (one per area of the
// interface): nothing missing, and nothing of the transport, the container interfaces or the
// library's internals leaking out.

#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "testing/files.h"
#include "testing/process.h"

namespace {

namespace fs = std::filesystem;

struct Symbol {
  char type;
  std::string name;
};

std::string Trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// Listed names by file; blank lines and lines starting with '#' are skipped.
std::map<std::string, std::string> ListedNames() {
  std::map<std::string, std::string> names;  // name -> file
  const fs::path dir = fs::path(TARVIK_SOURCE_DIR) / "kvo" / "tests" / "exports";
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".txt") continue;
    for (const std::string& line :
         tarvik_test::SplitLines(tarvik_test::ReadFile(entry.path().string()), "\n")) {
      const std::string name = Trimmed(line);
      if (name.empty() || name[0] == '#') continue;
      const auto [it, inserted] = names.emplace(name, entry.path().filename().string());
      EXPECT_TRUE(inserted) << name << " is listed in " << it->second << " and "
                            << entry.path().filename();
    }
  }
  return names;
}

// Defined dynamic symbols of the library, as nm reports them.
std::map<std::string, char> DefinedSymbols(const std::string& library) {
  std::map<std::string, char> symbols;
  const tarvik_test::ProcessResult nm =
      tarvik_test::RunProcess({"nm", "-D", "--defined-only", library}, {}, ".", "", 60);
  EXPECT_EQ(nm.exit_status, 0) << "nm -D --defined-only " << library << "\n" << nm.err;
  for (const std::string& text : tarvik_test::SplitLines(nm.out, "\n")) {
    std::istringstream line(text);
    std::string address, type, name;
    if (line >> address >> type >> name) symbols[name] = type[0];
  }
  return symbols;
}

TEST(ExportsTest, LibraryExportsExactlyTheListedFunctions) {
  const std::string library = std::string(TARVIK_LIB_DIR) + "/libkvo.so";
  ASSERT_TRUE(fs::exists(library)) << library;
  const auto listed = ListedNames();
  ASSERT_FALSE(listed.empty());
  const auto defined = DefinedSymbols(library);
  ASSERT_FALSE(defined.empty());

  // Linker-made markers of every shared object; not part of the interface.
  const std::set<std::string> markers = {"_init", "_fini", "_edata", "_end", "__bss_start"};

  for (const auto& [name, type] : defined) {
    if (markers.count(name) != 0) continue;
    EXPECT_TRUE(listed.count(name) != 0)
        << "exported but not listed: " << name << " (" << type << ")";
    if (listed.count(name) != 0) {
      EXPECT_TRUE(type == 'T' || type == 'W') << name << " is not a function: " << type;
    }
  }
  for (const auto& [name, file] : listed) {
    EXPECT_TRUE(defined.count(name) != 0) << "listed in " << file << " but not exported: " << name;
    EXPECT_EQ(name.rfind("Kvo", 0), 0u) << "not a library function name: " << name;
  }
}

}  // namespace
