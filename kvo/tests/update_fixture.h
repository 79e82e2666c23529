#ifndef KVO_TESTS_UPDATE_FIXTURE_H_
#define KVO_TESTS_UPDATE_FIXTURE_H_

// The update engine against a simulated module: records every update event, answers the
// confirmation events as an application would, and lets a test act on the module from inside an
// event (the callback runs on the update's thread, between the engine's steps).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kvo.h"
#include "kvo/tests/device_sim_fixture.h"
#include "tarvik_sim/module.h"
#include "tarvik_sim/profile.h"
#include "testing/paths.h"

namespace kvo_test {

struct RecordedEvent {
  KvoUpdateEventType type;
  KvoUpdateType information_type;
  std::string model;
  std::string current;
  std::string target;
  int progress;
};

class UpdateTest : public LibraryTest {
 protected:
  void TearDown() override {
    KvoUpdateRegisterCallback(0, nullptr, nullptr);
    LibraryTest::TearDown();
  }

  static void OnEvent(KvoDeviceHandle handle, KvoUpdateEvent* event, const void* client_data) {
    auto* self = static_cast<UpdateTest*>(const_cast<void*>(client_data));
    self->events_.push_back({event->type, event->information.type, event->information.model,
                             event->information.current_configuration,
                             event->information.target_configuration, event->progress});
    auto hook = self->hooks_.find(event->type);
    if (hook != self->hooks_.end()) hook->second();
    if (event->type == kKvoUpdateEventTypeBeginConfirmationNeeded ||
        event->type == kKvoUpdateEventTypeBeginResumeConfirmationNeeded) {
      if (self->confirm_) self->allow_begin_result_ = KvoUpdateAllowBegin(handle, true);
    } else if (event->type == kKvoUpdateEventTypeRestartConfirmationNeeded) {
      if (self->allow_restart_) KvoUpdateAllowRestart(handle, true);
    }
  }

  // Opens the module started with `profile` and runs a whole update with `container`.
  KvoResult RunUpdate(const tarvik_sim::Profile& profile, const std::string& container) {
    handle_ = StartAndOpen(profile);
    return RunUpdateOnOpenHandle(container);
  }

  KvoResult RunUpdateOnOpenHandle(const std::string& container) {
    EXPECT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(handle_, OnEvent, this));
    return KvoUpdateStart(handle_, container.c_str());
  }

  std::vector<KvoUpdateEventType> EventTypes() const {
    std::vector<KvoUpdateEventType> types;
    for (const RecordedEvent& e : events_) types.push_back(e.type);
    return types;
  }

  // The event types without progress events, in order.
  std::vector<KvoUpdateEventType> Steps() const {
    std::vector<KvoUpdateEventType> types;
    for (const RecordedEvent& e : events_) {
      if (e.type != kKvoUpdateEventTypeProgress) types.push_back(e.type);
    }
    return types;
  }

  std::vector<int> Progress() const {
    std::vector<int> values;
    for (const RecordedEvent& e : events_) {
      if (e.type == kKvoUpdateEventTypeProgress) values.push_back(e.progress);
    }
    return values;
  }

  bool ModuleGot(const std::string& command) const {
    const std::vector<std::string> commands = module_.Commands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
  }

  KvoDeviceHandle handle_ = 0;
  std::vector<RecordedEvent> events_;
  std::map<KvoUpdateEventType, std::function<void()>> hooks_;
  bool confirm_ = true;
  bool allow_restart_ = true;
  KvoResult allow_begin_result_ = kKvoResultGeneralErrorUnknown;
};

// A module on configuration set R3C01 (the default) that wants the test container's packages.
inline tarvik_sim::Profile ConfirmContainerProfile() {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.wanted_packages = {
      {"TEST_PACKAGE_100.ZIP", 100}, {"TEST_PACKAGE_200.ZIP", 200}, {"TEST_PACKAGE_700.ZIP", 700}};
  return profile;
}

}  // namespace kvo_test

#endif  // KVO_TESTS_UPDATE_FIXTURE_H_
