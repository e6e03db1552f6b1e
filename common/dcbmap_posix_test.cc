#include "common/dcbmap_posix.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace kit {
namespace {

using namespace dcbflag;

// A block as a port gives it: 9600 8N1, binary, DTR and RTS enabled, XON/XOFF.
DCB base_dcb() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = 9600;
  d.Flags = fBinary | (1u << kDtrControlShift) | (kRtsControlEnable << kRtsControlShift);
  d.ByteSize = 8;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  d.XonLim = 2048;
  d.XoffLim = 512;
  return d;
}

// A line in cooked mode with everything a program could have left set.
termios cooked_line() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY | IGNPAR | ISTRIP | PARMRK | IMAXBEL;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 10;
  return t;
}

DCB round_trip(const DCB& in) {
  termios t = cooked_line();
  dcb_to_termios(in, t);
  DCB out{};
  termios_to_dcb(t, in.BaudRate, base_dcb(), out);
  return out;
}

TEST(DcbMap, RawModeWithReceiverOnAndModemLinesIgnored) {
  termios t = cooked_line();
  dcb_to_termios(base_dcb(), t);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXANY | IGNPAR | ISTRIP | PARMRK | INPCK | IXOFF), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

struct FrameCase {
  std::uint8_t size, parity, stop;
  tcflag_t cflag;  // CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
};

TEST(DcbMap, ByteSizeParityAndStopBitsBothWays) {
  const FrameCase cases[] = {
      {8, 0, 0, CS8},
      {7, 0, 0, CS7},
      {6, 0, 0, CS6},
      {5, 0, 0, CS5},
      {8, 1, 0, CS8 | PARENB | PARODD},
      {8, 2, 0, CS8 | PARENB},
      {7, 3, 0, CS7 | PARENB | PARODD | CMSPAR},
      {7, 4, 0, CS7 | PARENB | CMSPAR},
      {8, 0, 2, CS8 | CSTOPB},
      {6, 2, 2, CS6 | PARENB | CSTOPB},
      {5, 0, 1, CS5 | CSTOPB},  // one and a half stop bits
  };
  constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.size) << "/" << int(c.parity) << "/" << int(c.stop));
    DCB d = base_dcb();
    d.ByteSize = c.size;
    d.Parity = c.parity;
    d.StopBits = c.stop;
    ASSERT_TRUE(dcb_expressible(d));
    termios t = cooked_line();
    dcb_to_termios(d, t);
    EXPECT_EQ(t.c_cflag & kFrameBits, c.cflag);
    DCB back{};
    termios_to_dcb(t, d.BaudRate, base_dcb(), back);
    EXPECT_EQ(back.ByteSize, c.size);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stop);
  }
}

TEST(DcbMap, RefusedValues) {
  struct Case {
    const char* what;
    void (*change)(DCB&);
  };
  const Case cases[] = {
      {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
      {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
      {"0 data bits", [](DCB& d) { d.ByteSize = 0; }},
      {"parity 5", [](DCB& d) { d.Parity = 5; }},
      {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
      {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = 1; }},
      {"1.5 stop bits with 6 data bits",
       [](DCB& d) {
         d.StopBits = 1;
         d.ByteSize = 6;
       }},
      {"2 stop bits with 5 data bits",
       [](DCB& d) {
         d.StopBits = 2;
         d.ByteSize = 5;
       }},
      {"rate 0", [](DCB& d) { d.BaudRate = 0; }},
      {"DTR control 3", [](DCB& d) { d.Flags |= fDtrControlMask; }},
      {"XON equal to XOFF", [](DCB& d) { d.XoffChar = d.XonChar; }},
      {"a zeroed block", [](DCB& d) { d = DCB{}; }},
  };
  EXPECT_TRUE(dcb_expressible(base_dcb()));
  for (const Case& c : cases) {
    DCB d = base_dcb();
    c.change(d);
    EXPECT_FALSE(dcb_expressible(d)) << c.what;
  }
}

TEST(DcbMap, FlowControlFlags) {
  struct Case {
    std::uint32_t set;  // flags asked for, over the base block
    tcflag_t iflag;     // INPCK | IXON | IXOFF expected
    bool crtscts;
    std::uint32_t back;  // the flag word read back
  };
  const std::uint32_t dtr = 1u << kDtrControlShift;
  const std::uint32_t rts_enable = kRtsControlEnable << kRtsControlShift;
  const std::uint32_t rts_hs = kRtsControlHandshake << kRtsControlShift;
  const Case cases[] = {
      {0, 0, false, fBinary | dtr | rts_enable},
      {fOutX, IXON, false, fBinary | dtr | rts_enable | fOutX},
      {fInX, IXOFF, false, fBinary | dtr | rts_enable | fInX},
      {fOutX | fInX, IXON | IXOFF, false, fBinary | dtr | rts_enable | fOutX | fInX},
      {fParity, INPCK, false, fBinary | dtr | rts_enable | fParity},
      {fOutxCtsFlow, 0, true, fBinary | dtr | fOutxCtsFlow | rts_hs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    DCB d = base_dcb();
    d.Flags |= c.set;
    termios t = cooked_line();
    dcb_to_termios(d, t);
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), c.iflag);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts);
    DCB back{};
    termios_to_dcb(t, d.BaudRate, d, back);
    EXPECT_EQ(back.Flags, c.back);
  }
}

