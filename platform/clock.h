// The clock. Every sleep, wait and time-out of the system goes through here.
//
// VYRA_TIME_SCALE (default 1) multiplies every duration: with 0.01 a 300-second watchdog
// fires after 3 seconds. The system's own numbers stay in the code; only this layer scales.
// A scaled time-out never becomes zero (at least 1 ms), and the tick count runs faster by
// the same factor, so elapsed-time checks agree with the scaled waits.
#pragma once

#include <cstdint>

namespace plat {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // wait without time limit

// The factor from VYRA_TIME_SCALE (read once); values <= 0 or unparsable mean 1.
double time_scale();
// For tests: replace the factor (0 or less restores VYRA_TIME_SCALE).
void set_time_scale_for_test(double scale);

// A system duration in ms scaled to real ms: 0 stays 0, kInfinite stays kInfinite,
// anything else becomes at least 1.
uint32_t scale_ms(uint32_t ms);

// Sleeps for the scaled duration.
void sleep_ms(uint32_t ms);

// Milliseconds since an arbitrary start, in system time (real time divided by the scale),
// wrapping like the handset's 32-bit tick count.
uint32_t tick_ms();

// Wall-clock time of day (local time), for log stamps.
struct TimeOfDay {
  int hour, minute, second, millisecond;
};
TimeOfDay local_time_of_day();

}  // namespace plat
