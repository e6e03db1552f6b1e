#include "common/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kit {
namespace {

using namespace std::string_literals;
using Codes = std::vector<int>;

// Every code the key reads give, in order.
Codes drain(KeyDecoder& d) {
  Codes codes;
  while (key_ready(d)) codes.push_back(take_key(d));
  return codes;
}

// Feeds the bytes at once or one by one, then (when asked) the time-out that
// follows when no further byte arrives.
Codes decode(const std::string& bytes, bool byte_by_byte, bool time_out) {
  KeyDecoder d;
  Codes codes;
  if (byte_by_byte) {
    for (const char ch : bytes) {
      feed_keys(d, std::string_view(&ch, 1));
      const Codes got = drain(d);
      codes.insert(codes.end(), got.begin(), got.end());
    }
  } else {
    feed_keys(d, bytes);
  }
  if (time_out) {
    EXPECT_TRUE(awaiting_more(d)) << "a time-out only follows an incomplete sequence";
    time_out_keys(d);
  } else {
    EXPECT_FALSE(awaiting_more(d));
  }
  const Codes rest = drain(d);
  codes.insert(codes.end(), rest.begin(), rest.end());
  return codes;
}

struct KeyCase {
  const char* name;
  std::string bytes;
  Codes codes;
  bool time_out = false;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

class KeySequences : public testing::TestWithParam<KeyCase> {};

TEST_P(KeySequences, DecodeWholeAndSplit) {
  const KeyCase& c = GetParam();
  EXPECT_EQ(decode(c.bytes, false, c.time_out), c.codes) << "at once";
  EXPECT_EQ(decode(c.bytes, true, c.time_out), c.codes) << "byte by byte";
}

std::string name_of(const testing::TestParamInfo<KeyCase>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Characters, KeySequences,
    testing::Values(KeyCase{"LowerQ", "q", {113}}, KeyCase{"UpperQ", "Q", {81}},
                    KeyCase{"Enter", "\r", {13}}, KeyCase{"CtrlEnter", "\n", {10}},
                    KeyCase{"BackspaceDel", "\x7f", {8}}, KeyCase{"BackspaceBs", "\b", {8}},
                    KeyCase{"Tab", "\t", {9}}, KeyCase{"CtrlA", "\x01", {1}},
                    KeyCase{"CtrlZ", "\x1a", {26}}, KeyCase{"CtrlSpace", "\0"s, {0, 3}},
                    KeyCase{"Several", "ab1 ", {97, 98, 49, 32}},
                    KeyCase{"Utf8EAcute", "\xc3\xa9", {233}},
                    KeyCase{"Utf8Euro", "\xe2\x82\xac", {128}},
                    KeyCase{"Utf8NotInCodePage",
                            "\xe4\xb8\xad"
                            "a",
                            {97}},
                    KeyCase{"Latin1Byte",
                            "\xe9"
                            "a\xff",
                            {233, 97, 255}},
                    KeyCase{"Latin1ByteAlone", "\xe9", {233}, true},
                    KeyCase{"BrokenUtf8",
                            "\xe2\x82"
                            "a",
                            {97}}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    Escape, KeySequences,
    testing::Values(KeyCase{"LoneEsc", "\x1b", {27}, true},
                    KeyCase{"EscEsc", "\x1b\x1b", {27, 27}, true},
                    KeyCase{"EscThenKeyLater", "a\x1b", {97, 27}, true},
                    KeyCase{"AltBracketByTimeOut", "\x1b[", {0, 26}, true},
                    KeyCase{"AltShiftOByTimeOut", "\x1bO", {0, 24}, true},
                    KeyCase{"PartialDroppedAtTimeOut", "\x1b[1;5", {}, true},
                    KeyCase{"EscRestartsSequence", "\x1b[1\x1b[A", {0, 72}},
                    KeyCase{"ControlEndsSequence", "\x1b[1\x03", {3}},
                    KeyCase{"UnknownTilde", "\x1b[99~a", {97}},
                    KeyCase{"DeviceAttributes", "\x1b[?1;2c", {}},
                    KeyCase{"SgrMouse", "\x1b[<0;10;20M", {}},
                    KeyCase{"PasteMarker", "\x1b[200~x\x1b[201~", {120}},
                    KeyCase{"UnknownSs3", "\x1bOy", {}}, KeyCase{"UnknownFinal", "\x1b[1;5Y", {}},
                    KeyCase{"Overlong", "\x1b[" + std::string(40, '1') + "~b", {98}},
                    KeyCase{"Mixed", "ab\x1bOPc", {97, 98, 0, 59, 99}}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    Alt, KeySequences,
    testing::Values(KeyCase{"AltX", "\x1bx", {0, 45}}, KeyCase{"AltShiftX", "\x1bX", {0, 45}},
                    KeyCase{"Alt1",
                            "\x1b"
                            "1",
                            {0, 120}},
                    KeyCase{"Alt0",
                            "\x1b"
                            "0",
                            {0, 129}},
                    KeyCase{"AltMinus", "\x1b-", {0, 130}}, KeyCase{"AltEquals", "\x1b=", {0, 131}},
                    KeyCase{"AltExclam", "\x1b!", {0, 120}}, KeyCase{"AltQ", "\x1bq", {0, 16}},
                    KeyCase{"AltM", "\x1bm", {0, 50}}, KeyCase{"AltBackspace", "\x1b\x7f", {0, 14}},
                    KeyCase{"AltEnter", "\x1b\r", {0, 28}},
                    KeyCase{"CtrlAltA", "\x1b\x01", {0, 30}},
                    KeyCase{"AltNonAscii", "\x1b\xc3\xa9", {233}},
                    KeyCase{"CsiUAltA", "\x1b[97;3u", {0, 30}},
                    KeyCase{"CsiUShiftTab", "\x1b[9;2u", {0, 15}},
                    KeyCase{"ModifyOtherKeysCtrlEnter", "\x1b[27;5;13~", {10}}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    Xterm, KeySequences,
    testing::Values(
        KeyCase{"F1", "\x1bOP", {0, 59}}, KeyCase{"F2", "\x1bOQ", {0, 60}},
        KeyCase{"F3", "\x1bOR", {0, 61}}, KeyCase{"F4", "\x1bOS", {0, 62}},
        KeyCase{"F5", "\x1b[15~", {0, 63}}, KeyCase{"F6", "\x1b[17~", {0, 64}},
        KeyCase{"F7", "\x1b[18~", {0, 65}}, KeyCase{"F8", "\x1b[19~", {0, 66}},
        KeyCase{"F9", "\x1b[20~", {0, 67}}, KeyCase{"F10", "\x1b[21~", {0, 68}},
        KeyCase{"F11", "\x1b[23~", {0, 133}}, KeyCase{"F12", "\x1b[24~", {0, 134}},
        KeyCase{"Home", "\x1b[1~", {0, 71}}, KeyCase{"End", "\x1b[4~", {0, 79}},
        KeyCase{"Insert", "\x1b[2~", {0, 82}}, KeyCase{"Delete", "\x1b[3~", {0, 83}},
        KeyCase{"PageUp", "\x1b[5~", {0, 73}}, KeyCase{"PageDown", "\x1b[6~", {0, 81}},
        KeyCase{"HomeCsiH", "\x1b[H", {0, 71}}, KeyCase{"EndCsiF", "\x1b[F", {0, 79}},
        KeyCase{"HomeSs3", "\x1bOH", {0, 71}}, KeyCase{"EndSs3", "\x1bOF", {0, 79}},
        KeyCase{"Up", "\x1b[A", {0, 72}}, KeyCase{"Down", "\x1b[B", {0, 80}},
        KeyCase{"Right", "\x1b[C", {0, 77}}, KeyCase{"Left", "\x1b[D", {0, 75}},
        KeyCase{"UpApp", "\x1bOA", {0, 72}}, KeyCase{"DownApp", "\x1bOB", {0, 80}},
        KeyCase{"RightApp", "\x1bOC", {0, 77}}, KeyCase{"LeftApp", "\x1bOD", {0, 75}},
        KeyCase{"ShiftTab", "\x1b[Z", {0, 15}}, KeyCase{"ShiftF1", "\x1b[1;2P", {0, 84}},
        KeyCase{"CtrlF1", "\x1b[1;5P", {0, 94}}, KeyCase{"AltF1", "\x1b[1;3P", {0, 104}},
        KeyCase{"CtrlAltF1", "\x1b[1;7P", {0, 104}}, KeyCase{"ShiftF5", "\x1b[15;2~", {0, 88}},
        KeyCase{"CtrlF10", "\x1b[21;5~", {0, 103}}, KeyCase{"AltF10", "\x1b[21;3~", {0, 113}},
        KeyCase{"ShiftF11", "\x1b[23;2~", {0, 135}}, KeyCase{"CtrlF12", "\x1b[24;5~", {0, 138}},
        KeyCase{"AltF12", "\x1b[24;3~", {0, 140}}, KeyCase{"CtrlRight", "\x1b[1;5C", {0, 116}},
        KeyCase{"CtrlLeft", "\x1b[1;5D", {0, 115}}, KeyCase{"CtrlUp", "\x1b[1;5A", {0, 141}},
        KeyCase{"CtrlHome", "\x1b[1;5H", {0, 119}}, KeyCase{"CtrlEnd", "\x1b[1;5F", {0, 117}},
        KeyCase{"CtrlPageUp", "\x1b[5;5~", {0, 132}},
        KeyCase{"CtrlPageDown", "\x1b[6;5~", {0, 118}},
        KeyCase{"CtrlInsert", "\x1b[2;5~", {0, 146}}, KeyCase{"CtrlDelete", "\x1b[3;5~", {0, 147}},
        KeyCase{"AltUp", "\x1b[1;3A", {0, 152}}, KeyCase{"AltPageDown", "\x1b[6;3~", {0, 161}},
        KeyCase{"ShiftUpSameAsUp", "\x1b[1;2A", {0, 72}},
        KeyCase{"OldXtermSs3Modifier", "\x1bO5P", {0, 94}},
        KeyCase{"KeypadCenter", "\x1b[E", {0, 76}}, KeyCase{"KeypadEnterApp", "\x1bOM", {13}}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    OtherTerminals, KeySequences,
    testing::Values(
        KeyCase{"LinuxF1", "\x1b[[A", {0, 59}}, KeyCase{"LinuxF2", "\x1b[[B", {0, 60}},
        KeyCase{"LinuxF3", "\x1b[[C", {0, 61}}, KeyCase{"LinuxF4", "\x1b[[D", {0, 62}},
        KeyCase{"LinuxF5", "\x1b[[E", {0, 63}}, KeyCase{"LinuxShiftF1", "\x1b[25~", {0, 84}},
        KeyCase{"LinuxShiftF8", "\x1b[34~", {0, 91}}, KeyCase{"VtF1", "\x1b[11~", {0, 59}},
        KeyCase{"VtF4", "\x1b[14~", {0, 62}}, KeyCase{"Vt100F5", "\x1bOt", {0, 63}},
        KeyCase{"Vt100F6", "\x1bOu", {0, 64}}, KeyCase{"Vt100F7", "\x1bOv", {0, 65}},
        KeyCase{"Vt100F8", "\x1bOl", {0, 66}}, KeyCase{"Vt100F9", "\x1bOw", {0, 67}},
        KeyCase{"Vt100F10", "\x1bOx", {0, 68}}, KeyCase{"ScreenHome", "\x1b[7~", {0, 71}},
        KeyCase{"ScreenEnd", "\x1b[8~", {0, 79}}, KeyCase{"RxvtShiftUp", "\x1b[a", {0, 72}},
        KeyCase{"RxvtCtrlLeft", "\x1bOd", {0, 115}}, KeyCase{"RxvtCtrlPageUp", "\x1b[5^", {0, 132}},
        KeyCase{"RxvtShiftInsert", "\x1b[2$", {0, 82}}),
    name_of);

TEST(KeyRead, ExtendedKeyGivesZeroThenCodeWithTestTrueBetween) {
  KeyDecoder d;
  EXPECT_FALSE(key_ready(d));
  feed_keys(d, "\x1b[6~");  // Page Down
  ASSERT_TRUE(key_ready(d));
  EXPECT_EQ(take_key(d), 0);
  EXPECT_TRUE(key_ready(d));  // the extended code is still pending, no input needed
  EXPECT_TRUE(key_ready(d));  // testing does not consume it
  EXPECT_EQ(take_key(d), 81);
  EXPECT_FALSE(key_ready(d));
  EXPECT_EQ(take_key(d), 0);  // nothing pending
}

TEST(KeyRead, QueuedKeysComeInOrderAfterAPendingOne) {
  KeyDecoder d;
  feed_keys(d, "\x1bOPQ");
  ASSERT_TRUE(key_ready(d));
  feed_keys(d, "x");
  EXPECT_EQ(drain(d), (Codes{0, 59, 81, 120}));
}

TEST(KeyRead, ABufferOfKeysFitsTheQueue) {
  KeyDecoder d;
  const std::string bytes(KeyDecoder::kKeyQueue, 'k');
  feed_keys(d, bytes);
  EXPECT_EQ(drain(d).size(), KeyDecoder::kKeyQueue);
}

TEST(AltCode, LettersAndDigitRowFollowScanCodes) {
  const std::string letters = "QWERTYUIOPASDFGHJKLZXCVBNM";
  const int codes[] = {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32,
                       33, 34, 35, 36, 37, 38, 44, 45, 46, 47, 48, 49, 50};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const auto upper = static_cast<std::uint8_t>(letters[i]);
    EXPECT_EQ(alt_code(upper), codes[i]) << letters[i];
    EXPECT_EQ(alt_code(static_cast<std::uint8_t>(upper + 32)), codes[i]) << letters[i];
  }
  const std::string row = "1234567890-=";
  for (std::size_t i = 0; i < row.size(); ++i) {
    EXPECT_EQ(alt_code(static_cast<std::uint8_t>(row[i])), 120 + static_cast<int>(i)) << row[i];
  }
  EXPECT_EQ(alt_code(0xE9), 0);
}

}  // namespace
}  // namespace kit
