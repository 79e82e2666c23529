// Waiting for something another thread or process does, with a bound.
#ifndef TESTING_WAIT_H_
#define TESTING_WAIT_H_

#include <chrono>
#include <thread>

namespace tarvik_test {

// Polls `predicate` every `poll_ms` until it holds (true) or `timeout_ms` passed (false); the
// predicate is asked once more at the end, so a zero bound still looks once.
template <typename Predicate>
bool WaitFor(Predicate predicate, int timeout_ms, int poll_ms = 5) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (predicate()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
  }
  return predicate();
}

}  // namespace tarvik_test

#endif  // TESTING_WAIT_H_
