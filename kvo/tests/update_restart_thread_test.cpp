// The update engine and the transport's receive thread meet when the module goes away during an
// update: the port-failure notice, the listener that the AT channel drops with the port, and the
// reopen. Run under the thread sanitizer.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "kvo.h"
#include "kvo/tests/update_fixture.h"

namespace kvo_test {
namespace {

using E = KvoUpdateEventType;

// Long enough for the receive thread (one poll a second, shortened 50 times) to see a port fail.
void LetTheReceiveThreadNotice() {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// The module drops its port after reporting that it restarts, before the engine closes it: the
// AT channel removes the engine's listener with the port. A completed update must still end in
// success, and the engine must hear the module again after the reopen.
TEST_F(UpdateTest, ModuleDroppingItsPortBeforeTheEngineClosesItStillCompletes) {
  hooks_[kKvoUpdateEventTypeRestartNotified] = [this] {
    module_.Unplug();
    LetTheReceiveThreadNotice();
  };
  ASSERT_EQ(kKvoResultSuccess,
            RunUpdate(tarvik_sim::DefaultProfile(), tarvik_test::kCarriedContainer));
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
  EXPECT_EQ("R5E/1", module_.CurrentProfile().Get("Config. Set Revision"));
  // The listener is gone after the run: registering it must find a free table again, and a second
  // update on the same handle works.
  events_.clear();
  hooks_.clear();
  EXPECT_EQ(kKvoResultUpdateErrorNoUpdateNeeded,
            RunUpdateOnOpenHandle(tarvik_test::kCarriedContainer));
}

// A module lost while the engine waits for news: the application hears of the loss, the engine
// reopens the module, switches its state messages on again and follows it to the end.
TEST_F(UpdateTest, DeviceLostWhileWaitingIsReopenedAndFollowedToTheEnd) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.self_restart = false;  // state 4 after installing: the module waits for a restart
  allow_restart_ = false;        // ... which the application does not give
  std::thread unplug;
  hooks_[kKvoUpdateEventTypeRestartConfirmationNeeded] = [this, &unplug] {
    // Leave the engine waiting for news, then take the module away (once: the engine asks again
    // each time it finds the module still waiting).
    if (unplug.joinable()) return;
    unplug = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      module_.Unplug();
    });
  };
  const KvoResult result = RunUpdate(profile, tarvik_test::kCarriedContainer);
  if (unplug.joinable()) unplug.join();
  ASSERT_EQ(kKvoResultSuccess, result);
  const std::vector<E> steps = Steps();
  ASSERT_GE(steps.size(), 2u);
  EXPECT_NE(steps.end(), std::find(steps.begin(), steps.end(), kKvoUpdateEventTypeDeviceLost));
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, steps.back());
  // State events were switched on again after the reopen.
  const std::vector<std::string> commands = module_.Commands();
  EXPECT_GE(std::count(commands.begin(), commands.end(), "AT*EEUSTATE=1"), 2);
}

// A state line that arrives while the engine is busy is not lost, and a line that comes in the
// same read as another is taken in order.
TEST_F(UpdateTest, StateLinesArrivingDuringAnActionAreNotLost) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.install_ms = 50;  // 3 and 5 follow each other while the engine still sends
  ASSERT_EQ(kKvoResultSuccess, RunUpdate(profile, tarvik_test::kCarriedContainer));
  EXPECT_EQ(kKvoUpdateEventTypeSuccess, events_.back().type);
}

}  // namespace
}  // namespace kvo_test
