// Serial ports on POSIX: termios behind the control-block interface. The
// descriptor stays non-blocking; every wait is a poll with the time-out the
// operation allows, so a bounded write never blocks in write(2) and a read
// honours the read time-outs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "common/dcbmap_posix.h"
#include "common/platform.h"
#include "common/ports.h"
#include "common/termios2_posix.h"

namespace kit {

namespace {

static_assert(NCCS >= kKernelNccs, "glibc keeps at least the kernel's control characters");

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
// PurgeComm flags.
constexpr std::uint32_t kPurgeTxClear = 4;
constexpr std::uint32_t kPurgeRxClear = 8;
// A hung-up line read with no time-out at all still waits this long per read.
constexpr int kHungUpPauseMs = 1000;

struct OpenPort {
  int fd = -1;
  std::string lock_path;  // empty when no lock file was made
  // The block as last accepted: the fields termios cannot hold come from here.
  DCB shadow{};
  COMMTIMEOUTS timeouts{};
  // The last read filled the caller's buffer, so more is likely waiting: the
  // next read tries at once instead of polling first.
  bool full = false;
};

termios to_termios(const LineSettings& line) {
  termios t{};
  t.c_iflag = line.iflag;
  t.c_oflag = line.oflag;
  t.c_cflag = line.cflag;
  t.c_lflag = line.lflag;
  t.c_line = line.line;
  std::memcpy(t.c_cc, line.cc, sizeof line.cc);
  return t;
}

void from_termios(const termios& t, LineSettings& line) {
  line.iflag = t.c_iflag;
  line.oflag = t.c_oflag;
  line.cflag = t.c_cflag;
  line.lflag = t.c_lflag;
  line.line = t.c_line;
  std::memcpy(line.cc, t.c_cc, sizeof line.cc);
}

// What the line holds before the program's first accepted set: the modes a
// driver starts with (DTR and RTS raised on open), the usual flow-control limits.
DCB initial_shadow() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.Flags = dcbflag::fBinary | (1u << dcbflag::kDtrControlShift) |
            (dcbflag::kRtsControlEnable << dcbflag::kRtsControlShift);
  d.XonLim = 2048;
  d.XoffLim = 512;
  return d;
}

// Milliseconds left until deadline, at least 0.
int remaining_ms(SteadyClock::time_point deadline) {
  // Rounded up, so that a wait is never shorter than the time-out.
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Time the read waits for its first byte, from the Windows read time-outs:
// -1 without bound, 0 for "return at once".
long long first_byte_wait_ms(const COMMTIMEOUTS& to, std::uint32_t len) {
  if (to.ReadIntervalTimeout == kMaxDword && to.ReadTotalTimeoutMultiplier == 0 &&
      to.ReadTotalTimeoutConstant == 0) {
    return 0;
  }
  if (to.ReadIntervalTimeout == kMaxDword && to.ReadTotalTimeoutMultiplier == kMaxDword) {
    return to.ReadTotalTimeoutConstant;
  }
  if (to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0) return -1;
  return static_cast<long long>(to.ReadTotalTimeoutMultiplier) * len + to.ReadTotalTimeoutConstant;
}

// Sleeps until deadline; a signal ends the sleep early.
void pause_until(SteadyClock::time_point deadline) {
  for (;;) {
    const int ms = remaining_ms(deadline);
    if (ms == 0) return;
    if (poll(nullptr, 0, ms) < 0 && errno == EINTR) return;
  }
}

std::string lock_folder() {
  for (const char* dir : {"/run/lock", "/var/lock"}) {
    if (access(dir, W_OK) == 0) return dir;
  }
  return {};
}

// True when the lock file names a process that still runs.
bool lock_is_live(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno != ENOENT;
  char text[32] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  if (end == text || pid <= 0 || pid > INT_MAX) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// Takes the UUCP lock file of the device: "LCK.." and the device's name, the
// PID as ten right-aligned digits and a newline. A stale lock is taken over.
// Returns false when a running process holds it; path stays empty when there
// is no lock folder to write to.
bool take_lock_file(const std::string& device, std::string& path) {
  path.clear();
  const std::string dir = lock_folder();
  if (dir.empty()) return true;
  const std::size_t slash = device.rfind('/');
  const std::string base = slash == std::string::npos ? device : device.substr(slash + 1);
  const std::string lock = dir + "/LCK.." + base;
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));

  // Written under a name of our own and linked into place, so that no other
  // process ever reads a half-written lock.
  const std::string temp = dir + "/LTMP." + std::to_string(getpid()) + "." + base;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return true;  // the folder does not take files after all
  const bool written = ::write(fd, text, 11) == 11;
  ::close(fd);
  if (!written) {
    unlink(temp.c_str());
    return true;
  }
  bool taken = false;
  for (int attempt = 0; attempt < 3 && !taken; ++attempt) {
    if (link(temp.c_str(), lock.c_str()) == 0) {
      taken = true;
    } else if (errno != EEXIST) {
      break;
    } else if (lock_is_live(lock)) {
      unlink(temp.c_str());
      return false;
    } else {
      unlink(lock.c_str());
    }
  }
  unlink(temp.c_str());
  if (taken) path = lock;
  return taken || !lock_is_live(lock);
}

class PosixPorts final : public Ports {
 public:
  // Ports still open at the end (an ending that closes nothing) are left to
  // the system, which closes them when the process ends; only their lock
  // files, which the system would leave behind, are removed.
  ~PosixPorts() override {
    for (const auto& entry : ports_) {
      if (!entry.second.lock_path.empty()) unlink(entry.second.lock_path.c_str());
    }
  }

