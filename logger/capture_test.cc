#include "logger/capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_fakes.h"
#include "logger/plain_writer.h"

namespace kit {
namespace {

using testing::FakeClock;
using testing::FakeConsole;
using testing::RecordingFiles;

// One iteration of the loop as the test scripts it: the keys that are waiting
// when it starts, the bytes its port read brings (none: a time-out) and the
// clocks at that moment.
struct Step {
  std::string keys;
  std::string bytes;
  LocalTime wall;
  std::int64_t mono;
};

// A port whose reads play the script and set the clocks to each step's time.
class ScriptedPorts : public Ports {
 public:
  ScriptedPorts(std::vector<Step> steps, FakeConsole& console, FakeClock& clock)
      : steps_(std::move(steps)), console_(console), clock_(clock) {
    queue_keys(0);
  }
  PortHandle open(const std::string&, Access) override { return 1; }
  bool get_state(PortHandle, DCB&) override { return true; }
  bool set_state(PortHandle, const DCB&) override { return true; }
  bool escape(PortHandle, Escape) override { return true; }
  bool set_timeouts(PortHandle, const COMMTIMEOUTS&) override { return true; }
  bool get_timeouts(PortHandle, COMMTIMEOUTS&) override { return true; }
  bool purge(PortHandle, std::uint32_t) override { return true; }
  bool read(PortHandle, std::uint8_t* buf, std::uint32_t len, std::uint32_t& got) override {
    got = 0;
    if (next_ >= steps_.size()) {
      // Past the script the operator presses ESC, so a faulty loop cannot run forever.
      console_.keys.push_back(27);
      ++overrun;
      return true;
    }
    Step& s = steps_[next_];
    clock_.wall = s.wall;
    clock_.mono = s.mono;
    got = static_cast<std::uint32_t>(std::min<std::size_t>(len, s.bytes.size()));
    std::memcpy(buf, s.bytes.data(), got);
    asked.push_back(len);
    if (got < s.bytes.size()) {
      // What the read did not take arrives with the next read, at once.
      Step rest = s;
      rest.keys.clear();
      rest.bytes = s.bytes.substr(got);
      steps_.insert(steps_.begin() + static_cast<std::ptrdiff_t>(next_) + 1, rest);
    }
    ++next_;
    queue_keys(next_);
    return true;
  }
  bool write(PortHandle, const std::uint8_t* buf, std::uint32_t len, std::uint32_t& written,
             std::uint32_t max_wait_ms) override {
    written = echo_takes.empty() ? len : std::min(len, echo_takes.front());
    if (!echo_takes.empty()) echo_takes.pop_front();
    forwarded.append(reinterpret_cast<const char*>(buf), written);
    forward_waits.push_back(max_wait_ms);
    return true;
  }
  bool close(PortHandle) override { return true; }

  std::vector<std::uint32_t> asked;
  std::string forwarded;
  std::deque<std::uint32_t> echo_takes;  // how much the echo port takes of each forward
  std::vector<std::uint32_t> forward_waits;
  int overrun = 0;

