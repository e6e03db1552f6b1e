#include "common/config.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/console.h"
#include "common/process.h"
#include "common/test_fakes.h"

namespace kit {
namespace {

using namespace std::string_literals;

// Gives its bytes, then fails every read with one error code.
class FailingSource : public ByteSource {
 public:
  FailingSource(std::string_view data, int error) : data_(data), error_(error) {}
  std::size_t read(std::uint8_t* buf, std::size_t cap, int& error) override {
    const std::size_t n = data_.read(buf, cap, error);
    if (n == 0) error = error_;
    return n;
  }

 private:
  MemorySource data_;
  int error_;
};

constexpr int kReturned = -1;  // the layout was read to its end

struct ReadResult {
  Config config;
  std::string echo;
  int status = kReturned;
};

ReadResult run_layout(Program program, ByteSource& source) {
  testing::FakeConsole console;
  IniFile F;
  F.source = &source;
  ReadResult run;
  try {
    read_layout(console, program, F, run.config);
  } catch (const Ending& ending) {
    run.status = ending.status;
  }
  run.echo = console.out;
  return run;
}

ReadResult run_layout(Program program, std::string_view file, std::size_t chunk = SIZE_MAX) {
  MemorySource source(file, chunk);
  return run_layout(program, source);
}

// Lines joined with a line end after each.
std::string lines(std::initializer_list<std::string_view> items, std::string_view eol = "\r\n") {
  std::string s;
  for (std::string_view item : items) {
    s += item;
    s += eol;
  }
  return s;
}

void expect_config(const Config& got, const Config& want) {
  EXPECT_EQ(got.SNCOM, want.SNCOM);
  EXPECT_EQ(got.SNCOM2, want.SNCOM2);
  EXPECT_EQ(got.NCOM, want.NCOM);
  EXPECT_EQ(got.NCOM2, want.NCOM2);
  EXPECT_EQ(got.NCOM0, want.NCOM0);
  EXPECT_EQ(got.COMBAUD, want.COMBAUD);
  EXPECT_EQ(got.COMBYTESIZE, want.COMBYTESIZE);
  EXPECT_EQ(got.COMPARITY, want.COMPARITY);
  EXPECT_EQ(got.COMSTOPBITS, want.COMSTOPBITS);
  EXPECT_EQ(got.EOLCHAR, want.EOLCHAR);
  EXPECT_EQ(got.EOLTIME, want.EOLTIME);
  EXPECT_EQ(got.BUFSIZE, want.BUFSIZE);
  EXPECT_EQ(got.INIEXT, want.INIEXT);
  EXPECT_EQ(got.FZ, want.FZ);
  EXPECT_EQ(got.C1, want.C1);
  EXPECT_EQ(got.C2, want.C2);
  EXPECT_EQ(got.ZZZ1, want.ZZZ1);
  EXPECT_EQ(got.ZZZ2, want.ZZZ2);
  EXPECT_EQ(got.INITCCS, want.INITCCS);
  EXPECT_EQ(got.INITCC, want.INITCC);
}

// ---------------------------------------------------------------------------
// Number reads

struct TokenCase {
  std::string bytes;
  bool unsigned_ok;
  std::uint32_t unsigned_value;
  bool signed_ok;
  std::int32_t signed_value;
};

const TokenCase kTokens[] = {
    // Decimal, signs, separators.
    {"0", true, 0, true, 0},
    {"9600", true, 9600, true, 9600},
    {"0009600", true, 9600, true, 9600},
    {"+8", true, 8, true, 8},
    {"-1", false, 0, true, -1},
    {"-0", false, 0, true, 0},
    {"  \t\r\n\x01\x1f 42 rest", true, 42, true, 42},
    {"\0\0 7"s, true, 7, true, 7},
    {"13\t500", true, 13, true, 13},
    // Empty tokens give 0 and no error.
    {"", true, 0, true, 0},
    {" \r\n\t ", true, 0, true, 0},
    {"\x1a"
     "42",
     true, 0, true, 0},
    {"  \x1a 42", true, 0, true, 0},
    // Limits.
    {"4294967295", true, 4294967295u, false, 0},
    {"4294967296", false, 0, false, 0},
    {"99999999999999999999999", false, 0, false, 0},
    {"00000000000000000000004294967295", true, 4294967295u, false, 0},
    {"2147483647", true, 2147483647u, true, 2147483647},
    {"2147483648", true, 2147483648u, false, 0},
    {"-2147483648", false, 0, true, INT32_MIN},
    {"-2147483649", false, 0, false, 0},
    // Prefixes and bases.
    {"$2580", true, 9600, true, 9600},
    {"0x2580", true, 9600, true, 9600},
    {"0X2580", true, 9600, true, 9600},
    {"x2580", true, 9600, true, 9600},
    {"X2580", true, 9600, true, 9600},
    {"$ff", true, 255, true, 255},
    {"$aBcD", true, 0xABCD, true, 0xABCD},
    {"%1010", true, 10, true, 10},
    {"%11111111111111111111111111111111", true, 4294967295u, true, -1},
    {"%111111111111111111111111111111111", false, 0, false, 0},
    {"&777", true, 511, true, 511},
    {"&37777777777", true, 4294967295u, true, -1},
    {"+$10", true, 16, true, 16},
    {"+0x10", true, 16, true, 16},
    // Prefixed signed values are 32-bit two's-complement patterns.
    {"$FFFFFFFF", true, 4294967295u, true, -1},
    {"0xFFFFFFFF", true, 4294967295u, true, -1},
    {"$80000000", true, 2147483648u, true, INT32_MIN},
    {"-$1", false, 0, true, -1},
    {"-$FFFFFFFF", false, 0, true, 1},
    {"-$80000000", false, 0, true, INT32_MIN},
    {"$100000000", false, 0, false, 0},
    {"$0000000FF", true, 255, true, 255},
    // Malformed.
    {"9600;", false, 0, false, 0},
    {"12a", false, 0, false, 0},
    {"1.5", false, 0, false, 0},
    {"1e3", false, 0, false, 0},
    {"0b1", false, 0, false, 0},
    {"00x10", false, 0, false, 0},
    {"0x0x1", false, 0, false, 0},
    {"$G", false, 0, false, 0},
    {"$-8", false, 0, false, 0},
    {"%102", false, 0, false, 0},
    {"&8", false, 0, false, 0},
    {"&0x10", false, 0, false, 0},
    {"++8", false, 0, false, 0},
    {"+-8", false, 0, false, 0},
    {"--8", false, 0, false, 0},
    {"+", false, 0, false, 0},
    {"-", false, 0, false, 0},
    {"$", false, 0, false, 0},
    {"x", false, 0, false, 0},
    {"0x", false, 0, false, 0},
    {"%", false, 0, false, 0},
    {"&", false, 0, false, 0},
    {"-$", false, 0, false, 0},
    {".txt", false, 0, false, 0},
    {"9600\xa0", false, 0, false, 0},
    {"9600\x7f", false, 0, false, 0},
    {"\xef\xbb\xbf"
     "1",
     false, 0, false, 0},
};

TEST(ConfigNumberRead, TokensOnBothReads) {
  for (const TokenCase& t : kTokens) {
    SCOPED_TRACE(::testing::PrintToString(t.bytes));
    {
      MemorySource source(t.bytes);
      IniFile F;
      F.source = &source;
      std::uint32_t value = 12345;
      EXPECT_EQ(unsigned_read(F, value), t.unsigned_ok);
      if (t.unsigned_ok) {
        EXPECT_EQ(value, t.unsigned_value);
      }
    }
    {
      MemorySource source(t.bytes, 1);
      IniFile F;
      F.source = &source;
      std::int32_t value = 12345;
      EXPECT_EQ(signed_read(F, value), t.signed_ok);
      if (t.signed_ok) {
        EXPECT_EQ(value, t.signed_value);
      }
    }
  }
}

TEST(ConfigNumberRead, StopsAfterTheTokenAndTakesLaterLines) {
  MemorySource source("  12\t-3\r\n\r\n\n  $10 x");
  IniFile F;
  F.source = &source;
  std::uint32_t u = 0;
  std::int32_t s = 0;
  ASSERT_TRUE(unsigned_read(F, u));
  EXPECT_EQ(u, 12u);
  EXPECT_EQ(char_read(F), '\t');  // the separator after the token is left
  ASSERT_TRUE(signed_read(F, s));
  EXPECT_EQ(s, -3);
  ASSERT_TRUE(unsigned_read(F, u));  // from a later line
  EXPECT_EQ(u, 16u);
  EXPECT_FALSE(unsigned_read(F, u));  // "x": a prefix without digits
  EXPECT_TRUE(unsigned_read(F, u));   // end of file: 0, no error
  EXPECT_EQ(u, 0u);
}

TEST(ConfigNumberRead, TokenIsAtMost255Bytes) {
  // 255 bytes fit one token; what follows a cut token is the next token.
  const std::string exact = std::string(253, '0') + "42";
  const std::string file_a = exact + " 7";
  MemorySource a(file_a);
  IniFile F;
  F.source = &a;
  std::uint32_t u = 0;
  ASSERT_TRUE(unsigned_read(F, u));
  EXPECT_EQ(u, 42u);

  const std::string longer = std::string(299, '0') + "7";
  MemorySource b(longer);
  IniFile G;
  G.source = &b;
  ASSERT_TRUE(unsigned_read(G, u));
  EXPECT_EQ(u, 0u);
  ASSERT_TRUE(unsigned_read(G, u));
  EXPECT_EQ(u, 7u);
}

// ---------------------------------------------------------------------------
// Text reads, character reads, line skips, byte 26

TEST(ConfigTextRead, EndsAtLineEndsByte26AndEndOfFile) {
  MemorySource source(
      " a\tb \r\nc\rd\ne\x1a"
      "f"s);
  IniFile F;
  F.source = &source;
  EXPECT_EQ(text_read(F), " a\tb ");  // blanks and tabs kept at both ends
  EXPECT_EQ(text_read(F), "");        // still in front of the CR
  line_skip(F);                       // CR LF together
  EXPECT_EQ(text_read(F), "c");
  line_skip(F);  // a lone CR
  EXPECT_EQ(text_read(F), "d");
  line_skip(F);  // LF
  EXPECT_EQ(text_read(F), "e");
  line_skip(F);  // stops in front of the 26
  EXPECT_EQ(text_read(F), "");
  EXPECT_EQ(char_read(F), 26);  // a character read takes it
  EXPECT_EQ(text_read(F), "f");
  EXPECT_EQ(text_read(F), "");  // end of file
  EXPECT_EQ(char_read(F), 26);
  EXPECT_EQ(char_read(F), 26);
}

TEST(ConfigTextRead, KeepsEveryByteButLineEndsAnd26) {
  const std::string raw = "\0\x01\x7f\x80\xff\t \xef\xbb\xbf"s;
  MemorySource source(raw + "\n");
  IniFile F;
  F.source = &source;
  EXPECT_EQ(text_read(F), raw);
}

TEST(ConfigTextRead, CutsAt255AndLeavesTheRestForTheLineSkip) {
  const std::string line = std::string(255, 'a') + std::string(1000, 'b');
  for (std::size_t chunk : {SIZE_MAX, std::size_t{1}, std::size_t{7}}) {
    const std::string file = line + "\r\nnext\r\n";
    MemorySource source(file, chunk);
    IniFile F;
    F.source = &source;
    EXPECT_EQ(text_read(F), std::string(255, 'a'));
    EXPECT_EQ(text_read(F), std::string(255, 'b'));  // without a line skip it goes on
    line_skip(F);
    EXPECT_EQ(text_read(F), "next");
  }
}

TEST(ConfigLineSkip, LineEnds) {
  struct Case {
    std::string bytes;
    std::string rest;  // what a text read gives after one line skip
  } cases[] = {
      {"ab\r\ncd", "cd"}, {"ab\ncd", "cd"}, {"ab\rcd", "cd"},      {"ab\n\rcd", ""},
      {"ab\r\r\ncd", ""}, {"\r\ncd", "cd"}, {"ab\x1a\ncd", ""},    {"ab\r\x1a\ncd", ""},
      {"ab", ""},         {"", ""},         {"ab\0\r\ncd"s, "cd"},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : {SIZE_MAX, std::size_t{1}, std::size_t{2}}) {
      SCOPED_TRACE(::testing::PrintToString(c.bytes) + " chunk " + std::to_string(chunk));
      MemorySource source(c.bytes, chunk);
      IniFile F;
      F.source = &source;
      line_skip(F);
      EXPECT_EQ(text_read(F), c.rest);
    }
  }
}

TEST(ConfigByte26, IsTheEndForEverythingButTheCharacterRead) {
  MemorySource source(
      "\x1a"
      "5\r\nX");
  IniFile F;
  F.source = &source;
  std::uint32_t u = 9;
  std::int32_t s = 9;
  for (int i = 0; i < 3; ++i) {
    line_skip(F);
    EXPECT_EQ(text_read(F), "");
    EXPECT_TRUE(unsigned_read(F, u));
    EXPECT_EQ(u, 0u);
    EXPECT_TRUE(signed_read(F, s));
    EXPECT_EQ(s, 0);
  }
  EXPECT_EQ(char_read(F), 26);
  ASSERT_TRUE(unsigned_read(F, u));
  EXPECT_EQ(u, 5u);
  line_skip(F);
  EXPECT_EQ(char_read(F), 'X');
}

// ---------------------------------------------------------------------------
// The four layouts

const std::string kWorkedEcho = lines({
    "Read: COM Name=COM1",
    "Read: COM_Out Name=COM2",
    "Read: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0",
    "Read: EOL code=13; EOL time=500ms",
    "Read: BufferSize=4096byte",
    "Read: log files extension=.txt",
    "Read: autobreak code=H",
    "Read: LeftDelim='['; RightDelim=']'",
    "Read: DTR='1'; RTS='1'",
});

Config worked_values() {
  Config c;
  c.SNCOM = c.NCOM = "COM1";
  c.SNCOM2 = c.NCOM2 = "COM2";
  c.COMBAUD = 9600;
  c.COMBYTESIZE = 8;
  c.EOLCHAR = 13;
  c.EOLTIME = 500;
  c.BUFSIZE = 4096;
  c.INIEXT = ".txt";
  c.FZ = 'H';
  c.C1 = '[';
  c.C2 = ']';
  c.ZZZ1 = c.ZZZ2 = '1';
  return c;
}

// The worked example with lines 3 to 9 replaced where given.
std::string worked_file(std::string_view l3 = "9600 8 0 0", std::string_view l4 = "13 500",
                        std::string_view l5 = "4096", std::string_view l7 = "H",
                        std::string_view l8 = "[]", std::string_view eol = "\r\n") {
  return lines({"COM1", "COM2", l3, l4, l5, ".txt", l7, l8, "11"}, eol);
}

// The echo of the worked example with the given lines (1-based) replaced.
std::string worked_echo(std::initializer_list<std::pair<int, std::string>> changes, int up_to = 9) {
  std::vector<std::string> echo = {
      "Read: COM Name=COM1",
      "Read: COM_Out Name=COM2",
      "Read: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0",
      "Read: EOL code=13; EOL time=500ms",
      "Read: BufferSize=4096byte",
      "Read: log files extension=.txt",
      "Read: autobreak code=H",
      "Read: LeftDelim='['; RightDelim=']'",
      "Read: DTR='1'; RTS='1'",
  };
  for (const auto& [line, text] : changes) echo[line - 1] = text;
  std::string s;
  for (int i = 0; i < up_to; ++i) s += echo[i] + "\r\n";
  return s;
}

template <typename F>
Config worked_with(F change) {
  Config c = worked_values();
  change(c);
  return c;
}

struct LayoutCase {
  const char* name;
  Program program;
  std::string file;
  std::string echo;
  int status;   // kReturned, or the status of the failure stop
  Config want;  // checked when the layout was read to its end
};

std::vector<LayoutCase> layout_cases() {
  const Program T1 = Program::Tarvik20191117;
  const Program T2 = Program::Tarvik20170104;
  const Program P = Program::Pelmar20190524;
  const Program D = Program::Dorvel20161004;
  const std::string sub = "\x1a";
  std::vector<LayoutCase> v;

  v.push_back(
      {"worked example, CR LF", T1, worked_file(), kWorkedEcho, kReturned, worked_values()});
  v.push_back({"LF only", T1, worked_file("9600 8 0 0", "13 500", "4096", "H", "[]", "\n"),
               kWorkedEcho, kReturned, worked_values()});
  v.push_back({"CR only", T1, worked_file("9600 8 0 0", "13 500", "4096", "H", "[]", "\r"),
               kWorkedEcho, kReturned, worked_values()});
  v.push_back({"no line end after the last line", T1,
               "COM1\r\nCOM2\r\n9600 8 0 0\r\n13 500\r\n4096\r\n.txt\r\nH\r\n[]\r\n11", kWorkedEcho,
               kReturned, worked_values()});
  v.push_back({"text after the last line is never looked at", T1, worked_file() + "9600;\r\n-1\r\n",
               kWorkedEcho, kReturned, worked_values()});

  // Line 3 with three numbers: the stop bits come from line 4, the end-of-line
  // code from line 5 and the end-of-line time from line 6 (".txt").
  v.push_back({"shortened line 3",
               T1,
               worked_file("9600 8 0"),
               worked_echo({{3, "Read: BaudRate=9600; ByteSize=8; Parity=0; StopBits=13"}}, 3),
               217,
               {}});
  v.push_back({"number with a character attached",
               T1,
               worked_file("9600; 8 0 0"),
               worked_echo({}, 2),
               217,
               {}});
  v.push_back({"comment after a blank", T1, worked_file("9600 8 0 0 ; comment", "13 500 ms"),
               kWorkedEcho, kReturned, worked_values()});
  v.push_back({"tabs and several blanks", T1, worked_file("\t9600\t\t8   0 \t 0  ", "  13\t500"),
               kWorkedEcho, kReturned, worked_values()});
  v.push_back({"hexadecimal and plus sign", T1,
               worked_file("$2580 +8 %0 &0", "0x0D 0X1F4", "x1000"), kWorkedEcho, kReturned,
               worked_values()});
  v.push_back({"minus one on the signed buffer size", T1,
               worked_file("0x2580 8 0 0", "13 500", "-1"),
               worked_echo({{5, "Read: BufferSize=-1byte"}}), kReturned,
               worked_with([](Config& c) { c.BUFSIZE = -1; })});
  v.push_back({"prefixed buffer size is two's complement", T1,
               worked_file("9600 8 0 0", "13 500", "$FFFFFFFE"),
               worked_echo({{5, "Read: BufferSize=-2byte"}}), kReturned,
               worked_with([](Config& c) { c.BUFSIZE = -2; })});
  v.push_back({"decimal buffer size beyond the signed range",
               T1,
               worked_file("9600 8 0 0", "13 500", "2147483648"),
               worked_echo({}, 4),
               217,
               {}});
  v.push_back(
      {"minus one on the baud rate", T1, worked_file("-1 8 0 0"), worked_echo({}, 2), 217, {}});
  v.push_back({"minus one on the end-of-line time",
               T1,
               worked_file("9600 8 0 0", "13 -1"),
               worked_echo({}, 3),
               217,
               {}});
  v.push_back({"narrow values keep their low bits", T1,
               worked_file("4294967295 264 256 258", "269 70000"),
               worked_echo({{3, "Read: BaudRate=4294967295; ByteSize=8; Parity=0; StopBits=2"},
                            {4, "Read: EOL code=13; EOL time=4464ms"}}),
               kReturned, worked_with([](Config& c) {
                 c.COMBAUD = 4294967295u;
                 c.COMSTOPBITS = 2;
                 c.EOLTIME = 4464;
               })});
  v.push_back({"delimiter line with only a left bracket", T1,
               worked_file("9600 8 0 0", "13 500", "4096", "H", "["),
               worked_echo({{8, "Read: LeftDelim='['; RightDelim='\r'"}}), kReturned,
               worked_with([](Config& c) { c.C2 = 13; })});
  v.push_back(
      {"character lines take their first bytes", T1,
       worked_file("9600 8 0 0", "13 500", "4096", " H", " []"),
       worked_echo({{7, "Read: autobreak code= "}, {8, "Read: LeftDelim=' '; RightDelim='['"}}),
       kReturned, worked_with([](Config& c) {
         c.FZ = ' ';
         c.C1 = ' ';
         c.C2 = '[';
       })});
  v.push_back({"empty delimiter line", T1, worked_file("9600 8 0 0", "13 500", "4096", "H", ""),
               worked_echo({{8, "Read: LeftDelim='\r'; RightDelim='\n'"},
                            {9, "Read: DTR='" + sub + "'; RTS='" + sub + "'"}}),
               kReturned, worked_with([](Config& c) {
                 c.C1 = 13;
                 c.C2 = 10;
                 c.ZZZ1 = c.ZZZ2 = 26;
               })});
  v.push_back({"one-byte delimiter line in an LF-only file", T1,
               worked_file("9600 8 0 0", "13 500", "4096", "H", "[", "\n"),
               worked_echo({{8, "Read: LeftDelim='['; RightDelim='\n'"},
                            {9, "Read: DTR='" + sub + "'; RTS='" + sub + "'"}}),
               kReturned, worked_with([](Config& c) {
                 c.C2 = 10;
                 c.ZZZ1 = c.ZZZ2 = 26;
               })});
  v.push_back({"byte-order mark and blanks are part of the port names", T1,
               "\xef\xbb\xbf"
               "COM1 \r\n\tCOM2\r\n9600 8 0 0\r\n13 500\r\n4096\r\n .txt \r\nH\r\n[]\r\n11\r\n",
               worked_echo({{1,
                             "Read: COM Name=\xef\xbb\xbf"
                             "COM1 "},
                            {2, "Read: COM_Out Name=\tCOM2"},
                            {6, "Read: log files extension= .txt "}}),
               kReturned, worked_with([](Config& c) {
                 c.SNCOM = c.NCOM =
                     "\xef\xbb\xbf"
                     "COM1 ";
                 c.SNCOM2 = c.NCOM2 = "\tCOM2";
                 c.INIEXT = " .txt ";
               })});
  v.push_back({"port names of 15 bytes and longer are kept whole", T1,
               "/dev/ttyUSB0123\r\n/dev/serial/by-id/usb-FTDI-if00\r\n9600 8 0 0\r\n13 500\r\n"
               "4096\r\n.txt\r\nH\r\n[]\r\n11\r\n",
               worked_echo({{1, "Read: COM Name=/dev/ttyUSB0123"},
                            {2, "Read: COM_Out Name=/dev/serial/by-id/usb-FTDI-if00"}}),
               kReturned, worked_with([](Config& c) {
                 c.SNCOM = c.NCOM = "/dev/ttyUSB0123";
                 c.SNCOM2 = c.NCOM2 = "/dev/serial/by-id/usb-FTDI-if00";
               })});
  {
    const std::string longname = std::string(300, 'N');
    const std::string ext = "." + std::string(400, 'e');
    v.push_back(
        {"texts are cut at 255 bytes", T1,
         longname + "\r\nCOM2\r\n9600 8 0 0\r\n13 500\r\n4096\r\n" + ext + "\r\nH\r\n[]\r\n11\r\n",
         worked_echo({{1, "Read: COM Name=" + longname.substr(0, 255)},
                      {6, "Read: log files extension=" + ext.substr(0, 255)}}),
         kReturned, worked_with([&](Config& c) {
           c.SNCOM = c.NCOM = longname.substr(0, 255);
           c.INIEXT = ext.substr(0, 255);
         })});
  }
  {
    Config c;
    c.FZ = c.C1 = c.C2 = c.ZZZ1 = c.ZZZ2 = 26;
    v.push_back({"empty file", T1, "",
                 lines({"Read: COM Name=", "Read: COM_Out Name=",
                        "Read: BaudRate=0; ByteSize=0; Parity=0; StopBits=0",
                        "Read: EOL code=0; EOL time=0ms", "Read: BufferSize=0byte",
                        "Read: log files extension=", "Read: autobreak code=" + sub,
                        "Read: LeftDelim='" + sub + "'; RightDelim='" + sub + "'",
                        "Read: DTR='" + sub + "'; RTS='" + sub + "'"}),
                 kReturned, c});
  }
  // After the 26 in line 3 everything reads as the end of the file until the
  // autobreak character takes it; the line skip after it eats the rest of
  // line 3, and the delimiters come from line 4.
  v.push_back({"byte 26 in the middle", T1, worked_file("9600 8" + sub + " 0 0"),
               worked_echo({{4, "Read: EOL code=0; EOL time=0ms"},
                            {5, "Read: BufferSize=0byte"},
                            {6, "Read: log files extension="},
                            {7, "Read: autobreak code=" + sub},
                            {8, "Read: LeftDelim='1'; RightDelim='3'"},
                            {9, "Read: DTR='4'; RTS='0'"}}),
               kReturned, worked_with([](Config& c) {
                 c.EOLCHAR = 0;
                 c.EOLTIME = 0;
                 c.BUFSIZE = 0;
                 c.INIEXT = "";
                 c.FZ = 26;
                 c.C1 = '1';
                 c.C2 = '3';
                 c.ZZZ1 = '4';
                 c.ZZZ2 = '0';
               })});
  v.push_back({"fewer lines than the layout", T1, "COM1\r\nCOM2\r\n9600 8\r\n",
               worked_echo({{3, "Read: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0"},
                            {4, "Read: EOL code=0; EOL time=0ms"},
                            {5, "Read: BufferSize=0byte"},
                            {6, "Read: log files extension="},
                            {7, "Read: autobreak code=" + sub},
                            {8, "Read: LeftDelim='" + sub + "'; RightDelim='" + sub + "'"},
                            {9, "Read: DTR='" + sub + "'; RTS='" + sub + "'"}}),
               kReturned, worked_with([](Config& c) {
                 c.EOLCHAR = 0;
                 c.EOLTIME = 0;
                 c.BUFSIZE = 0;
                 c.INIEXT = "";
                 c.FZ = c.C1 = c.C2 = c.ZZZ1 = c.ZZZ2 = 26;
               })});

  // The plain edition: the echo edition's layout without its line 2.
  {
    Config c = worked_values();
    c.SNCOM2 = c.NCOM2 = "";
    c.SNCOM = c.NCOM = "/dev/ttyUSB0";
    std::string echo = kWorkedEcho;
    echo.erase(0, echo.find("Read: BaudRate"));
    v.push_back({"plain edition", T2,
                 lines({"/dev/ttyUSB0", "9600 8 0 0", "13 500", "4096", ".txt", "H", "[]", "11"}),
                 "Read: COM Name=/dev/ttyUSB0\r\n" + echo, kReturned, c});
    v.push_back({"plain edition, malformed buffer size",
                 T2,
                 lines({"/dev/ttyUSB0", "9600 8 0 0", "13 500", "4k", ".txt", "H", "[]", "11"}),
                 lines({"Read: COM Name=/dev/ttyUSB0",
                        "Read: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0",
                        "Read: EOL code=13; EOL time=500ms"}),
                 217,
                 {}});
  }

  // The counter generator.
  {
    Config c;
    c.SNCOM = c.NCOM = "/dev/ttyS1";
    c.COMBAUD = 115200;
    c.COMBYTESIZE = 7;
    c.COMPARITY = 2;
    c.COMSTOPBITS = 1;
    c.INIEXT = ".log";
    c.FZ = 'D';
    c.C1 = '<';
    c.C2 = '>';
    v.push_back({"counter generator", P, lines({"/dev/ttyS1", "115200 7 2 1", ".log", "D", "<>"}),
                 lines({"Read: COM Name=/dev/ttyS1",
                        "Read: BaudRate=115200; ByteSize=7; Parity=2; StopBits=1",
                        "Read: log files extension=.log", "Read: autobreak code=D",
                        "Read: LeftDelim='<'; RightDelim='>'"}),
                 kReturned, c});
    v.push_back({"counter generator, malformed parity",
                 P,
                 lines({"/dev/ttyS1", "115200 7 E 1", ".log", "D", "<>"}),
                 lines({"Read: COM Name=/dev/ttyS1"}),
                 217,
                 {}});
    Config e;
    e.FZ = e.C1 = e.C2 = 26;
    v.push_back({"counter generator, only byte 26", P, std::string(5000, '\x1a'),
                 lines({"Read: COM Name=", "Read: BaudRate=0; ByteSize=0; Parity=0; StopBits=0",
                        "Read: log files extension=", "Read: autobreak code=" + sub,
                        "Read: LeftDelim='" + sub + "'; RightDelim='" + sub + "'"}),
                 kReturned, e});
  }

  // The relay reads both port names into SNCOM.
  {
    Config c;
    c.NCOM0 = "/dev/ttyUSB1";
    c.SNCOM = c.NCOM = " /dev/ttyUSB2 ";
    c.INITCCS = "  INIT  ";
    c.INITCC = "0042";
    c.COMBAUD = 19200;
    c.COMBYTESIZE = 7;
    c.COMPARITY = 2;
    c.COMSTOPBITS = 1;
    c.ZZZ1 = '0';
    c.ZZZ2 = '1';
    const std::string file =
        lines({"/dev/ttyUSB1", "  INIT  ", "0042", " /dev/ttyUSB2 ", "19200 7 2 1", "01"});
    const std::string echo =
        lines({"Read CC: COM Name=/dev/ttyUSB1", "Read CC: Init CC string=  INIT  ",
               "Read CC: Init CC value=0042", "Read Relay: COM Name= /dev/ttyUSB2 ",
               "Read Relay: BaudRate=19200; ByteSize=7; Parity=2; StopBits=1",
               "Read Relay: DTR='0'; RTS='1'"});
    v.push_back({"relay", D, file, echo, kReturned, c});
    v.push_back({"relay, malformed baud rate",
                 D,
                 lines({"/dev/ttyUSB1", "INIT", "0042", "/dev/ttyUSB2", "19200x 7 2 1", "01"}),
                 lines({"Read CC: COM Name=/dev/ttyUSB1", "Read CC: Init CC string=INIT",
                        "Read CC: Init CC value=0042", "Read Relay: COM Name=/dev/ttyUSB2"}),
                 106,
                 {}});
    Config e;
    e.ZZZ1 = e.ZZZ2 = 26;
    v.push_back(
        {"relay, empty file", D, "",
         lines({"Read CC: COM Name=", "Read CC: Init CC string=", "Read CC: Init CC value=",
                "Read Relay: COM Name=", "Read Relay: BaudRate=0; ByteSize=0; Parity=0; StopBits=0",
                "Read Relay: DTR='" + sub + "'; RTS='" + sub + "'"}),
         kReturned, e});
  }
  return v;
}

TEST(ConfigLayout, ValuesAndEchoLines) {
  for (const LayoutCase& c : layout_cases()) {
    // Every case also with the file handed out in small pieces, so that a
    // line end or a token split between two reads of the file reads the same.
    for (std::size_t chunk : {SIZE_MAX, std::size_t{1}, std::size_t{2}, std::size_t{5}}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      const ReadResult run = run_layout(c.program, c.file, chunk);
      EXPECT_EQ(run.status, c.status);
      EXPECT_EQ(run.echo, c.echo);
      if (c.status == kReturned) expect_config(run.config, c.want);
    }
  }
}

TEST(ConfigLayout, ReadErrorStopsBeforeTheLineIsEchoed) {
  // Two lines arrive, then the file fails.
  FailingSource a("COM1\r\nCOM2\r\n96", EIO);
  ReadResult run = run_layout(Program::Tarvik20191117, a);
  EXPECT_EQ(run.status, 217);
  EXPECT_EQ(run.echo, worked_echo({}, 2));

  FailingSource b("/dev/ttyUSB1\r\nINIT\r\n", EBADF);
  run = run_layout(Program::Dorvel20161004, b);
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.echo, lines({"Read CC: COM Name=/dev/ttyUSB1", "Read CC: Init CC string=INIT"}));

