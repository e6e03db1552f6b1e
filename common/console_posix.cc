// The console on a POSIX terminal: raw keyboard input through the key decoder,
// output through the renderer, the terminal restored at every ending. Without a
// terminal the same rules apply to the bytes of stdin and stdout.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/console.h"
#include "common/keys.h"
#include "common/platform.h"
#include "common/screen.h"

namespace kit {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

constexpr char kAutowrapOff[] = "\x1b[?7l";
constexpr char kAutowrapOn[] = "\x1b[?7h";

// What the signal handlers and the exit handler need to put the terminal back.
// Signal handlers can reach nothing else, so this is the one piece of global
// state; it is written before the handlers are installed.
struct TerminalState {
  int in_fd = 0;
  int out_fd = 1;
  bool in_configured = false;  // raw input mode on in_fd
  termios in_saved{};
  termios in_raw{};
  bool out_configured = false;  // output post-processing off on a second terminal
  termios out_saved{};
  termios out_raw{};
  bool out_terminal = false;  // autowrap is turned off while running
  bool handlers = false;
  struct sigaction old_actions[kSignalCount] = {};
  bool installed[kSignalCount] = {};
  volatile sig_atomic_t active = 0;  // the terminal is in the program's mode
  volatile sig_atomic_t catching = 0;
  volatile sig_atomic_t interrupted = 0;
};

TerminalState g_term;

void write_raw(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pfd{fd, POLLOUT, 0};
      if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) return;
    } else {
      return;  // terminal gone (EIO, EPIPE...): output is lost, the program goes on
    }
  }
}

// Async-signal-safe: only write and tcsetattr.
void apply_terminal() {
  const int saved_errno = errno;
  if (g_term.in_configured) ::tcsetattr(g_term.in_fd, TCSANOW, &g_term.in_raw);
  if (g_term.out_configured) ::tcsetattr(g_term.out_fd, TCSANOW, &g_term.out_raw);
  if (g_term.out_terminal) write_raw(g_term.out_fd, kAutowrapOff, sizeof kAutowrapOff - 1);
  g_term.active = 1;
  errno = saved_errno;
}

void restore_terminal() {
  if (!g_term.active) return;
  g_term.active = 0;
  const int saved_errno = errno;
  if (g_term.out_terminal) write_raw(g_term.out_fd, kAutowrapOn, sizeof kAutowrapOn - 1);
  if (g_term.out_configured) ::tcsetattr(g_term.out_fd, TCSANOW, &g_term.out_saved);
  if (g_term.in_configured) ::tcsetattr(g_term.in_fd, TCSANOW, &g_term.in_saved);
  errno = saved_errno;
}

void on_signal(int sig);

void install_handler(int sig) {
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigfillset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking read or poll returns EINTR
  ::sigaction(sig, &sa, nullptr);
}

void reraise_default(int sig) {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  ::sigaction(sig, &sa, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
}

void on_signal(int sig) {
  if (sig == SIGTSTP) {
    // Suspend with the terminal as it was; take it over again when continued.
    const bool was_active = g_term.active != 0;
    restore_terminal();
    reraise_default(SIGTSTP);
    install_handler(SIGTSTP);
    if (was_active) apply_terminal();
    return;
  }
  if (g_term.catching) {
    g_term.interrupted = 1;
    return;
  }
  restore_terminal();
  reraise_default(sig);
  ::_exit(128 + sig);
}

void install_handlers() {
  if (g_term.handlers) return;
  for (int i = 0; i < kSignalCount; ++i) {
    const int sig = kSignals[i];
    g_term.installed[i] = false;
    if (::sigaction(sig, nullptr, &g_term.old_actions[i]) != 0) continue;
    // A signal ignored by whoever started the program (nohup, a background
    // job) stays ignored.
    if (g_term.old_actions[i].sa_handler == SIG_IGN) continue;
    if (sig == SIGTSTP && !g_term.in_configured && !g_term.out_configured) continue;
    install_handler(sig);
    g_term.installed[i] = true;
  }
  g_term.handlers = true;
}

void remove_handlers() {
  if (!g_term.handlers) return;
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_term.installed[i]) ::sigaction(kSignals[i], &g_term.old_actions[i], nullptr);
    g_term.installed[i] = false;
  }
  g_term.handlers = false;
}

bool same_terminal(int a, int b) {
  struct stat sa {};
  struct stat sb {};
  if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
  return sa.st_rdev == sb.st_rdev;
}