  PortHandle open(const std::string& name, Access access) override {
    int mode = O_RDWR;
    if (access == Access::Read) mode = O_RDONLY;
    if (access == Access::Write) mode = O_WRONLY;
    const int fd = ::open(name.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidPort;
    if (!isatty(fd)) {
      ::close(fd);
      return kInvalidPort;
    }
    // One device under two names must collide: lock by the resolved path.
    char resolved[PATH_MAX];
    const std::string device = realpath(name.c_str(), resolved) ? resolved : name;
    // TIOCEXCL keeps out other opens, except root's; flock keeps out every
    // program that locks the device too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return kInvalidPort;
    }
    OpenPort port;
    port.fd = fd;
    if (!take_lock_file(device, port.lock_path)) {
      ::close(fd);
      return kInvalidPort;
    }
    ioctl(fd, TIOCEXCL);
    port.shadow = initial_shadow();
    ports_[fd] = port;
    return fd;
  }

  bool get_state(PortHandle handle, DCB& dcb) override {
    OpenPort* port = find(handle);
    LineSettings line;
    if (!port || !line_get(port->fd, line)) return false;
    termios_to_dcb(to_termios(line), line.ospeed, port->shadow, dcb);
    return true;
  }

  bool set_state(PortHandle handle, const DCB& dcb) override {
    OpenPort* port = find(handle);
    if (!port || !dcb_expressible(dcb)) return false;
    LineSettings line;
    if (!line_get(port->fd, line)) return false;
    termios wanted = to_termios(line);
    dcb_to_termios(dcb, wanted);
    from_termios(wanted, line);
    line.ispeed = dcb.BaudRate;
    line.ospeed = dcb.BaudRate;
    // The call's own result says little (a pseudo-terminal answers EINVAL or 0
    // for the same refusal): what the line reads back decides.
    line_set(port->fd, line);
    LineSettings got;
    if (!line_get(port->fd, got)) return false;
    if (!line_took(wanted, dcb.BaudRate, to_termios(got), got.ospeed)) return false;
    port->shadow = dcb;
    return true;
  }

  bool escape(PortHandle handle, Escape function) override {
    OpenPort* port = find(handle);
    if (!port) return false;
    int bits = 0;
    unsigned long request = 0;
    switch (function) {
      case Escape::SetRts:
        bits = TIOCM_RTS;
        request = TIOCMBIS;
        break;
      case Escape::ClrRts:
        bits = TIOCM_RTS;
        request = TIOCMBIC;
        break;
      case Escape::SetDtr:
        bits = TIOCM_DTR;
        request = TIOCMBIS;
        break;
      case Escape::ClrDtr:
        bits = TIOCM_DTR;
        request = TIOCMBIC;
        break;
      default:
        return false;
    }
    return ioctl(port->fd, request, &bits) == 0;
  }

