// The line settings with an exact rate, through the kernel's termios2 ioctls
// (TCGETS2/TCSETS2 and BOTHER). The kernel header that defines termios2 clashes
// with <termios.h>, so this interface is plain: the caller copies the fields
// to and from its struct termios.
#pragma once

#include <cstdint>

namespace kit {

// Control characters the kernel keeps (its NCCS); the indexes are those of <termios.h>.
constexpr int kKernelNccs = 19;

struct LineSettings {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;
  std::uint32_t lflag = 0;
  std::uint8_t line = 0;
  std::uint8_t cc[kKernelNccs] = {};
  std::uint32_t ispeed = 0;  // bits per second, also for a rate without a B constant
  std::uint32_t ospeed = 0;
};

// Reads the line's settings (TCGETS2); false with errno set on failure.
bool line_get(int fd, LineSettings& line);

// Applies the settings with ospeed/ispeed as the rate in bits per second: the
// B-constant bits of cflag are replaced by BOTHER. False with errno on failure.
bool line_set(int fd, const LineSettings& line);

}  // namespace kit
