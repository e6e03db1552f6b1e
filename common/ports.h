// Serial ports, shaped after the Windows serial interface the programs were
// designed on: a DCB-shaped control block, a COMMTIMEOUTS-shaped record and the
// operations open, get/set state, escape, get/set time-outs, purge, read, write
// and close.
#pragma once

#include <cstdint>
#include <string>

namespace kit {

// The published DCB layout. The programs write only BaudRate, the flag word,
// ByteSize, Parity and StopBits; a block is always filled from the port first.
struct DCB {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  // bit 0 fBinary, 1 fParity, 2 fOutxCtsFlow, 3 fOutxDsrFlow, 4-5 fDtrControl,
  // 6 fDsrSensitivity, 7 fTXContinueOnXoff, 8 fOutX, 9 fInX, 10 fErrorChar,
  // 11 fNull, 12-13 fRtsControl, 14 fAbortOnError
  std::uint32_t Flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};

namespace dcbflag {
constexpr std::uint32_t fBinary = 1u << 0;
constexpr std::uint32_t fParity = 1u << 1;
constexpr std::uint32_t fOutxCtsFlow = 1u << 2;
constexpr std::uint32_t fOutxDsrFlow = 1u << 3;
constexpr std::uint32_t fDtrControlMask = 3u << 4;
constexpr std::uint32_t fDsrSensitivity = 1u << 6;
constexpr std::uint32_t fTXContinueOnXoff = 1u << 7;
constexpr std::uint32_t fOutX = 1u << 8;
constexpr std::uint32_t fInX = 1u << 9;
constexpr std::uint32_t fErrorChar = 1u << 10;
constexpr std::uint32_t fNull = 1u << 11;
constexpr std::uint32_t fRtsControlMask = 3u << 12;
constexpr std::uint32_t fAbortOnError = 1u << 14;
constexpr unsigned kDtrControlShift = 4;
constexpr unsigned kRtsControlShift = 12;
// fRtsControl values
constexpr std::uint32_t kRtsControlDisable = 0;
constexpr std::uint32_t kRtsControlEnable = 1;
constexpr std::uint32_t kRtsControlHandshake = 2;
constexpr std::uint32_t kRtsControlToggle = 3;
}  // namespace dcbflag

struct COMMTIMEOUTS {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};

enum class Access : std::uint32_t { Read = 1, Write = 2, ReadWrite = 3 };

// EscapeCommFunction codes.
enum class Escape : std::uint32_t { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

// PurgeComm: PURGE_TXCLEAR together with PURGE_RXCLEAR.
constexpr std::uint32_t kPurgeTxRx = 12;

// A wait without bound, for write().
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

using PortHandle = std::intptr_t;
constexpr PortHandle kInvalidPort = -1;

class Ports {
 public:
  virtual ~Ports() = default;

  // Opens an existing serial device for exclusive, blocking use; kInvalidPort on failure.
  virtual PortHandle open(const std::string& name, Access access) = 0;
  // Fills the block with the port's current settings, read back from the line.
  virtual bool get_state(PortHandle port, DCB& dcb) = 0;
  // Applies the block; false when the line does not take it.
  virtual bool set_state(PortHandle port, const DCB& dcb) = 0;
  virtual bool escape(PortHandle port, Escape function) = 0;
  virtual bool set_timeouts(PortHandle port, const COMMTIMEOUTS& timeouts) = 0;
  virtual bool get_timeouts(PortHandle port, COMMTIMEOUTS& timeouts) = 0;
  // Discards what waits in the driver's buffers (flags: kPurgeTxRx).
  virtual bool purge(PortHandle port, std::uint32_t flags) = 0;
  // Waits up to the read time-out for the first byte, then returns what has
  // arrived, at most len bytes; got 0 after a time-out or a failure. A line
  // that has hung up waits out the time-out too and gives 0.
  virtual bool read(PortHandle port, std::uint8_t* buf, std::uint32_t len, std::uint32_t& got) = 0;
  // Returns when every byte is taken, or when max_wait_ms has passed
  // (kWaitForever: no bound); written tells how many were taken.
  virtual bool write(PortHandle port, const std::uint8_t* buf, std::uint32_t len,
                     std::uint32_t& written, std::uint32_t max_wait_ms) = 0;
  virtual bool close(PortHandle port) = 0;
};

}  // namespace kit
