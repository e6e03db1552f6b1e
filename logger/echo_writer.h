// The echo edition's log writer: two buffers, each full buffer written with one
// asynchronous append while the loop fills the other; at most one append in
// flight; a change of file handed over between two writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/files.h"
#include "common/frame.h"
#include "logger/stage.h"

namespace kit {

struct EchoWriter {
  std::unique_ptr<std::uint8_t[]> storage0, storage1;
  std::uint8_t* BUF0 = nullptr;
  std::uint8_t* BUF1 = nullptr;
  std::uint8_t* BUF = nullptr;  // the write position, shared with the capture loop
  std::uint8_t BUFFL = 0;       // 0: BUF0 is active, 1: BUF1
  std::int32_t BUFSIZE = 0;
  FileHandle FILEHANDLE = kInvalidFile;
  FileHandle FILEHANDLENEW = kInvalidFile;
  std::uint8_t FILEFL = 0;  // 1: FILEHANDLENEW waits to be taken over by the next FWRITE
  std::string FPATH;        // ROOTDIR + FNAME of the file to open
  std::string FPATHP;       // the path of the file FILEHANDLE (or the waiting one) was opened at

  AsyncFiles* files = nullptr;
  ConsoleStage* stage = nullptr;
  std::string ROOTDIR;
};

// Obtains BUF0 and BUF1 with BUFSIZE + 16 bytes each (a BUFSIZE below 0 works
// as 0); stops the program when the memory cannot be had.
void buffer_setup(EchoWriter& w, std::int32_t BUFSIZE, AsyncFiles& files, ConsoleStage& stage,
                  Program program, const std::string& ROOTDIR);
inline std::uint8_t* active_start(const EchoWriter& w) {
  return w.BUFFL ? w.BUF1 : w.BUF0;
}
// The record and the event of the appends, at the start of logging.
void prepare_writes(EchoWriter& w);
void OPENLOG(EchoWriter& w, const std::string& FNAME);
void FWRITE(EchoWriter& w);
void NEWLOG(EchoWriter& w, const std::string& FNAME);
void ENDLOG(EchoWriter& w);

}  // namespace kit
