// The POSIX ports on real pseudo-terminal pairs: the test holds the master
// side as the far end of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "common/platform.h"
#include "common/ports.h"

namespace kit {
namespace {

using namespace dcbflag;
using Ms = std::chrono::milliseconds;

long long ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
}

class PtyPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    name_ = name;
    ports_ = make_ports();
  }
  void TearDown() override {
    for (PortHandle h : opened_) ports_->close(h);
    if (master_ >= 0) ::close(master_);
    ::close(slave_);
  }

  PortHandle open_port(Access access = Access::ReadWrite) {
    const PortHandle h = ports_->open(name_, access);
    if (h != kInvalidPort) opened_.push_back(h);
    return h;
  }
  void close_port(PortHandle h) {
    ports_->close(h);
    std::erase(opened_, h);
  }

  // The port in raw 8N1 at 9600, as the programs leave it.
  PortHandle open_raw(std::uint32_t read_timeout_ms = 100) {
    const PortHandle h = open_port();
    EXPECT_NE(h, kInvalidPort);
    DCB d{};
    EXPECT_TRUE(ports_->get_state(h, d));
    d.BaudRate = 9600;
    d.ByteSize = 8;
    d.Parity = 0;
    d.StopBits = 0;
    EXPECT_TRUE(ports_->set_state(h, d));
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = read_timeout_ms;
    EXPECT_TRUE(ports_->set_timeouts(h, t));
    return h;
  }

  // Reads what the far end receives, waiting up to 1 s for n bytes.
  std::string master_read(std::size_t n) {
    std::string got;
    const auto start = std::chrono::steady_clock::now();
    while (got.size() < n && ms_since(start) < 1000) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t k = ::read(master_, buf, sizeof buf);
      if (k > 0) got.append(buf, k);
    }
    return got;
  }

  void master_write(const std::string& s) {
    ASSERT_EQ(::write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }

  std::string lock_path() const { return "/run/lock/LCK.." + name_.substr(name_.rfind('/') + 1); }

  int master_ = -1;
  int slave_ = -1;
  std::string name_;
  std::unique_ptr<Ports> ports_;
  std::vector<PortHandle> opened_;
};

TEST_F(PtyPorts, RatesReadBackExactly) {
  const PortHandle h = open_raw();
  for (std::uint32_t rate : {300u, 4800u, 9600u, 115200u, 921600u, 12345u, 250000u, 3000000u}) {
    DCB d{};
    ASSERT_TRUE(ports_->get_state(h, d));
    d.BaudRate = rate;
    EXPECT_TRUE(ports_->set_state(h, d)) << rate;
    DCB back{};
    ASSERT_TRUE(ports_->get_state(h, back));
    EXPECT_EQ(back.BaudRate, rate);
  }
}

TEST_F(PtyPorts, FramesAPseudoTerminalTakesOrRefuses) {
  const PortHandle h = open_raw();
  struct Case {
    std::uint8_t size, parity, stop;
    bool taken;
  };
  // A pseudo-terminal forces 8 data bits and no parity.
  const Case cases[] = {
      {8, 0, 0, true},  {8, 0, 2, true},  {7, 0, 0, false}, {8, 2, 0, false},
      {8, 1, 0, false}, {8, 3, 0, false}, {8, 4, 0, false}, {5, 0, 1, false},
      {8, 0, 1, false}, {9, 0, 0, false}, {8, 5, 0, false}, {8, 0, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.size) << "/" << int(c.parity) << "/" << int(c.stop));
    DCB d{};
    ASSERT_TRUE(ports_->get_state(h, d));
    d.ByteSize = c.size;
    d.Parity = c.parity;
    d.StopBits = c.stop;
    EXPECT_EQ(ports_->set_state(h, d), c.taken);
    DCB back{};
    ASSERT_TRUE(ports_->get_state(h, back));
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.Parity, 0);
    if (c.taken) {
      EXPECT_EQ(back.StopBits, c.stop);
    }
  }
}

TEST_F(PtyPorts, RefusedRateZero) {
  const PortHandle h = open_raw();
  DCB d{};
  ASSERT_TRUE(ports_->get_state(h, d));
  d.BaudRate = 0;
  EXPECT_FALSE(ports_->set_state(h, d));
  ASSERT_TRUE(ports_->get_state(h, d));
  EXPECT_EQ(d.BaudRate, 9600u);
}