 private:
  void queue_keys(std::size_t i) {
    if (i < steps_.size()) {
      for (char k : steps_[i].keys) console_.keys.push_back(static_cast<std::uint8_t>(k));
    }
  }
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  FakeConsole& console_;
  FakeClock& clock_;
};

LocalTime at(int h, int m, int s, int ms, int day = 24) {
  return LocalTime{2019,
                   5,
                   static_cast<std::uint16_t>(day),
                   static_cast<std::uint16_t>(h),
                   static_cast<std::uint16_t>(m),
                   static_cast<std::uint16_t>(s),
                   static_cast<std::uint16_t>(ms)};
}

struct LoopRun {
  RecordingFiles files;
  FakeConsole console;
  int overrun = 0;
  std::vector<std::uint32_t> asked;
  LoopState state;
};

Config base_config() {
  Config cfg;
  cfg.C1 = '[';
  cfg.C2 = ']';
  cfg.EOLCHAR = 13;
  cfg.EOLTIME = 100;
  cfg.BUFSIZE = 4096;
  cfg.INIEXT = ".log";
  cfg.FZ = 'H';
  return cfg;
}

// Runs the plain edition's loop from the start of logging to ENDLOG.
void run_loop(LoopRun& r, const Config& cfg, LocalTime start, std::vector<Step> steps) {
  FakeClock clock;
  clock.wall = start;
  clock.mono = 1000000;
  ScriptedPorts ports(std::move(steps), r.console, clock);
  ConsoleStage stage(r.console, kStageCapacity);
  PlainWriter w;
  buffer_setup(w, cfg.BUFSIZE, r.files, stage, Program::Tarvik20170104, "/st/");
  CaptureIo io{r.console, ports, clock, stage};
  ClockFields t;
  start_logging(w, r.state, t, cfg, io);
  capture_loop(w, r.state, t, cfg, io, 1, kInvalidPort);
  ENDLOG(w);
  r.overrun = ports.overrun;
  r.asked = ports.asked;
}

const std::string kStart = "/st/20190524_090503.log";

TEST(CaptureLoop, FramesLinesByEolByteAndBySilence) {
  // EOLTIME is 100: a gap of 100 ms continues the line, 101 ms starts one.
  LoopRun r;
  const std::int64_t m = 1000000;
  run_loop(r, base_config(), at(9, 5, 3, 42),
           {
               {"", "ab", at(9, 5, 4, 0), m + 500},       // first byte: always a header
               {"", "c", at(9, 5, 4, 100), m + 600},      // gap 100: same line
               {"", "d", at(9, 5, 4, 201), m + 701},      // gap 101: new line
               {"", "e\r\r", at(9, 5, 4, 250), m + 750},  // two EOL bytes: the second a line
               {"", "f", at(9, 5, 4, 260), m + 760},      // after EOL: new line
               {"\x1b", "", at(9, 5, 5, 0), m + 2000},
           });
  EXPECT_EQ(r.files.content[kStart], "[32704000]abc[32704201]de\r[32704250]\r[32704260]f");
  EXPECT_EQ(r.console.out, r.files.content[kStart]);
  EXPECT_EQ(r.overrun, 0);
}

TEST(CaptureLoop, GapComesFromTheMonotonicClock) {
  LoopRun r;
  const std::int64_t m = 1000000;
  run_loop(r, base_config(), at(23, 59, 59, 0),
           {
               {"", "a", at(23, 59, 59, 950), m + 950},
               // The wall clock passes midnight (or is set back): 60 ms of real
               // silence continue the line.
               {"", "b", at(0, 0, 0, 10, 25), m + 1010},
               // Set back by an hour, but 200 ms of real silence start a line.
               {"", "c", at(23, 0, 0, 210), m + 1210},
               {"\x1b", "", at(23, 0, 1, 0), m + 2000},
           });
  EXPECT_EQ(r.files.content["/st/20190524_235959.log"], "[86399950]ab[82800210]c");
}

TEST(CaptureLoop, HourlyRotationBetweenLines) {
  LoopRun r;
  const std::int64_t m = 1000000;
  run_loop(r, base_config(), at(10, 59, 0, 0),
           {
               {"", "x", at(10, 59, 59, 900), m + 500},
               // The line goes on past the hour: it stays whole in the old file.
               {"", "y\r", at(11, 0, 0, 50), m + 560},
               {"", "z\r", at(11, 0, 0, 70), m + 580},
               {"\x1b", "", at(11, 0, 1, 0), m + 2000},
           });
  EXPECT_EQ(r.files.content["/st/20190524_105900.log"], "[39599900]xy\r");
  EXPECT_EQ(r.files.content["/st/20190524_110000.log"], "[39600070]z\r");
}

TEST(CaptureLoop, FirstByteInALaterHourLeavesTheStartFileEmpty) {
  LoopRun r;
  run_loop(r, base_config(), at(10, 30, 0, 0),
           {{"", "a\r", at(11, 2, 3, 4), 1000500}, {"\x1b", "", at(11, 2, 4, 0), 1002000}});
  EXPECT_EQ(r.files.content["/st/20190524_103000.log"], "");
  EXPECT_EQ(r.files.content["/st/20190524_110203.log"], "[39723004]a\r");
}

TEST(CaptureLoop, DailyRotationAndNoneForOtherCodes) {
  for (char fz : {'D', 'h', 'd', '0', ' '}) {
    Config cfg = base_config();
    cfg.FZ = static_cast<std::uint8_t>(fz);
    LoopRun r;
    run_loop(r, cfg, at(23, 0, 0, 0),
             {{"", "a\r", at(23, 30, 0, 0), 1000500},
              {"", "b\r", at(0, 0, 0, 0, 25), 1000600},
              {"\x1b", "", at(0, 0, 1, 0, 25), 1002000}});
    SCOPED_TRACE(fz);
    if (fz == 'D') {
      EXPECT_EQ(r.files.content["/st/20190524_230000.log"], "[84600000]a\r");
      EXPECT_EQ(r.files.content["/st/20190525_000000.log"], "[00000000]b\r");
    } else {
      EXPECT_EQ(r.files.content.size(), 1u);
      EXPECT_EQ(r.files.content["/st/20190524_230000.log"], "[84600000]a\r[00000000]b\r");
    }
  }
}

TEST(CaptureLoop, KeyCActsAtTheLineEndAndNamesByTheLastByte) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {
               {"", "ab", at(9, 0, 1, 0), 1000500},
               {"C", "c\rde", at(9, 0, 2, 500), 1000550},  // C mid-line: switch after "\r"
               {"", "f\r", at(9, 0, 3, 0), 1000560},
               {"\x1b", "", at(9, 0, 4, 0), 1002000},
           });
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]abc\r");
  EXPECT_EQ(r.files.content["/st/20190524_090002.log"], "[32402500]def\r");
}

