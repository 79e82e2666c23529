// The update engine and the transport's receive thread meet when the module goes away during an
// update: the port-failure notice, the listener that the AT channel drops with the port, and the
// reopen. Run under the thread sanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kvo/src/update/update.h"
#include "kvo/tests/update_fixture.h"
#include "transport/src/at/at.h"

namespace {

using kvo_test::Sent;
using kvo_test::UpdateTest;

// Long enough for the receive thread (one poll a second, shortened 50 times) to see a port fail.
void LetTheReceiveThreadNotice() {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// The module drops its port after reporting that it restarts, before the engine closes it: the
// AT channel removes the engine's listener with the port. The update still ends in success, and a
// second run on the same handle finds the listener table free.
TEST_F(UpdateTest, ModuleDroppingItsPortBeforeTheEngineClosesItStillCompletes) {
  hooks_[kKvoUpdateEventTypeRestartNotified] = [this] {
    module_.Unplug();
    LetTheReceiveThreadNotice();
  };
  ASSERT_EQ(kKvoResultSuccess, RunUpdate(tarvik_sim::DefaultProfile()));
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
  hooks_.clear();
  EXPECT_EQ(kKvoResultUpdateErrorNoUpdateNeeded, RunUpdateOnOpenHandle());
}

// A module lost while the engine waits for news: the application hears of the loss, the engine
// reopens the module, switches its state messages on again and follows it to the end.
TEST_F(UpdateTest, DeviceLostWhileWaitingIsReopenedAndFollowedToTheEnd) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.self_restart = false;  // state 4 after installing: the module waits for a restart
  allow_restart_ = false;        // ... which the application does not give
  std::thread unplug;
  hooks_[kKvoUpdateEventTypeRestartConfirmationNeeded] = [this, &unplug] {
    // Take the module away while the engine waits for news (once: it asks again each time it
    // finds the module still waiting).
    if (unplug.joinable()) return;
    unplug = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      module_.Unplug();
    });
  };
  const KvoResult result = RunUpdate(profile);
  if (unplug.joinable()) unplug.join();
  ASSERT_EQ(kKvoResultSuccess, result);
  const std::vector<KvoUpdateEventType> steps = Steps();
  EXPECT_NE(steps.end(), std::find(steps.begin(), steps.end(), kKvoUpdateEventTypeDeviceLost));
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, steps.back());
  EXPECT_GE(Sent(module_, "AT*EEUSTATE=1"), 2);
}

// A state line that arrives while the engine is busy is not lost, nor one that comes in the same
// read as another.
TEST_F(UpdateTest, StateLinesArrivingDuringAnActionAreNotLost) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.install_ms = 50;  // 3 and 5 follow each other while the engine still sends
  ASSERT_EQ(kKvoResultSuccess, RunUpdate(profile));
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
}

// The engine's listener left in a slot (as a handle released by a failed reopen can leave it)
// hears state lines while update runs come and go: it must only ever see a run whose mutex and
// condition both exist.
TEST_F(UpdateTest, ListenerCallsBetweenAndDuringRunsAreSafe) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.Set("Config. Set Revision", "R5E/1");  // each run ends at once: no update needed
  handle_ = StartAndOpen(profile);
  ASSERT_EQ(kTlResultSuccess, TlAtRegisterCallback(handle_, UpdateHandleCallbacks, "stale"));
  std::atomic<bool> done{false};
  std::thread reports([this, &done] {
    while (!done) {
      module_.SendUnsolicited("\r\n*EEUSTATE:1,1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  for (int run = 0; run < 8; ++run) {
    EXPECT_EQ(kKvoResultUpdateErrorNoUpdateNeeded, RunUpdateOnOpenHandle());
    LetTheReceiveThreadNotice();  // lines heard between runs too
  }
  done = true;
  reports.join();
  EXPECT_EQ(kTlResultSuccess, TlAtUnregisterCallback(handle_, UpdateHandleCallbacks));
}

}  // namespace
