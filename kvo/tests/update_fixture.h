#ifndef KVO_TESTS_UPDATE_FIXTURE_H_
#define KVO_TESTS_UPDATE_FIXTURE_H_

// The update engine driven as an application drives it, against a simulated module.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kvo.h"
#include "kvo/tests/device_sim_fixture.h"
#include "testing/paths.h"

namespace kvo_test {

// Records the update's events and answers the confirmation events as an application would. A
// hook runs inside the event, on the update's thread, between the engine's steps.
class UpdateTest : public LibraryTest {
 protected:
  void TearDown() override {
    KvoUpdateRegisterCallback(0, nullptr, nullptr);
    LibraryTest::TearDown();
  }

  static void OnEvent(KvoDeviceHandle handle, KvoUpdateEvent* event, const void* client_data) {
    auto* self = static_cast<UpdateTest*>(const_cast<void*>(client_data));
    self->events_.push_back(*event);
    auto hook = self->hooks_.find(event->type);
    if (hook != self->hooks_.end()) hook->second();
    if (event->type == kKvoUpdateEventTypeBeginConfirmationNeeded ||
        event->type == kKvoUpdateEventTypeBeginResumeConfirmationNeeded) {
      if (self->confirm_) self->allow_begin_result_ = KvoUpdateAllowBegin(handle, true);
    } else if (event->type == kKvoUpdateEventTypeRestartConfirmationNeeded) {
      if (self->allow_restart_) KvoUpdateAllowRestart(handle, true);
    }
  }

  // Opens a module started with `profile` and runs a whole update with `container`.
  KvoResult RunUpdate(const tarvik_sim::Profile& profile,
                      const std::string& container = tarvik_test::kCarriedContainer) {
    handle_ = StartAndOpen(profile);
    return RunUpdateOnOpenHandle(container);
  }

  KvoResult RunUpdateOnOpenHandle(const std::string& container = tarvik_test::kCarriedContainer) {
    EXPECT_EQ(kKvoResultSuccess, KvoUpdateRegisterCallback(handle_, OnEvent, this));
    return KvoUpdateStart(handle_, container.c_str());
  }

  // Runs an update that must end by itself within `ms`; one that does not is ended by taking its
  // module away for good, which fails whatever the test expected.
  KvoResult RunWithin(int ms, const std::function<KvoResult()>& run) {
    std::promise<void> ended;
    std::thread watchdog([this, ms, done = ended.get_future()] {
      if (done.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready) return;
      ADD_FAILURE() << "the update did not end within " << ms << " ms";
      module_.Unplug(false);
    });
    const KvoResult result = run();
    ended.set_value();
    watchdog.join();
    return result;
  }

  // The event types in order, progress events left out.
  std::vector<KvoUpdateEventType> Steps() const {
    std::vector<KvoUpdateEventType> types;
    for (const KvoUpdateEvent& e : events_) {
      if (e.type != kKvoUpdateEventTypeProgress) types.push_back(e.type);
    }
    return types;
  }

  std::vector<int> Progress() const {
    std::vector<int> values;
    for (const KvoUpdateEvent& e : events_) {
      if (e.type == kKvoUpdateEventTypeProgress) values.push_back(e.progress);
    }
    return values;
  }

  KvoDeviceHandle handle_ = 0;
  std::vector<KvoUpdateEvent> events_;
  std::map<KvoUpdateEventType, std::function<void()>> hooks_;
  bool confirm_ = true;
  bool allow_restart_ = true;
  KvoResult allow_begin_result_ = kKvoResultGeneralErrorUnknown;
};

// A module on configuration set R3C01 that wants the confirming test container's three packages.
inline tarvik_sim::Profile ConfirmContainerProfile() {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.wanted_packages = {
      {"TEST_PACKAGE_100.ZIP", 100}, {"TEST_PACKAGE_200.ZIP", 200}, {"TEST_PACKAGE_700.ZIP", 700}};
  return profile;
}

}  // namespace kvo_test

#endif  // KVO_TESTS_UPDATE_FIXTURE_H_