TEST(CaptureLoop, KeyCTwiceWithinTheSecondContinuesTheFile) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {
               {"C", "", at(9, 0, 0, 0), 1000100},  // before the first byte: same name
               {"", "a\r", at(9, 0, 0, 500), 1000500},
               {"C", "", at(9, 0, 0, 600), 1000600},
               {"", "b\r", at(9, 0, 0, 900), 1000900},
               {"\x1b", "", at(9, 0, 1, 0), 1002000},
           });
  EXPECT_EQ(r.files.content.size(), 1u);
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32400500]a\r[32400900]b\r");
}

TEST(CaptureLoop, SoftExitWaitsForTheLineEnd) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {
               {"", "ab", at(9, 0, 1, 0), 1000500},
               {"Q", "c", at(9, 0, 1, 10), 1000510},
               {"", "d\rlost", at(9, 0, 1, 20), 1000520},  // ends right after "\r"
           });
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]abcd\r");
  EXPECT_EQ(r.overrun, 0);
}

TEST(CaptureLoop, AnotherKeyCancelsAPendingQ) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {
               {"", "ab", at(9, 0, 1, 0), 1000500},
               {"Q", "c", at(9, 0, 1, 10), 1000510},
               {"x", "d\r", at(9, 0, 1, 20), 1000520},
               {"", "e\r", at(9, 0, 1, 30), 1000530},
               {"\x1b", "", at(9, 0, 2, 0), 1002000},
           });
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]abcd\r[32401030]e\r");
}

TEST(CaptureLoop, QAtALineEndEndsUnlessTheReadStartsALine) {
  {
    LoopRun r;  // Q before the first byte, silent line: ends in that iteration
    run_loop(r, base_config(), at(9, 0, 0, 0), {{"Q", "", at(9, 0, 1, 0), 1001000}});
    EXPECT_EQ(r.overrun, 0);
    EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "");
  }
  {
    LoopRun r;  // the same read brings a byte: the program waits for that line's end
    run_loop(r, base_config(), at(9, 0, 0, 0),
             {{"Q", "a", at(9, 0, 1, 0), 1001000}, {"", "b\rc", at(9, 0, 1, 5), 1001005}});
    EXPECT_EQ(r.overrun, 0);
    EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]ab\r");
  }
}

TEST(CaptureLoop, EscEndsMidLineAndKeepsThePartialLine) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {{"", "ab", at(9, 0, 1, 0), 1000500}, {"\x1b", "cdef", at(9, 0, 1, 10), 1000510}});
  // The iteration that reads ESC takes one byte; the rest is for the purge.
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]abc");
  EXPECT_EQ(r.asked.back(), 1u);
}

TEST(CaptureLoop, LowerCaseAndExtendedKeys) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {
               {"q", "a\r", at(9, 0, 1, 0), 1000500},  // q and c do nothing
               {"c", "b\r", at(9, 0, 2, 0), 1000600},
               {std::string(1, '\0'), "", at(9, 0, 3, 0), 1001600},  // F9: 0, then 67 = C
               {"C", "", at(9, 0, 3, 0), 1002600},
               {"", "d\r", at(9, 0, 4, 0), 1003600},
               {std::string(1, '\0'), "", at(9, 0, 5, 0), 1004600},  // PgDn: 0, then 81 = Q
               {"Q", "", at(9, 0, 5, 0), 1005600},
           });
  EXPECT_EQ(r.overrun, 0);
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]a\r[32402000]b\r");
  EXPECT_EQ(r.files.content["/st/20190524_090002.log"], "[32404000]d\r");
}

TEST(CaptureLoop, AnyByteValueIsLoggedAndShownUnchanged) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    if (b != 13) all += static_cast<char>(b);
  }
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {{"", all, at(9, 0, 1, 0), 1000500}, {"\x1b", "", at(9, 0, 2, 0), 1002000}});
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]" + all);
  EXPECT_EQ(r.console.out, "[32401000]" + all);
}

