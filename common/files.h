// Log files: synchronous block writes (plain edition, generator) and the one
// asynchronous append in flight of the echo edition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kit {

using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidFile = -1;

// The error number the failure stop reports for a system error code of a file
// operation: the Windows numbers (2 not found, 3 bad path, 4 too many files,
// 5 access denied, 6 bad handle, 101 disk full, ...).
int io_error_number(int os_error);
// The error number of a block write that stored fewer bytes than asked.
constexpr int kDiskFull = 101;

class Files {
 public:
  virtual ~Files() = default;

  // Opens the file for writing, not shared with other programs; a missing file
  // is created, an existing one is continued at its end (never emptied).
  // kInvalidFile on failure, with the system's error code in os_error.
  virtual FileHandle open_log(const std::string& path, int& os_error) = 0;
  // One synchronous block write of all bytes. 0, or the system's error code;
  // a short write gives kShortWrite.
  virtual int write(FileHandle file, const std::uint8_t* data, std::size_t len) = 0;
  // 0, or the system's error code.
  virtual int close(FileHandle file) = 0;
};

// A write that stored fewer bytes than asked, as Files::write reports it.
constexpr int kShortWrite = -101;

// The asynchronous appends of the echo edition: one record for the whole run,
// at most one append in flight.
class AsyncFiles {
 public:
  virtual ~AsyncFiles() = default;

  // Sets up the record and its completion event.
  virtual void prepare() = 0;
  // Opens for appending, creating a missing file and keeping an existing one.
  // The result is not examined by the writer: an invalid handle shows at the
  // next start().
  virtual FileHandle open(const std::string& path) = 0;
  // Waits for the append in flight, if any. False when it failed, with the
  // system's error code in os_error. True at once when none is in flight.
  virtual bool wait_result(int& os_error) = 0;
  // Starts an append of len bytes at the end of the file; the buffer must stay
  // untouched until the next wait. False when it could not start.
  virtual bool start_append(FileHandle file, const std::uint8_t* data, std::uint32_t len,
                            int& os_error) = 0;
  // Waits at most ms for the append in flight; false on a time-out.
  virtual bool wait_done(std::uint32_t ms) = 0;
  virtual void close(FileHandle file) = 0;
  virtual void close_event() = 0;
};

}  // namespace kit
