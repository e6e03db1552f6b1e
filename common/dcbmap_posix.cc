#include "common/dcbmap_posix.h"

namespace kit {

namespace {

using namespace dcbflag;

constexpr tcflag_t kSizeBits[4] = {CS5, CS6, CS7, CS8};

// The flag bits that termios holds; the rest of the flag word lives in the
// port's shadow block.
constexpr std::uint32_t kLineFlags = fBinary | fParity | fOutxCtsFlow | fOutX | fInX;

std::uint32_t rts_control(std::uint32_t flags) {
  return (flags & fRtsControlMask) >> kRtsControlShift;
}

std::uint32_t dtr_control(std::uint32_t flags) {
  return (flags & fDtrControlMask) >> kDtrControlShift;
}

}  // namespace

bool dcb_expressible(const DCB& dcb) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > 4) return false;
  if (dcb.StopBits > 2) return false;
  if (dcb.StopBits == 1 && dcb.ByteSize != 5) return false;
  if (dcb.StopBits == 2 && dcb.ByteSize == 5) return false;
  if (dcb.BaudRate == 0) return false;
  if (dtr_control(dcb.Flags) == 3) return false;
  if (dcb.XonChar == dcb.XoffChar) return false;
  return true;
}

void dcb_to_termios(const DCB& dcb, termios& t) {
  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  if (dcb.ByteSize >= 5 && dcb.ByteSize <= 8) t.c_cflag |= kSizeBits[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    case 3:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  // With 5 data bits the UART makes one and a half stop bits of CSTOPB.
  if (dcb.StopBits == 1 || dcb.StopBits == 2) t.c_cflag |= CSTOPB;
  if (dcb.Flags & fParity) t.c_iflag |= INPCK;
  if (dcb.Flags & fOutX) t.c_iflag |= IXON;
  if (dcb.Flags & fInX) t.c_iflag |= IXOFF;
  // Linux has one switch for both directions of the RTS/CTS handshake.
  if ((dcb.Flags & fOutxCtsFlow) || rts_control(dcb.Flags) == kRtsControlHandshake) {
    t.c_cflag |= CRTSCTS;
  }
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

void termios_to_dcb(const termios& t, std::uint32_t rate, const DCB& shadow, DCB& dcb) {
  dcb = shadow;
  dcb.BaudRate = rate;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if (!(t.c_cflag & PARENB)) {
    dcb.Parity = 0;
  } else if (t.c_cflag & CMSPAR) {
    dcb.Parity = (t.c_cflag & PARODD) ? 3 : 4;
  } else {
    dcb.Parity = (t.c_cflag & PARODD) ? 1 : 2;
  }
  if (!(t.c_cflag & CSTOPB)) {
    dcb.StopBits = 0;
  } else {
    dcb.StopBits = dcb.ByteSize == 5 ? 1 : 2;
  }

  std::uint32_t flags = shadow.Flags & ~kLineFlags;
  flags |= fBinary;
  if (t.c_iflag & INPCK) flags |= fParity;
  if (t.c_iflag & IXON) flags |= fOutX;
  if (t.c_iflag & IXOFF) flags |= fInX;
  if (t.c_cflag & CRTSCTS) {
    flags = (flags & ~fRtsControlMask) | fOutxCtsFlow | (kRtsControlHandshake << kRtsControlShift);
  } else if (rts_control(flags) == kRtsControlHandshake) {
    // The handshake is off on the line: RTS is simply raised.
    flags = (flags & ~fRtsControlMask) | (kRtsControlEnable << kRtsControlShift);
  }
  dcb.Flags = flags;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool line_took(const termios& wanted, std::uint32_t wanted_rate, const termios& got,
               std::uint32_t got_rate) {
  constexpr tcflag_t kCflags = CSIZE | PARENB | CSTOPB | CRTSCTS;
  constexpr tcflag_t kIflags = INPCK | IXON | IXOFF;
  if ((wanted.c_cflag & kCflags) != (got.c_cflag & kCflags)) return false;
  // Odd/even and mark/space mean something only with parity on.
  if ((wanted.c_cflag & PARENB) &&
      (wanted.c_cflag & (PARODD | CMSPAR)) != (got.c_cflag & (PARODD | CMSPAR))) {
    return false;
  }
  if ((wanted.c_iflag & kIflags) != (got.c_iflag & kIflags)) return false;
  if (wanted.c_cc[VSTART] != got.c_cc[VSTART] || wanted.c_cc[VSTOP] != got.c_cc[VSTOP]) {
    return false;
  }
  const std::uint64_t w = wanted_rate;
  const std::uint64_t g = got_rate;
  const std::uint64_t diff = w > g ? w - g : g - w;
  return w != 0 && diff * 50 <= w;
}

}  // namespace kit
