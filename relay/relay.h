// The counter initializer and relay.
#pragma once

#include "common/system.h"

namespace kit {

int run_relay(System& sys);

}  // namespace kit