TEST_F(PtyPorts, FlowControlAndShadowFieldsRoundTrip) {
  const PortHandle h = open_raw();
  struct Case {
    std::uint32_t flags;
    std::uint32_t back;
  };
  const std::uint32_t rts_hs = kRtsControlHandshake << kRtsControlShift;
  const Case cases[] = {
      {fBinary | fOutX, fBinary | fOutX},
      {fBinary | fInX, fBinary | fInX},
      {fBinary | fOutX | fInX | fParity, fBinary | fOutX | fInX | fParity},
      {fBinary | fOutxCtsFlow | rts_hs, fBinary | fOutxCtsFlow | rts_hs},
      {fBinary | rts_hs, fBinary | fOutxCtsFlow | rts_hs},
      // Kept for the port although termios has no place for them.
      {fBinary | (2u << kDtrControlShift) | fOutxDsrFlow | fDsrSensitivity | fTXContinueOnXoff |
           fErrorChar | fNull | fAbortOnError | (kRtsControlToggle << kRtsControlShift),
       fBinary | (2u << kDtrControlShift) | fOutxDsrFlow | fDsrSensitivity | fTXContinueOnXoff |
           fErrorChar | fNull | fAbortOnError | (kRtsControlToggle << kRtsControlShift)},
      {0, fBinary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    DCB d{};
    ASSERT_TRUE(ports_->get_state(h, d));
    d.Flags = c.flags;
    d.XonLim = 100;
    ASSERT_TRUE(ports_->set_state(h, d));
    DCB back{};
    ASSERT_TRUE(ports_->get_state(h, back));
    EXPECT_EQ(back.Flags, c.back);
    EXPECT_EQ(back.XonLim, 100);
    EXPECT_EQ(back.DCBlength, sizeof(DCB));
    EXPECT_EQ(back.XonChar, 0x11);
    EXPECT_EQ(back.XoffChar, 0x13);
  }
}

TEST_F(PtyPorts, FreshPortReadsBackAsADriverGivesIt) {
  const PortHandle h = open_port();
  ASSERT_NE(h, kInvalidPort);
  DCB d{};
  ASSERT_TRUE(ports_->get_state(h, d));
  EXPECT_EQ(d.DCBlength, sizeof(DCB));
  EXPECT_EQ(d.BaudRate, 38400u);  // a new pseudo-terminal's rate
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, 0);
  EXPECT_EQ(d.StopBits, 0);
  EXPECT_EQ(d.Flags & fBinary, fBinary);
  EXPECT_EQ((d.Flags & fDtrControlMask) >> kDtrControlShift, 1u);
  EXPECT_EQ((d.Flags & fRtsControlMask) >> kRtsControlShift, kRtsControlEnable);
}