  // A failure inside a text line, at its line skip and at a character read.
  for (std::string_view part : {"/dev/tty", "/dev/ttyUSB1", "/dev/ttyUSB1\r"}) {
    FailingSource c(part, EBADF);
    run = run_layout(Program::Dorvel20161004, c);
    EXPECT_EQ(run.status, 6) << part;
    EXPECT_EQ(run.echo, "") << part;
  }
  FailingSource d("/dev/ttyS1\r\n115200 7 2 1\r\n.log\r\n", EBADF);
  run = run_layout(Program::Pelmar20190524, d);
  EXPECT_EQ(run.status, 217);
  EXPECT_EQ(run.echo, lines({"Read: COM Name=/dev/ttyS1",
                             "Read: BaudRate=115200; ByteSize=7; Parity=2; StopBits=1",
                             "Read: log files extension=.log"}));
}

// ---------------------------------------------------------------------------
// The file itself

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        std::filesystem::path(::testing::TempDir()) / (std::string("kit_config_") + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write_file(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    return path;
  }

  ReadResult run_file(Program program, const std::string& path) {
    testing::FakeConsole console;
    Frame frame;
    frame.program = program;
    frame.INIPATH = path;
    ReadResult run;
    try {
      read_config(console, frame, run.config);
    } catch (const Ending& ending) {
      run.status = ending.status;
      EXPECT_FALSE(console.report.empty());
    }
    run.echo = console.out;
    return run;
  }

  std::filesystem::path dir_;
};

