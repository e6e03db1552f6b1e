// The local wall clock with milliseconds, and a monotonic clock for gaps.
#pragma once

#include <cstdint>

namespace kit {

struct LocalTime {
  std::uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // One reading of the local date and time of day.
  virtual LocalTime now() = 0;
  // Milliseconds on a clock that never jumps (not set back, not reset at midnight).
  virtual std::int64_t mono_ms() = 0;
};

}  // namespace kit
