#include "relay/relay.h"

#include <string>

#include "common/config.h"
#include "common/frame.h"
#include "common/portsetup.h"

namespace kit {

namespace {

constexpr std::uint8_t kEsc = 27;
constexpr std::uint32_t kRelayBatch = 4096;

// Sends a text to the counter device one byte at a time, echoing each byte and
// pausing 50 ms after every one; then ends the console line.
void send_slowly(System& sys, PortHandle port, const std::string& text) {
  for (char ch : text) {
    const auto byte = static_cast<std::uint8_t>(ch);
    std::uint32_t RET = 0;
    sys.ports.write(port, &byte, 1, RET, kWaitForever);
    sys.console.write(std::string_view(&ch, 1));
    sys.console.delay(50);
  }
  write_line(sys.console);
}

}  // namespace

int run_relay(System& sys) {
  const Program program = Program::Dorvel20161004;
  Frame frame;
  frame.program = program;
  Config cfg;
  PortState ports;

  startup(sys, frame);
  read_config(sys.console, frame, cfg);
  setup_ports(sys.console, sys.ports, program, cfg, ports);
  help_block(sys.console, {"ESC -- Exit."}, kRule);
  purge_after_help(sys.ports, program, ports);

  sys.console.delay(300);
  send_slowly(sys, ports.HCOM0, cfg.INITCCS);
  send_slowly(sys, ports.HCOM0, cfg.INITCC);
  const std::string INITZ = "T";
  std::uint32_t RET = 0;
  sys.ports.write(ports.HCOM0, reinterpret_cast<const std::uint8_t*>(INITZ.data()), 1, RET,
                  kWaitForever);

  std::uint8_t KEY = 0;
  std::uint8_t data[kRelayBatch];
  while (KEY != kEsc && KEY != 'Q') {
    if (sys.console.key_test()) KEY = sys.console.key_read();
    RET = 0;
    sys.ports.read(ports.HCOM0, data, kRelayBatch, RET);
    if (RET != 0) {
      std::uint32_t written = 0;
      sys.ports.write(ports.HCOM1, data, RET, written, kWaitForever);
      sys.console.write(std::string_view(reinterpret_cast<const char*>(data), RET));
    }
  }

  close_ports(sys.ports, program, ports);
  return 0;
}

}  // namespace kit
