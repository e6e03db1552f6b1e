#include "common/screen.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kit {
namespace {

using namespace std::string_literals;

// ---- The screen model against the output rules ----

struct ModelCase {
  const char* name;
  int width, height;
  std::string input;
  std::vector<std::string> rows;  // every row, width bytes each
  int col, row;                   // cursor afterwards, from 0
};

class ModelTest : public testing::TestWithParam<ModelCase> {};

TEST_P(ModelTest, AppliesOutputRules) {
  const ModelCase& c = GetParam();
  Screen s = make_screen(c.width, c.height);
  apply_bytes(s, c.input);
  ASSERT_EQ(static_cast<int>(c.rows.size()), c.height);
  for (int r = 0; r < c.height; ++r) EXPECT_EQ(row_text(s, r), c.rows[r]) << "row " << r;
  EXPECT_EQ(s.col, c.col);
  EXPECT_EQ(s.row, c.row);
}

const std::string k80(80, 'x');
const std::string kBlank80(80, ' ');

INSTANTIATE_TEST_SUITE_P(
    Rules, ModelTest,
    testing::Values(
        ModelCase{"CrReturnsAndOverwrites", 4, 2, "abc\rX", {"Xbc ", "    "}, 1, 0},
        ModelCase{"LoneLfKeepsColumn", 4, 3, "ab\ncd", {"ab  ", "  cd", "    "}, 0, 2},
        ModelCase{"CrLfStartsRow", 4, 2, "ab\r\ncd", {"ab  ", "cd  "}, 2, 1},
        ModelCase{"WrapsAtOnceAfterLastColumn", 4, 2, "abcd", {"abcd", "    "}, 0, 1},
        ModelCase{"FullRowThenCrLfLeavesEmptyRow",
                  80,
                  3,
                  k80 + "\r\ny",
                  {k80, kBlank80, std::string("y").append(79, ' ')},
                  1,
                  2},
        ModelCase{"BsInColumnOneStays", 4, 1, "\bA", {"A   "}, 1, 0},
        ModelCase{"BsKeepsCell", 4, 1, "AB\b", {"AB  "}, 1, 0},
        ModelCase{"BsThenOverwrite", 4, 1, "AB\bC", {"AC  "}, 2, 0},
        ModelCase{"BsDoesNotGoBackARow", 3, 2, "abc\b", {"abc", "   "}, 0, 1},
        ModelCase{"BelDoesNothing", 4, 1, "A\aB", {"AB  "}, 2, 0},
        ModelCase{"TabNulEscTakeOneCellEach", 4, 1, "\t\0\x1b"s, {"\t\0\x1b "s}, 3, 0},
        ModelCase{"HighBytesTakeOneCell", 4, 1, "\x80\xff", {"\x80\xff  "}, 2, 0},
        ModelCase{"ScrollsAtBottomRow", 3, 2, "a\r\nb\r\nc", {"b  ", "c  "}, 1, 1},
        ModelCase{"WrapInBottomRowScrolls", 2, 2, "abcdef", {"ef", "  "}, 0, 1},
        ModelCase{"LfInBottomRowScrollsKeepingColumn", 4, 2, "ab\n\nc", {"    ", "  c "}, 3, 1},
        ModelCase{"OneRowWindowScrollsEveryLine", 3, 1, "ab\r\ncd", {"cd "}, 2, 0},
        ModelCase{"OneColumnWindow", 1, 2, "abc", {"c", " "}, 0, 1}),
    [](const testing::TestParamInfo<ModelCase>& info) { return info.param.name; });

TEST(Model, ClearBlanksAndHomes) {
  Screen s = make_screen(3, 2);
  apply_bytes(s, "abcde");
  clear_screen(s);
  EXPECT_EQ(row_text(s, 0), "   ");
  EXPECT_EQ(row_text(s, 1), "   ");
  EXPECT_EQ(s.col, 0);
  EXPECT_EQ(s.row, 0);
}

// ---- Glyphs ----

TEST(Glyphs, ShowEachByteAsExpected) {
  const struct {
    std::uint8_t byte;
    const char* utf8;
  } cases[] = {
      {'A', "A"},       {' ', " "},       {'~', "~"},       {0x00, "\u2400"}, {0x01, "\u263A"},
      {0x09, "\u25CB"}, {0x1B, "\u2190"}, {0x1F, "\u25BC"}, {0x7F, "\u2302"}, {0x80, "\u20AC"},
      {0x85, "\u2026"}, {0x9F, "\u0178"}, {0x81, "\uFFFD"}, {0x8D, "\uFFFD"}, {0x8F, "\uFFFD"},
      {0x90, "\uFFFD"}, {0x9D, "\uFFFD"}, {0xA0, " "},      {0xAD, "-"},      {0xA9, "\u00A9"},
      {0xE9, "\u00E9"}, {0xFF, "\u00FF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(glyph(c.byte), c.utf8) << "byte " << int(c.byte);
  }
}

// Decodes one UTF-8 character; -1 when s is not exactly one well-formed one.
long decode_one(std::string_view s) {
  if (s.empty()) return -1;
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = b0 < 0x80 ? 1 : (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : 0;
  if (n == 0 || s.size() != n) return -1;
  long cp = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : (b0 & 0x0F);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (b & 0x3F);
  }
  return cp;
}

TEST(Glyphs, EveryByteIsOnePrintableCharacter) {
  for (int b = 0; b < 256; ++b) {
    const long cp = decode_one(glyph(static_cast<std::uint8_t>(b)));
    EXPECT_EQ(cp, static_cast<long>(glyph_code_point(static_cast<std::uint8_t>(b)))) << b;
    EXPECT_GE(cp, 0x20) << b;
    EXPECT_FALSE(cp >= 0x7F && cp < 0xA0) << b;  // no C1 control either
    EXPECT_NE(cp, 0xAD) << b;                    // zero width on some terminals
  }
}

// ---- The renderer ----

std::string rendered(Renderer& r, std::string_view in) {
  std::string out;
  render_append(r, in, out);
  return out;
}

TEST(Renderer, CursorMovesAndWrap) {
  const struct {
    const char* name;
    int width;
    std::string input;
    std::string output;
  } cases[] = {
      {"printable", 80, "Hi!", "Hi!"},
      {"cr lf bs", 80, "ab\r\ncd\bx", "ab\r\ncd\bx"},
      {"bs in column one dropped", 80, "\b\bA", "A"},
      {"bs after cr dropped", 80, "ab\r\b", "ab\r"},
      {"bel swallowed", 80, "a\a\ab", "ab"},
      {"lone lf", 80, "a\nb", "a\nb"},
      {"immediate wrap", 4, "abcdef", "abcd\r\nef"},
      {"full row then crlf", 4, "abcd\r\nx", "abcd\r\n\r\nx"},
      {"bs after wrap dropped", 4, "abcd\b", "abcd\r\n"},
      {"glyph at last column wraps", 2, "a\x80", "a\u20AC\r\n"},
      {"tab esc nul are glyphs", 80, "\t\x1b\0"s, "\u25CB\u2190\u2400"},
      {"high bytes utf8", 80, "\xe9\xa0\xad\x81", "\u00E9 -\uFFFD"},
      {"one column", 1, "ab", "a\r\nb\r\n"},
  };
  for (const auto& c : cases) {
    Renderer r;
    r.width = c.width;
    EXPECT_EQ(rendered(r, c.input), c.output) << c.name;
  }
}

TEST(Renderer, KeepsColumnAcrossBatches) {
  Renderer r;
  r.width = 4;
  EXPECT_EQ(rendered(r, "ab"), "ab");
  EXPECT_EQ(rendered(r, "cd"), "cd\r\n");
  EXPECT_EQ(rendered(r, "e\b"), "e\b");
  EXPECT_EQ(r.col, 0);
  // One byte per write, as the loggers echo port data.
  std::string joined;
  for (const char ch : std::string("wxyz1")) joined += rendered(r, std::string_view(&ch, 1));
  EXPECT_EQ(joined, "wxyz\r\n1");
}

TEST(Renderer, ClearDependsOnTerminal) {
  Renderer term;
  rendered(term, "abc");
  std::string out;
  render_clear(term, out);
  EXPECT_EQ(out, "\x1b[2J\x1b[H");
  EXPECT_EQ(term.col, 0);

  Renderer file;
  file.terminal = false;
  out.clear();
  render_clear(file, out);
  EXPECT_EQ(out, "");  // already in column 1
  rendered(file, "abc");
  render_clear(file, out);
  EXPECT_EQ(out, "\r\n");
  EXPECT_EQ(file.col, 0);
}

TEST(Renderer, NeverEmitsOtherControlBytes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  Renderer r;
  r.width = 7;
  const std::string out = rendered(r, all + all);
  for (const char ch : out) {
    const auto b = static_cast<unsigned char>(ch);
    EXPECT_TRUE(b >= 0x20 || b == '\r' || b == '\n' || b == '\b') << int(b);
    EXPECT_NE(b, 0x7F);
  }
}

TEST(Renderer, ReusedBufferDoesNotGrowPastFirstBatch) {
  Renderer r;
  std::string out;
  const std::string batch(4096, '\xe9');
  out.clear();
  render_append(r, batch, out);
  const std::size_t capacity = out.capacity();
  for (int i = 0; i < 10; ++i) {
    out.clear();
    render_append(r, batch, out);
    EXPECT_EQ(out.capacity(), capacity);
  }
}

// A minimal VT terminal: UTF-8 text, CR, LF (no output post-processing), BS,
// ESC[2J, ESC[H and ESC[?7h/l. With autowrap on it wraps lazily as real
// terminals do: a character written in the last column leaves the cursor there
// with a wrap pending until the next character. Anything else fails the test.
struct Terminal {
  int width, height;
  bool autowrap;
  std::vector<char32_t> cells;
  int col = 0, row = 0;
  bool wrap_pending = false;

  Terminal(int w, int h, bool wrap)
      : width(w), height(h), autowrap(wrap), cells(static_cast<std::size_t>(w * h), U' ') {}

  void line_feed() {
    if (row == height - 1) {
      cells.erase(cells.begin(), cells.begin() + width);
      cells.insert(cells.end(), static_cast<std::size_t>(width), U' ');
    } else {
      ++row;
    }
  }

  void put(char32_t cp) {
    if (wrap_pending) {
      col = 0;
      line_feed();
      wrap_pending = false;
    }
    cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
          static_cast<std::size_t>(col)] = cp;
    if (col == width - 1) {
      wrap_pending = autowrap;
    } else {
      ++col;
    }
  }

  void feed(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
      const auto b = static_cast<unsigned char>(s[i]);
      if (b == '\r') {
        col = 0;
        wrap_pending = false;
        ++i;
      } else if (b == '\n') {
        line_feed();
        wrap_pending = false;
        ++i;
      } else if (b == '\b') {
        if (col > 0) --col;
        wrap_pending = false;
        ++i;
      } else if (b == 0x1B) {
        const std::string_view rest = s.substr(i);
        if (rest.starts_with("\x1b[2J")) {
          std::fill(cells.begin(), cells.end(), U' ');
          i += 4;
        } else if (rest.starts_with("\x1b[H")) {
          col = row = 0;
          wrap_pending = false;
          i += 3;
        } else {
          ADD_FAILURE() << "unexpected escape sequence";
          return;
        }
      } else if (b < 0x20 || b == 0x7F) {
        ADD_FAILURE() << "raw control byte " << int(b);
        return;
      } else {
        std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
        const long cp = decode_one(s.substr(i, n));
        if (cp < 0) {
          ADD_FAILURE() << "bad UTF-8 at " << i;
          return;
        }
        put(static_cast<char32_t>(cp));
        i += n;
      }
    }
  }
};