TEST_F(ConfigFile, WorkedExample) {
  const ReadResult run = run_file(Program::Tarvik20191117, write_file("a.ini", worked_file()));
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.echo, kWorkedEcho);
  expect_config(run.config, worked_values());
}

TEST_F(ConfigFile, MissingFile) {
  const std::string path = (dir_ / "missing.ini").string();
  ReadResult run = run_file(Program::Tarvik20191117, path);
  EXPECT_EQ(run.status, 217);
  EXPECT_EQ(run.echo, "");
  run = run_file(Program::Dorvel20161004, path);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.echo, "");
  run = run_file(Program::Dorvel20161004, (dir_ / "nofolder" / "x.ini").string());
  EXPECT_EQ(run.status, 2);
}

TEST_F(ConfigFile, FolderInsteadOfAFileIsAccessDenied) {
  std::filesystem::create_directories(dir_ / "d.ini");
  const ReadResult run = run_file(Program::Dorvel20161004, (dir_ / "d.ini").string());
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.echo, "");
}

TEST_F(ConfigFile, MalformedNumber) {
  const ReadResult run =
      run_file(Program::Dorvel20161004,
               write_file("r.ini", lines({"a", "b", "c", "d", "9600 8 0 0;", "11"})));
  EXPECT_EQ(run.status, 106);
  EXPECT_EQ(run.echo, lines({"Read CC: COM Name=a", "Read CC: Init CC string=b",
                             "Read CC: Init CC value=c", "Read Relay: COM Name=d"}));
}

