#include "common/config.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/console.h"
#include "common/ioerror.h"

namespace kit {

namespace {

constexpr int kEnd = -1;
constexpr std::uint8_t kCtrlZ = 26;
constexpr std::uint8_t kCR = 13;
constexpr std::uint8_t kLF = 10;
constexpr int kInvalidInput = 106;

// The configuration file opened for reading in binary mode: bytes pass as
// they are, CR LF included.
class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  // A file left open by a failure is released here; closing a file that was
  // only read changes nothing outside the program.
  ~FileSource() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  std::size_t read(std::uint8_t* buf, std::size_t cap, int& error) override {
    if (failed_ != 0) {
      error = failed_;
      return 0;
    }
    errno = 0;
    const std::size_t n = std::fread(buf, 1, cap, file_);
    if (n < cap && std::ferror(file_) != 0) {
      // The bytes before the failure still count; the failure shows at the
      // next read.
      failed_ = errno != 0 ? errno : EIO;
      if (n == 0) error = failed_;
    }
    return n;
  }

  // 0, or the errno of the failed close.
  int close() {
    std::FILE* file = file_;
    file_ = nullptr;
    errno = 0;
    if (std::fclose(file) != 0) return errno != 0 ? errno : EIO;
    return 0;
  }

 private:
  std::FILE* file_;
  int failed_ = 0;
};

// The byte at the read position, or kEnd at the end of the file (and after a
// failed read). Refills the buffer from the source when it is used up.
int peek(IniFile& F) {
  if (F.pos < F.len) return F.buf[F.pos];
  if (F.at_end || F.source == nullptr) return kEnd;
  int error = 0;
  const std::size_t n = F.source->read(F.buf.data(), F.buf.size(), error);
  if (n == 0) {
    F.at_end = true;
    F.error = error;
    return kEnd;
  }
  F.pos = 0;
  F.len = n;
  return F.buf[0];
}

// The end of the file as text reads, number reads and line skips see it: the
// real end, or a byte 26 in front of which they stop.
bool text_end(int c) {
  return c == kEnd || c == kCtrlZ;
}

// The token of a number read: after the bytes of value 32 or less, up to the
// next one of them, at most 255 bytes.
std::size_t number_token(IniFile& F, char (&token)[kShortText]) {
  int c = peek(F);
  while (!text_end(c) && c <= 32) {
    ++F.pos;
    c = peek(F);
  }
  std::size_t n = 0;
  while (n < kShortText && !text_end(c) && c > 32) {
    token[n++] = static_cast<char>(c);
    ++F.pos;
    c = peek(F);
  }
  return n;
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 99;
}

// The number grammar: an optional sign, an optional base prefix ("$", "x",
// "X", "0x", "0X" hexadecimal, "%" binary, "&" octal) and one or more digits
// of the base. The value (at most 4294967295) goes to magnitude; negative and
// prefixed tell the caller what it has to check for its own limits.
bool parse_number(std::string_view t, bool& negative, bool& prefixed, std::uint32_t& magnitude) {
  std::size_t i = 0;
  negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  int base = 10;
  const std::string_view rest = t.substr(i);
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    i += 2;
  } else if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
    base = 16;
    ++i;
  } else if (!rest.empty() && rest[0] == '%') {
    base = 2;
    ++i;
  } else if (!rest.empty() && rest[0] == '&') {
    base = 8;
    ++i;
  }
  prefixed = base != 10;
  if (i == t.size()) return false;  // a sign or prefix without digits
  std::uint64_t value = 0;
  for (; i < t.size(); ++i) {
    const int d = digit_value(t[i]);
    if (d >= base) return false;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) return false;
  }
  magnitude = static_cast<std::uint32_t>(value);
  return true;
}

// The checked forms the layouts use: a malformed number or a failed read ends
// the program here, before the line is echoed.
void stop_on_read_error(Console& console, Program program, const IniFile& F) {
  if (F.error != 0) io_failure_stop(console, program, errno_to_io_error(F.error), Site::IniRead);
}

std::uint32_t read_unsigned(Console& console, Program program, IniFile& F) {
  std::uint32_t value = 0;
  const bool ok = unsigned_read(F, value);
  stop_on_read_error(console, program, F);
  if (!ok) io_failure_stop(console, program, kInvalidInput, Site::IniRead);
  return value;
}

std::int32_t read_signed(Console& console, Program program, IniFile& F) {
  std::int32_t value = 0;
  const bool ok = signed_read(F, value);
  stop_on_read_error(console, program, F);
  if (!ok) io_failure_stop(console, program, kInvalidInput, Site::IniRead);
  return value;
}

