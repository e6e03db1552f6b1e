// Fakes of the platform seams for the unit tests: a recording console with
// scripted keys, a scripted clock and scripted serial ports.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/system.h"

namespace kit::testing {

class FakeConsole : public Console {
 public:
  void clear() override { out += "<clear>"; }
  void write(std::string_view bytes) override { out.append(bytes); }
  bool key_test() override { return !keys.empty(); }
  std::uint8_t key_read() override {
    if (keys.empty()) return 0;
    const std::uint8_t k = keys.front();
    keys.pop_front();
    return k;
  }
  void delay(std::uint16_t ms) override { delayed_ms += ms; }
  void report_line(std::string_view text) override {
    report.append(text);
    report += "\r\n";
  }
  void catch_interrupts() override { catching = true; }
  bool interrupted() override { return interrupt; }

  std::string out;     // everything written through the output rules
  std::string report;  // the failure report lines
  std::deque<std::uint8_t> keys;
  unsigned delayed_ms = 0;
  bool catching = false;
  bool interrupt = false;
};

class FakeClock : public Clock {
 public:
  LocalTime now() override { return wall; }
  std::int64_t mono_ms() override { return mono; }
  LocalTime wall{2019, 5, 24, 9, 5, 3, 42};
  std::int64_t mono = 1000000;
};

class FakeProcess : public Process {
 public:
  explicit FakeProcess(std::string path, bool posix = true) : path(std::move(path)), posix(posix) {}
  std::string own_path() override { return path; }
  bool posix_paths() override { return posix; }
  std::string path;
  bool posix;
};

}  // namespace kit::testing

namespace kit::testing {

// Log files in memory: what each path holds, and every block write's size.
class RecordingFiles : public Files {
 public:
  FileHandle open_log(const std::string& path, int& os_error) override {
    if (fail_open) {
      os_error = fail_open;
      return kInvalidFile;
    }
    const FileHandle h = next++;
    open[h] = path;
    content[path];  // created when missing, kept when there
    opens.push_back(path);
    os_error = 0;
    return h;
  }
  int write(FileHandle file, const std::uint8_t* data, std::size_t len) override {
    if (!open.count(file)) return 9;
    if (fail_write) return fail_write;
    content[open[file]].append(reinterpret_cast<const char*>(data), len);
    write_sizes.push_back(len);
    return 0;
  }
  int close(FileHandle file) override {
    if (!open.count(file)) return 9;
    open.erase(file);
    return 0;
  }

  std::map<std::string, std::string> content;
  std::map<FileHandle, std::string> open;
  std::vector<std::string> opens;
  std::vector<std::size_t> write_sizes;
  FileHandle next = 10;
  int fail_open = 0;
  int fail_write = 0;
};

}  // namespace kit::testing

namespace kit::testing {

// Seams a test does not use: every call fails.
class NoPorts : public Ports {
 public:
  PortHandle open(const std::string&, Access) override { return kInvalidPort; }
  bool get_state(PortHandle, DCB&) override { return false; }
  bool set_state(PortHandle, const DCB&) override { return false; }
  bool escape(PortHandle, Escape) override { return false; }
  bool set_timeouts(PortHandle, const COMMTIMEOUTS&) override { return false; }
  bool get_timeouts(PortHandle, COMMTIMEOUTS&) override { return false; }
  bool purge(PortHandle, std::uint32_t) override { return false; }
  bool read(PortHandle, std::uint8_t*, std::uint32_t, std::uint32_t& got) override {
    got = 0;
    return false;
  }
  bool write(PortHandle, const std::uint8_t*, std::uint32_t, std::uint32_t& written,
             std::uint32_t) override {
    written = 0;
    return false;
  }
  bool close(PortHandle) override { return false; }
};

class NoAsyncFiles : public AsyncFiles {
 public:
  void prepare() override {}
  FileHandle open(const std::string&) override { return kInvalidFile; }
  bool wait_result(int&) override { return true; }
  bool start_append(FileHandle, const std::uint8_t*, std::uint32_t, int& e) override {
    e = 6;
    return false;
  }
  bool wait_done(std::uint32_t) override { return true; }
  void close(FileHandle) override {}
  void close_event() override {}
};

}  // namespace kit::testing