TEST(CaptureLoop, BufferFlushesKeepTheFillBounded) {
  // Each case: BUFSIZE, and the most bytes one flush may carry.
  struct Case {
    std::int32_t bufsize;
    std::size_t most;
  };
  for (const Case c : {Case{1, 11}, Case{0, 11}, Case{-5, 11}, Case{7, 17}, Case{4096, 4106}}) {
    SCOPED_TRACE(c.bufsize);
    Config cfg = base_config();
    cfg.BUFSIZE = c.bufsize;
    std::string data;
    for (int i = 0; i < 300; ++i) data += (i % 9 == 8) ? '\r' : static_cast<char>('a' + i % 26);
    LoopRun r;
    run_loop(r, cfg, at(9, 0, 0, 0),
             {{"", data, at(9, 0, 1, 0), 1000500},
              {"", data, at(9, 0, 1, 1), 1000501},
              {"\x1b", "", at(9, 0, 2, 0), 1002000}});
    const std::string& log = r.files.content["/st/20190524_090000.log"];
    EXPECT_EQ(log.size(), 600u + 10u * (600 / 9 + 1));
    for (std::size_t n : r.files.write_sizes) EXPECT_LE(n, c.most);
  }
}

TEST(CaptureLoop, BatchesAreAskedInFullAndShownInOneWrite) {
  LoopRun r;
  run_loop(r, base_config(), at(9, 0, 0, 0),
           {{"", std::string(10000, 'x'), at(9, 0, 1, 0), 1000500},
            {"\x1b", "", at(9, 0, 2, 0), 1002000}});
  EXPECT_EQ(r.asked[0], kBatch);
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]" + std::string(10000, 'x'));
}

TEST(CaptureLoop, InterruptEndsThroughTheShutDown) {
  LoopRun r;
  FakeClock clock;
  clock.wall = at(9, 0, 0, 0);
  ScriptedPorts ports({{"", "abc", at(9, 0, 1, 0), 1000500}}, r.console, clock);
  ConsoleStage stage(r.console, kStageCapacity);
  PlainWriter w;
  buffer_setup(w, 4096, r.files, stage, Program::Tarvik20170104, "/st/");
  CaptureIo io{r.console, ports, clock, stage};
  ClockFields t;
  Config cfg = base_config();
  start_logging(w, r.state, t, cfg, io);
  r.console.interrupt = true;  // Ctrl+C arrives while the read waits
  capture_loop(w, r.state, t, cfg, io, 1, kInvalidPort);
  ENDLOG(w);
  EXPECT_TRUE(r.state.interrupted);
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"], "[32401000]abc");
}

TEST(CaptureLoop, EchoEditionForwardsEveryBatchAndNeverStallsOnTheEchoPort) {
  LoopRun r;
  FakeClock clock;
  clock.wall = at(9, 0, 0, 0);
  ScriptedPorts ports({{"", "ab\r", at(9, 0, 1, 0), 1000500},
                       {"", "cd", at(9, 0, 1, 10), 1000510},    // the echo port takes 1 byte
                       {"", "ef", at(9, 0, 1, 20), 1000520},    // none
                       {"", "gh\r", at(9, 0, 1, 30), 1000530},  // all again
                       {"", "ij", at(9, 0, 1, 40), 1000540},
                       {"\x1b", "", at(9, 0, 2, 0), 1002000}},
                      r.console, clock);
  ports.echo_takes = {3, 1, 0, 3, 2};
  ConsoleStage stage(r.console, kStageCapacity);
  PlainWriter w;
  buffer_setup(w, 4096, r.files, stage, Program::Tarvik20170104, "/st/");
  CaptureIo io{r.console, ports, clock, stage};
  ClockFields t;
  Config cfg = base_config();
  start_logging(w, r.state, t, cfg, io);
  capture_loop(w, r.state, t, cfg, io, 1, 2);
  ENDLOG(w);
  // The log is complete whatever the echo port took.
  EXPECT_EQ(r.files.content["/st/20190524_090000.log"],
            "[32401000]ab\r[32401010]cdefgh\r[32401040]ij");
  EXPECT_EQ(ports.forwarded, "ab\rcgh\rij");
  // After a forward that was held back, the next ones do not wait.
  EXPECT_EQ(ports.forward_waits, (std::vector<std::uint32_t>{1000, 1000, 0, 0, 1000}));
}

}  // namespace
}  // namespace kit
