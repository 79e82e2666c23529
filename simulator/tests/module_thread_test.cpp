// The in-process API used from several threads while hosts talk to the module.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "simulator/tests/support/running_module.h"
#include "tarvik_sim/control.h"
#include "tarvik_sim/module.h"
#include "testing/files.h"

namespace {

using tarvik_sim::Profile;
using tarvik_sim_test::RawClient;
using tarvik_sim_test::RunningModule;

TEST(ModuleThreadTest, ApiCallsFromManyThreadsWhileAHostTalks) {
  RunningModule sim;
  Profile profile = tarvik_sim::DefaultProfile();
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
        switch ((i + t) % 6) {
          case 0: {
            tarvik_sim::Faults faults;
            faults.answer_delay_ms = i % 3;
            sim.module.SetFaults(faults);
            break;
          }
          case 1:
            sim.module.SetUpgradeState(i % 14);
            break;
          case 2:
            EXPECT_GE(sim.module.Transcript().size(), 0u);
            sim.module.Commands();
            break;
          case 3: {
            std::string reply;
            EXPECT_TRUE(tarvik_sim::RunControlLine(&sim.module,
                                                   "set temperature=" + std::to_string(i), &reply))
                << reply;
            break;
          }
          case 4:
            if (i % 12 == 4) sim.module.Restart();
            sim.module.IsPresent();
            sim.module.AtPortPath();
            break;
          default:
            sim.module.SendUnsolicited("\r\n*PING\r\n");
            sim.module.CurrentProfile();
            break;
        }
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
  ASSERT_TRUE(sim.module.WaitPresent(3000));
  ASSERT_TRUE(client.Open(sim.module.AtLinkPath()));
  EXPECT_NE(client.Command("\r\nAT").find("OK\r\n"), std::string::npos);
}

TEST(ModuleThreadTest, TwoModulesInOneDirectoryAnswerIndependently) {
  tarvik_test::TempDir dir;
  tarvik_sim::Module first;
  tarvik_sim::Module second;
  tarvik_sim::ModuleOptions options;
  options.map_dir = dir.path();
  std::string error;
  ASSERT_TRUE(first.Start(tarvik_sim::CaltProfile(), options, &error)) << error;
  options.at_link_name = "usb-Tarvik_Module_0002-if00-mdm";
  options.second_link_name = "usb-Tarvik_Module_0002-if02-diag";
  ASSERT_TRUE(second.Start(tarvik_sim::DovinProfile(), options, &error)) << error;
  std::vector<std::thread> hosts;
  std::atomic<int> good(0);
  for (tarvik_sim::Module* module : {&first, &second}) {
    hosts.emplace_back([module, &good] {
      RawClient client;
      if (!client.Open(module->AtLinkPath())) return;
      client.Command("ATE0");
      const std::string expected = module->CurrentProfile().Get("Product Number");
      for (int i = 0; i < 20; ++i) {
        if (client.Command("AT*EEVINFO=99").find(expected) != std::string::npos) ++good;
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  EXPECT_EQ(good.load(), 40);
}

}  // namespace
