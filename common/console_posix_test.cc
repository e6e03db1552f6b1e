#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

#include "common/console.h"
#include "common/screen.h"

namespace kit {

std::unique_ptr<Console> make_console_on(int in_fd, int out_fd);

namespace {

using namespace std::chrono_literals;

// A pseudo-terminal standing in for the user's terminal: the console runs on
// the slave side, the test types and reads on the master side.
class PtyConsole : public testing::Test {
 protected:
  void SetUp() override {
    winsize ws{};
    ws.ws_col = 40;
    ws.ws_row = 10;
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, &ws), 0);
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
    close(slave_);
  }

  // Everything the console has written so far.
  std::string output() {
    std::string out;
    char buf[4096];
    while (true) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) break;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

  void type(std::string_view keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  termios slave_mode() {
    termios t{};
    EXPECT_EQ(tcgetattr(slave_, &t), 0);
    return t;
  }

  int master_ = -1;
  int slave_ = -1;
};

TEST_F(PtyConsole, RawWhileRunningRestoredAfterwards) {
  const termios before = slave_mode();
  ASSERT_TRUE(before.c_lflag & ECHO);
  {
    auto console = make_console_on(slave_, slave_);
    const termios raw = slave_mode();
    EXPECT_FALSE(raw.c_lflag & (ECHO | ICANON));
    EXPECT_TRUE(raw.c_lflag & ISIG);  // Ctrl+C still interrupts
    EXPECT_FALSE(raw.c_oflag & OPOST);
    EXPECT_FALSE(raw.c_iflag & (ICRNL | IXON));
  }
  const termios after = slave_mode();
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST_F(PtyConsole, OutputFollowsRulesAtWindowWidth) {
  auto console = make_console_on(slave_, slave_);
  EXPECT_EQ(output(), "\x1b[?7l");  // the terminal never wraps on its own
  console->clear();
  write_line(*console, "---Tarvik20191117//");
  console->write("a\nb\a\x1b\xe9");
  console->write(std::string(41, 'x'));
  EXPECT_EQ(output(), "\x1b[2J\x1b[H---Tarvik20191117//\r\na\nb\u2190\u00e9" +
                          std::string(36, 'x') + "\r\n" + std::string(5, 'x'));
  // A report starts below the unfinished row, then stands on rows of its own.
  console->report_line("Runtime error 2 at $00000001");
  console->report_line("  $00000001");
  EXPECT_EQ(output(), "\r\nRuntime error 2 at $00000001\r\n  $00000001\r\n");
}

TEST_F(PtyConsole, KeysWithExtendedCodesAndLoneEsc) {
  auto console = make_console_on(slave_, slave_);
  EXPECT_FALSE(console->key_test());
  type("Q\x1b[6~");
  EXPECT_EQ(console->key_read(), 81);
  EXPECT_EQ(console->key_read(), 0);
  EXPECT_TRUE(console->key_test());
  EXPECT_EQ(console->key_read(), 81);
  EXPECT_FALSE(console->key_test());

  type("\x1bx");
  EXPECT_EQ(console->key_read(), 0);
  EXPECT_EQ(console->key_read(), 45);

  type("\x1b");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(console->key_read(), 27);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(PtyConsole, HangUpSetsInterruptedWhenCaught) {
  auto console = make_console_on(slave_, slave_);
  console->catch_interrupts();
  EXPECT_FALSE(console->interrupted());
  close(master_);
  master_ = -1;
  EXPECT_FALSE(console->key_test());
  EXPECT_TRUE(console->interrupted());
  EXPECT_EQ(console->key_read(), 0);  // returns at once
}

// Runs body in a child process and gives its wait status.
template <typename Body>
int in_child(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(PtyConsole, SignalRestoresTerminalThenEndsByDefaultAction) {
  const termios before = slave_mode();
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    const int status = in_child([&] {
      auto console = make_console_on(slave_, slave_);
      raise(sig);
      _exit(3);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(slave_mode().c_lflag, before.c_lflag) << sig;
    EXPECT_EQ(slave_mode().c_oflag, before.c_oflag) << sig;
  }
  EXPECT_NE(output().find("\x1b[?7h"), std::string::npos);
}

TEST_F(PtyConsole, CaughtSignalOnlySetsFlag) {
  const int status = in_child([&] {
    auto console = make_console_on(slave_, slave_);
    console->catch_interrupts();
    raise(SIGINT);
    raise(SIGTERM);
    std::exit(console->interrupted() ? 42 : 1);  // the exit handler restores
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  EXPECT_TRUE(slave_mode().c_lflag & ECHO);  // restored at exit
}

TEST_F(PtyConsole, HangUpEndsLikeSighupWhenNotCaught) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(master_);
    auto console = make_console_on(slave_, slave_);
    (void)!write(ready[1], "r", 1);
    for (int i = 0; i < 5000; ++i) {  // until the parent hangs up
      console->key_test();
      usleep(1000);
    }
    _exit(3);
  }
  char r = 0;
  ASSERT_EQ(read(ready[0], &r, 1), 1);
  close(ready[0]);
  close(ready[1]);
  close(master_);  // the last master: the terminal hangs up
  master_ = -1;
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGHUP);
}

TEST_F(PtyConsole, SuspendGivesTerminalBackAndResumeTakesItAgain) {
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // a group of its own with a parent outside: stop signals work
    auto console = make_console_on(slave_, slave_);
    raise(SIGTSTP);
    termios t{};
    tcgetattr(slave_, &t);
    std::exit((t.c_lflag & ECHO) == 0 && !console->interrupted() ? 42 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status));
  EXPECT_TRUE(slave_mode().c_lflag & ECHO);  // given back while stopped
  kill(pid, SIGCONT);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);  // raw again after resuming
}

TEST(PipeConsole, EndOfInputGivesNoKeyAndNoWait) {
  int in[2];
  int out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(write(in[1], "Q\x1b", 2), 2);
  close(in[1]);
  {
    auto console = make_console_on(in[0], out[1]);
    EXPECT_EQ(console->key_read(), 81);
    EXPECT_EQ(console->key_read(), 27);  // a trailing ESC still counts
    EXPECT_FALSE(console->key_test());
    EXPECT_EQ(console->key_read(), 0);
    console->clear();  // column 1: nothing
    console->write(std::string(81, 'y') + "\x01");
    console->clear();  // mid-row: a fresh line
    console->write("\b\a\n");
  }
  close(out[1]);
  std::string got;
  char buf[512];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  close(in[0]);
  EXPECT_EQ(got, std::string(80, 'y') + "\r\ny\u263A\r\n\n");
}

TEST(Glyphs, EachIsOneColumnWide) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  for (int b = 0; b < 256; ++b) {
    const std::string_view g = glyph(static_cast<std::uint8_t>(b));
    std::mbstate_t state{};
    wchar_t wc = 0;
    ASSERT_EQ(std::mbrtowc(&wc, g.data(), g.size(), &state), g.size()) << b;
    EXPECT_EQ(wcwidth(wc), 1) << "byte " << b;
  }
  std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace kit