TEST(DcbMap, RtsHandshakeIsCrtsctsAndBack) {
  DCB d = base_dcb();
  d.Flags = (d.Flags & ~fRtsControlMask) | (kRtsControlHandshake << kRtsControlShift);
  termios t = cooked_line();
  dcb_to_termios(d, t);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

  // The handshake switched off on the line: RTS reads back as enabled.
  t.c_cflag &= ~CRTSCTS;
  DCB back{};
  termios_to_dcb(t, 9600, d, back);
  EXPECT_EQ((back.Flags & fRtsControlMask) >> kRtsControlShift, kRtsControlEnable);
  EXPECT_EQ(back.Flags & fOutxCtsFlow, 0u);
}

TEST(DcbMap, FieldsTermiosCannotHoldComeFromTheShadow) {
  DCB shadow = base_dcb();
  shadow.DCBlength = 1234;
  shadow.XonLim = 77;
  shadow.XoffLim = 88;
  shadow.ErrorChar = '?';
  shadow.EofChar = 26;
  shadow.EvtChar = 10;
  shadow.Flags = fBinary | fOutxDsrFlow | (2u << kDtrControlShift) | fDsrSensitivity |
                 fTXContinueOnXoff | fErrorChar | fNull | (kRtsControlToggle << kRtsControlShift) |
                 fAbortOnError | fParity | fOutX | (1u << 20);
  termios t = cooked_line();
  dcb_to_termios(base_dcb(), t);  // the line: no parity check, no XON/XOFF
  DCB back{};
  termios_to_dcb(t, 12345, shadow, back);
  EXPECT_EQ(back.DCBlength, 1234u);
  EXPECT_EQ(back.XonLim, 77);
  EXPECT_EQ(back.XoffLim, 88);
  EXPECT_EQ(back.ErrorChar, '?');
  EXPECT_EQ(back.EofChar, 26);
  EXPECT_EQ(back.EvtChar, 10);
  EXPECT_EQ(back.BaudRate, 12345u);
  // fParity and fOutX follow the line, not the shadow; the rest is the shadow's.
  EXPECT_EQ(back.Flags, shadow.Flags & ~(fParity | fOutX));
}

TEST(DcbMap, BinaryAlwaysReadsBackSet) {
  DCB d = base_dcb();
  d.Flags &= ~fBinary;
  EXPECT_NE(round_trip(d).Flags & fBinary, 0u);
}

TEST(DcbMap, XonXoffCharactersTravel) {
  DCB d = base_dcb();
  d.XonChar = 'A';
  d.XoffChar = 'B';
  const DCB back = round_trip(d);
  EXPECT_EQ(back.XonChar, 'A');
  EXPECT_EQ(back.XoffChar, 'B');
}

TEST(DcbMap, LineTookComparesWhatTheBlockMapsTo) {
  DCB d = base_dcb();
  d.Parity = 2;
  d.Flags |= fOutX | fInX | fParity | fOutxCtsFlow;
  termios wanted = cooked_line();
  dcb_to_termios(d, wanted);
  EXPECT_TRUE(line_took(wanted, 9600, wanted, 9600));

  struct Case {
    const char* what;
    void (*change)(termios&);
  };
  const Case changed[] = {
      {"CS8 forced", [](termios& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS7; }},
      {"parity cleared", [](termios& t) { t.c_cflag &= ~PARENB; }},
      {"odd for even", [](termios& t) { t.c_cflag |= PARODD; }},
      {"stop bits", [](termios& t) { t.c_cflag |= CSTOPB; }},
      {"handshake", [](termios& t) { t.c_cflag &= ~CRTSCTS; }},
      {"IXON", [](termios& t) { t.c_iflag &= ~IXON; }},
      {"IXOFF", [](termios& t) { t.c_iflag &= ~IXOFF; }},
      {"INPCK", [](termios& t) { t.c_iflag &= ~INPCK; }},
      {"VSTART", [](termios& t) { t.c_cc[VSTART] = 1; }},
  };
  for (const Case& c : changed) {
    termios got = wanted;
    c.change(got);
    EXPECT_FALSE(line_took(wanted, 9600, got, 9600)) << c.what;
  }

  // Other bits of the line do not count: CREAD, CLOCAL, HUPCL, VMIN.
  termios got = wanted;
  got.c_cflag ^= HUPCL | CLOCAL;
  got.c_cc[VMIN] = 5;
  EXPECT_TRUE(line_took(wanted, 9600, got, 9600));
}

TEST(DcbMap, MarkSpaceBitsCountOnlyWithParity) {
  termios wanted = cooked_line();
  dcb_to_termios(base_dcb(), wanted);  // no parity
  termios got = wanted;
  got.c_cflag |= CMSPAR | PARODD;  // a pseudo-terminal keeps CMSPAR
  EXPECT_TRUE(line_took(wanted, 9600, got, 9600));
}

TEST(DcbMap, RatesReadBackWithinTwoPercent) {
  termios t = cooked_line();
  dcb_to_termios(base_dcb(), t);
  struct Case {
    std::uint32_t wanted, got;
    bool took;
  };
  const Case cases[] = {
      {9600, 9600, true},     {115200, 115200, true}, {12345, 12345, true},
      {4800, 4800, true},     {921600, 921600, true}, {3000000, 3000000, true},
      {115200, 115384, true},  // a device that rounds to a rate it can make
      {12345, 12800, false},   // too far off
      {9600, 38400, false},    // the request did not take
      {9600, 0, false},       {0, 0, false},          {4000000000u, 4000000000u, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(line_took(t, c.wanted, t, c.got), c.took) << c.wanted << " read back " << c.got;
  }
}

}  // namespace
}  // namespace kit
