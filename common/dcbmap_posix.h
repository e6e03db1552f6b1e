// The control block and the termios line settings, one into the other. Pure
// functions over a struct termios and a rate in bits per second; the port code
// moves them to and from the line.
#pragma once

#include <termios.h>

#include <cstdint>

#include "common/ports.h"

namespace kit {

// Whether a serial driver would take the block at all: ByteSize 5 to 8, a
// parity code 0 to 4, a stop-bits code 0 to 2 with one and a half stop bits
// only with 5 data bits and two stop bits only with 6 to 8, a rate above 0,
// a valid DTR control code, and distinct XON and XOFF characters.
bool dcb_expressible(const DCB& dcb);

// Writes the block's line settings into t, which holds the line's current
// settings: raw mode, receiver on, modem-status lines ignored, byte size,
// parity, stop bits, flow control and the XON/XOFF characters. The rate is
// the block's BaudRate and travels apart from t.
void dcb_to_termios(const DCB& dcb, termios& t);

// The block as the line holds it: every field termios keeps comes from t and
// rate, every other field (DCBlength, DTR and RTS control modes other than the
// handshake, fErrorChar, fNull, XonLim...) from shadow, the block the port
// last accepted.
void termios_to_dcb(const termios& t, std::uint32_t rate, const DCB& shadow, DCB& dcb);

// Whether the settings read back from the line hold what was asked, in every
// field the block maps to. A rate counts as taken within 2 % (a device may
// round it to one it can make; the block read back shows the real one).
bool line_took(const termios& wanted, std::uint32_t wanted_rate, const termios& got,
               std::uint32_t got_rate);

}  // namespace kit
