#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "transport/src/common/common.h"
#include "transport/tests/common_log_fixture.h"

namespace {

using tarvik_test::SplitKeepingEnds;

constexpr int kThreads = 6;
constexpr int kLinesPerThread = 60;

std::string Payload(int thread) {
  return std::string(300 + 40 * thread, 'a' + thread);
}

// Parses "thread T line N <payload>" after the columns; false for anything else.
bool ParseMessage(const std::string& line, int* thread, int* number) {
  if (line.size() < 65 + 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) return false;
  const std::string message = line.substr(65, line.size() - 67);
  char payload_start = 0;
  if (sscanf(message.c_str(), "thread %d line %d %c", thread, number, &payload_start) != 3) {
    return false;
  }
  if (*thread < 0 || *thread >= kThreads) return false;
  const std::string expected = "thread " + std::to_string(*thread) + " line " +
                               std::to_string(*number) + " " + Payload(*thread);
  return message == expected && line.compare(35, 30,
                                             std::string("T") + std::to_string(*thread) +
                                                 std::string(18, ' ') + "INFO      ") == 0;
}

class TlLogThreadTest : public tl_test::LogFixture {};

TEST_F(TlLogThreadTest, LinesOfManyThreadsNeverInterleave) {
  const std::string path = PathOf("threads.log");
  TlSetLogFile(path.c_str());
  ASSERT_EQ(TlInitialize(), kTlResultSuccess);

  std::atomic<bool> go{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &go, &failures] {
      while (!go.load()) std::this_thread::yield();
      const std::string sender = "T" + std::to_string(t);
      const std::string payload = Payload(t);
      for (int n = 0; n < kLinesPerThread; ++n) {
        if (TlLogInfo(sender.c_str(), "thread %d line %d %s", t, n, payload.c_str()) !=
            kTlResultSuccess) {
          ++failures;
        }
      }
    });
  }
  // Meanwhile masks change and the file is reopened: whole lines still land around each banner.
  std::thread changer([&go, &path] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < 10; ++i) {
      TlSetLogTypesForScreen(i % 2 ? kTlLogTypeMaskNone : kTlLogTypeMaskDefaultScreen);
      TlSetLogTypesForFile(kTlLogTypeMaskDefaultFile);
      EXPECT_EQ(TlSetLogFile(path.c_str()), kTlResultSuccess);
      std::this_thread::yield();
    }
  });
  go.store(true);
  for (auto& thread : threads) thread.join();
  changer.join();
  EXPECT_EQ(failures.load(), 0);

  std::string text = ReadFile(path);
  size_t banners = 0;
  for (size_t at = text.find(tl_test::kBanner); at != std::string::npos;
       at = text.find(tl_test::kBanner)) {
    text.erase(at, sizeof(tl_test::kBanner) - 1);
    ++banners;
  }
  EXPECT_EQ(banners, 11u);

  std::map<int, std::vector<int>> seen;
  for (const std::string& line : SplitKeepingEnds(text)) {
    int thread = -1;
    int number = -1;
    ASSERT_TRUE(ParseMessage(line, &thread, &number)) << "broken line: " << line.substr(0, 120);
    seen[thread].push_back(number);
  }
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads));
  for (const auto& [thread, numbers] : seen) {
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kLinesPerThread)) << thread;
    // Each thread's lines appear in the order it wrote them.
    for (int n = 0; n < kLinesPerThread; ++n) EXPECT_EQ(numbers[n], n) << thread;
  }
}

}  // namespace
