#include "tarvik_sim/upgrade_machine.h"

#include <algorithm>

namespace tarvik_sim {
namespace {

constexpr int kEnterInstallingMs = 100;  // a net configuration needing no package

}  // namespace

std::vector<Package> MissingPackages(const Profile& profile) {
  std::vector<Package> missing;
  for (const Package& package : profile.wanted_packages) {
    if (std::find(profile.received_packages.begin(), profile.received_packages.end(),
                  package.name) == profile.received_packages.end()) {
      missing.push_back(package);
    }
  }
  return missing;
}

void UpgradeMachine::ChangeState(int state, Effects* effects) {
  state_.profile.SetUpgradeState(state);
  effects->Event("upgrade state " + std::to_string(state));
  effects->Persist(SaveUpdateState(state_.profile));
  if (state_.ustate_reports) {
    QueueUnsolicited(state_, "\r\n*EEUSTATE:1," + std::to_string(state) + "\r\n", effects);
  }
}

uint16_t UpgradeMachine::OnPayload(const std::string& payload, Effects* effects) {
  Profile& profile = state_.profile;
  const size_t length = payload.size();
  const int state = profile.UpgradeState();
  const Package* net_config = nullptr;
  for (const Package& package : KnownNetConfigurations()) {
    if (package.length == length) net_config = &package;
  }
  if (net_config != nullptr && (state == 0 || state == 1 || state == 2)) {
    if (state == 2 && profile.target_revision == net_config->name) {
      effects->Event("net configuration " + net_config->name + " again");
      return 0;
    }
    if (profile.target_revision.empty()) {
      state_.revision_before_update = profile.Get("Config. Set Revision");
    }
    profile.target_revision = net_config->name;
    profile.Set("Config. Set Revision", net_config->name);
    profile.received_packages.clear();
    effects->Event("net configuration for " + net_config->name + " received");
    ChangeState(2, effects);
    if (MissingPackages(profile).empty()) {
      effects->StartTimer(Timer::kEnterInstalling, kEnterInstallingMs);
    }
    return 0;
  }
  if (state == 2) {
    for (const Package& package : MissingPackages(profile)) {
      if (package.length == length) {
        profile.received_packages.push_back(package.name);
        effects->Event("package " + package.name + " received");
        effects->Persist(SaveUpdateState(profile));
        if (MissingPackages(profile).empty()) StartInstalling(effects);
        return 0;
      }
    }
    effects->Event("payload of " + std::to_string(length) +
                   " bytes matches no package still wanted");
    return 255;
  }
  if (state == 0 || state == 1) {
    effects->Event("payload of " + std::to_string(length) + " bytes accepted");
    return 0;
  }
  effects->Event("payload of " + std::to_string(length) + " bytes refused in state " +
                 std::to_string(state));
  return 255;
}

void UpgradeMachine::StartInstalling(Effects* effects) {
  effects->StopTimer(Timer::kEnterInstalling);
  ChangeState(3, effects);
  effects->StartTimer(Timer::kInstallDone, state_.profile.install_ms);
}

void UpgradeMachine::InstallDone(Effects* effects) {
  if (state_.profile.self_restart) {
    ChangeState(5, effects);
    effects->StartTimer(Timer::kSelfRestart, state_.profile.self_restart_ms);
  } else {
    ChangeState(4, effects);
  }
}

void UpgradeMachine::OnTimer(Timer timer, Effects* effects) {
  switch (timer) {
    case Timer::kEnterInstalling:
      StartInstalling(effects);
      break;
    case Timer::kInstallDone:
      InstallDone(effects);
      break;
    case Timer::kSelfRestart:
      effects->Event("restarting by itself");
      effects->GoAway();
      break;
    default:
      break;
  }
}

void UpgradeMachine::FinishInstallation(Effects* effects) {
  Profile& profile = state_.profile;
  if (profile.keep_revision && !state_.revision_before_update.empty()) {
    profile.Set("Config. Set Revision", state_.revision_before_update);
  } else if (!profile.target_revision.empty()) {
    profile.Set("Config. Set Revision", profile.target_revision);
  }
  profile.target_revision.clear();
  profile.received_packages.clear();
  profile.SetUpgradeState(1);
  effects->Event("installation complete, revision " + profile.Get("Config. Set Revision"));
  effects->Persist(SaveUpdateState(profile));
}

void UpgradeMachine::OnRestart(Effects* effects) {
  const int state = state_.profile.UpgradeState();
  if (state == 3 || state == 4 || state == 5) FinishInstallation(effects);
  effects->StopTimer(Timer::kInstallDone);
  effects->StopTimer(Timer::kSelfRestart);
}

}  // namespace tarvik_sim
