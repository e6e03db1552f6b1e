// The operating system as the program logic sees it: one bundle of the seams.
#pragma once

#include "common/clock.h"
#include "common/console.h"
#include "common/files.h"
#include "common/ports.h"
#include "common/process.h"

namespace kit {

struct System {
  Console& console;
  Ports& ports;
  Clock& clock;
  Files& files;
  AsyncFiles& async_files;
  Process& process;
};

}  // namespace kit
