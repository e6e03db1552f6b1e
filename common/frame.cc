#include "common/frame.h"

#include <cstdio>

namespace kit {

namespace {

// The web address that every banner carries between "//" and the closing "---".
constexpr std::string_view kWebAddress = "serialkit.example.net";

// Stable code addresses for the failure reports, one per failing place, and the
// address of the program's main routine that closes every trace.
constexpr std::uint32_t kCodeBase = 0x00401000;
constexpr std::uint32_t kMainAddress = 0x00400C40;

std::uint32_t site_address(Site site) {
  return kCodeBase + static_cast<std::uint32_t>(site) * 0x1A4;
}

std::string hex8(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

std::string_view inout_message(int error_number) {
  switch (error_number) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "Access denied";
    case 6:
      return "Invalid file handle";
    case 100:
      return "Read past end of file";
    case 101:
      return "Disk Full";
    case 102:
      return "File not assigned";
    case 103:
      return "File not open";
    case 105:
      return "File not open for output";
    case 106:
      return "Invalid input";
    default:
      return {};
  }
}

bool uses_form_b(Program program) {
  return program == Program::Dorvel20161004;
}

// Form B reports exhausted memory with the run-time error number 203.
constexpr int kOutOfMemoryNumber = 203;

}  // namespace

const char* program_name(Program program) {
  switch (program) {
    case Program::Tarvik20191117:
      return "Tarvik20191117";
    case Program::Tarvik20170104:
      return "Tarvik20170104";
    case Program::Pelmar20190524:
      return "Pelmar20190524";
    case Program::Dorvel20161004:
      return "Dorvel20161004";
  }
  return "";
}

bool derive_paths(std::string_view exe_path, bool posix_paths, std::string& rootdir,
                  std::string& inipath) {
  const std::string path = short_text(exe_path);
  const char separator = posix_paths ? '/' : '\\';
  const std::size_t slash = path.rfind(separator);
  if (slash == std::string::npos) return false;
  rootdir = path.substr(0, slash + 1);
  const std::size_t dot = path.rfind('.');
  if (posix_paths) {
    // Only the file name is searched for its dot: a dot in a folder name
    // (~/.local/bin) must not move the ini file out of the station folder.
    if (dot != std::string::npos && dot > slash) {
      inipath = short_text(path.substr(0, dot + 1) + "ini");
    } else {
      inipath = short_text(path + ".ini");
    }
    return true;
  }
  if (dot == std::string::npos) return false;
  inipath = short_text(path.substr(0, dot + 1) + "ini");
  return true;
}

void startup(System& sys, Frame& frame) {
  Console& console = sys.console;
  console.clear();
  std::string banner = "---";
  banner += program_name(frame.program);
  banner += "//";
  banner += kWebAddress;
  banner += "---";
  write_line(console, banner);
  const std::string exe = short_text(sys.process.own_path());
  frame.ROOTDIR.clear();
  if (!derive_paths(exe, sys.process.posix_paths(), frame.ROOTDIR, frame.INIPATH)) {
    // Without a dot the work folder was found and is shown before the ending.
    if (!frame.ROOTDIR.empty()) write_line(console, "Path to work folder: " + frame.ROOTDIR);
    write_line(console, "Path to program incorrect");
    console.key_read();
    throw Ending{0};
  }
  write_line(console, "Path to work folder: " + frame.ROOTDIR);
  write_line(console, "Expect ini-file name: " + frame.INIPATH);
}

void exit_frame(Console& console, std::string_view message) {
  write_line(console, message);
  write_line(console, "Press any key for Exit");
  console.key_read();
  throw Ending{0};
}

std::string failure_report(Program program, int error_number, bool out_of_memory, Site site) {
  const std::string where = hex8(site_address(site));
  std::string report;
  if (uses_form_b(program)) {
    const int number = out_of_memory ? kOutOfMemoryNumber : error_number;
    report += "Runtime error " + std::to_string(number) + " at $" + where + "\r\n";
  } else {
    report += "An unhandled exception occurred at $" + where + " :\r\n";
    if (out_of_memory) {
      report += "EOutOfMemory : Out of memory\r\n";
    } else if (std::string_view m = inout_message(error_number); !m.empty()) {
      report += "EInOutError : ";
      report += m;
      report += "\r\n";
    } else {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%03d", error_number);
      report += "Exception : Unknown Run-Time error : ";
      report += digits;
      report += "\r\n";
    }
  }
  report += "  $" + where + "\r\n";
  report += "  $" + hex8(kMainAddress) + "\r\n";
  report += "\r\n";
  return report;
}

int failure_status(Program program, int error_number) {
  return uses_form_b(program) ? error_number : 217;
}

namespace {

[[noreturn]] void stop(Console& console, const std::string& report, int status) {
  std::size_t start = 0;
  while (start < report.size()) {
    const std::size_t end = report.find("\r\n", start);
    console.report_line(std::string_view(report).substr(start, end - start));
    start = end + 2;
  }
  throw Ending{status};
}

}  // namespace

void io_failure_stop(Console& console, Program program, int error_number, Site site) {
  stop(console, failure_report(program, error_number, false, site),
       failure_status(program, error_number));
}

void out_of_memory_stop(Console& console, Program program, Site site) {
  stop(console, failure_report(program, 0, true, site),
       failure_status(program, kOutOfMemoryNumber));
}

void help_block(Console& console, std::initializer_list<std::string_view> key_lines,
                std::string_view last_line) {
  write_line(console, kRule);
  for (std::string_view line : key_lines) write_line(console, line);
  write_line(console, last_line);
}

}  // namespace kit
