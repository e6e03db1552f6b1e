// The platform side of every seam, one implementation per system (name_posix.cc,
// name_win32.cc), chosen by the build.
#pragma once

#include <memory>

#include "common/system.h"

namespace kit {

std::unique_ptr<Console> make_console();
std::unique_ptr<Ports> make_ports();
std::unique_ptr<Clock> make_clock();
std::unique_ptr<Files> make_files();
std::unique_ptr<AsyncFiles> make_async_files();
// argv0: the path the program was started by.
std::unique_ptr<Process> make_process(const char* argv0);

}  // namespace kit