TEST_F(PtyPorts, TimeoutsAreKeptAndReadBack) {
  const PortHandle h = open_port();
  COMMTIMEOUTS t{1, 2, 1000, 4, 5};
  EXPECT_TRUE(ports_->set_timeouts(h, t));
  COMMTIMEOUTS back{};
  EXPECT_TRUE(ports_->get_timeouts(h, back));
  EXPECT_EQ(back.ReadIntervalTimeout, 1u);
  EXPECT_EQ(back.ReadTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(back.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(back.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(back.WriteTotalTimeoutConstant, 5u);
  EXPECT_FALSE(ports_->set_timeouts(12345, t));
}

TEST_F(PtyPorts, ReadTimesOutOnASilentLine) {
  const PortHandle h = open_raw(100);
  std::uint8_t b = 0;
  std::uint32_t got = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ports_->read(h, &b, 1, got));
  const long long took = ms_since(start);
  EXPECT_EQ(got, 0u);
  EXPECT_GE(took, 95);
  EXPECT_LT(took, 600);
}

TEST_F(PtyPorts, ReadWithIntervalMaxReturnsAtOnce) {
  const PortHandle h = open_raw();
  COMMTIMEOUTS t{0xFFFFFFFFu, 0, 0, 0, 0};
  ASSERT_TRUE(ports_->set_timeouts(h, t));
  std::uint8_t b = 0;
  std::uint32_t got = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ports_->read(h, &b, 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(ms_since(start), 50);
}

TEST_F(PtyPorts, ReadTakesABatchAndOneByteAtATime) {
  const PortHandle h = open_raw(1000);
  master_write("hello world");
  std::uint8_t buf[64];
  std::uint32_t got = 0;
  std::string all;
  // The first read may come as soon as the first bytes are there.
  while (all.size() < 11) {
    ASSERT_TRUE(ports_->read(h, buf, sizeof buf, got));
    ASSERT_GT(got, 0u);
    all.append(reinterpret_cast<char*>(buf), got);
  }
  EXPECT_EQ(all, "hello world");

  master_write("xyz");
  all.clear();
  while (all.size() < 3) {
    ASSERT_TRUE(ports_->read(h, buf, 1, got));
    ASSERT_EQ(got, 1u);
    all += static_cast<char>(buf[0]);
  }
  EXPECT_EQ(all, "xyz");
}

TEST_F(PtyPorts, BytesPassUnchanged) {
  const PortHandle h = open_raw(1000);
  std::string bytes;
  // XON/XOFF left out: with fOutX they would be flow control.
  for (int i = 0; i < 256; ++i) {
    if (i != 0x11 && i != 0x13) bytes += static_cast<char>(i);
  }
  master_write(bytes);
  std::string all;
  std::uint8_t buf[512];
  std::uint32_t got = 0;
  while (all.size() < bytes.size()) {
    ASSERT_TRUE(ports_->read(h, buf, sizeof buf, got));
    ASSERT_GT(got, 0u);
    all.append(reinterpret_cast<char*>(buf), got);
  }
  EXPECT_EQ(all, bytes);

  std::uint32_t written = 0;
  ASSERT_TRUE(ports_->write(h, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<std::uint32_t>(bytes.size()), written, kWaitForever));
  EXPECT_EQ(written, bytes.size());
  EXPECT_EQ(master_read(bytes.size()), bytes);
}

TEST_F(PtyPorts, BoundedWriteToALineNobodyReadsReturnsInTime) {
  const PortHandle h = open_raw();
  std::vector<std::uint8_t> block(256 * 1024, 'a');
  std::uint32_t written = 0;
  const auto start = std::chrono::steady_clock::now();
  ports_->write(h, block.data(), static_cast<std::uint32_t>(block.size()), written, 200);
  const long long took = ms_since(start);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 1000);
}

TEST_F(PtyPorts, PurgeDiscardsWaitingInput) {
  const PortHandle h = open_raw(100);
  master_write("stale bytes");
  usleep(50 * 1000);  // the pseudo-terminal passes them on asynchronously
  EXPECT_TRUE(ports_->purge(h, kPurgeTxRx));
  std::uint8_t buf[64];
  std::uint32_t got = 99;
  ports_->read(h, buf, sizeof buf, got);
  EXPECT_EQ(got, 0u);
}

TEST_F(PtyPorts, LineControlIsRefusedByAPseudoTerminal) {
  const PortHandle h = open_raw();
  EXPECT_FALSE(ports_->escape(h, Escape::SetRts));
  EXPECT_FALSE(ports_->escape(h, Escape::ClrDtr));
}

TEST_F(PtyPorts, HungUpLineWaitsOutTheTimeout) {
  const PortHandle h = open_raw(150);
  ::close(master_);
  master_ = -1;
  std::uint8_t buf[16];
  for (int i = 0; i < 2; ++i) {
    std::uint32_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    ports_->read(h, buf, sizeof buf, got);
    const long long took = ms_since(start);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(took, 140) << "read " << i << " came back at once";
    EXPECT_LT(took, 1000);
  }
  // The block keeps what it held when the line cannot be read back.
  DCB d{};
  d.BaudRate = 777;
  EXPECT_FALSE(ports_->get_state(h, d));
  EXPECT_EQ(d.BaudRate, 777u);
  std::uint32_t written = 99;
  const std::uint8_t byte = 'x';
  EXPECT_FALSE(ports_->write(h, &byte, 1, written, kWaitForever));
}

void on_alarm(int) {}

TEST_F(PtyPorts, SignalEndsAReadAtOnce) {
  const PortHandle h = open_raw(5000);
  struct sigaction sa {};
  struct sigaction old {};
  sa.sa_handler = on_alarm;  // no SA_RESTART
  sigaction(SIGALRM, &sa, &old);
  itimerval timer{};
  timer.it_value.tv_usec = 100 * 1000;
  setitimer(ITIMER_REAL, &timer, nullptr);
  std::uint8_t b = 0;
  std::uint32_t got = 99;
  const auto start = std::chrono::steady_clock::now();
  ports_->read(h, &b, 1, got);
  const long long took = ms_since(start);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(got, 0u);
  EXPECT_LT(took, 2000);
}

TEST_F(PtyPorts, OpenIsExclusiveAlsoThroughALink) {
  const PortHandle h = open_port(Access::Read);
  ASSERT_NE(h, kInvalidPort);
  EXPECT_EQ(ports_->open(name_, Access::Write), kInvalidPort);
  // A second Ports stands for a second program.
  auto other = make_ports();
  EXPECT_EQ(other->open(name_, Access::ReadWrite), kInvalidPort);

  char dir[] = "/tmp/kitports.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/ttyLINK";
  ASSERT_EQ(symlink(name_.c_str(), link.c_str()), 0);
  EXPECT_EQ(other->open(link, Access::ReadWrite), kInvalidPort);

  close_port(h);
  const PortHandle again = other->open(link, Access::ReadWrite);
  EXPECT_NE(again, kInvalidPort);
  other->close(again);
  unlink(link.c_str());
  rmdir(dir);
}

TEST_F(PtyPorts, LockFileHoldsThePidAndGoesAtClose) {
  if (access("/run/lock", W_OK) != 0) GTEST_SKIP() << "no writable /run/lock";
  const PortHandle h = open_port();
  ASSERT_NE(h, kInvalidPort);
  std::ifstream in(lock_path());
  std::stringstream text;
  text << in.rdbuf();
  char expected[16];
  std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(getpid()));
  EXPECT_EQ(text.str(), expected);
  close_port(h);
  EXPECT_NE(access(lock_path().c_str(), F_OK), 0);
}

// An ending that closes nothing leaves the port to the system; its lock file
// goes with the ports object, the device stays held until the process ends.
TEST_F(PtyPorts, EndingWithoutCloseRemovesOnlyTheLockFile) {
  if (access("/run/lock", W_OK) != 0) GTEST_SKIP() << "no writable /run/lock";
  auto program = make_ports();
  const PortHandle h = program->open(name_, Access::Read);
  ASSERT_NE(h, kInvalidPort);
  EXPECT_EQ(access(lock_path().c_str(), F_OK), 0);
  program.reset();
  EXPECT_NE(access(lock_path().c_str(), F_OK), 0);
  EXPECT_EQ(ports_->open(name_, Access::Read), kInvalidPort);
  ::close(static_cast<int>(h));  // the handle is the descriptor: what process exit does
  EXPECT_NE(open_port(), kInvalidPort);
}

TEST_F(PtyPorts, StaleLockIsTakenOverLiveLockRefuses) {
  if (access("/run/lock", W_OK) != 0) GTEST_SKIP() << "no writable /run/lock";
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  auto write_lock = [&](pid_t pid) {
    std::ofstream out(lock_path());
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    out << text;
  };

  write_lock(child);  // gone
  const PortHandle h = open_port();
  EXPECT_NE(h, kInvalidPort);
  close_port(h);

  write_lock(getppid());  // a running process
  EXPECT_EQ(open_port(), kInvalidPort);
  unlink(lock_path().c_str());
  EXPECT_NE(open_port(), kInvalidPort);
}

TEST_F(PtyPorts, OnlyTerminalsOpen) {
  EXPECT_EQ(ports_->open("/dev/null", Access::ReadWrite), kInvalidPort);
  EXPECT_EQ(ports_->open("/dev/no-such-port", Access::ReadWrite), kInvalidPort);
  EXPECT_EQ(ports_->open("", Access::Read), kInvalidPort);
}

TEST_F(PtyPorts, WriteOnlyPortIsConfiguredAndWritten) {
  const PortHandle h = open_port(Access::Write);
  ASSERT_NE(h, kInvalidPort);
  DCB d{};
  ASSERT_TRUE(ports_->get_state(h, d));
  d.BaudRate = 19200;
  d.ByteSize = 8;
  EXPECT_TRUE(ports_->set_state(h, d));
  const std::string msg = "message\r\n";
  std::uint32_t written = 0;
  EXPECT_TRUE(ports_->write(h, reinterpret_cast<const std::uint8_t*>(msg.data()),
                            static_cast<std::uint32_t>(msg.size()), written, kWaitForever));
  EXPECT_EQ(master_read(msg.size()), msg);
}

TEST_F(PtyPorts, ClosedHandleIsRefused) {
  const PortHandle h = open_port();
  close_port(h);
  DCB d{};
  EXPECT_FALSE(ports_->get_state(h, d));
  EXPECT_FALSE(ports_->close(h));
}

}  // namespace
}  // namespace kit