// Random data in random batches, through the model and through the renderer
// into a terminal: the terminal must show what the model shows, with the
// cursor in the same cell, whether the terminal wraps lazily or not at all.
TEST(Renderer, TerminalShowsWhatModelShows) {
  std::mt19937 rng(20191117);
  const char specials[] = {'\r', '\n', '\b', '\a', '\t', '\x1b', '\0', '\x7f'};
  for (int trial = 0; trial < 400; ++trial) {
    const int width = 1 + static_cast<int>(rng() % 7);
    const int height = 1 + static_cast<int>(rng() % 4);
    const bool autowrap = trial % 2 == 0;
    Screen model = make_screen(width, height);
    Renderer r;
    r.width = width;
    Terminal term(width, height, autowrap);
    std::string out;
    render_clear(r, out);
    term.feed(out);
    const int batches = 1 + static_cast<int>(rng() % 5);
    for (int k = 0; k < batches; ++k) {
      std::string batch;
      const int len = static_cast<int>(rng() % 30);
      for (int i = 0; i < len; ++i) {
        const unsigned pick = rng() % 10;
        if (pick < 4) {
          batch += specials[rng() % sizeof specials];
        } else if (pick < 6) {
          batch += static_cast<char>(rng() % 256);
        } else {
          batch += static_cast<char>('a' + rng() % 26);
        }
      }
      apply_bytes(model, batch);
      out.clear();
      render_append(r, batch, out);
      term.feed(out);
      if (testing::Test::HasFailure()) return;
    }
    for (int i = 0; i < width * height; ++i) {
      ASSERT_EQ(term.cells[static_cast<std::size_t>(i)], glyph_code_point(model.cells[i]))
          << "trial " << trial << " cell " << i;
    }
    ASSERT_EQ(term.col, model.col) << "trial " << trial;
    ASSERT_EQ(term.row, model.row) << "trial " << trial;
    ASSERT_EQ(r.col, model.col) << "trial " << trial;
  }
}

}  // namespace
}  // namespace kit
