// One run of a logger edition, from the banner to the end.
#pragma once

#include "common/system.h"

namespace kit {

// The echo edition (two ports, echo writer) and the plain edition (one port,
// plain writer). Returns the exit status; the endings arrive as kit::Ending.
int run_echo_logger(System& sys);
int run_plain_logger(System& sys);

}  // namespace kit
