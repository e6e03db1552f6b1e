// The console facility every program prints through and takes keys from.
// Output goes through the screen rules (CR, LF, BS, BEL, one cell per other
// byte, immediate wrap, scrolling); keys come as the PC key codes (an extended
// key gives 0, then its extended code, in two key reads).
#pragma once

#include <cstdint>
#include <string_view>

namespace kit {

class Console {
 public:
  virtual ~Console() = default;

  // Fills the text window with blanks; cursor to column 1, row 1.
  virtual void clear() = 0;
  // Passes the bytes to the screen by the output rules, one operation; the
  // bytes are on the screen when it returns.
  virtual void write(std::string_view bytes) = 0;
  // True when a key code can be read; never waits.
  virtual bool key_test() = 0;
  // Waits until a key code is available and returns it. At the end of a
  // non-terminal input it returns 0 at once, so nothing hangs without a keyboard.
  virtual std::uint8_t key_read() = 0;
  // Suspends the program for that many milliseconds.
  virtual void delay(std::uint16_t ms) = 0;
  // A plain line on standard output, ending in CR LF, below what is on the
  // screen and outside the output rules (the failure reports).
  virtual void report_line(std::string_view text) = 0;

  // After catch_interrupts(), Ctrl+C, SIGTERM and a hang-up set a flag that
  // interrupted() returns, instead of ending the process, so that a loop can end
  // through its own shut-down. Without it they end the process by the default
  // action, after the terminal has been restored.
  virtual void catch_interrupts() = 0;
  virtual bool interrupted() = 0;
};

// write line: the bytes, then CR LF, as one operation.
void write_line(Console& console, std::string_view text = {});

}  // namespace kit
