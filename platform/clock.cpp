#include "clock.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sys/time.h>

namespace plat {
namespace {

std::atomic<double> g_scale_override{0.0};

double env_scale() {
  static const double scale = [] {
    const char* env = std::getenv("VYRA_TIME_SCALE");
    if (env == nullptr || *env == '\0') return 1.0;
    char* end = nullptr;
    double v = std::strtod(env, &end);
    if (end == env || !(v > 0.0) || v > 1e6) return 1.0;
    return v;
  }();
  return scale;
}

uint64_t monotonic_real_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

double time_scale() {
  double o = g_scale_override.load(std::memory_order_relaxed);
  return o > 0.0 ? o : env_scale();
}

void set_time_scale_for_test(double scale) { g_scale_override.store(scale > 0.0 ? scale : 0.0); }

uint32_t scale_ms(uint32_t ms) {
  if (ms == 0 || ms == kInfinite) return ms;
  double scaled = static_cast<double>(ms) * time_scale();
  if (scaled < 1.0) return 1;
  if (scaled >= static_cast<double>(kInfinite - 1)) return kInfinite - 1;
  return static_cast<uint32_t>(scaled);
}

void sleep_ms(uint32_t ms) {
  uint32_t real = scale_ms(ms);
  if (real == 0) return;
  timespec ts{static_cast<time_t>(real / 1000), static_cast<long>(real % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint32_t tick_ms() {
  double system_ms = static_cast<double>(monotonic_real_ms()) / time_scale();
  return static_cast<uint32_t>(static_cast<uint64_t>(system_ms));
}

TimeOfDay local_time_of_day() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm parts;
  localtime_r(&tv.tv_sec, &parts);
  return {parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(tv.tv_usec / 1000)};
}

}  // namespace plat
