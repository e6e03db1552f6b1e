// Clock fields, the time-of-day stamp and the log file names.
#pragma once

#include <cstdint>
#include <string>

#include "common/clock.h"

namespace kit {

struct ClockFields {
  LocalTime DTNOW;
  std::uint16_t Y = 0, MO = 0, DDA = 0, H = 0, M = 0, S = 0, SS = 0;
  std::int32_t LTIME = 0;
  char SLTIME[8] = {};  // always 8 digits once the first stamp is made
  std::int16_t LENSLTIME = 0;
  std::uint16_t HO = 0, DDAO = 0;
  std::string FNAME;
};

// The value in decimal, with one "0" in front of a single digit.
std::string LZERO(std::uint16_t value);
// One clock reading into DTNOW and its seven fields.
void READCLOCK(Clock& clock, ClockFields& t);
// H, M, S and SS as milliseconds of the day.
std::int32_t DAYMSEC(const ClockFields& t);
// SLTIME := LTIME as 8 decimal digits, zero-filled on the left.
void MAKESTAMP(ClockFields& t);
// HO, DDAO and FNAME (YYYYMMDD_HHMMSS followed by the extension) from the fields.
void MAKEFNAME(ClockFields& t, const std::string& INIEXT);
// True when the autobreak code asks for a new log file at this reading.
bool BREAKDUE(const ClockFields& t, std::uint8_t FZ);

}  // namespace kit
