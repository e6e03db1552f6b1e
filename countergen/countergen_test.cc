#include "countergen/countergen.h"

#include <gtest/gtest.h>

namespace kit {
namespace {

TEST(CounterGenerator, CounterSteps) {
  struct Case {
    std::int16_t cc;
    char key;
    std::int16_t next;
  };
  for (const Case& c : {Case{0, '=', 1}, Case{0, '-', 0}, Case{5, '-', 4}, Case{9999, '=', 10000},
                        Case{32767, '=', 0}, Case{7, '+', 7}, Case{7, 'C', 7}}) {
    EXPECT_EQ(step_counter(c.cc, static_cast<std::uint8_t>(c.key)), c.next) << c.cc << c.key;
  }
}

TEST(CounterGenerator, MessageLayout) {
  const char stamp[8] = {'3', '2', '7', '0', '3', '0', '4', '2'};
  EXPECT_EQ(make_message('[', stamp, ']', 7), "[32703042]0007\r\n");
  EXPECT_EQ(make_message('[', stamp, ']', 10000), "[32703042]10000\r\n");
  EXPECT_EQ(make_message('[', stamp, ']', 10000).size(), 17u);
}

}  // namespace
}  // namespace kit
