#include <aio.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/platform.h"

namespace kit {

namespace {

// Opens a log file for appending, creating it when missing and keeping what an
// existing one holds; an exclusive lock keeps other programs of the kit (and
// tools that honour locks) from writing into it while it is open here.
int open_locked_append(const std::string& path, int& os_error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    os_error = errno;
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    os_error = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    return -1;
  }
  os_error = 0;
  return fd;
}

class PosixFiles final : public Files {
 public:
  FileHandle open_log(const std::string& path, int& os_error) override {
    const int fd = open_locked_append(path, os_error);
    return fd < 0 ? kInvalidFile : fd;
  }

  int write(FileHandle file, const std::uint8_t* data, std::size_t len) override {
    std::size_t done = 0;
    while (done < len) {
      const ssize_t n = ::write(static_cast<int>(file), data + done, len - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) return kShortWrite;
      done += static_cast<std::size_t>(n);
    }
    return 0;
  }

  int close(FileHandle file) override {
    if (file < 0) return EBADF;
    flock(static_cast<int>(file), LOCK_UN);
    if (::close(static_cast<int>(file)) != 0 && errno != EINTR) return errno;
    return 0;
  }
};

// POSIX AIO stands in for the overlapped appends: one aiocb for the whole run,
// on O_APPEND descriptors, so that appends reach the file in the order started.
class PosixAsyncFiles final : public AsyncFiles {
 public:
  void prepare() override {
    std::memset(&cb_, 0, sizeof cb_);
    in_flight_ = false;
  }

  FileHandle open(const std::string& path) override {
    int err = 0;
    const int fd = open_locked_append(path, err);
    if (fd < 0) {
      // Told at the first append to the handle, as the system's own code.
      open_error_ = err;
      return kInvalidFile;
    }
    return fd;
  }

  bool wait_result(int& os_error) override {
    if (!in_flight_) return true;
    for (;;) {
      const aiocb* list[1] = {&cb_};
      const int r = aio_suspend(list, 1, nullptr);
      if (r == 0 || errno != EINTR) break;
      if (aio_error(&cb_) != EINPROGRESS) break;
    }
    return finish(os_error);
  }

  bool start_append(FileHandle file, const std::uint8_t* data, std::uint32_t len,
                    int& os_error) override {
    if (file < 0) {
      os_error = open_error_ != 0 ? open_error_ : EBADF;
      return false;
    }
    std::memset(&cb_, 0, sizeof cb_);
    cb_.aio_fildes = static_cast<int>(file);
    // aio_write does not take a null buffer for an empty write.
    static const std::uint8_t kNothing = 0;
    cb_.aio_buf = const_cast<std::uint8_t*>(len ? data : &kNothing);
    cb_.aio_nbytes = len;
    cb_.aio_sigevent.sigev_notify = SIGEV_NONE;
    if (aio_write(&cb_) != 0) {
      os_error = errno;
      return false;
    }
    in_flight_ = true;
    asked_ = len;
    return true;
  }

  bool wait_done(std::uint32_t ms) override {
    if (!in_flight_) return true;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long end_ns =
        deadline.tv_sec * 1000000000LL + deadline.tv_nsec + static_cast<long long>(ms) * 1000000LL;
    for (;;) {
      if (aio_error(&cb_) != EINPROGRESS) {
        int ignored = 0;
        finish(ignored);
        return true;
      }
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const long long left = end_ns - (now.tv_sec * 1000000000LL + now.tv_nsec);
      if (left <= 0) return false;
      timespec wait{static_cast<time_t>(left / 1000000000LL),
                    static_cast<long>(left % 1000000000LL)};
      const aiocb* list[1] = {&cb_};
      aio_suspend(list, 1, &wait);
    }
  }

  void close(FileHandle file) override {
    if (file < 0) return;
    flock(static_cast<int>(file), LOCK_UN);
    ::close(static_cast<int>(file));
  }

  void close_event() override {}

 private:
  // Collects the result of the completed append.
  bool finish(int& os_error) {
    in_flight_ = false;
    const int err = aio_error(&cb_);
    const ssize_t n = aio_return(&cb_);
    if (err != 0) {
      os_error = err;
      return false;
    }
    // A write that stored fewer bytes than asked has lost the rest: on a log
    // file that is a full disk (or a file-size limit), and it is reported so.
    if (n < 0 || static_cast<std::uint32_t>(n) < asked_) {
      os_error = ENOSPC;
      return false;
    }
    return true;
  }

  aiocb cb_{};
  bool in_flight_ = false;
  std::uint32_t asked_ = 0;
  int open_error_ = 0;
};

}  // namespace

std::unique_ptr<Files> make_files() {
  return std::make_unique<PosixFiles>();
}
std::unique_ptr<AsyncFiles> make_async_files() {
  return std::make_unique<PosixAsyncFiles>();
}

}  // namespace kit
