// The capture loop that both logger editions share: it reads the input port,
// forwards the bytes (echo edition), cuts the stream into lines by the
// end-of-line byte and by silence, stamps every line, shows everything on the
// console and hands it to the edition's log writer.
//
// Bytes are taken in batches: one port read brings what has arrived, the clock
// is read once per batch, the console output of a batch goes out in one write
// and runs of bytes are copied into the log buffer. Every rule of order holds
// as if the bytes came one at a time: the bytes of one batch arrived together,
// so only the first of them can follow a silence, and a pending C or Q acts
// right after the end-of-line byte that allows it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/config.h"
#include "common/frame.h"
#include "common/portsetup.h"
#include "common/stamps.h"
#include "common/system.h"
#include "logger/stage.h"

namespace kit {

// Bytes asked of one port read.
constexpr std::uint32_t kBatch = 4096;
// The most console bytes one batch can make: a header before every byte.
constexpr std::size_t kStageCapacity = kBatch * 11 + 64;

constexpr std::uint8_t kEsc = 27;
// The longest a forward waits for the echo port: one read time-out.
constexpr std::uint32_t kForwardWaitMs = 1000;

struct LoopState {
  std::uint8_t CHAR1 = 0;
  std::uint32_t RET = 0;
  std::uint8_t KEY = 0;
  std::uint8_t FL = 0;
  std::int32_t LTIMEO = 0;  // LTIME of the previous byte (LTIME itself is a clock field)
  std::int32_t DLTIME = 0;
  // The gap is measured on the monotonic clock: a silence is a silence across
  // midnight and when the wall clock is set; LTIMEO keeps the wall time of day.
  std::int64_t MONO = 0;
  std::int64_t MONOO = 0;
  bool interrupted = false;
  bool echo_stalled = false;  // the echo port did not take the last forward whole
};

struct CaptureIo {
  Console& console;
  Ports& ports;
  Clock& clock;
  ConsoleStage& stage;
};

// Stores the header of a line at BUF and on the console.
template <class Writer>
void HEADWRITE(Writer& w, LoopState& s, ClockFields& t, const Config& cfg, ConsoleStage& stage) {
  s.FL = 0;
  MAKESTAMP(t);
  std::uint8_t* p = w.BUF;
  p[0] = cfg.C1;
  std::memcpy(p + 1, t.SLTIME, 8);
  p[9] = cfg.C2;
  w.BUF = p + 10;
  stage.put(p, 10);
}

// Start of logging: first file, the start time, KEY and FL.
template <class Writer>
void start_logging(Writer& w, LoopState& s, ClockFields& t, const Config& cfg, CaptureIo& io) {
  prepare_writes(w);
  READCLOCK(io.clock, t);
  MAKEFNAME(t, cfg.INIEXT);
  OPENLOG(w, t.FNAME);
  s.LTIMEO = DAYMSEC(t);
  s.MONOO = io.clock.mono_ms();
  s.KEY = 0;
  s.FL = 1;
}

// The end of an iteration: a pending C starts a new log file at a line
// end; true when the loop is to end (ESC, or Q at a line end).
template <class Writer>
bool keys_at_iteration_end(Writer& w, LoopState& s, ClockFields& t, const Config& cfg) {
  if (s.KEY == 'C' && s.FL == 1) {
    s.KEY = 0;
    MAKEFNAME(t, cfg.INIEXT);
    NEWLOG(w, t.FNAME);
  }
  return s.KEY == kEsc || (s.KEY == 'Q' && s.FL == 1);
}

// Handles the bytes of one batch. Returns true when the loop is to end. The
// console output of the batch goes out once, at its end; the writers put it on
// the screen themselves before any message of theirs.
template <class Writer>
bool process_batch(Writer& w, LoopState& s, ClockFields& t, const Config& cfg, CaptureIo& io,
                   const std::uint8_t* data, std::uint32_t n) {
  READCLOCK(io.clock, t);
  t.LTIME = DAYMSEC(t);
  s.MONO = io.clock.mono_ms();
  s.DLTIME =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(s.MONO - s.MONOO, INT32_MIN, INT32_MAX));
  s.LTIMEO = t.LTIME;
  s.MONOO = s.MONO;
  // Only the first byte of a batch can follow a silence; the others arrived with it.
  bool after_gap = s.DLTIME > static_cast<std::int32_t>(cfg.EOLTIME);
  std::uint32_t pos = 0;
  bool done = false;
  while (pos < n) {
    if (s.FL == 1 || after_gap) {
      after_gap = false;
      if (BREAKDUE(t, cfg.FZ)) {
        MAKEFNAME(t, cfg.INIEXT);
        NEWLOG(w, t.FNAME);
      }
      HEADWRITE(w, s, t, cfg, io.stage);
    }
    // A run ends at the end-of-line byte, at the end of the batch, or where the
    // buffer's fill reaches BUFSIZE (at least one byte is always taken).
    std::uint32_t run = n - pos;
    if (const void* eol = std::memchr(data + pos, cfg.EOLCHAR, run)) {
      run = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(eol) - (data + pos)) + 1;
    }
    const std::int64_t fill = w.BUF - active_start(w);
    const std::int64_t room = std::max<std::int64_t>(1, std::int64_t{w.BUFSIZE} - fill);
    run = static_cast<std::uint32_t>(std::min<std::int64_t>(run, room));
    std::memcpy(w.BUF, data + pos, run);
    w.BUF += run;
    io.stage.put(data + pos, run);
    pos += run;
    s.CHAR1 = data[pos - 1];
    if (s.CHAR1 == cfg.EOLCHAR) s.FL = 1;
    if (w.BUF - active_start(w) >= std::int64_t{w.BUFSIZE}) FWRITE(w);
    // At an end the rest of the batch is what the closing purge discards.
    if (keys_at_iteration_end(w, s, t, cfg)) {
      done = true;
      break;
    }
  }
  io.stage.flush();
  return done;
}

// The loop, from the first iteration to the end test that ends it. The echo
// edition passes its echo port (kInvalidPort: no forward).
template <class Writer>
void capture_loop(Writer& w, LoopState& s, ClockFields& t, const Config& cfg, CaptureIo& io,
                  PortHandle HCOM1, PortHandle HCOM2) {
  std::uint8_t data[kBatch];
  for (;;) {
    if (io.console.key_test()) s.KEY = io.console.key_read();
    // ESC ends the loop after this iteration's byte: ask for one byte only.
    const std::uint32_t want = (s.KEY == kEsc) ? 1 : kBatch;
    s.RET = 0;
    io.ports.read(HCOM1, data, want, s.RET);
    // Ctrl+C, SIGTERM or a hang-up end the loop after this batch, through the
    // shut-down of ESC, so that nothing buffered is lost.
    const bool interrupted = io.console.interrupted();
    bool done = false;
    if (s.RET > 0) {
      if (HCOM2 != kInvalidPort) {
        // The forward is bounded: it waits at most about one read time-out for
        // the echo port, and what that port does not take is dropped for it
        // alone. Once it has held bytes back, the next forwards do not wait
        // until it takes a whole batch again, so a stalled echo port never
        // slows the log.
        std::uint32_t written = 0;
        io.ports.write(HCOM2, data, s.RET, written, s.echo_stalled ? 0 : kForwardWaitMs);
        s.echo_stalled = written < s.RET;
      }
      done = process_batch(w, s, t, cfg, io, data, s.RET);
    } else {
      done = keys_at_iteration_end(w, s, t, cfg);
    }
    if (interrupted) s.interrupted = true;
    if (done || interrupted) return;
  }
}

}  // namespace kit
