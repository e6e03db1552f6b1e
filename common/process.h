// The program's own path and the three endings of the frame.
#pragma once

#include <string>

namespace kit {

class Process {
 public:
  virtual ~Process() = default;
  // The full path of the running executable, as the system gives it.
  virtual std::string own_path() = 0;
  // True where the folder separator is "/" and an executable name without a
  // dot gets ".ini" appended; false for the Windows rules (backslash, and the
  // last dot of the whole path).
  virtual bool posix_paths() = 0;
};

// Thrown by the endings (exit frame, input/output failure stop, echo-writer
// failure) after their lines are printed; caught only in the entry files, which
// return the status. Nothing on the way closes or flushes anything.
struct Ending {
  int status;
};

}  // namespace kit
