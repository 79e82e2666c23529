// The in-process API used from several threads while a host talks to the module and it restarts.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "simulator/tests/support/raw_client.h"
#include "tarvik_sim/control.h"
#include "tarvik_sim/module.h"

namespace {

using tarvik_sim_test::RawClient;

TEST(ModuleThreadTest, ApiCallsFromManyThreadsWhileAHostTalks) {
  tarvik_sim_test::RunningModule sim;
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  profile.restart_away_ms = 50;
  std::string error;
  ASSERT_TRUE(sim.Start(profile, &error)) << error;
  sim.client.Close();

  std::atomic<bool> stop(false);
  std::atomic<int> answers(0);
  std::thread host([&] {
    RawClient client;
    while (!stop) {
      if (!client.IsOpen() || client.HungUp()) {
        client.Close();
        if (!sim.module.WaitPresent(1000) || !client.Open(sim.module.AtLinkPath())) continue;
      }
      if (client.Command("AT*EEVINFO=4", 500).find("OK\r\n") != std::string::npos) ++answers;
    }
  });
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        std::string reply;
        const std::string lines[] = {
            "fault answer_delay_ms=" + std::to_string(i % 3), "state " + std::to_string(i % 14),
            "set temperature=" + std::to_string(i), i % 12 == 3 ? "restart" : "commands?",
            "unsolicited \\r\\n*PING"};
        EXPECT_TRUE(tarvik_sim::RunControlLine(&sim.module, lines[(i + t) % 5], &reply)) << reply;
        sim.module.CurrentProfile();
        sim.module.AtPortPath();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  ASSERT_TRUE(sim.module.WaitPresent(3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop = true;
  host.join();
  EXPECT_GT(answers.load(), 0);
  // Whatever happened, the module still answers.
  sim.module.SetFaults(tarvik_sim::Faults());
  RawClient client;
  ASSERT_TRUE(client.Open(sim.module.AtLinkPath()));
  EXPECT_NE(client.Command("\r\nAT").find("OK\r\n"), std::string::npos);
}

}  // namespace
