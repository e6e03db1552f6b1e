#include "common/screen.h"

#include <array>
#include <cstring>

namespace kit {

namespace {

// Code point shown for each byte. 0x00-0x1F: the glyphs the PC character set
// gives the control codes (NUL, blank there, gets the visible symbol for null);
// 0x7F: the house; 0x80-0xFF: Windows-1252, its undefined bytes as the
// replacement mark, the no-break space as a plain space and the soft hyphen
// (zero width on many terminals) as a hyphen.
constexpr char32_t kUndefined = 0xFFFD;

constexpr std::array<char32_t, 32> kLow = {
    0x2400, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 00-07
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // 08-0F
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 10-17
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 18-1F
};

constexpr std::array<char32_t, 32> kHigh = {
    0x20AC,     kUndefined, 0x201A, 0x0192, 0x201E, 0x2026,     0x2020, 0x2021,      // 80-87
    0x02C6,     0x2030,     0x0160, 0x2039, 0x0152, kUndefined, 0x017D, kUndefined,  // 88-8F
    kUndefined, 0x2018,     0x2019, 0x201C, 0x201D, 0x2022,     0x2013, 0x2014,      // 90-97
    0x02DC,     0x2122,     0x0161, 0x203A, 0x0153, kUndefined, 0x017E, 0x0178,      // 98-9F
};

constexpr char32_t code_point_of(unsigned b) {
  if (b < 0x20) return kLow[b];
  if (b == 0x7F) return 0x2302;
  if (b >= 0x80 && b < 0xA0) return kHigh[b - 0x80];
  if (b == 0xA0) return 0x20;
  if (b == 0xAD) return '-';
  return b;
}

struct Glyph {
  char bytes[4];
  std::uint8_t len;
};

constexpr Glyph encode(char32_t cp) {
  Glyph g{{0, 0, 0, 0}, 0};
  if (cp < 0x80) {
    g.bytes[0] = static_cast<char>(cp);
    g.len = 1;
  } else if (cp < 0x800) {
    g.bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    g.bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    g.len = 2;
  } else {
    g.bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    g.bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    g.bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    g.len = 3;
  }
  return g;
}

constexpr std::array<Glyph, 256> make_glyphs() {
  std::array<Glyph, 256> t{};
  for (unsigned b = 0; b < 256; ++b) t[b] = encode(code_point_of(b));
  return t;
}

constexpr std::array<Glyph, 256> kGlyphs = make_glyphs();

void scroll_up(Screen& s) {
  const auto w = static_cast<std::size_t>(s.width);
  std::memmove(s.cells.data(), s.cells.data() + w, s.cells.size() - w);
  std::memset(s.cells.data() + s.cells.size() - w, ' ', w);
}

}  // namespace

Screen make_screen(int width, int height) {
  Screen s;
  s.width = width < 1 ? 1 : width;
  s.height = height < 1 ? 1 : height;
  s.cells.assign(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height), ' ');
  return s;
}

void clear_screen(Screen& screen) {
  std::memset(screen.cells.data(), ' ', screen.cells.size());
  screen.col = 0;
  screen.row = 0;
}

void apply_bytes(Screen& s, std::string_view bytes) {
  for (const char ch : bytes) {
    const auto b = static_cast<std::uint8_t>(ch);
    switch (b) {
      case 13:
        s.col = 0;
        break;
      case 10:
        ++s.row;
        break;
      case 8:
        if (s.col > 0) --s.col;
        break;
      case 7:
        break;
      default:
        s.cells[static_cast<std::size_t>(s.row) * static_cast<std::size_t>(s.width) +
                static_cast<std::size_t>(s.col)] = b;
        ++s.col;
        break;
    }
    if (s.col >= s.width) {
      s.col = 0;
      ++s.row;
    }
    while (s.row >= s.height) {
      scroll_up(s);
      --s.row;
    }
  }
}

std::string row_text(const Screen& s, int row) {
  const auto w = static_cast<std::size_t>(s.width);
  const auto* start = s.cells.data() + static_cast<std::size_t>(row) * w;
  return std::string(reinterpret_cast<const char*>(start), w);
}

std::string_view glyph(std::uint8_t byte) {
  const Glyph& g = kGlyphs[byte];
  return {g.bytes, g.len};
}

char32_t glyph_code_point(std::uint8_t byte) {
  return code_point_of(byte);
}

std::size_t render(Renderer& r, std::string_view bytes, char* out) {
  char* p = out;
  int col = r.col;
  const int width = r.width < 1 ? 1 : r.width;
  for (const char ch : bytes) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (b >= 0x20 && b < 0x7F) {
      *p++ = ch;
      ++col;
    } else {
      switch (b) {
        case 13:
          *p++ = '\r';
          col = 0;
          continue;
        case 10:
          *p++ = '\n';
          continue;
        case 8:
          if (col > 0) {
            *p++ = '\b';
            --col;
          }
          continue;
        case 7:
          continue;
        default: {
          // Every entry has 4 bytes; the room per input byte covers the copy.
          const Glyph& g = kGlyphs[b];
          std::memcpy(p, g.bytes, sizeof g.bytes);
          p += g.len;
          ++col;
          break;
        }
      }
    }
    if (col >= width) {
      *p++ = '\r';
      *p++ = '\n';
      col = 0;
    }
  }
  r.col = col;
  return static_cast<std::size_t>(p - out);
}

void render_append(Renderer& r, std::string_view bytes, std::string& out) {
  const std::size_t old = out.size();
  out.resize(old + bytes.size() * kRenderMaxPerByte);
  const std::size_t n = render(r, bytes, out.data() + old);
  out.resize(old + n);
}

void render_clear(Renderer& r, std::string& out) {
  if (r.terminal) {
    out.append("\x1b[2J\x1b[H");
  } else if (r.col != 0) {
    out.append("\r\n");
  }
  r.col = 0;
}

}  // namespace kit