// The end of every line of a layout.
void end_line(Console& console, Program program, IniFile& F) {
  line_skip(F);
  stop_on_read_error(console, program, F);
}

std::string text_line(Console& console, Program program, IniFile& F) {
  std::string text = text_read(F);
  end_line(console, program, F);
  return text;
}

// A line of one or two characters; a failed read shows as 26 and is caught
// by the line's end.
std::uint8_t char_line(Console& console, Program program, IniFile& F) {
  const std::uint8_t c = char_read(F);
  end_line(console, program, F);
  return c;
}

void char_pair_line(Console& console, Program program, IniFile& F, std::uint8_t& first,
                    std::uint8_t& second) {
  first = char_read(F);
  second = char_read(F);
  end_line(console, program, F);
}

// "...BaudRate=" COMBAUD "; ByteSize=" ... after the line's own prefix.
void port_settings_line(Console& console, Program program, IniFile& F, Config& c,
                        std::string_view echo_prefix) {
  c.COMBAUD = read_unsigned(console, program, F);
  c.COMBYTESIZE = static_cast<std::uint8_t>(read_unsigned(console, program, F));
  c.COMPARITY = static_cast<std::uint8_t>(read_unsigned(console, program, F));
  c.COMSTOPBITS = static_cast<std::uint8_t>(read_unsigned(console, program, F));
  end_line(console, program, F);
  std::string echo(echo_prefix);
  echo += "BaudRate=" + std::to_string(c.COMBAUD);
  echo += "; ByteSize=" + std::to_string(c.COMBYTESIZE);
  echo += "; Parity=" + std::to_string(c.COMPARITY);
  echo += "; StopBits=" + std::to_string(c.COMSTOPBITS);
  write_line(console, echo);
}

std::string quoted_pair(std::string_view first_name, std::uint8_t first,
                        std::string_view second_name, std::uint8_t second) {
  std::string echo(first_name);
  echo += "='";
  echo.push_back(static_cast<char>(first));
  echo += "'; ";
  echo += second_name;
  echo += "='";
  echo.push_back(static_cast<char>(second));
  echo += "'";
  return echo;
}

// Lines 3 to 9 of the echo edition, 2 to 8 of the plain edition.
// A port name line: the name as read, its copy for the open call, the echo.
void port_name_line(Console& console, Program program, IniFile& F, std::string& SNCOM,
                    std::string& copy, std::string_view label) {
  SNCOM = text_line(console, program, F);
  copy = SNCOM;
  write_line(console, std::string(label) + SNCOM);
}

// The lines that the loggers and the generator share: the log file extension,
// the autobreak code and the two delimiters.
void log_file_lines(Console& console, Program program, IniFile& F, Config& c) {
  c.INIEXT = text_line(console, program, F);
  write_line(console, "Read: log files extension=" + c.INIEXT);

  c.FZ = char_line(console, program, F);
  write_line(console, "Read: autobreak code=" + std::string(1, static_cast<char>(c.FZ)));

  char_pair_line(console, program, F, c.C1, c.C2);
  write_line(console, "Read: " + quoted_pair("LeftDelim", c.C1, "RightDelim", c.C2));
}

void logger_lines(Console& console, Program program, IniFile& F, Config& c) {
  port_settings_line(console, program, F, c, "Read: ");

  c.EOLCHAR = static_cast<std::uint8_t>(read_unsigned(console, program, F));
  c.EOLTIME = static_cast<std::uint16_t>(read_unsigned(console, program, F));
  end_line(console, program, F);
  write_line(console, "Read: EOL code=" + std::to_string(c.EOLCHAR) +
                          "; EOL time=" + std::to_string(c.EOLTIME) + "ms");

  c.BUFSIZE = read_signed(console, program, F);
  end_line(console, program, F);
  write_line(console, "Read: BufferSize=" + std::to_string(c.BUFSIZE) + "byte");

  log_file_lines(console, program, F, c);

  char_pair_line(console, program, F, c.ZZZ1, c.ZZZ2);
  write_line(console, "Read: " + quoted_pair("DTR", c.ZZZ1, "RTS", c.ZZZ2));
}

}  // namespace

std::size_t MemorySource::read(std::uint8_t* buf, std::size_t cap, int& /*error*/) {
  std::size_t n = data_.size() - pos_;
  if (n > cap) n = cap;
  if (n > chunk_) n = chunk_;
  for (std::size_t i = 0; i < n; ++i) buf[i] = static_cast<std::uint8_t>(data_[pos_ + i]);
  pos_ += n;
  return n;
}

