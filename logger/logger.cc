#include "logger/logger.h"

#include "common/config.h"
#include "common/frame.h"
#include "common/portsetup.h"
#include "common/stamps.h"
#include "logger/capture.h"
#include "logger/echo_writer.h"
#include "logger/plain_writer.h"

namespace kit {

namespace {

template <class Writer, class FileSeam>
int run_logger(System& sys, Program program, FileSeam& files, std::string_view c_line) {
  Frame frame;
  frame.program = program;
  Config cfg;
  PortState ports;
  ClockFields t;
  LoopState s;
  Writer w;
  ConsoleStage stage(sys.console, kStageCapacity);

  startup(sys, frame);
  read_config(sys.console, frame, cfg);
  buffer_setup(w, cfg.BUFSIZE, files, stage, program, frame.ROOTDIR);
  setup_ports(sys.console, sys.ports, program, cfg, ports);
  help_block(sys.console, {"ESC -- Hard Exit.", "Q   -- Soft Exit (EOL symbol wailing).", c_line},
             kDataWaiting);
  purge_after_help(sys.ports, program, ports);

  CaptureIo io{sys.console, sys.ports, sys.clock, stage};
  start_logging(w, s, t, cfg, io);
  sys.console.catch_interrupts();
  capture_loop(w, s, t, cfg, io, ports.HCOM1, ports.HCOM2);

  ENDLOG(w);
  close_ports(sys.ports, program, ports);
  return 0;
}

}  // namespace

int run_echo_logger(System& sys) {
  return run_logger<EchoWriter>(sys, Program::Tarvik20191117, sys.async_files,
                                "C   -- New log-file.");
}

int run_plain_logger(System& sys) {
  return run_logger<PlainWriter>(sys, Program::Tarvik20170104, sys.files, "C   -- Break log-file.");
}

}  // namespace kit
