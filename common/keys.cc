#include "common/keys.h"

#include <array>

#include "common/screen.h"

namespace kit {

namespace {

using State = KeyDecoder::State;

// Keys that give an extended code, and their codes alone and with Shift, Ctrl
// or Alt held (PC BIOS convention; Shift does not change the cursor keys).
enum class Nav : std::uint8_t {
  None,
  F1,
  F2,
  F3,
  F4,
  F5,
  F6,
  F7,
  F8,
  F9,
  F10,
  F11,
  F12,
  Home,
  Up,
  PgUp,
  Left,
  Center,
  Right,
  End,
  Down,
  PgDn,
  Ins,
  Del,
  BackTab,
};

struct Codes {
  std::uint8_t plain, shift, ctrl, alt;
};

constexpr std::array<Codes, 25> kCodes = {{
    {0, 0, 0, 0},          // None
    {59, 84, 94, 104},     // F1
    {60, 85, 95, 105},     // F2
    {61, 86, 96, 106},     // F3
    {62, 87, 97, 107},     // F4
    {63, 88, 98, 108},     // F5
    {64, 89, 99, 109},     // F6
    {65, 90, 100, 110},    // F7
    {66, 91, 101, 111},    // F8
    {67, 92, 102, 112},    // F9
    {68, 93, 103, 113},    // F10
    {133, 135, 137, 139},  // F11
    {134, 136, 138, 140},  // F12
    {71, 71, 119, 151},    // Home
    {72, 72, 141, 152},    // Up
    {73, 73, 132, 153},    // PgUp
    {75, 75, 115, 155},    // Left
    {76, 76, 143, 76},     // Center (keypad 5)
    {77, 77, 116, 157},    // Right
    {79, 79, 117, 159},    // End
    {80, 80, 145, 160},    // Down
    {81, 81, 118, 161},    // PgDn
    {82, 82, 146, 162},    // Ins
    {83, 83, 147, 163},    // Del
    {15, 15, 148, 165},    // BackTab (Shift+Tab)
}};

struct Mods {
  bool shift = false;
  bool alt = false;
  bool ctrl = false;
};

// The xterm modifier parameter: m - 1 has bit 0 Shift, bit 1 Alt, bit 2 Ctrl,
// bit 3 Meta (taken as Alt).
Mods mods_from(int m) {
  Mods mods;
  if (m < 2) return mods;
  const int bits = m - 1;
  mods.shift = (bits & 1) != 0;
  mods.alt = (bits & 10) != 0;
  mods.ctrl = (bits & 4) != 0;
  return mods;
}

std::uint8_t code_for(Nav nav, Mods mods) {
  const Codes& c = kCodes[static_cast<std::size_t>(nav)];
  if (mods.alt) return c.alt;
  if (mods.ctrl) return c.ctrl;
  if (mods.shift) return c.shift;
  return c.plain;
}

constexpr std::array<std::uint8_t, 128> make_alt_codes() {
  std::array<std::uint8_t, 128> t{};
  const char* rows[] = {"qwertyuiop[]", "asdfghjkl;'`", "\\zxcvbnm,./"};
  const char* shifted[] = {"QWERTYUIOP{}", "ASDFGHJKL:\"~", "|ZXCVBNM<>?"};
  const std::uint8_t first[] = {16, 30, 43};
  for (int r = 0; r < 3; ++r) {
    for (int i = 0; rows[r][i] != 0; ++i) {
      t[static_cast<unsigned char>(rows[r][i])] = static_cast<std::uint8_t>(first[r] + i);
      t[static_cast<unsigned char>(shifted[r][i])] = static_cast<std::uint8_t>(first[r] + i);
    }
  }
  const char* digits = "1234567890-=";
  const char* digits_shifted = "!@#$%^&*()_+";
  for (int i = 0; i < 12; ++i) {
    t[static_cast<unsigned char>(digits[i])] = static_cast<std::uint8_t>(120 + i);
    t[static_cast<unsigned char>(digits_shifted[i])] = static_cast<std::uint8_t>(120 + i);
  }
  t[' '] = 57;
  t[27] = 1;     // Esc
  t[8] = 14;     // Backspace
  t[127] = 14;   // Backspace
  t['\t'] = 15;  // Tab
  t['\r'] = 28;  // Enter
  return t;
}

constexpr std::array<std::uint8_t, 128> kAltCodes = make_alt_codes();

void push(KeyDecoder& d, Key key) {
  if (key.code == 0 || d.count == KeyDecoder::kKeyQueue) return;
  d.queue[(d.head + d.count) % KeyDecoder::kKeyQueue] = key;
  ++d.count;
}

void push_char(KeyDecoder& d, std::uint8_t code) {
  push(d, Key{code, false});
}
void push_ext(KeyDecoder& d, std::uint8_t code) {
  push(d, Key{code, true});
}

// A Unicode character as the Windows-1252 byte, or 0 when it has none.
std::uint8_t to_1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<std::uint8_t>(cp);
  for (unsigned b = 0x80; b < 0xA0; ++b) {
    if (glyph_code_point(static_cast<std::uint8_t>(b)) == cp && cp != 0xFFFD) {
      return static_cast<std::uint8_t>(b);
    }
  }
  return 0;
}

// A character key with modifiers, as the "CSI u" and modifyOtherKeys reports
// of newer terminals give it.
void push_char_with_mods(KeyDecoder& d, long cp, Mods mods) {
  if (cp <= 0 || cp > 0x10FFFF) return;
  const std::uint8_t c = to_1252(static_cast<char32_t>(cp));
  if (c == 0) return;
  if (mods.alt) {
    if (c < 128) push_ext(d, kAltCodes[c]);
    return;
  }
  if (mods.ctrl) {
    if ((c >= 'a' && c <= 'z') || (c >= '@' && c <= '_')) {
      if (c == '@') {
        push_ext(d, 3);
      } else {
        push_char(d, static_cast<std::uint8_t>(c & 0x1F));
      }
    } else if (c == ' ') {
      push_ext(d, 3);
    } else if (c == '\r') {
      push_char(d, 10);
    } else if (c == '\t') {
      push_ext(d, 148);
    } else {
      push_char(d, c);
    }
    return;
  }
  if (c == '\t' && mods.shift) {
    push_ext(d, 15);
  } else if (c == 127) {
    push_char(d, 8);
  } else {
    push_char(d, c);
  }
}

// The numeric parameters of a sequence: "1;5" gives {1, 5}. Sub-parameters
// after ":" are skipped. False for a private sequence ("<", "=", ">", "?").
struct Params {
  long v[4] = {0, 0, 0, 0};
  int n = 0;
};

bool parse_params(const KeyDecoder& d, Params& p) {
  if (d.seq_len > 0 && d.seq[0] >= 0x3C) return false;
  if (d.seq_len == 0) return true;
  p.n = 1;
  bool sub = false;
  for (std::size_t i = 0; i < d.seq_len; ++i) {
    const std::uint8_t b = d.seq[i];
    if (b == ';') {
      sub = false;
      if (p.n == 4) return true;
      ++p.n;
    } else if (b == ':') {
      sub = true;
    } else if (b >= '0' && b <= '9') {
      if (!sub) {
        long& v = p.v[p.n - 1];
        if (v < 0x1000000) v = v * 10 + (b - '0');
      }
    } else {
      return false;
    }
  }
  return true;
}

Nav tilde_key(long n) {
  switch (n) {
    case 1:
    case 7:
      return Nav::Home;
    case 2:
      return Nav::Ins;
    case 3:
      return Nav::Del;
    case 4:
    case 8:
      return Nav::End;
    case 5:
      return Nav::PgUp;
    case 6:
      return Nav::PgDn;
    case 11:
      return Nav::F1;
    case 12:
      return Nav::F2;
    case 13:
      return Nav::F3;
    case 14:
      return Nav::F4;
    case 15:
      return Nav::F5;
    case 17:
      return Nav::F6;
    case 18:
      return Nav::F7;
    case 19:
      return Nav::F8;
    case 20:
      return Nav::F9;
    case 21:
      return Nav::F10;
    case 23:
      return Nav::F11;
    case 24:
      return Nav::F12;
    default:
      return Nav::None;
  }
}

// Shift+F1 to Shift+F8 as the Linux console and rxvt send them (F13 to F20).
Nav shifted_f_key(long n) {
  switch (n) {
    case 25:
      return Nav::F1;
    case 26:
      return Nav::F2;
    case 28:
      return Nav::F3;
    case 29:
      return Nav::F4;
    case 31:
      return Nav::F5;
    case 32:
      return Nav::F6;
    case 33:
      return Nav::F7;
    case 34:
      return Nav::F8;
    default:
      return Nav::None;
  }
}

// Final bytes shared by CSI and SS3 sequences.
Nav letter_key(std::uint8_t f) {
  switch (f) {
    case 'A':
      return Nav::Up;
    case 'B':
      return Nav::Down;
    case 'C':
      return Nav::Right;
    case 'D':
      return Nav::Left;
    case 'E':
    case 'G':
      return Nav::Center;
    case 'F':
      return Nav::End;
    case 'H':
      return Nav::Home;
    case 'P':
      return Nav::F1;
    case 'Q':
      return Nav::F2;
    case 'R':
      return Nav::F3;
    case 'S':
      return Nav::F4;
    default:
      return Nav::None;
  }
}

// rxvt's lower-case arrows: Shift (ESC [ a) and Ctrl (ESC O a).
Nav rxvt_arrow(std::uint8_t f) {
  switch (f) {
    case 'a':
      return Nav::Up;
    case 'b':
      return Nav::Down;
    case 'c':
      return Nav::Right;
    case 'd':
      return Nav::Left;
    default:
      return Nav::None;
  }
}

void push_nav(KeyDecoder& d, Nav nav, Mods mods) {
  if (nav != Nav::None) push_ext(d, code_for(nav, mods));
}

void finish_csi(KeyDecoder& d, std::uint8_t f) {
  Params p;
  if (d.overlong || !parse_params(d, p)) return;
  switch (f) {
    case '~':
    case '^':
    case '$':
    case '@': {
      Mods mods = mods_from(p.v[1]);
      if (f == '^' || f == '@') mods.ctrl = true;
      if (f == '$' || f == '@') mods.shift = true;
      if (p.v[0] == 27 && p.n >= 3) {
        push_char_with_mods(d, p.v[2], mods_from(p.v[1]));
        return;
      }
      if (const Nav shifted = shifted_f_key(p.v[0]); shifted != Nav::None) {
        mods.shift = true;
        push_nav(d, shifted, mods);
        return;
      }
      push_nav(d, tilde_key(p.v[0]), mods);
      return;
    }
    case 'u':
      push_char_with_mods(d, p.v[0], mods_from(p.v[1]));
      return;
    case 'Z':
      push_nav(d, Nav::BackTab, mods_from(p.v[1]));
      return;
    default:
      break;
  }
  if (const Nav nav = rxvt_arrow(f); nav != Nav::None) {
    push_nav(d, nav, Mods{true, false, false});
    return;
  }
  push_nav(d, letter_key(f), mods_from(p.v[1]));
}

void finish_ss3(KeyDecoder& d, std::uint8_t f) {
  Params p;
  if (d.overlong || !parse_params(d, p)) return;
  // A single parameter of an SS3 key is the modifier (ESC O 5 P: Ctrl+F1).
  const Mods mods = mods_from(p.n >= 2 ? p.v[1] : p.v[0]);
  switch (f) {
    case 't':
      return push_nav(d, Nav::F5, mods);
    case 'u':
      return push_nav(d, Nav::F6, mods);
    case 'v':
      return push_nav(d, Nav::F7, mods);
    case 'l':
      return push_nav(d, Nav::F8, mods);
    case 'w':
      return push_nav(d, Nav::F9, mods);
    case 'x':
      return push_nav(d, Nav::F10, mods);
    // The application keypad's Enter and operators.
    case 'M':
      return push_char(d, 13);
    case 'j':
      return push_char(d, '*');
    case 'k':
      return push_char(d, '+');
    case 'm':
      return push_char(d, '-');
    case 'n':
      return push_char(d, '.');
    case 'o':
      return push_char(d, '/');
    case 'X':
      return push_char(d, '=');
    default:
      break;
  }
  if (const Nav nav = rxvt_arrow(f); nav != Nav::None) {
    push_nav(d, nav, Mods{false, false, true});
    return;
  }
  push_nav(d, letter_key(f), mods);
}

// ESC and one byte: Alt with that key.
void push_alt(KeyDecoder& d, std::uint8_t b) {
  if (b >= 1 && b <= 26 && b != 8 && b != 9 && b != 13) {
    push_ext(d, kAltCodes['a' + b - 1]);  // Ctrl+Alt+letter
  } else if (b < 128) {
    push_ext(d, kAltCodes[b]);
  }
}

void start_sequence(KeyDecoder& d, State state) {
  d.state = state;
  d.seq_len = 0;
  d.overlong = false;
}

// One byte in the current state. False when the byte ended an incomplete
// sequence without being part of it: it is then taken again in the ground state.
bool step(KeyDecoder& d, std::uint8_t b) {
  switch (d.state) {
    case State::Ground:
      if (b == 0x1B) {
        d.state = State::Esc;
      } else if (b == 0) {
        push_ext(d, 3);  // Ctrl+@ / Ctrl+Space
      } else if (b == 0x7F) {
        push_char(d, 8);
      } else if (b >= 0xC2 && b <= 0xF4) {
        d.state = State::Utf8;
        d.utf8_need = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
        d.utf8_value = b & (b >= 0xF0 ? 0x07 : b >= 0xE0 ? 0x0F : 0x1F);
        d.utf8_lead = b;
      } else {
        // ASCII, or a byte that cannot start UTF-8 (an 8-bit terminal's key).
        push_char(d, b);
      }
      return true;

    case State::Esc:
      if (b == 0x1B) {
        push_char(d, 27);  // ESC ESC: the first is a key; the second starts anew
      } else if (b == '[') {
        start_sequence(d, State::Csi);
      } else if (b == 'O') {
        start_sequence(d, State::Ss3);
      } else if (b >= 0x80) {
        d.state = State::Ground;
        return false;  // Alt with a non-ASCII character: the character alone
      } else {
        push_alt(d, b);
        d.state = State::Ground;
      }
      return true;

    case State::Csi:
    case State::Ss3:
      if (d.state == State::Csi && d.seq_len == 0 && !d.overlong && b == '[') {
        d.state = State::CsiLinux;
      } else if (b >= 0x30 && b <= 0x3F) {
        if (d.seq_len < KeyDecoder::kSeqMax) {
          d.seq[d.seq_len++] = b;
        } else {
          d.overlong = true;
        }
      } else if (b >= 0x20 && b <= 0x7E) {
        // Intermediate bytes count as finals: no key sends them except rxvt's
        // "$", which ends its Shift sequences.
        if (d.state == State::Csi) {
          finish_csi(d, b);
        } else {
          finish_ss3(d, b);
        }
        d.state = State::Ground;
      } else if (b == 0x1B) {
        d.state = State::Esc;  // the incomplete sequence is dropped
      } else {
        d.state = State::Ground;
        return false;
      }
      return true;

    case State::CsiLinux:
      if (b >= 'A' && b <= 'E') {
        push_nav(d, static_cast<Nav>(static_cast<int>(Nav::F1) + (b - 'A')), Mods{});
      } else if (b == 0x1B) {
        d.state = State::Esc;
        return true;
      } else if (b < 0x20 || b > 0x7E) {
        d.state = State::Ground;
        return false;
      }
      d.state = State::Ground;
      return true;

    case State::Utf8:
      if (b < 0x80 || b > 0xBF) {
        // Not UTF-8 after all: a lone first byte is a key of an 8-bit
        // terminal; a broken character is dropped.
        d.state = State::Ground;
        if (d.utf8_lead != 0) push_char(d, d.utf8_lead);
        return false;
      }
      d.utf8_lead = 0;
      d.utf8_value = (d.utf8_value << 6) | (b & 0x3F);
      if (--d.utf8_need == 0) {
        d.state = State::Ground;
        const std::uint8_t c = to_1252(d.utf8_value);
        if (c != 0) push_char(d, c == 0x7F ? 8 : c);
      }
      return true;
  }
  return true;
}

}  // namespace

