#include "common/frame.h"

#include <gtest/gtest.h>

#include "common/stamps.h"
#include "common/test_fakes.h"

namespace kit {
namespace {

using testing::FakeConsole;

TEST(Paths, WorkFolderAndIniPath) {
  struct Case {
    const char* exe;
    bool posix;
    bool ok;
    const char* rootdir;
    const char* inipath;
  };
  const Case cases[] = {
      {"C:\\run\\logger.exe", false, true, "C:\\run\\", "C:\\run\\logger.ini"},
      // Without a dot in the file name the folder's dot is taken.
      {"C:\\tools\\rel.2\\logger", false, true, "C:\\tools\\rel.2\\", "C:\\tools\\rel.ini"},
      {"logger.exe", false, false, "", ""},
      {"C:\\run\\logger", false, false, "", ""},
      {"C:/run/logger.exe", false, false, "", ""},  // "/" is no separator there
      {"/tmp/st1/Tarvik20191117", true, true, "/tmp/st1/", "/tmp/st1/Tarvik20191117.ini"},
      {"/tmp/st1/x.exe", true, true, "/tmp/st1/", "/tmp/st1/x.ini"},
      {"/home/u/.local/bin/Tarvik", true, true, "/home/u/.local/bin/",
       "/home/u/.local/bin/Tarvik.ini"},
      {"Tarvik", true, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe);
    std::string rootdir, inipath;
    EXPECT_EQ(derive_paths(c.exe, c.posix, rootdir, inipath), c.ok);
    if (c.ok) {
      EXPECT_EQ(rootdir, c.rootdir);
      EXPECT_EQ(inipath, c.inipath);
    }
  }
}

TEST(Paths, LongPathIsCutBeforeTheSearches) {
  std::string exe = "C:\\" + std::string(300, 'a') + "\\x.exe";
  std::string rootdir, inipath;
  // Cut to 255 bytes, the path keeps only its first backslash and no dot.
  EXPECT_FALSE(derive_paths(exe, false, rootdir, inipath));
  exe = "C:\\d.x\\" + std::string(300, 'a');
  EXPECT_TRUE(derive_paths(exe, false, rootdir, inipath));
  EXPECT_EQ(rootdir, "C:\\d.x\\");
  EXPECT_EQ(inipath, "C:\\d.ini");
}

TEST(Startup, PrintsBannerAndPaths) {
  FakeConsole console;
  testing::FakeProcess process("/tmp/st/Tarvik20170104");
  testing::FakeClock clock;
  testing::RecordingFiles files;
  testing::NoPorts no_ports;
  testing::NoAsyncFiles no_async;
  System sys{console, no_ports, clock, files, no_async, process};
  Frame frame;
  frame.program = Program::Tarvik20170104;
  startup(sys, frame);
  EXPECT_EQ(console.out,
            "<clear>---Tarvik20170104//serialkit.example.net---\r\n"
            "Path to work folder: /tmp/st/\r\n"
            "Expect ini-file name: /tmp/st/Tarvik20170104.ini\r\n");
}

TEST(Startup, PathWithoutSeparatorEndsAfterOneKey) {
  for (const char* exe : {"logger.exe", "C:\\run\\logger"}) {
    FakeConsole console;
    console.keys = {'x', 'y'};
    testing::FakeProcess process(exe, false);
    testing::FakeClock clock;
    testing::RecordingFiles files;
    testing::NoPorts no_ports;
    testing::NoAsyncFiles no_async;
    System sys{console, no_ports, clock, files, no_async, process};
    Frame frame;
    frame.program = Program::Pelmar20190524;
    try {
      startup(sys, frame);
      FAIL() << "no ending";
    } catch (const Ending& e) {
      EXPECT_EQ(e.status, 0);
    }
    EXPECT_NE(console.out.find("Path to program incorrect\r\n"), std::string::npos);
    EXPECT_EQ(console.out.find("Press any key for Exit"), std::string::npos);
    EXPECT_EQ(console.keys.size(), 1u);  // exactly one key was taken
  }
}

TEST(Endings, ExitFrameTakesOneKey) {
  FakeConsole console;
  console.keys = {0, 72};  // an arrow: its first code ends the wait
  try {
    exit_frame(console, "Error: can not open Com");
    FAIL();
  } catch (const Ending& e) {
    EXPECT_EQ(e.status, 0);
  }
  EXPECT_EQ(console.out, "Error: can not open Com\r\nPress any key for Exit\r\n");
  EXPECT_EQ(console.keys.size(), 1u);
}

TEST(Endings, FailureReportForms) {
  struct Case {
    Program program;
    int number;
    bool memory;
    const char* second_line;
  };
  const Case cases[] = {
      {Program::Tarvik20191117, 2, false, "EInOutError : File not found"},
      {Program::Tarvik20170104, 106, false, "EInOutError : Invalid input"},
      {Program::Pelmar20190524, 101, false, "EInOutError : Disk Full"},
      {Program::Tarvik20170104, 15, false, "Exception : Unknown Run-Time error : 015"},
      {Program::Tarvik20170104, 104, false, "Exception : Unknown Run-Time error : 104"},
      {Program::Tarvik20170104, 0, true, "EOutOfMemory : Out of memory"},
  };
  for (const Case& c : cases) {
    FakeConsole console;
    try {
      if (c.memory) {
        out_of_memory_stop(console, c.program, Site::BufferAlloc);
      } else {
        io_failure_stop(console, c.program, c.number, Site::IniOpen);
      }
      FAIL();
    } catch (const Ending& e) {
      EXPECT_EQ(e.status, 217);  // form A, whatever the error
    }
    EXPECT_TRUE(console.out.empty());
    const std::string& r = console.report;
    EXPECT_EQ(r.rfind("An unhandled exception occurred at $", 0), 0u) << r;
    EXPECT_NE(r.find(" :\r\n" + std::string(c.second_line) + "\r\n  $"), std::string::npos) << r;
    EXPECT_EQ(r.substr(r.size() - 4), "\r\n\r\n");
  }
}

TEST(Endings, RelayReportsFormBWithTheNumberAsStatus) {
  for (int number : {2, 106}) {
    FakeConsole console;
    try {
      io_failure_stop(console, Program::Dorvel20161004, number, Site::IniOpen);
      FAIL();
    } catch (const Ending& e) {
      EXPECT_EQ(e.status, number);
    }
    const std::string head = "Runtime error " + std::to_string(number) + " at $";
    EXPECT_EQ(console.report.rfind(head, 0), 0u);
    // "$" and 8 upper-case hex digits, then the trace and an empty line.
    const std::string addr = console.report.substr(head.size(), 8);
    EXPECT_EQ(addr.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(console.report.find("\r\n  $" + addr + "\r\n"), std::string::npos);
  }
}

TEST(Stamps, LzeroAndStamp) {
  EXPECT_EQ(LZERO(0), "00");
  EXPECT_EQ(LZERO(7), "07");
  EXPECT_EQ(LZERO(59), "59");
  EXPECT_EQ(LZERO(100), "100");
  EXPECT_EQ(LZERO(2019), "2019");
  EXPECT_EQ(LZERO(65535), "65535");
  struct Case {
    std::uint16_t h, m, s, ms;
    const char* stamp;
    int len;
  };
  for (const Case& c : {Case{0, 0, 0, 0, "00000000", 1}, Case{0, 0, 1, 500, "00001500", 4},
                        Case{9, 5, 3, 42, "32703042", 8}, Case{23, 59, 59, 999, "86399999", 8}}) {
    ClockFields t;
    t.H = c.h;
    t.M = c.m;
    t.S = c.s;
    t.SS = c.ms;
    t.LTIME = DAYMSEC(t);
    MAKESTAMP(t);
    EXPECT_EQ(std::string(t.SLTIME, 8), c.stamp);
    EXPECT_EQ(t.LENSLTIME, c.len);
  }
}

TEST(Stamps, FileNamesAndBreakDue) {
  ClockFields t;
  testing::FakeClock clock;
  clock.wall = {2019, 5, 24, 9, 5, 3, 999};
  READCLOCK(clock, t);
  for (auto [ext, name] :
       {std::pair{".log", "20190524_090503.log"}, std::pair{"log", "20190524_090503log"},
        std::pair{"", "20190524_090503"}}) {
    MAKEFNAME(t, ext);
    EXPECT_EQ(t.FNAME, name);
  }
  EXPECT_EQ(t.HO, 9);
  EXPECT_EQ(t.DDAO, 24);
  // Only the hour (H) or only the day of the month (D) is compared.
  struct Case {
    char fz;
    std::uint16_t day, hour;
    bool due;
  };
  for (const Case& c : {Case{'H', 24, 9, false}, Case{'H', 25, 9, false}, Case{'H', 24, 10, true},
                        Case{'D', 24, 10, false}, Case{'D', 25, 9, true}, Case{'h', 24, 10, false},
                        Case{'d', 25, 9, false}, Case{'0', 25, 10, false}}) {
    t.DDA = c.day;
    t.H = c.hour;
    EXPECT_EQ(BREAKDUE(t, static_cast<std::uint8_t>(c.fz)), c.due) << c.fz << c.day << c.hour;
  }
}

}  // namespace
}  // namespace kit