class PosixConsole final : public Console {
 public:
  PosixConsole(int in_fd, int out_fd) : in_fd_(in_fd), out_fd_(out_fd) {
    // A terminal that has already hung up is still a terminal (EIO, not ENOTTY).
    in_tty_ = ::isatty(in_fd) == 1 || errno == EIO;
    const bool out_tty = ::isatty(out_fd) == 1;
    g_term = TerminalState{};
    g_term.in_fd = in_fd;
    g_term.out_fd = out_fd;
    if (in_tty_ && ::tcgetattr(in_fd, &g_term.in_saved) == 0) {
      termios t = g_term.in_saved;
      // Keys one by one, no echo; Ctrl+C still raises SIGINT (ISIG stays).
      t.c_iflag &=
          ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
      t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      g_term.in_raw = t;
      g_term.in_configured = true;
    }
    if (out_tty) {
      // Output post-processing off so that LF keeps the column; on the input's
      // terminal the raw mode above already does it.
      if (!(g_term.in_configured && same_terminal(in_fd, out_fd)) &&
          ::tcgetattr(out_fd, &g_term.out_saved) == 0) {
        g_term.out_raw = g_term.out_saved;
        g_term.out_raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        g_term.out_configured = true;
      }
      g_term.out_terminal = true;
      winsize ws{};
      if (::ioctl(out_fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) renderer_.width = ws.ws_col;
    }
    renderer_.terminal = out_tty;
    out_.reserve(4096);

    ::signal(SIGPIPE, SIG_IGN);
    install_handlers();
    static bool atexit_done = false;
    if (!atexit_done) {
      std::atexit(restore_terminal);
      atexit_done = true;
    }
    apply_terminal();
  }

  ~PosixConsole() override {
    restore_terminal();
    remove_handlers();
  }

  PosixConsole(const PosixConsole&) = delete;
  PosixConsole& operator=(const PosixConsole&) = delete;

  void clear() override {
    out_.clear();
    render_clear(renderer_, out_);
    write_raw(out_fd_, out_.data(), out_.size());
  }

  void write(std::string_view bytes) override {
    out_.clear();
    render_append(renderer_, bytes, out_);
    write_raw(out_fd_, out_.data(), out_.size());
  }

  bool key_test() override {
    if (key_ready(keys_)) return true;
    if (input_ended_) return false;
    char buf[64];
    static_assert(sizeof buf < KeyDecoder::kKeyQueue);
    // A few reads at most: bytes that make no key (a swallowed sequence) are
    // followed by what is there after them, an incomplete sequence by its rest.
    for (int tries = 0; tries < 16; ++tries) {
      const bool more = awaiting_more(keys_);
      pollfd pfd{in_fd_, POLLIN, 0};
      const int r = ::poll(&pfd, 1, more ? kEscapeTimeoutMs : 0);
      if (r < 0) {
        if (errno == EINTR && !g_term.interrupted) continue;
        break;
      }
      if (r == 0) {
        if (more) time_out_keys(keys_);
        break;
      }
      const ssize_t n = ::read(in_fd_, buf, sizeof buf);
      if (n > 0) {
        feed_keys(keys_, std::string_view(buf, static_cast<std::size_t>(n)));
        if (key_ready(keys_)) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      end_of_input();
      break;
    }
    return key_ready(keys_);
  }

  std::uint8_t key_read() override {
    for (;;) {
      if (key_test()) return take_key(keys_);
      if (input_ended_ || g_term.interrupted) return 0;
      // A pause of 1 ms that ends early when input arrives.
      pollfd pfd{in_fd_, POLLIN, 0};
      ::poll(&pfd, 1, 1);
    }
  }

  void delay(std::uint16_t ms) override {
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  void report_line(std::string_view text) override {
    // The report stands below what is on the screen: a row that logged data
    // left unfinished is ended first.
    std::string line;
    line.reserve(text.size() + 4);
    if (renderer_.col != 0) line.append("\r\n");
    line.append(text).append("\r\n");
    write_raw(out_fd_, line.data(), line.size());
    renderer_.col = 0;
  }

  void catch_interrupts() override { g_term.catching = 1; }
  bool interrupted() override { return g_term.interrupted != 0; }

 private:
  // The input has ended. A pipe or file is simply done (a trailing ESC still
  // counts); a terminal that ends has hung up, which ends the program as SIGHUP
  // does, or only sets the interrupted flag once interrupts are caught.
  void end_of_input() {
    time_out_keys(keys_);
    input_ended_ = true;
    if (!in_tty_) return;
    if (g_term.catching) {
      g_term.interrupted = 1;
      return;
    }
    ::raise(SIGHUP);  // returns only when SIGHUP is ignored
  }

  int in_fd_;
  int out_fd_;
  bool in_tty_ = false;
  bool input_ended_ = false;
  Renderer renderer_;
  std::string out_;  // rendered output, reused from write to write
  KeyDecoder keys_;
};

}  // namespace

// The console on given descriptors (the tests use a pseudo-terminal).
std::unique_ptr<Console> make_console_on(int in_fd, int out_fd) {
  return std::make_unique<PosixConsole>(in_fd, out_fd);
}

std::unique_ptr<Console> make_console() {
  return make_console_on(STDIN_FILENO, STDOUT_FILENO);
}

}  // namespace kit
