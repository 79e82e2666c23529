#include "tarvik_sim/module.h"

#include "module_impl.h"
#include "text.h"

namespace tarvik_sim {

Module::Module() : impl_(new Impl) {}
Module::~Module() {
  impl_->Stop();
}

bool Module::Start(const Profile& profile, const ModuleOptions& options, std::string* error) {
  return impl_->Start(profile, options, error);
}

void Module::Stop() {
  impl_->Stop();
}

std::string Module::AtLinkPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->options.map_dir + "/" + impl_->options.at_link_name;
}

std::string Module::SecondLinkPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->options.map_dir + "/" + impl_->options.second_link_name;
}

std::string Module::AtPortPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  const Impl::Port& port = impl_->ports[0];
  if (!port.present) return std::string();
  return port.port_name.empty() ? port.pty.slave_path : impl_->PortNamePath(port);
}

std::string Module::SecondPortPath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ports[1].present ? impl_->ports[1].pty.slave_path : std::string();
}

void Module::SetFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.SetFaults(faults);
  impl_->Event("faults changed");
  impl_->Wake();
}

Faults Module::GetFaults() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.state().faults;
}

void Module::Unplug(bool come_back) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Event("unplug requested");
  impl_->GoAway(come_back);
  impl_->Wake();
}

void Module::Rename(const std::string& at_link_name, const std::string& port_name) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.at_link_name = at_link_name;
  impl_->options.port_name = port_name;
  impl_->Event("next names: " + at_link_name + ", port " + port_name);
}

void Module::Plug() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->ComeBack();
  impl_->Wake();
}

void Module::Restart() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Event("restart requested");
  impl_->GoAway(true);
  impl_->Wake();
}

bool Module::IsPresent() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->present;
}

int Module::RestartCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->restart_count;
}

bool Module::EchoOn() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.state().echo;
}

bool Module::InTransparentChannel() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.state().mode == Mode::kTransparentChannel;
}

int Module::UpgradeState() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.state().profile.UpgradeState();
}

Profile Module::CurrentProfile() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.state().profile;
}

void Module::SetProfile(const Profile& profile) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.state().profile = profile;
  impl_->Persist(SaveUpdateState(profile));
  impl_->Wake();
}

void Module::SetUpgradeState(int state) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Effects effects;
  impl_->engine.upgrade().ChangeState(state, &effects);
  impl_->Apply(effects);
  impl_->Wake();
}

void Module::SendUnsolicited(const std::string& text) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Enqueue(0, text, 0, false, false);
  impl_->Wake();
}

std::vector<TranscriptEntry> Module::Transcript() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->transcript;
}

std::vector<std::string> Module::Commands() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<std::string> commands;
  for (const TranscriptEntry& entry : impl_->transcript) {
    if (entry.kind == TranscriptEntry::kCommand && entry.port == 0) commands.push_back(entry.data);
  }
  return commands;
}

void Module::ClearTranscript() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->transcript.clear();
}

bool Module::WaitForCommand(const std::string& command, int timeout_ms) const {
  const std::string wanted = text::Upper(command);
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    for (const TranscriptEntry& entry : impl_->transcript) {
      if (entry.kind == TranscriptEntry::kCommand && entry.port == 0 &&
          text::Upper(text::Trim(entry.data)) == wanted) {
        return true;
      }
    }
    return false;
  });
}

bool Module::WaitPresent(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return impl_->present; });
}

bool Module::WaitAway(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return !impl_->present; });
}

bool Module::WaitUpgradeState(int state, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return impl_->engine.state().profile.UpgradeState() == state;
  });
}

}  // namespace tarvik_sim
