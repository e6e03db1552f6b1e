#include <limits.h>
#include <unistd.h>

#include <string>

#include "common/platform.h"

namespace kit {

namespace {

// The path the program was started by, made absolute without resolving links,
// so that a folder holding a link to the installed program, its ini file and
// its logs is a station of its own. A bare name was found on PATH: then the
// system's own idea of the executable serves.
std::string absolute_start_path(const char* argv0) {
  std::string given = argv0 ? argv0 : "";
  if (given.find('/') == std::string::npos) {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, static_cast<std::size_t>(n));
    return given;
  }
  if (given.front() == '/') return given;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return given;
  while (given.rfind("./", 0) == 0) given.erase(0, 2);
  std::string path = cwd;
  if (path.empty() || path.back() != '/') path += '/';
  return path + given;
}

class PosixProcess final : public Process {
 public:
  explicit PosixProcess(const char* argv0) : path_(absolute_start_path(argv0)) {}
  std::string own_path() override { return path_; }
  bool posix_paths() override { return true; }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<Process> make_process(const char* argv0) {
  return std::make_unique<PosixProcess>(argv0);
}

}  // namespace kit
