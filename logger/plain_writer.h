// The plain edition's log writer: one buffer, synchronous block writes, one
// open log file at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/files.h"
#include "common/frame.h"
#include "logger/stage.h"

namespace kit {

struct PlainWriter {
  std::unique_ptr<std::uint8_t[]> storage;
  std::uint8_t* BUF0 = nullptr;
  std::uint8_t* BUF = nullptr;  // the write position, shared with the capture loop
  std::int32_t BUFSIZE = 0;
  FileHandle F1 = kInvalidFile;

  // Where the writer reports from, set by buffer_setup.
  Files* files = nullptr;
  ConsoleStage* stage = nullptr;
  Program program = Program::Tarvik20170104;
  std::string ROOTDIR;
};

// Obtains BUF0 with BUFSIZE + 16 bytes (a BUFSIZE below 0 works as 0); stops
// the program when the memory cannot be had.
void buffer_setup(PlainWriter& w, std::int32_t BUFSIZE, Files& files, ConsoleStage& stage,
                  Program program, const std::string& ROOTDIR);
inline std::uint8_t* active_start(const PlainWriter& w) {
  return w.BUF0;
}
inline void prepare_writes(PlainWriter&) {}
void OPENLOG(PlainWriter& w, const std::string& FNAME);
void FWRITE(PlainWriter& w);
void NEWLOG(PlainWriter& w, const std::string& FNAME);
void ENDLOG(PlainWriter& w);

}  // namespace kit
