// What every program's entry file does: the platform seams, one run, the
// ending's exit status.
#pragma once

#include "common/platform.h"

namespace kit {

template <class Run>
int run_program(const char* argv0, Run run) {
  auto console = make_console();
  auto ports = make_ports();
  auto clock = make_clock();
  auto files = make_files();
  auto async_files = make_async_files();
  auto process = make_process(argv0);
  System sys{*console, *ports, *clock, *files, *async_files, *process};
  try {
    return run(sys);
  } catch (const Ending& ending) {
    return ending.status;
  }
}

}  // namespace kit
