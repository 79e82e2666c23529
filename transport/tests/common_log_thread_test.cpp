// The logger under several threads: whole lines, in each thread's order, while masks change and
// the file is reopened.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "transport/src/common/common.h"
#include "transport/tests/common_log_fixture.h"

namespace {

constexpr int kThreads = 6;
constexpr int kLines = 60;

std::string Payload(int thread) {
  return std::string(300 + 40 * thread, static_cast<char>('a' + thread));
}

class TlLogThreadTest : public tl_test::LogFixture {};

TEST_F(TlLogThreadTest, LinesOfManyThreadsNeverInterleave) {
  const std::string path = PathOf("threads.log");
  TlSetLogFile(path.c_str());
  ASSERT_EQ(kTlResultSuccess, TlInitialize());
  std::atomic<bool> go{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &go, &failures] {
      while (!go) std::this_thread::yield();
      const std::string sender = "T" + std::to_string(t);
      for (int n = 0; n < kLines; ++n) {
        if (TlLogInfo(sender.c_str(), "thread %d line %d %s", t, n, Payload(t).c_str()) != 0) {
          ++failures;
        }
      }
    });
  }
  // Meanwhile masks change and the file is reopened: whole lines still land around each banner.
  threads.emplace_back([&go, &path] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 10; ++i) {
      TlSetLogTypesForScreen(i % 2 ? kTlLogTypeMaskNone : kTlLogTypeMaskDefaultScreen);
      TlSetLogTypesForFile(kTlLogTypeMaskDefaultFile);
      EXPECT_EQ(kTlResultSuccess, TlSetLogFile(path.c_str()));
    }
  });
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());

  std::string text = ReadFile(path);
  EXPECT_EQ(11u, tarvik_test::CountOf(text, tl_test::kBanner));
  for (size_t at; (at = text.find(tl_test::kBanner)) != text.npos;) {
    text.erase(at, sizeof tl_test::kBanner - 1);
  }
  // Each line is whole, and each thread's lines come in the order it wrote them.
  int next[kThreads] = {};
  for (const std::string& line : tarvik_test::SplitKeepingEnds(text)) {
    const int t = line.size() > 36 ? line[36] - '0' : -1;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 120);
    const std::string message = "thread " + std::to_string(t) + " line " +
                                std::to_string(next[t]++) + " " + Payload(t) + "\r\n";
    ASSERT_EQ("T" + std::to_string(t) + std::string(18, ' ') + "INFO      " + message,
              line.substr(35));
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kLines, next[t]) << t;
}

}  // namespace
