#include "common/console.h"

#include <cstring>
#include <string>

namespace kit {

void write_line(Console& console, std::string_view text) {
  // Text and CR LF go to the console in one write.
  char line[512];
  if (text.size() + 2 <= sizeof line) {
    if (!text.empty()) std::memcpy(line, text.data(), text.size());
    line[text.size()] = '\r';
    line[text.size() + 1] = '\n';
    console.write(std::string_view(line, text.size() + 2));
    return;
  }
  std::string long_line;
  long_line.reserve(text.size() + 2);
  long_line.append(text).append("\r\n");
  console.write(long_line);
}

}  // namespace kit