std::string text_read(IniFile& F) {
  std::string text;
  int c = peek(F);
  while (text.size() < kShortText && !text_end(c) && c != kCR && c != kLF) {
    text.push_back(static_cast<char>(c));
    ++F.pos;
    c = peek(F);
  }
  return text;
}

namespace {

// A parsed number token: sign, whether a base prefix stood in front, and the
// digits' value.
struct NumberToken {
  bool empty = true;
  bool negative = false;
  bool prefixed = false;
  std::uint32_t magnitude = 0;
};

// Takes the next token; false when it is not a number of the grammar. An
// empty token (end of file or byte 26 first) reads as 0 without an error.
bool read_number_token(IniFile& F, NumberToken& t) {
  char token[kShortText];
  const std::size_t n = number_token(F, token);
  t = NumberToken{};
  if (n == 0) return true;
  t.empty = false;
  return parse_number(std::string_view(token, n), t.negative, t.prefixed, t.magnitude);
}

}  // namespace

bool unsigned_read(IniFile& F, std::uint32_t& value) {
  NumberToken t;
  value = 0;
  if (!read_number_token(F, t) || t.negative) return false;
  value = t.magnitude;
  return true;
}

bool signed_read(IniFile& F, std::int32_t& value) {
  NumberToken t;
  value = 0;
  if (!read_number_token(F, t)) return false;
  if (t.empty) return true;
  // Decimal values keep the signed range; prefixed ones are 32-bit patterns
  // in two's complement ($FFFFFFFF is -1), which a "-" negates.
  if (!t.prefixed && t.magnitude > (t.negative ? 2147483648u : 2147483647u)) return false;
  const std::uint32_t bits = t.negative ? 0u - t.magnitude : t.magnitude;
  value = static_cast<std::int32_t>(bits);
  return true;
}

std::uint8_t char_read(IniFile& F) {
  const int c = peek(F);
  if (c == kEnd) return kCtrlZ;
  ++F.pos;
  return static_cast<std::uint8_t>(c);
}

void line_skip(IniFile& F) {
  int c = peek(F);
  while (!text_end(c)) {
    ++F.pos;
    if (c == kLF) return;
    if (c == kCR) {
      if (peek(F) == kLF) ++F.pos;
      return;
    }
    c = peek(F);
  }
}

void read_layout(Console& console, Program program, IniFile& F, Config& c) {
  switch (program) {
    case Program::Tarvik20191117:
      port_name_line(console, program, F, c.SNCOM, c.NCOM, "Read: COM Name=");
      port_name_line(console, program, F, c.SNCOM2, c.NCOM2, "Read: COM_Out Name=");
      logger_lines(console, program, F, c);
      break;

    case Program::Tarvik20170104:
      port_name_line(console, program, F, c.SNCOM, c.NCOM, "Read: COM Name=");
      logger_lines(console, program, F, c);
      break;

    case Program::Pelmar20190524:
      port_name_line(console, program, F, c.SNCOM, c.NCOM, "Read: COM Name=");
      port_settings_line(console, program, F, c, "Read: ");
      log_file_lines(console, program, F, c);
      break;

    case Program::Dorvel20161004:
      port_name_line(console, program, F, c.SNCOM, c.NCOM0, "Read CC: COM Name=");
      c.INITCCS = text_line(console, program, F);
      write_line(console, "Read CC: Init CC string=" + c.INITCCS);
      c.INITCC = text_line(console, program, F);
      write_line(console, "Read CC: Init CC value=" + c.INITCC);
      port_name_line(console, program, F, c.SNCOM, c.NCOM, "Read Relay: COM Name=");
      port_settings_line(console, program, F, c, "Read Relay: ");
      char_pair_line(console, program, F, c.ZZZ1, c.ZZZ2);
      write_line(console, "Read Relay: " + quoted_pair("DTR", c.ZZZ1, "RTS", c.ZZZ2));
      break;
  }
}

void read_config(Console& console, const Frame& frame, Config& config) {
  errno = 0;
  std::FILE* file = std::fopen(frame.INIPATH.c_str(), "rb");
  if (file == nullptr) {
    const int e = errno != 0 ? errno : ENOENT;
    io_failure_stop(console, frame.program, errno_to_io_error(e), Site::IniOpen);
  }
  FileSource source(file);
  IniFile F;
  F.source = &source;
  read_layout(console, frame.program, F, config);
  const int e = source.close();
  if (e != 0) io_failure_stop(console, frame.program, errno_to_io_error(e), Site::IniClose);
}

}  // namespace kit
