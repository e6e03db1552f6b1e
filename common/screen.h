// The console's text window as the output rules see it, and the renderer that
// reproduces it on a VT/xterm-compatible UTF-8 terminal.
//
// Output rules, one byte at a time: CR goes to column 1; LF goes one row down in
// the same column; BS goes one column left unless in column 1; BEL does nothing;
// every other byte (TAB, ESC and NUL included) puts its character in the cell
// under the cursor and moves one column right. After each byte a cursor past the
// last column goes to column 1 of the next row at once, and a cursor below the
// last row scrolls the window up one row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// The text window: width x height cells of one byte each, and the cursor.
// Columns and rows count from 0 here (column 1 of the rules is col 0).
struct Screen {
  int width = 80;
  int height = 25;
  int col = 0;
  int row = 0;
  std::vector<std::uint8_t> cells;  // row by row, width * height bytes; blank is ' '
};

Screen make_screen(int width, int height);
// Every cell blank, cursor to column 1, row 1.
void clear_screen(Screen& screen);
// Applies the output rules to the bytes, in order.
void apply_bytes(Screen& screen, std::string_view bytes);
// The bytes of one row (width bytes), for tests and diagnostics.
std::string row_text(const Screen& screen, int row);

// What a byte looks like on a UTF-8 terminal: its Windows-1252 character, a
// CP437-style glyph for 0x00-0x1F, a house for 0x7F, one mark for the five bytes
// Windows-1252 leaves undefined. Always one column wide, 1 to 3 bytes of UTF-8.
std::string_view glyph(std::uint8_t byte);
// The Unicode code point of that glyph.
char32_t glyph_code_point(std::uint8_t byte);

// Turns data bytes into terminal output that shows what the Screen shows. It
// tracks only the cursor column: CR, LF and BS become the terminal's own cursor
// moves (output post-processing off, so LF keeps the column), BEL is swallowed,
// every other byte becomes its glyph, and CR LF is emitted right after the last
// column is written (the immediate wrap; a terminal would wrap lazily). A LF in
// the bottom row scrolls the terminal as the rules scroll the window, so the row
// needs no tracking. No raw control byte other than CR, LF and BS is ever emitted.
//
// With terminal false (output to a pipe or a file) the same bytes are produced;
// only clearing differs, as there is no cursor control.
struct Renderer {
  int width = 80;
  int col = 0;
  bool terminal = true;
};

// The most output bytes one input byte can produce (a 3-byte glyph and CR LF).
constexpr std::size_t kRenderMaxPerByte = 5;

// Renders bytes into out, which must have room for kRenderMaxPerByte bytes per
// input byte; returns the number of bytes stored.
std::size_t render(Renderer& renderer, std::string_view bytes, char* out);
// Appends the rendering of bytes to out (reuse out between calls: no allocation
// once its capacity has grown).
void render_append(Renderer& renderer, std::string_view bytes, std::string& out);
// Appends what clears the window and homes the cursor: on a terminal ESC[2J
// ESC[H; otherwise CR LF when the cursor is not in column 1, so that what follows
// starts a fresh line.
void render_clear(Renderer& renderer, std::string& out);

}  // namespace kit