void feed_keys(KeyDecoder& d, std::string_view bytes) {
  for (const char ch : bytes) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (!step(d, b)) step(d, b);
  }
}

bool awaiting_more(const KeyDecoder& d) {
  return d.state != State::Ground;
}

void time_out_keys(KeyDecoder& d) {
  switch (d.state) {
    case State::Esc:
      push_char(d, 27);
      break;
    case State::Csi:
      if (d.seq_len == 0 && !d.overlong) push_ext(d, kAltCodes['[']);
      break;
    case State::Ss3:
      if (d.seq_len == 0 && !d.overlong) push_ext(d, kAltCodes['O']);
      break;
    case State::Utf8:
      if (d.utf8_lead != 0) push_char(d, d.utf8_lead);
      break;
    default:
      break;
  }
  d.state = State::Ground;
}

bool key_ready(KeyDecoder& d) {
  if (d.pending != 0) return true;
  if (d.count == 0) return false;
  const Key key = d.queue[d.head];
  d.head = (d.head + 1) % KeyDecoder::kKeyQueue;
  --d.count;
  d.pending = key.code;
  d.extended = key.extended;
  return true;
}

std::uint8_t take_key(KeyDecoder& d) {
  if (!key_ready(d)) return 0;
  if (d.extended) {
    d.extended = false;
    return 0;
  }
  const std::uint8_t code = d.pending;
  d.pending = 0;
  return code;
}

std::uint8_t alt_code(std::uint8_t character) {
  return character < 128 ? kAltCodes[character] : 0;
}

}  // namespace kit
