#include "common/src/wait_seam.h"

#include <apr_time.h>

#include <atomic>
#include <cstdlib>

namespace {

constexpr int kMaxDivisor = 1000;

// 0 means "not decided yet": the environment is read on first use.
std::atomic<int> g_divisor{0};

// The packaged build has no seam: a variable set by accident cannot change a real update.
int DivisorFromEnvironment() {
#ifdef TARVIK_TEST_SEAMS
  const char* text = std::getenv("TARVIK_WAIT_DIVISOR");
  if (text == nullptr) return 1;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > kMaxDivisor) return 1;
  return static_cast<int>(value);
#else
  return 1;
#endif
}

int Divisor() {
  int divisor = g_divisor.load();
  if (divisor == 0) {
    divisor = DivisorFromEnvironment();
    int expected = 0;
    if (!g_divisor.compare_exchange_strong(expected, divisor)) divisor = expected;
  }
  return divisor;
}

}  // namespace

extern "C" int CommonWaitDivisor(void) {
  return Divisor();
}

extern "C" apr_interval_time_t CommonScaledWait(apr_interval_time_t wait) {
  return wait / Divisor();
}

extern "C" void CommonSleep(apr_interval_time_t wait) {
  apr_sleep(CommonScaledWait(wait));
}

extern "C" int CommonSetWaitDivisor(int divisor) {
  if (divisor < 1 || divisor > kMaxDivisor) return 0;
  g_divisor.store(divisor);
  return 1;
}
