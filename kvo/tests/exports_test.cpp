// The shared library exports exactly the functions listed in exports/*.txt (one file per area of
// the interface): nothing missing, and nothing of the transport, the container interfaces or the
// library's internals leaking out.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "testing/files.h"
#include "testing/process.h"

namespace {

TEST(ExportsTest, LibraryExportsExactlyTheListedFunctions) {
  std::map<std::string, std::string> listed;  // name -> list file
  const auto dir = std::filesystem::path(TARVIK_SOURCE_DIR) / "kvo" / "tests" / "exports";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    for (const std::string& name :
         tarvik_test::SplitLines(tarvik_test::ReadFile(entry.path()), "\n", false)) {
      EXPECT_TRUE(listed.emplace(name, entry.path().filename()).second) << name << " listed twice";
      EXPECT_EQ(0u, name.rfind("Kvo", 0)) << "not a library function name: " << name;
    }
  }
  ASSERT_FALSE(listed.empty());

  const tarvik_test::ProcessResult nm = tarvik_test::RunProcess(
      {"nm", "-D", "--defined-only", std::string(TARVIK_LIB_DIR) + "/libkvo.so"}, {}, ".", "", 60);
  ASSERT_EQ(0, nm.exit_status) << nm.err;
  std::map<std::string, char> defined;  // name -> symbol type
  for (const std::string& text : tarvik_test::SplitLines(nm.out, "\n")) {
    std::istringstream line(text);
    std::string address, type, name;
    if (line >> address >> type >> name) defined[name] = type[0];
  }
  // The linker's markers of every shared object are no part of the interface.
  for (const char* marker : {"_init", "_fini", "_edata", "_end", "__bss_start"})
    defined.erase(marker);

  for (const auto& [name, type] : defined) {
    EXPECT_EQ(1u, listed.count(name)) << "exported but not listed: " << name;
    EXPECT_TRUE(type == 'T' || type == 'W') << name << " is not a function: " << type;
  }
  for (const auto& [name, file] : listed) {
    EXPECT_EQ(1u, defined.count(name)) << "listed in " << file << " but not exported: " << name;
  }
}

}  // namespace
