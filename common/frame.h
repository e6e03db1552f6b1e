// The frame every program runs: start-up, the help block and the three
// endings (path incorrect, exit frame, input/output failure stop).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/system.h"

namespace kit {

enum class Program { Tarvik20191117, Tarvik20170104, Pelmar20190524, Dorvel20161004 };

const char* program_name(Program program);

// Every text value is at most 255 bytes; a longer result is cut.
constexpr std::size_t kShortText = 255;
inline std::string short_text(std::string_view s) {
  return std::string(s.substr(0, kShortText));
}

struct Frame {
  Program program = Program::Tarvik20170104;
  std::string ROOTDIR;
  std::string INIPATH;
};

// Places whose failure the input/output failure stop reports; each stands for
// a stable code address in the report.
enum class Site : std::uint32_t {
  IniOpen = 1,
  IniRead,
  IniClose,
  BufferAlloc,
  LogOpen,
  LogWrite,
  LogClose,
};

// Start-up steps 1 to 5: clear, banner, ROOTDIR, INIPATH and their lines.
// Ends the program ("Path to program incorrect") when a search fails.
void startup(System& sys, Frame& frame);

// The work-folder and ini-path searches, for a given executable path. False
// when the path has no folder separator or no dot; rootdir is set whenever the
// separator was found.
bool derive_paths(std::string_view exe_path, bool posix_paths, std::string& rootdir,
                  std::string& inipath);

// Exit frame: the message, "Press any key for Exit", one key, status 0.
[[noreturn]] void exit_frame(Console& console, std::string_view message);

// The input/output failure stop for a failed file operation or a malformed
// number (error numbers as the report tables give them: 2, 3, 5, 101, 106...).
[[noreturn]] void io_failure_stop(Console& console, Program program, int error_number, Site site);
// The same stop for memory that cannot be obtained.
[[noreturn]] void out_of_memory_stop(Console& console, Program program, Site site);

// The lines of a failure report, without printing them (for the tests).
std::string failure_report(Program program, int error_number, bool out_of_memory, Site site);
int failure_status(Program program, int error_number);

// The help block: the rule, the key lines, and the closing line.
void help_block(Console& console, std::initializer_list<std::string_view> key_lines,
                std::string_view last_line);

constexpr std::string_view kRule = "=================";
constexpr std::string_view kDataWaiting = "...data waiting.";

}  // namespace kit
