// The positional configuration file of each program: the five reading
// operations, the four layouts and their echo lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/frame.h"

namespace kit {

struct Config {
  std::string SNCOM;   // port name as read (the relay: relay port after counter port)
  std::string SNCOM2;  // echo port name (echo edition)
  // Copies of the port names handed to the open call. A name longer than 15
  // bytes is kept in full: device paths on Linux are long.
  std::string NCOM, NCOM2, NCOM0;
  std::uint32_t COMBAUD = 0;
  std::uint8_t COMBYTESIZE = 0;
  std::uint8_t COMPARITY = 0;
  std::uint8_t COMSTOPBITS = 0;
  std::uint8_t EOLCHAR = 0;
  std::uint16_t EOLTIME = 0;
  std::int32_t BUFSIZE = 0;
  std::string INIEXT;
  std::uint8_t FZ = 0;
  std::uint8_t C1 = 0, C2 = 0;
  std::uint8_t ZZZ1 = 0, ZZZ2 = 0;
  std::string INITCCS;
  std::string INITCC;
};

// Reads INIPATH with the program's layout, writing one echo line per line.
// A missing file or a malformed number ends the program through the
// input/output failure stop.
void read_config(Console& console, const Frame& frame, Config& config);

// Where the reading operations take the bytes of the file from: the file
// itself, or memory (tests, fuzzing).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to cap bytes into buf; 0 at the end. A failed read gives 0 and the
  // system's error code (errno) in error.
  virtual std::size_t read(std::uint8_t* buf, std::size_t cap, int& error) = 0;
};

// A copy of some bytes, handed out at most chunk bytes per read.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view data, std::size_t chunk = SIZE_MAX)
      : data_(data), chunk_(chunk == 0 ? 1 : chunk) {}
  std::size_t read(std::uint8_t* buf, std::size_t cap, int& error) override;

 private:
  std::string data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// The text file variable F: a byte source read through a buffer of its own,
// so that a file of any size is read in fixed memory.
struct IniFile {
  ByteSource* source = nullptr;
  std::array<std::uint8_t, 4096> buf{};
  std::size_t pos = 0;
  std::size_t len = 0;
  bool at_end = false;  // the source has given its last byte
  int error = 0;        // errno of a failed read; 0 while none
};

// The five reading operations. A read error counts as the end of the file and
// is left in F.error. A number read gives false when its token is not a
// number (error 106).
std::string text_read(IniFile& F);
bool unsigned_read(IniFile& F, std::uint32_t& value);
bool signed_read(IniFile& F, std::int32_t& value);
std::uint8_t char_read(IniFile& F);
void line_skip(IniFile& F);

// Reads the program's layout from an open F and writes the echo lines; a
// malformed number or a read error ends the program through the input/output
// failure stop. Does not close F.
void read_layout(Console& console, Program program, IniFile& F, Config& config);

}  // namespace kit
