// Opening and configuring each program's ports, with the report lines, and the
// purges and closes around the loop.
#pragma once

#include "common/config.h"
#include "common/frame.h"
#include "common/ports.h"

namespace kit {

struct PortState {
  PortHandle HCOM0 = kInvalidPort;  // relay: the counter port
  PortHandle HCOM1 = kInvalidPort;  // the input / output / relay port
  PortHandle HCOM2 = kInvalidPort;  // echo edition: the echo port
  DCB DCBZ{};
  DCB DCBZ2{};
  COMMTIMEOUTS TOPR{};
};

// The set-up sequence of the program, up to its last report line. A failed
// tested step prints its error line and ends through the exit frame.
void setup_ports(Console& console, Ports& ports, Program program, const Config& config,
                 PortState& state);

// The purge after the help block (the relay's counter port is purged during
// set-up and not again).
void purge_after_help(Ports& ports, Program program, PortState& state);

// The normal end: purge and close each port, in the program's order.
void close_ports(Ports& ports, Program program, PortState& state);

}  // namespace kit