TEST_F(ConfigFile, HugeAndBinaryFilesReadInFixedMemory) {
  // A line of 1 MB of binary bytes without CR or LF, then the rest.
  std::string line;
  for (std::size_t i = 0; i < (1u << 20); ++i) {
    auto b = static_cast<char>(i * 7 % 256);
    if (b == '\r' || b == '\n' || b == 26) b = 0;
    line.push_back(b);
  }
  ReadResult run =
      run_file(Program::Tarvik20191117, write_file("big.ini", line + worked_file().substr(4)));
  EXPECT_EQ(run.status, kReturned);
  expect_config(run.config,
                worked_with([&](Config& c) { c.SNCOM = c.NCOM = line.substr(0, 255); }));

  // 4 MB of NUL with no line end at all: the first name is 255 NULs, the line
  // skip runs to the end of the file, and everything else reads as the end.
  run = run_file(Program::Tarvik20191117, write_file("zeros.ini", std::string(4u << 20, '\0')));
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.config.SNCOM, std::string(255, '\0'));
  EXPECT_EQ(run.config.SNCOM2, "");
  EXPECT_EQ(run.config.COMBAUD, 0u);
  EXPECT_EQ(run.config.ZZZ2, 26);

  // 2 MB of blanks in front of a number: the number read skips them.
  run = run_file(Program::Pelmar20190524,
                 write_file("blank.ini", "p\r\n" + std::string(2u << 20, ' ') + "300 8 0 0\r\n"));
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.config.COMBAUD, 300u);

  // Only byte 26.
  run = run_file(Program::Tarvik20170104, write_file("z.ini", std::string(1u << 20, '\x1a')));
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.config.SNCOM, "");
  EXPECT_EQ(run.config.FZ, 26);
  EXPECT_EQ(run.config.C1, 26);
  EXPECT_EQ(run.config.ZZZ2, 26);
}

}  // namespace
}  // namespace kit
