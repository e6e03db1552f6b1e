// Only the kernel's own termios definitions here: <termios.h> must not be included.
#include "common/termios2_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

namespace kit {

static_assert(NCCS == kKernelNccs, "the kernel's control-character count");

bool line_get(int fd, LineSettings& line) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  line.iflag = t.c_iflag;
  line.oflag = t.c_oflag;
  line.cflag = t.c_cflag;
  line.lflag = t.c_lflag;
  line.line = t.c_line;
  std::memcpy(line.cc, t.c_cc, sizeof line.cc);
  line.ispeed = t.c_ispeed;
  line.ospeed = t.c_ospeed;
  return true;
}

bool line_set(int fd, const LineSettings& line) {
  struct termios2 t {};
  t.c_iflag = line.iflag;
  t.c_oflag = line.oflag;
  // The rate goes in c_ospeed/c_ispeed; BOTHER tells the kernel to take it from
  // there, for the input side too (IBSHIFT field cleared: same as output).
  t.c_cflag = (line.cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER;
  t.c_lflag = line.lflag;
  t.c_line = line.line;
  std::memcpy(t.c_cc, line.cc, sizeof line.cc);
  t.c_ispeed = line.ispeed;
  t.c_ospeed = line.ospeed;
  return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace kit
