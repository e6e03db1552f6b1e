// The console output of a batch, gathered so that it goes out in one write,
// and the log buffers of the writers.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "common/console.h"
#include "common/frame.h"

namespace kit {

class ConsoleStage {
 public:
  // capacity: the most bytes one batch can bring to the console.
  ConsoleStage(Console& console, std::size_t capacity)
      : console_(console), data_(new std::uint8_t[capacity]), capacity_(capacity) {}

  void put(const std::uint8_t* bytes, std::size_t n) {
    if (used_ + n > capacity_) flush();
    if (n > capacity_) {
      console_.write(std::string_view(reinterpret_cast<const char*>(bytes), n));
      return;
    }
    std::memcpy(data_.get() + used_, bytes, n);
    used_ += n;
  }

  // Puts what was gathered on the screen.
  void flush() {
    if (used_ == 0) return;
    console_.write(std::string_view(reinterpret_cast<const char*>(data_.get()), used_));
    used_ = 0;
  }

  Console& console() { return console_; }

 private:
  Console& console_;
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// A log buffer of BUFSIZE + 16 bytes: room for a header and a byte beyond the
// flush threshold. Stops the program when the memory cannot be had.
inline std::unique_ptr<std::uint8_t[]> obtain_log_buffer(std::int32_t BUFSIZE, ConsoleStage& stage,
                                                         Program program) {
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow)
                                             std::uint8_t[static_cast<std::size_t>(BUFSIZE) + 16]);
  if (!buffer) {
    stage.flush();
    out_of_memory_stop(stage.console(), program, Site::BufferAlloc);
  }
  return buffer;
}

// The flush threshold: a negative size works as 0, since a buffer smaller than
// one header would be overrun.
inline std::int32_t flush_threshold(std::int32_t BUFSIZE) {
  return BUFSIZE < 0 ? 0 : BUFSIZE;
}

}  // namespace kit
