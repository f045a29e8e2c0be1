// Text from outside printed safely: nothing in it can act on a terminal, and
// a message stays one bounded line.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "quote.h"

namespace quote {
namespace {

TEST(Quote, PlainTextAndUtf8PassAsTheyAre) {
  EXPECT_EQ(Quote("shot.png"), "\"shot.png\"");
  EXPECT_EQ(Quote("a \"b\" \\c"), "\"a \\\"b\\\" \\\\c\"");
  EXPECT_EQ(Escape("a \"b\" \\c"), "a \"b\" \\c") << "no quotes, nothing to escape them from";
  EXPECT_EQ(Escape("caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(Escape(""), "");
}

TEST(Quote, EveryByteThatCouldActOnATerminalIsShownInHex) {
  struct Case {
    std::string text, want;
  };
  const Case cases[] = {
      {"a\nb", "a\\x0Ab"},
      {"\x1B[31mred", "\\x1B[31mred"},
      {std::string("nul\0!", 5), "nul\\x00!"},
      {"\x7F", "\\x7F"},
      {"\xC2\x9Bm", "\\xC2\\x9Bm"},                         // C1 CSI, as UTF-8
      {"\x9Bm", "\\x9Bm"},                                  // C1 CSI, a lone byte
      {"\xFF\xFE", "\\xFF\\xFE"},                           // never in UTF-8
      {"\xC0\xAF", "\\xC0\\xAF"},                           // overlong '/'
      {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},                  // overlong '/' again
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                  // a surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},         // past U+10FFFF
      {"ab\xE2\x82", "ab\\xE2\\x82"},                       // cut short
      {"\xE2\x82z", "\\xE2\\x82z"},                         // broken by the next character
      {"x\xE2\x80\xAEgnp.exe", "x\\xE2\\x80\\xAEgnp.exe"},  // right-to-left override
      {"a\xE2\x80\xA8z", "a\\xE2\\x80\\xA8z"},              // line separator
      {"\xE2\x81\xA6", "\\xE2\\x81\\xA6"},                  // an isolate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Escape(c.text), c.want) << c.want;
    EXPECT_EQ(Quote(c.text), "\"" + c.want + "\"") << c.want;
  }
}

TEST(Quote, LongTextIsCutAtACharacterBoundary) {
  EXPECT_EQ(Quote("abcdef", 4), "\"abcd...\"");
  EXPECT_EQ(Quote("abcd", 4), "\"abcd\"") << "exactly the limit: nothing cut";
  EXPECT_EQ(Escape("\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9...") << "never half a character";
  EXPECT_EQ(Escape("\n\n\n", 2), "\\x0A\\x0A...") << "the limit counts the text, not its escapes";
  const std::string huge(120000, 'x');
  EXPECT_EQ(Quote(huge), "\"" + std::string(kMaxBytes, 'x') + "...\"");
  EXPECT_LE(Escape(std::string(120000, '\x1B')).size(), 4 * kMaxBytes + 3);
}

// Whatever comes in, what goes out is printable UTF-8 with no control
// character, C1 or not, and as long as the cut allows.
TEST(Quote, RandomBytesAlwaysComeOutPrintable) {
  std::mt19937 random(15);
  for (int round = 0; round < 2000; round++) {
    std::string text(random() % 64, '\0');
    for (char& c : text) c = char(random() % 6 == 0 ? 0x80 + random() % 0x40 : random() % 256);
    const std::string out = Quote(text, 48);
    ASSERT_LE(out.size(), 2 + 4 * 48 + 3u);
    for (size_t i = 0; i < out.size(); i++) {
      const uint8_t b = uint8_t(out[i]);
      ASSERT_TRUE(b >= 0x20 && b != 0x7F) << "byte " << i << " of " << out;
      ASSERT_FALSE(b == 0xC2 && i + 1 < out.size() && uint8_t(out[i + 1]) < 0xA0)
          << "a C1 control at byte " << i << " of " << out;
    }
    const std::string inner = out.substr(1, out.size() - 2);
    ASSERT_EQ(Escape(inner, 1000), inner) << "valid UTF-8 with nothing left to escape";
  }
}

}  // namespace
}  // namespace quote
