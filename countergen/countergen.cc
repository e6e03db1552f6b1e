#include "countergen/countergen.h"

#include "common/config.h"
#include "common/frame.h"
#include "common/portsetup.h"
#include "common/stamps.h"

namespace kit {

namespace {

constexpr std::uint8_t kEsc = 27;

void create_log(System& sys, Program program, const std::string& path, FileHandle& F1) {
  int err = 0;
  // A name that already belongs to a file (two changes within one second, a
  // restart within the second) continues that file, so no record is lost.
  F1 = sys.files.open_log(short_text(path), err);
  if (F1 == kInvalidFile)
    io_failure_stop(sys.console, program, io_error_number(err), Site::LogOpen);
}

void close_log(System& sys, Program program, FileHandle& F1) {
  const int err = sys.files.close(F1);
  F1 = kInvalidFile;
  if (err != 0) io_failure_stop(sys.console, program, io_error_number(err), Site::LogClose);
}

}  // namespace

std::string make_message(std::uint8_t C1, const char (&SLTIME)[8], std::uint8_t C2,
                         std::int16_t CC) {
  std::string SCC = std::to_string(CC);
  if (SCC.size() < 4) SCC.insert(0, 4 - SCC.size(), '0');
  std::string TOCOM;
  TOCOM += static_cast<char>(C1);
  TOCOM.append(SLTIME, 8);
  TOCOM += static_cast<char>(C2);
  TOCOM += SCC;
  TOCOM += "\r\n";
  return TOCOM;
}

std::int16_t step_counter(std::int16_t CC, std::uint8_t KEY) {
  auto v = static_cast<std::uint16_t>(CC);
  if (KEY == '=') v = static_cast<std::uint16_t>(v + 1);
  if (KEY == '-') v = static_cast<std::uint16_t>(v - 1);
  auto next = static_cast<std::int16_t>(v);
  return next < 0 ? std::int16_t{0} : next;
}

int run_generator(System& sys) {
  const Program program = Program::Pelmar20190524;
  Frame frame;
  frame.program = program;
  Config cfg;
  PortState ports;
  ClockFields t;

  startup(sys, frame);
  read_config(sys.console, frame, cfg);
  setup_ports(sys.console, sys.ports, program, cfg, ports);
  help_block(
      sys.console,
      {"ESC -- Hard Exit.", "Q   -- Soft Exit (EOL symbol wailing).", "B   -- Break log-file."},
      kDataWaiting);
  purge_after_help(sys.ports, program, ports);

  READCLOCK(sys.clock, t);
  MAKEFNAME(t, cfg.INIEXT);
  FileHandle F1 = kInvalidFile;
  create_log(sys, program, frame.ROOTDIR + t.FNAME, F1);
  std::uint8_t KEY = 0;
  std::int16_t CC = 0;

  while (KEY != kEsc && KEY != 'Q') {
    if (!sys.console.key_test()) {
      // A millisecond's pause instead of a spin: the stamp still marks the key
      // press to the millisecond, and the program does not burn a core.
      sys.console.delay(1);
      continue;
    }
    KEY = sys.console.key_read();
    READCLOCK(sys.clock, t);
    t.LTIME = DAYMSEC(t);
    if (BREAKDUE(t, cfg.FZ)) {
      MAKEFNAME(t, cfg.INIEXT);
      close_log(sys, program, F1);
      create_log(sys, program, frame.ROOTDIR + t.FNAME, F1);
    }
    if (KEY == 'C') {
      MAKEFNAME(t, cfg.INIEXT);
      close_log(sys, program, F1);
      create_log(sys, program, frame.ROOTDIR + t.FNAME, F1);
    }
    CC = step_counter(CC, KEY);
    MAKESTAMP(t);
    const std::string TOCOM = make_message(cfg.C1, t.SLTIME, cfg.C2, CC);
    sys.console.write(TOCOM);
    std::uint32_t RET = 0;
    sys.ports.write(ports.HCOM1, reinterpret_cast<const std::uint8_t*>(TOCOM.data()),
                    static_cast<std::uint32_t>(TOCOM.size()), RET, kWaitForever);
    const int err =
        sys.files.write(F1, reinterpret_cast<const std::uint8_t*>(TOCOM.data()), TOCOM.size());
    if (err != 0) io_failure_stop(sys.console, program, io_error_number(err), Site::LogWrite);
  }

  close_log(sys, program, F1);
  close_ports(sys.ports, program, ports);
  return 0;
}

}  // namespace kit
