// The console output of a batch, gathered so that it goes out in one write.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/console.h"

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

}  // namespace kit
