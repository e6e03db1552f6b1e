// The counter message generator: a stamped counter message on every key.
#pragma once

#include <cstdint>
#include <string>

#include "common/system.h"

namespace kit {

// The message of one key press: C1, the 8-digit stamp, C2, the counter with
// at least 4 digits, CR LF.
std::string make_message(std::uint8_t C1, const char (&SLTIME)[8], std::uint8_t C2,
                         std::int16_t CC);
// The counter step of a key: "=" up, "-" down, 16-bit wrap, never below 0.
std::int16_t step_counter(std::int16_t CC, std::uint8_t KEY);

int run_generator(System& sys);

}  // namespace kit
