#include "common/portsetup.h"

#include <string>
#include <string_view>

#include "common/console.h"

namespace kit {

namespace {

// fOutX set; fInX, fErrorChar, fNull and fRtsControl cleared.
constexpr std::uint32_t kLineControlMask = 0x3F00;
constexpr std::uint32_t kLineControlFlags = 0x0100;

bool is_01(std::uint8_t c) {
  return c == '0' || c == '1';
}

void open_port(Console& console, Ports& ports, const std::string& name, Access access,
               PortHandle& handle, std::string_view error) {
  handle = ports.open(name, access);
  if (handle == kInvalidPort) exit_frame(console, error);
}

// Settings: the block filled from the port, then the four configured fields.
void settings(Ports& ports, PortHandle handle, DCB& dcb, const Config& config) {
  ports.get_state(handle, dcb);
  dcb.BaudRate = config.COMBAUD;
  dcb.ByteSize = config.COMBYTESIZE;
  dcb.Parity = config.COMPARITY;
  dcb.StopBits = config.COMSTOPBITS;
}

void flag_adjustment(DCB& dcb) {
  dcb.Flags &= ~kLineControlMask;
  dcb.Flags |= kLineControlFlags;
}

void conditional_flag_adjustment(DCB& dcb, const Config& config) {
  if (is_01(config.ZZZ1) && is_01(config.ZZZ2)) flag_adjustment(dcb);
}

// Line control: ZZZ1 drives RTS, ZZZ2 drives DTR; other characters leave the line alone.
void line_control(Ports& ports, PortHandle handle, const Config& config) {
  if (config.ZZZ1 == '1') ports.escape(handle, Escape::SetRts);
  if (config.ZZZ1 == '0') ports.escape(handle, Escape::ClrRts);
  if (config.ZZZ2 == '1') ports.escape(handle, Escape::SetDtr);
  if (config.ZZZ2 == '0') ports.escape(handle, Escape::ClrDtr);
}

void set_state_tested(Console& console, Ports& ports, PortHandle handle, const DCB& dcb,
                      std::string_view error) {
  if (!ports.set_state(handle, dcb)) exit_frame(console, error);
}

// The same, where an earlier untested call has already told whether the port
// took the configured settings.
void set_state_tested(Console& console, Ports& ports, PortHandle handle, const DCB& dcb,
                      bool earlier_took, std::string_view error) {
  if (!ports.set_state(handle, dcb) || !earlier_took) exit_frame(console, error);
}

// Settings report from the block as read back; label ends in "BaudRate=".
void settings_report(Console& console, std::string_view label, const DCB& dcb) {
  std::string line(label);
  line += std::to_string(dcb.BaudRate);
  line += "; ByteSize=";
  line += std::to_string(dcb.ByteSize);
  line += "; Parity=";
  line += std::to_string(dcb.Parity);
  line += "; StopBits=";
  line += std::to_string(dcb.StopBits);
  write_line(console, line);
}

// Time-outs: 0, 0 and 1000 ms into TOPR (the write fields are left as they are).
void timeouts(Console& console, Ports& ports, PortHandle handle, COMMTIMEOUTS& TOPR,
              std::string_view error) {
  TOPR.ReadIntervalTimeout = 0;
  TOPR.ReadTotalTimeoutMultiplier = 0;
  TOPR.ReadTotalTimeoutConstant = 1000;
  if (!ports.set_timeouts(handle, TOPR)) exit_frame(console, error);
}

// Time-out report, from TOPR as read back.
void timeout_report(Console& console, Ports& ports, PortHandle handle, COMMTIMEOUTS& TOPR) {
  ports.get_timeouts(handle, TOPR);
  std::string line = "TimeOuts: ReadInterv=";
  line += std::to_string(TOPR.ReadIntervalTimeout);
  line += "ms; ReadTotalMulti=";
  line += std::to_string(TOPR.ReadTotalTimeoutMultiplier);
  line += "ms; ReadTotalConst=";
  line += std::to_string(TOPR.ReadTotalTimeoutConstant);
  line += "ms";
  write_line(console, line);
}

void purge_and_close(Ports& ports, PortHandle handle) {
  ports.purge(handle, kPurgeTxRx);
  ports.close(handle);
}

void setup_tarvik20191117(Console& console, Ports& ports, const Config& config, PortState& s) {
  open_port(console, ports, config.NCOM, Access::Read, s.HCOM1, "Error: can not open Com");
  open_port(console, ports, config.NCOM2, Access::Write, s.HCOM2, "Error: can not open Com_Out");

  // The first settings call goes on whatever its result, so that the report
  // shows what the port holds. The tested call after it sends the block read
  // back, which a port always takes; so a refusal of the configured settings
  // is carried to it, and the program never logs on settings other than those
  // configured while reporting success.
  settings(ports, s.HCOM1, s.DCBZ, config);
  const bool took = ports.set_state(s.HCOM1, s.DCBZ);
  ports.get_state(s.HCOM1, s.DCBZ);
  settings_report(console, "Configed: BaudRate=", s.DCBZ);
  conditional_flag_adjustment(s.DCBZ, config);
  line_control(ports, s.HCOM1, config);
  set_state_tested(console, ports, s.HCOM1, s.DCBZ, took, "Error: can not config Com");

  settings(ports, s.HCOM2, s.DCBZ2, config);
  const bool took2 = ports.set_state(s.HCOM2, s.DCBZ2);
  ports.get_state(s.HCOM2, s.DCBZ2);
  settings_report(console, "Configed2: BaudRate=", s.DCBZ2);
  set_state_tested(console, ports, s.HCOM2, s.DCBZ2, took2, "Error: can not config Com2");

  timeouts(console, ports, s.HCOM1, s.TOPR, "Error: can not set Com TimeOuts");
  timeout_report(console, ports, s.HCOM1, s.TOPR);
}

void setup_tarvik20170104(Console& console, Ports& ports, const Config& config, PortState& s) {
  open_port(console, ports, config.NCOM, Access::Read, s.HCOM1, "Error: can not open Com");
  settings(ports, s.HCOM1, s.DCBZ, config);
  conditional_flag_adjustment(s.DCBZ, config);
  set_state_tested(console, ports, s.HCOM1, s.DCBZ, "Error: can not config Com");
  line_control(ports, s.HCOM1, config);
  ports.get_state(s.HCOM1, s.DCBZ);
  settings_report(console, "Configed: BaudRate=", s.DCBZ);
  timeouts(console, ports, s.HCOM1, s.TOPR, "Error: can not set Com TimeOuts");
  timeout_report(console, ports, s.HCOM1, s.TOPR);
}

void setup_pelmar20190524(Console& console, Ports& ports, const Config& config, PortState& s) {
  open_port(console, ports, config.NCOM, Access::Write, s.HCOM1, "Error: can not open Com");
  settings(ports, s.HCOM1, s.DCBZ, config);
  set_state_tested(console, ports, s.HCOM1, s.DCBZ, "Error: can not config Com");
  ports.get_state(s.HCOM1, s.DCBZ);
  settings_report(console, "Configed: BaudRate=", s.DCBZ);
  // The read time-out is installed although the port is only written.
  timeouts(console, ports, s.HCOM1, s.TOPR, "Error: can not set Com TimeOuts");
  timeout_report(console, ports, s.HCOM1, s.TOPR);
}

void setup_dorvel20161004(Console& console, Ports& ports, const Config& config, PortState& s) {
  // The counter port: fixed 4800 8N1, flags adjusted, RTS and DTR raised.
  open_port(console, ports, config.NCOM0, Access::ReadWrite, s.HCOM0, "Error: can not open CC Com");
  ports.get_state(s.HCOM0, s.DCBZ);
  s.DCBZ.BaudRate = 4800;
  s.DCBZ.ByteSize = 8;
  s.DCBZ.Parity = 0;
  s.DCBZ.StopBits = 0;
  flag_adjustment(s.DCBZ);
  set_state_tested(console, ports, s.HCOM0, s.DCBZ, "Error: can not config CC Com");
  ports.escape(s.HCOM0, Escape::SetRts);
  ports.escape(s.HCOM0, Escape::SetDtr);
  ports.get_state(s.HCOM0, s.DCBZ);
  settings_report(console, "Configed CC: BaudRate=", s.DCBZ);
  timeouts(console, ports, s.HCOM0, s.TOPR, "Error: can not set CC Com TimeOuts");
  ports.purge(s.HCOM0, kPurgeTxRx);

  // The relay port, in the same block.
  open_port(console, ports, config.NCOM, Access::ReadWrite, s.HCOM1, "Error: can not open Com");
  settings(ports, s.HCOM1, s.DCBZ, config);
  conditional_flag_adjustment(s.DCBZ, config);
  set_state_tested(console, ports, s.HCOM1, s.DCBZ, "Error: can not config Com");
  line_control(ports, s.HCOM1, config);
  ports.get_state(s.HCOM1, s.DCBZ);
  settings_report(console, "Configed Relay: BaudRate=", s.DCBZ);
  timeouts(console, ports, s.HCOM1, s.TOPR, "Error: can not set Com TimeOuts");
  timeout_report(console, ports, s.HCOM1, s.TOPR);
}

}  // namespace

void setup_ports(Console& console, Ports& ports, Program program, const Config& config,
                 PortState& state) {
  switch (program) {
    case Program::Tarvik20191117:
      setup_tarvik20191117(console, ports, config, state);
      break;
    case Program::Tarvik20170104:
      setup_tarvik20170104(console, ports, config, state);
      break;
    case Program::Pelmar20190524:
      setup_pelmar20190524(console, ports, config, state);
      break;
    case Program::Dorvel20161004:
      setup_dorvel20161004(console, ports, config, state);
      break;
  }
}

void purge_after_help(Ports& ports, Program program, PortState& state) {
  ports.purge(state.HCOM1, kPurgeTxRx);
  if (program == Program::Tarvik20191117) ports.purge(state.HCOM2, kPurgeTxRx);
}

void close_ports(Ports& ports, Program program, PortState& state) {
  switch (program) {
    case Program::Tarvik20191117:
      purge_and_close(ports, state.HCOM1);
      purge_and_close(ports, state.HCOM2);
      break;
    case Program::Tarvik20170104:
    case Program::Pelmar20190524:
      purge_and_close(ports, state.HCOM1);
      break;
    case Program::Dorvel20161004:
      purge_and_close(ports, state.HCOM0);
      purge_and_close(ports, state.HCOM1);
      break;
  }
}

}  // namespace kit
