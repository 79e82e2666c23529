// The console display of the update engine's events, in process: sequences of events against a
// golden file, and the keys the begin events wait for.

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "kvo.h"
#include "testing/files.h"
#include "testing/golden.h"
#include "updater/src/commands_update.h"
#include "updater/src/quarn.h"
#include "updater/tests/support/updater_support.h"

namespace {

// An event; quiet ones are sent with the quiet flag set.
struct Sent {
  KvoUpdateEventType type;
  int progress = 0;
  bool quiet = false;
};

struct Sequence {
  const char* name;
  std::vector<Sent> events;
};

const KvoUpdateEventType kUnknown = static_cast<KvoUpdateEventType>(12);

// clang-format off
const Sequence kSequences[] = {
  {"begin",                {{kKvoUpdateEventTypeBegin}}},
  {"resume",               {{kKvoUpdateEventTypeBeginResume}}},
  {"begin, confirmed",     {{kKvoUpdateEventTypeBeginConfirmationNeeded}}},
  {"resume, confirmed",    {{kKvoUpdateEventTypeBeginResumeConfirmationNeeded}}},
  {"progress in place",    {{kKvoUpdateEventTypeProgress, 0}, {kKvoUpdateEventTypeProgress, 50}, {kKvoUpdateEventTypeProgress, 100}}},
  {"a second transfer",    {{kKvoUpdateEventTypeProgress, 100}, {kKvoUpdateEventTypeReceivedUpdatePackages}, {kKvoUpdateEventTypeProgress, 40}, {kKvoUpdateEventTypeProgress, 80}}},
  {"one line a step",      {{kKvoUpdateEventTypeInstalling}, {kKvoUpdateEventTypeRestartNotified}, {kKvoUpdateEventTypeRestartConfirmationNeeded}, {kKvoUpdateEventTypeDeviceLost}, {kKvoUpdateEventTypeSuccess}, {kKvoUpdateEventTypeFailed}, {kUnknown}}},
  // Nothing shows and no key is taken, but the received packages are noted.
  {"quiet",                {{kKvoUpdateEventTypeBegin, 0, true}, {kKvoUpdateEventTypeProgress, 100, true}, {kKvoUpdateEventTypeReceivedUpdatePackages, 0, true}, {kKvoUpdateEventTypeProgress, 10}}},
};
// clang-format on

TEST(UpdateDisplayTest, EventSequencesShowTheirGoldenText) {
  // One key for each begin event that is not quiet, and one that must be left over.
  tarvik_test::TempDir dir;
  tarvik_test::WriteFile(dir.File("keys"), "1234x");
  ASSERT_NE(nullptr, freopen(dir.File("keys").c_str(), "r", stdin));

  std::string all;
  for (const Sequence& sequence : kSequences) {
    UpdateDisplayReset();
    updater_test::ConsoleCapture console;
    for (const Sent& sent : sequence.events) {
      KvoUpdateEvent event = {};
      event.type = sent.type;
      event.progress = static_cast<KvoPercent>(sent.progress);
      snprintf(event.information.model, sizeof event.information.model, "Tarvik Module T3");
      snprintf(event.information.current_configuration,
               sizeof event.information.current_configuration, "ZNT4028813/1 R3C01");
      snprintf(event.information.target_configuration,
               sizeof event.information.target_configuration, "ZNT4028813/1 R5E/1");
      quarn_quiet = sent.quiet;
      UpdateCallBack(0, &event, nullptr);
      quarn_quiet = false;
    }
    all += updater_test::Record(sequence.name, console.Text());
  }
  EXPECT_TRUE(tarvik_test::MatchesGolden(updater_test::GoldenPath("display.txt"), all));
  EXPECT_EQ('x', getchar());
  UpdateDisplayReset();
}

}  // namespace
