#include "common/portsetup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/process.h"
#include "common/test_fakes.h"

namespace kit {
namespace {

using ::testing::ElementsAreArray;

// One log of everything the set-up does, port calls and console lines ("> ...")
// in the order they happen.
using Log = std::vector<std::string>;

class LoggingConsole : public testing::FakeConsole {
 public:
  explicit LoggingConsole(Log& log) : log_(log) {}
  void write(std::string_view bytes) override {
    FakeConsole::write(bytes);
    std::string line(bytes);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
      line.resize(line.size() - 2);
    log_.push_back("> " + line);
  }

 private:
  Log& log_;
};

// Ports whose names, refusals and read-back values a case scripts. A set that
// is accepted becomes what the line holds, through the driver's own change.
class RecordingPorts : public Ports {
 public:
  explicit RecordingPorts(Log& log) : log_(log) {}

  PortHandle open(const std::string& name, Access access) override {
    const char* mode = access == Access::Read ? "R" : access == Access::Write ? "W" : "RW";
    log_.push_back("open " + name + " " + mode);
    const auto it = names.find(name);
    if (it == names.end()) return kInvalidPort;
    line.emplace(it->second, base);
    return it->second;
  }
  bool get_state(PortHandle port, DCB& dcb) override {
    log_.push_back("get " + std::to_string(port));
    if (fail_get.count(port)) return false;
    dcb = line.at(port);
    return true;
  }
  bool set_state(PortHandle port, const DCB& dcb) override {
    char text[80];
    std::snprintf(text, sizeof text, "set %d %u %u %u %u %08x", static_cast<int>(port),
                  dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, dcb.Flags);
    log_.push_back(text);
    if (refuse_set.count(port) || (refuse_value && refuse_value(dcb))) return false;
    DCB taken = dcb;
    if (driver) driver(taken);
    line[port] = taken;
    return true;
  }
  bool escape(PortHandle port, Escape function) override {
    const char* names[] = {"?", "?", "?", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR"};
    log_.push_back("esc " + std::to_string(port) + " " + names[static_cast<int>(function)]);
    return false;  // not looked at
  }
  bool set_timeouts(PortHandle port, const COMMTIMEOUTS& t) override {
    log_.push_back("settimeouts " + std::to_string(port) + " " + timeouts_text(t));
    if (refuse_timeouts.count(port)) return false;
    stored[port] = t;
    return true;
  }
  bool get_timeouts(PortHandle port, COMMTIMEOUTS& t) override {
    log_.push_back("gettimeouts " + std::to_string(port));
    t = stored[port];
    if (timeouts_driver) timeouts_driver(t);
    return true;
  }
  bool purge(PortHandle port, std::uint32_t flags) override {
    log_.push_back("purge " + std::to_string(port) + " " + std::to_string(flags));
    return true;
  }
  bool read(PortHandle, std::uint8_t*, std::uint32_t, std::uint32_t& got) override {
    got = 0;
    return false;
  }
  bool write(PortHandle, const std::uint8_t*, std::uint32_t, std::uint32_t& written,
             std::uint32_t) override {
    written = 0;
    return false;
  }
  bool close(PortHandle port) override {
    log_.push_back("close " + std::to_string(port));
    return true;
  }

  static std::string timeouts_text(const COMMTIMEOUTS& t) {
    return std::to_string(t.ReadIntervalTimeout) + " " +
           std::to_string(t.ReadTotalTimeoutMultiplier) + " " +
           std::to_string(t.ReadTotalTimeoutConstant) + " " +
           std::to_string(t.WriteTotalTimeoutMultiplier) + " " +
           std::to_string(t.WriteTotalTimeoutConstant);
  }

  std::map<std::string, PortHandle> names{{"CC", 10}, {"IN", 11}, {"ECHO", 12}};
  // What a port holds when opened: 9600 8N1 and flag bits on both sides of the
  // line-control mask (fBinary, fParity, fOutxDsrFlow, DTR enabled, bit 20;
  // fInX, fErrorChar, fNull, RTS handshake).
  DCB base = [] {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = 9600;
    d.ByteSize = 8;
    d.Flags = 0x00103E1B;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
  }();
  std::map<PortHandle, DCB> line;
  std::set<PortHandle> refuse_set, refuse_timeouts, fail_get;
  std::function<bool(const DCB&)> refuse_value;  // values the port does not take
  std::function<void(DCB&)> driver;              // how an accepted block is changed by the port
  std::function<void(COMMTIMEOUTS&)> timeouts_driver;
  std::map<PortHandle, COMMTIMEOUTS> stored;

 private:
  Log& log_;
};

Config station() {
  Config c;
  c.SNCOM = "IN";
  c.SNCOM2 = "ECHO";
  c.NCOM = "IN";
  c.NCOM2 = "ECHO";
  c.NCOM0 = "CC";
  c.COMBAUD = 19200;
  c.COMBYTESIZE = 7;
  c.COMPARITY = 2;
  c.COMSTOPBITS = 2;
  c.ZZZ1 = '1';
  c.ZZZ2 = '0';
  return c;
}

struct SetupRun {
  Log log;
  bool ended = false;
  int status = -1;
  PortState state;
};

// Runs the set-up; an ending is caught and noted, as the entry files do.
void run_setup(Program program, const Config& config,
               const std::function<void(RecordingPorts&)>& arrange, SetupRun& run) {
  LoggingConsole console(run.log);
  RecordingPorts ports(run.log);
  if (arrange) arrange(ports);
  try {
    setup_ports(console, ports, program, config, run.state);
  } catch (const Ending& e) {
    run.ended = true;
    run.status = e.status;
  }
}

const char* kTimeoutsReport =
    "> TimeOuts: ReadInterv=0ms; ReadTotalMulti=0ms; ReadTotalConst=1000ms";
const char* kPressAnyKey = "> Press any key for Exit";

struct Case {
  const char* name;
  std::function<void(RecordingPorts&)> arrange;
  Log expected;  // without the "Press any key for Exit" of an ending
  bool ends;
};

void check_cases(Program program, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetupRun run;
    run_setup(program, station(), c.arrange, run);
    Log expected = c.expected;
    if (c.ends) expected.push_back(kPressAnyKey);
    EXPECT_THAT(run.log, ElementsAreArray(expected));
    EXPECT_EQ(run.ended, c.ends);
    if (c.ends) {
      EXPECT_EQ(run.status, 0);
    }
  }
}

TEST(PortSetup, Tarvik20191117Sequence) {
  const Log opens = {"open IN R", "open ECHO W"};
  const Log input_port = {
      "get 11",
      "set 11 19200 7 2 2 00103e1b",
      "get 11",
      "> Configed: BaudRate=19200; ByteSize=7; Parity=2; StopBits=2",
      "esc 11 SETRTS",
      "esc 11 CLRDTR",
      "set 11 19200 7 2 2 0010011b",
  };
  const Log echo_port = {
      "get 12",
      "set 12 19200 7 2 2 00103e1b",
      "get 12",
      "> Configed2: BaudRate=19200; ByteSize=7; Parity=2; StopBits=2",
      "set 12 19200 7 2 2 00103e1b",
  };
  auto join = [](std::initializer_list<Log> parts) {
    Log all;
    for (const Log& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const std::vector<Case> cases = {
      {"all taken", nullptr,
       join({opens,
             input_port,
             echo_port,
             {"settimeouts 11 0 0 1000 0 0", "gettimeouts 11", kTimeoutsReport}}),
       false},
      {"no input port",
       [](RecordingPorts& p) { p.names.erase("IN"); },
       {"open IN R", "> Error: can not open Com"},
       true},
      {"no echo port: nothing configured", [](RecordingPorts& p) { p.names.erase("ECHO"); },
       join({opens, {"> Error: can not open Com_Out"}}), true},
      {"input settings refused: reported as the port holds them, then the tested call fails",
       [](RecordingPorts& p) { p.refuse_set.insert(11); },
       join({opens,
             {"get 11", "set 11 19200 7 2 2 00103e1b", "get 11",
              "> Configed: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0", "esc 11 SETRTS",
              "esc 11 CLRDTR", "set 11 9600 8 0 0 0010011b", "> Error: can not config Com"}}),
       true},
      {"input parity refused by a port that keeps what it had: the tested call carries the "
       "refusal",
       [](RecordingPorts& p) { p.refuse_value = [](const DCB& d) { return d.Parity != 0; }; },
       join({opens,
             {"get 11", "set 11 19200 7 2 2 00103e1b", "get 11",
              "> Configed: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0", "esc 11 SETRTS",
              "esc 11 CLRDTR", "set 11 9600 8 0 0 0010011b", "> Error: can not config Com"}}),
       true},
      {"echo settings refused", [](RecordingPorts& p) { p.refuse_set.insert(12); },
       join({opens,
             input_port,
             {"get 12", "set 12 19200 7 2 2 00103e1b", "get 12",
              "> Configed2: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0",
              "set 12 9600 8 0 0 00103e1b", "> Error: can not config Com2"}}),
       true},
      {"time-outs refused", [](RecordingPorts& p) { p.refuse_timeouts.insert(11); },
       join({opens,
             input_port,
             echo_port,
             {"settimeouts 11 0 0 1000 0 0", "> Error: can not set Com TimeOuts"}}),
       true},
  };
  check_cases(Program::Tarvik20191117, cases);
}

TEST(PortSetup, Tarvik20170104Sequence) {
  const Log configured = {
      "open IN R",
      "get 11",
      "set 11 19200 7 2 2 0010011b",
      "esc 11 SETRTS",
      "esc 11 CLRDTR",
      "get 11",
      "> Configed: BaudRate=19200; ByteSize=7; Parity=2; StopBits=2",
  };
  Log all = configured;
  all.insert(all.end(), {"settimeouts 11 0 0 1000 0 0", "gettimeouts 11", kTimeoutsReport});
  Log timeouts_refused = configured;
  timeouts_refused.insert(timeouts_refused.end(),
                          {"settimeouts 11 0 0 1000 0 0", "> Error: can not set Com TimeOuts"});
  check_cases(
      Program::Tarvik20170104,
      {
          {"all taken", nullptr, all, false},
          {"no port",
           [](RecordingPorts& p) { p.names.clear(); },
           {"open IN R", "> Error: can not open Com"},
           true},
          {"settings refused: no line control, no report",
           [](RecordingPorts& p) { p.refuse_set.insert(11); },
           {"open IN R", "get 11", "set 11 19200 7 2 2 0010011b", "> Error: can not config Com"},
           true},
          {"time-outs refused", [](RecordingPorts& p) { p.refuse_timeouts.insert(11); },
           timeouts_refused, true},
      });
}

TEST(PortSetup, Pelmar20190524Sequence) {
  const Log configured = {
      "open IN W",
      "get 11",
      "set 11 19200 7 2 2 00103e1b",  // no flag adjustment
      "get 11",
      "> Configed: BaudRate=19200; ByteSize=7; Parity=2; StopBits=2",
  };
  Log all = configured;
  all.insert(all.end(), {"settimeouts 11 0 0 1000 0 0", "gettimeouts 11", kTimeoutsReport});
  Log timeouts_refused = configured;
  timeouts_refused.insert(timeouts_refused.end(),
                          {"settimeouts 11 0 0 1000 0 0", "> Error: can not set Com TimeOuts"});
  check_cases(
      Program::Pelmar20190524,
      {
          {"all taken, no line control whatever the characters", nullptr, all, false},
          {"no port",
           [](RecordingPorts& p) { p.names.clear(); },
           {"open IN W", "> Error: can not open Com"},
           true},
          {"settings refused",
           [](RecordingPorts& p) { p.refuse_set.insert(11); },
           {"open IN W", "get 11", "set 11 19200 7 2 2 00103e1b", "> Error: can not config Com"},
           true},
          {"time-outs refused", [](RecordingPorts& p) { p.refuse_timeouts.insert(11); },
           timeouts_refused, true},
      });
}

TEST(PortSetup, Dorvel20161004Sequence) {
  const Log counter = {
      "open CC RW",
      "get 10",
      "set 10 4800 8 0 0 0010011b",
      "esc 10 SETRTS",
      "esc 10 SETDTR",
      "get 10",
      "> Configed CC: BaudRate=4800; ByteSize=8; Parity=0; StopBits=0",
      "settimeouts 10 0 0 1000 0 0",
      "purge 10 12",
  };
  const Log relay = {
      "open IN RW",
      "get 11",
      "set 11 19200 7 2 2 0010011b",
      "esc 11 SETRTS",
      "esc 11 CLRDTR",
      "get 11",
      "> Configed Relay: BaudRate=19200; ByteSize=7; Parity=2; StopBits=2",
  };
  auto join = [](std::initializer_list<Log> parts) {
    Log all;
    for (const Log& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  check_cases(
      Program::Dorvel20161004,
      {
          {"all taken", nullptr,
           join({counter,
                 relay,
                 {"settimeouts 11 0 0 1000 0 0", "gettimeouts 11", kTimeoutsReport}}),
           false},
          {"no counter port",
           [](RecordingPorts& p) { p.names.erase("CC"); },
           {"open CC RW", "> Error: can not open CC Com"},
           true},
          {"counter settings refused",
           [](RecordingPorts& p) { p.refuse_set.insert(10); },
           {"open CC RW", "get 10", "set 10 4800 8 0 0 0010011b", "> Error: can not config CC Com"},
           true},
          {"counter time-outs refused",
           [](RecordingPorts& p) { p.refuse_timeouts.insert(10); },
           {"open CC RW", "get 10", "set 10 4800 8 0 0 0010011b", "esc 10 SETRTS", "esc 10 SETDTR",
            "get 10", "> Configed CC: BaudRate=4800; ByteSize=8; Parity=0; StopBits=0",
            "settimeouts 10 0 0 1000 0 0", "> Error: can not set CC Com TimeOuts"},
           true},
          {"no relay port", [](RecordingPorts& p) { p.names.erase("IN"); },
           join({counter, {"open IN RW", "> Error: can not open Com"}}), true},
          {"relay settings refused", [](RecordingPorts& p) { p.refuse_set.insert(11); },
           join({counter,
                 {"open IN RW", "get 11", "set 11 19200 7 2 2 0010011b",
                  "> Error: can not config Com"}}),
           true},
          {"relay time-outs refused", [](RecordingPorts& p) { p.refuse_timeouts.insert(11); },
           join({counter,
                 relay,
                 {"settimeouts 11 0 0 1000 0 0", "> Error: can not set Com TimeOuts"}}),
           true},
      });
}

// The reports show what the port gives back, not what was written.
TEST(PortSetup, ReportsComeFromTheReadBack) {
  for (Program program : {Program::Tarvik20191117, Program::Tarvik20170104, Program::Pelmar20190524,
                          Program::Dorvel20161004}) {
    SCOPED_TRACE(program_name(program));
    SetupRun run;
    run_setup(
        program, station(),
        [](RecordingPorts& p) {
          p.driver = [](DCB& d) {
            d.BaudRate += 31;  // the device's nearest rate
            d.ByteSize = 8;    // and it forces 8 data bits without parity
            d.Parity = 0;
          };
          p.timeouts_driver = [](COMMTIMEOUTS& t) { t.ReadTotalTimeoutConstant = 999; };
        },
        run);
    ASSERT_FALSE(run.ended);
    std::vector<std::string> reports;
    for (const std::string& entry : run.log) {
      if (entry.rfind("> ", 0) == 0) reports.push_back(entry);
    }
    const std::map<Program, Log> expected = {
        {Program::Tarvik20191117,
         {"> Configed: BaudRate=19231; ByteSize=8; Parity=0; StopBits=2",
          "> Configed2: BaudRate=19231; ByteSize=8; Parity=0; StopBits=2"}},
        {Program::Tarvik20170104, {"> Configed: BaudRate=19231; ByteSize=8; Parity=0; StopBits=2"}},
        {Program::Pelmar20190524, {"> Configed: BaudRate=19231; ByteSize=8; Parity=0; StopBits=2"}},
        {Program::Dorvel20161004,
         {"> Configed CC: BaudRate=4831; ByteSize=8; Parity=0; StopBits=0",
          "> Configed Relay: BaudRate=19231; ByteSize=8; Parity=0; StopBits=2"}},
    };
    Log want = expected.at(program);
    want.push_back("> TimeOuts: ReadInterv=0ms; ReadTotalMulti=0ms; ReadTotalConst=999ms");
    EXPECT_THAT(reports, ElementsAreArray(want));
  }
}

// ZZZ1 drives RTS, ZZZ2 drives DTR; the flags are adjusted only when both are
// "0" or "1".
TEST(PortSetup, LineControlCharacters) {
  struct Pair {
    std::uint8_t zzz1, zzz2;
    bool adjusted;
    std::vector<std::string> escapes;
  };
  const Pair pairs[] = {
      {'1', '0', true, {"SETRTS", "CLRDTR"}},
      {'0', '1', true, {"CLRRTS", "SETDTR"}},
      {'1', '1', true, {"SETRTS", "SETDTR"}},
      {'0', '0', true, {"CLRRTS", "CLRDTR"}},
      {'1', ' ', false, {"SETRTS"}},
      {'x', '0', false, {"CLRDTR"}},
      {'2', '1', false, {"SETDTR"}},
      {'2', '3', false, {}},
      {0, 0, false, {}},
  };
  for (Program program :
       {Program::Tarvik20191117, Program::Tarvik20170104, Program::Dorvel20161004}) {
    for (const Pair& pair : pairs) {
      SCOPED_TRACE(::testing::Message()
                   << program_name(program) << " '" << pair.zzz1 << "' '" << pair.zzz2 << "'");
      Config config = station();
      config.ZZZ1 = pair.zzz1;
      config.ZZZ2 = pair.zzz2;
      SetupRun run;
      run_setup(program, config, nullptr, run);
      ASSERT_FALSE(run.ended);
      std::vector<std::string> escapes;
      std::string last_set;
      for (const std::string& entry : run.log) {
        if (entry.rfind("esc 11 ", 0) == 0) escapes.push_back(entry.substr(7));
        if (entry.rfind("set 11 ", 0) == 0) last_set = entry;
      }
      EXPECT_EQ(escapes, pair.escapes);
      EXPECT_EQ(last_set.substr(last_set.size() - 8), pair.adjusted ? "0010011b" : "00103e1b");
      // The echo port and the counter port never follow the characters.
      for (const std::string& entry : run.log) {
        EXPECT_NE(entry.rfind("esc 12", 0), 0u) << entry;
        if (entry.rfind("set 10 ", 0) == 0) {
          EXPECT_THAT(entry, ::testing::EndsWith("0010011b"));
        }
      }
    }
  }
}

TEST(PortSetup, Pelmar20190524NeverDrivesTheLines) {
  for (std::uint8_t c : {'0', '1'}) {
    Config config = station();
    config.ZZZ1 = c;
    config.ZZZ2 = c;
    SetupRun run;
    run_setup(Program::Pelmar20190524, config, nullptr, run);
    for (const std::string& entry : run.log) EXPECT_NE(entry.rfind("esc", 0), 0u) << entry;
  }
}

// The relay's one block: a failed read of the relay port leaves the counter
// port's values in it, and only the configured fields change.
TEST(PortSetup, Dorvel20161004KeepsTheCounterBlockForTheRelayPort) {
  SetupRun run;
  Config config = station();
  config.ZZZ1 = ' ';
  config.ZZZ2 = ' ';
  run_setup(
      Program::Dorvel20161004, config,
      [](RecordingPorts& p) {
        p.fail_get.insert(11);
        p.base.Flags = 0x00003E00;  // the relay port would read back other flags
      },
      run);
  ASSERT_FALSE(run.ended);
  // Counter port set with the adjusted flags; the relay's set carries them on.
  EXPECT_THAT(run.log, ::testing::Contains("set 10 4800 8 0 0 00000100"));
  EXPECT_THAT(run.log, ::testing::Contains("set 11 19200 7 2 2 00000100"));
  // The relay port's read-back failed too: the report shows the block as written.
  EXPECT_THAT(run.log, ::testing::Contains(
                           "> Configed Relay: BaudRate=19200; ByteSize=7; Parity=2; StopBits=2"));
}

TEST(PortSetup, CounterPortIsFixedWhateverTheConfiguration) {
  Config config = station();
  config.COMBAUD = 115200;
  config.COMBYTESIZE = 5;
  config.COMPARITY = 4;
  config.COMSTOPBITS = 1;
  config.ZZZ1 = 'n';
  config.ZZZ2 = 'n';
  SetupRun run;
  run_setup(Program::Dorvel20161004, config, nullptr, run);
  EXPECT_THAT(run.log, ::testing::Contains("set 10 4800 8 0 0 0010011b"));
  EXPECT_THAT(run.log, ::testing::Contains(
                           "> Configed CC: BaudRate=4800; ByteSize=8; Parity=0; StopBits=0"));
  EXPECT_THAT(run.log, ::testing::Contains("set 11 115200 5 4 1 00103e1b"));
}

TEST(PortSetup, PurgeAfterHelpAndClose) {
  struct Expect {
    Program program;
    Log after_help;
    Log at_end;
  };
  const Expect cases[] = {
      {Program::Tarvik20191117,
       {"purge 11 12", "purge 12 12"},
       {"purge 11 12", "close 11", "purge 12 12", "close 12"}},
      {Program::Tarvik20170104, {"purge 11 12"}, {"purge 11 12", "close 11"}},
      {Program::Pelmar20190524, {"purge 11 12"}, {"purge 11 12", "close 11"}},
      {Program::Dorvel20161004,
       {"purge 11 12"},
       {"purge 10 12", "close 10", "purge 11 12", "close 11"}},
  };
  for (const Expect& c : cases) {
    SCOPED_TRACE(program_name(c.program));
    Log log;
    RecordingPorts ports(log);
    PortState state;
    state.HCOM0 = 10;
    state.HCOM1 = 11;
    state.HCOM2 = 12;
    purge_after_help(ports, c.program, state);
    EXPECT_THAT(log, ElementsAreArray(c.after_help));
    log.clear();
    close_ports(ports, c.program, state);
    EXPECT_THAT(log, ElementsAreArray(c.at_end));
  }
}

TEST(PortSetup, HandlesAndBlocksAreKeptInTheState) {
  SetupRun run;
  run_setup(Program::Tarvik20191117, station(), nullptr, run);
  EXPECT_EQ(run.state.HCOM1, 11);
  EXPECT_EQ(run.state.HCOM2, 12);
  EXPECT_EQ(run.state.DCBZ.BaudRate, 19200u);
  EXPECT_EQ(run.state.DCBZ.Flags, 0x0010011Bu);
  EXPECT_EQ(run.state.DCBZ2.Flags, 0x00103E1Bu);
  EXPECT_EQ(run.state.TOPR.ReadTotalTimeoutConstant, 1000u);
}

}  // namespace
}  // namespace kit