  bool set_timeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override {
    OpenPort* port = find(handle);
    if (!port) return false;
    port->timeouts = timeouts;
    return true;
  }

  bool get_timeouts(PortHandle handle, COMMTIMEOUTS& timeouts) override {
    OpenPort* port = find(handle);
    if (!port) return false;
    timeouts = port->timeouts;
    return true;
  }

  bool purge(PortHandle handle, std::uint32_t flags) override {
    OpenPort* port = find(handle);
    if (!port) return false;
    const bool tx = flags & kPurgeTxClear;
    const bool rx = flags & kPurgeRxClear;
    if (!tx && !rx) return true;
    return tcflush(port->fd, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) == 0;
  }

  bool read(PortHandle handle, std::uint8_t* buf, std::uint32_t len, std::uint32_t& got) override {
    got = 0;
    OpenPort* port = find(handle);
    if (!port) return false;
    if (len == 0) return true;
    const long long wait = first_byte_wait_ms(port->timeouts, len);
    const auto start = SteadyClock::now();
    const auto deadline =
        wait < 0 ? SteadyClock::time_point::max() : start + std::chrono::milliseconds(wait);
    // After a read that filled the buffer the bytes are taken without a poll;
    // after a short one the line has been emptied, and a read would only fail
    // with EAGAIN, so the poll comes first.
    bool try_read = port->full;
    for (;;) {
      if (try_read) {
        const ssize_t n = ::read(port->fd, buf, len);
        if (n > 0) {
          got = static_cast<std::uint32_t>(n);
          port->full = got == len;
          return true;
        }
        if (n == 0 || errno == EIO) break;  // the line has hung up
        if (errno == EINTR) return true;
        if (errno != EAGAIN) return false;
      }
      const bool tried = try_read;
      try_read = true;
      const int ms = wait < 0 ? -1 : remaining_ms(deadline);
      if (ms == 0 && tried) return true;
      pollfd p{port->fd, POLLIN, 0};
      const int r = poll(&p, 1, ms);
      if (r < 0) {
        if (errno == EINTR) return true;  // a signal: let the caller look at it now
        return false;
      }
      if (r == 0) return true;  // time-out
      if ((p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) break;
      if (p.revents & POLLNVAL) return false;
    }
    // A line that has gone away answers every read at once: wait out the
    // time-out instead, so that a loop of reads does not spin.
    pause_until(wait < 0 ? start + std::chrono::milliseconds(kHungUpPauseMs) : deadline);
    return false;
  }

  bool write(PortHandle handle, const std::uint8_t* buf, std::uint32_t len, std::uint32_t& written,
             std::uint32_t max_wait_ms) override {
    written = 0;
    OpenPort* port = find(handle);
    if (!port) return false;
    const bool bounded = max_wait_ms != kWaitForever;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(bounded ? max_wait_ms : 0);
    while (written < len) {
      const ssize_t n = ::write(port->fd, buf + written, len - written);
      if (n > 0) {
        written += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return false;
      const int ms = bounded ? remaining_ms(deadline) : -1;
      if (ms == 0) return true;  // time is up: the count tells what was taken
      pollfd p{port->fd, POLLOUT, 0};
      const int r = poll(&p, 1, ms);
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && (p.revents & POLLNVAL)) return false;
      // On POLLHUP/POLLERR the next write gives the error.
    }
    return true;
  }

  bool close(PortHandle handle) override {
    OpenPort* port = find(handle);
    if (!port) return false;
    if (!port->lock_path.empty()) unlink(port->lock_path.c_str());
    flock(port->fd, LOCK_UN);
    ioctl(port->fd, TIOCNXCL);
    const bool closed = ::close(port->fd) == 0;
    ports_.erase(handle);
    return closed;
  }

 private:
  OpenPort* find(PortHandle handle) {
    const auto it = ports_.find(handle);
    return it == ports_.end() ? nullptr : &it->second;
  }

  std::map<PortHandle, OpenPort> ports_;
};

}  // namespace

std::unique_ptr<Ports> make_ports() {
  return std::make_unique<PosixPorts>();
}

}  // namespace kit
