#ifndef TARVIK_COMMON_WAIT_SEAM_H_
#define TARVIK_COMMON_WAIT_SEAM_H_

#include <apr_time.h>

// The one test seam for the libraries' fixed waits (sleeps between polls, settle and restart
// pauses, update waits, service waits). Off by default: every wait is taken in full.
//
// Tests shorten the waits by setting the environment variable TARVIK_WAIT_DIVISOR to an integer
// from 2 to 1000 before the first wait, or by calling CommonSetWaitDivisor. A wait of t then
// lasts t / divisor. Values outside 1..1000 are ignored. Per-read time-outs of the protocol are
// not waits and are not scaled. A build with -DTARVIK_TEST_SEAMS=OFF (the packaged build) does
// not read the environment.

#ifdef __cplusplus
extern "C" {
#endif

// The divisor in force: 1 when the seam is off (always in a build without TARVIK_TEST_SEAMS,
// where the environment is not read).
int CommonWaitDivisor(void);

// The wait to take instead of `wait`.
apr_interval_time_t CommonScaledWait(apr_interval_time_t wait);

// apr_sleep of the scaled wait.
void CommonSleep(apr_interval_time_t wait);

// Overrides the divisor read from the environment; 1 switches the seam off. Returns false for a
// value outside 1..1000.
int CommonSetWaitDivisor(int divisor);

#ifdef __cplusplus
}
#endif

#endif  // TARVIK_COMMON_WAIT_SEAM_H_
