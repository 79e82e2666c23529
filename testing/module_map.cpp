#include "testing/module_map.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik_test {
namespace {

// Options for a module whose AT link is `link_name`: its second link gets a name of its own that is
// no port candidate, so that several modules share a map.
tarvik_sim::ModuleOptions LinkNames(const std::string& link_name) {
  tarvik_sim::ModuleOptions options;
  if (link_name.empty()) return options;
  options.at_link_name = link_name;
  options.second_link_name = link_name + "-second";
  for (const char* word : {"mdm", "usbser", "mgmt"}) {
    size_t at = 0;
    while ((at = options.second_link_name.find(word)) != std::string::npos) {
      options.second_link_name.replace(at, strlen(word), "port");
    }
  }
  return options;
}

}  // namespace

ModuleMap::ModuleMap() : own_dir_(new TempDir), dir_(own_dir_->path()) {}

ModuleMap::ModuleMap(const std::string& dir) : dir_(dir) {
  mkdir(dir_.c_str(), 0700);
}

ModuleMap::~ModuleMap() {
  for (auto& module : modules_) module->Stop();
}

bool ModuleMap::Start(tarvik_sim::Module* module, const tarvik_sim::Profile& profile,
                      tarvik_sim::ModuleOptions options, std::string* error) {
  options.map_dir = dir_;
  std::string reason;
  if (module->Start(profile, options, &reason)) return true;
  if (error != nullptr) {
    *error = reason;
  } else {
    ADD_FAILURE() << "simulated module did not start: " << reason;
  }
  return false;
}

tarvik_sim::Module* ModuleMap::Add(const tarvik_sim::Profile& profile,
                                   const std::string& link_name) {
  auto module = std::make_unique<tarvik_sim::Module>();
  if (!Start(module.get(), profile, LinkNames(link_name))) return nullptr;
  modules_.push_back(std::move(module));
  return modules_.back().get();
}

void ModuleMap::AddDeadLink(const std::string& link_name) {
  const std::string target = dir_ + "/no-such-port";
  if (symlink(target.c_str(), (dir_ + "/" + link_name).c_str()) != 0) {
    ADD_FAILURE() << "cannot create link " << link_name;
  }
}

}  // namespace tarvik_test
