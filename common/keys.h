// Terminal input bytes to PC key codes.
//
// A character key gives its byte (Enter 13, Backspace 8, Ctrl+letter 1 to 26,
// other characters from UTF-8 to their Windows-1252 byte). Function, cursor and
// editing keys, Shift+Tab and Alt with a key give two codes, 0 and then the
// key's extended code in the PC BIOS convention (F1 59, Up 72, Ctrl+Right 116,
// Alt+X 45...). Escape sequences of xterm, tmux/screen, rxvt, the Linux console
// and VT100 are understood; an unknown sequence is swallowed whole.
//
// A lone ESC and the start of a sequence look alike: while a sequence is
// incomplete (awaiting_more), the caller waits a short time for more bytes and,
// when none came, calls time_out_keys, which turns a lone ESC into the key 27.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kit {

// One decoded key: a code and, for the two-code keys, extended set.
struct Key {
  std::uint8_t code = 0;
  bool extended = false;
};

// How long a caller waits after an incomplete sequence before time_out_keys.
constexpr int kEscapeTimeoutMs = 50;

struct KeyDecoder {
  // Decoded keys not yet taken, oldest first (a ring). Feeding at most
  // kKeyQueue bytes while the queue is empty never overflows it.
  static constexpr std::size_t kKeyQueue = 128;
  Key queue[kKeyQueue] = {};
  std::size_t head = 0;
  std::size_t count = 0;

  // The escape sequence or UTF-8 character being received.
  enum class State : std::uint8_t { Ground, Esc, Csi, CsiLinux, Ss3, Utf8 };
  State state = State::Ground;
  static constexpr std::size_t kSeqMax = 32;
  std::uint8_t seq[kSeqMax] = {};  // parameter bytes of a CSI or SS3 sequence
  std::size_t seq_len = 0;
  bool overlong = false;  // more parameter bytes than seq holds: swallow it
  char32_t utf8_value = 0;
  int utf8_need = 0;
  std::uint8_t utf8_lead = 0;  // the first byte, while no other has followed

  // The key state of the key test and key read: the pending code (0 is none)
  // and the flag that makes the next key read give 0 before an extended code.
  std::uint8_t pending = 0;
  bool extended = false;
};

// Decodes bytes; complete keys join the queue.
void feed_keys(KeyDecoder& decoder, std::string_view bytes);
// True while a sequence or character is incomplete.
bool awaiting_more(const KeyDecoder& decoder);
// No further byte came within the time-out: a lone ESC becomes 27, ESC "[" and
// ESC "O" become Alt with that key, a lone first byte of a UTF-8 character is
// taken as the 8-bit character it is, any other incomplete sequence is dropped.
void time_out_keys(KeyDecoder& decoder);

// The key test over decoded keys: true while a code is pending; otherwise makes
// the oldest queued key pending, if any.
bool key_ready(KeyDecoder& decoder);
// The key read step (after key_ready gave true): for an extended key first 0,
// leaving the extended code pending; otherwise the pending code, which is then
// cleared. Gives 0 when nothing is pending.
std::uint8_t take_key(KeyDecoder& decoder);

// The PC scan code Alt gives with a character key (Alt+X 45, Alt+"1" 120), or 0
// for a character with none.
std::uint8_t alt_code(std::uint8_t character);

}  // namespace kit
