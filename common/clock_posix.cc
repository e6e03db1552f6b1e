#include <ctime>

#include "common/platform.h"

namespace kit {

namespace {

class PosixClock final : public Clock {
 public:
  LocalTime now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    LocalTime t;
    t.year = static_cast<std::uint16_t>(local.tm_year + 1900);
    t.month = static_cast<std::uint16_t>(local.tm_mon + 1);
    t.day = static_cast<std::uint16_t>(local.tm_mday);
    t.hour = static_cast<std::uint16_t>(local.tm_hour);
    t.minute = static_cast<std::uint16_t>(local.tm_min);
    // A leap second shows as 59.999, so that the time of day stays in range.
    if (local.tm_sec > 59) {
      t.second = 59;
      t.millisecond = 999;
    } else {
      t.second = static_cast<std::uint16_t>(local.tm_sec);
      t.millisecond = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
    }
    return t;
  }

  std::int64_t mono_ms() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
};

}  // namespace

std::unique_ptr<Clock> make_clock() {
  return std::make_unique<PosixClock>();
}

}  // namespace kit
