#include "common/stamps.h"

namespace kit {

std::string LZERO(std::uint16_t value) {
  std::string text = std::to_string(value);
  if (text.size() == 1) text.insert(text.begin(), '0');
  return text;
}

void READCLOCK(Clock& clock, ClockFields& t) {
  t.DTNOW = clock.now();
  t.Y = t.DTNOW.year;
  t.MO = t.DTNOW.month;
  t.DDA = t.DTNOW.day;
  t.H = t.DTNOW.hour;
  t.M = t.DTNOW.minute;
  t.S = t.DTNOW.second;
  t.SS = t.DTNOW.millisecond;
}

std::int32_t DAYMSEC(const ClockFields& t) {
  return static_cast<std::int32_t>(t.H) * 3600000 + static_cast<std::int32_t>(t.M) * 60000 +
         static_cast<std::int32_t>(t.S) * 1000 + static_cast<std::int32_t>(t.SS);
}

void MAKESTAMP(ClockFields& t) {
  // LTIME lies in 0..86399999, so the stamp is always exactly 8 digits; the
  // digits are written in place, without a text in between (once per line).
  std::uint32_t v = t.LTIME < 0 ? 0u : static_cast<std::uint32_t>(t.LTIME);
  std::int16_t len = 1;
  for (std::uint32_t r = v; r >= 10; r /= 10) ++len;
  t.LENSLTIME = len;
  for (int i = 7; i >= 0; --i) {
    t.SLTIME[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

void MAKEFNAME(ClockFields& t, const std::string& INIEXT) {
  t.HO = t.H;
  t.DDAO = t.DDA;
  t.FNAME =
      LZERO(t.Y) + LZERO(t.MO) + LZERO(t.DDA) + "_" + LZERO(t.H) + LZERO(t.M) + LZERO(t.S) + INIEXT;
  if (t.FNAME.size() > 255) t.FNAME.resize(255);
}

bool BREAKDUE(const ClockFields& t, std::uint8_t FZ) {
  return (FZ == 'H' && t.H != t.HO) || (FZ == 'D' && t.DDA != t.DDAO);
}

}  // namespace kit
