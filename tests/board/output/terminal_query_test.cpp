#include "output/terminal_query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace softboard {
namespace {

TerminalEnvironment Environment(std::vector<std::string> variables) {
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  return ReadTerminalEnvironment(envp.data());
}

TEST(TerminalEnvironment, NamesWhatTheTerminalShows) {
  struct Case {
    std::vector<std::string> env;
    bool kitty, iterm, sixel, text_only;
    CellColors colors;
  };
  const Case cases[] = {
      {{"TERM=xterm-kitty"}, true, false, false, false, CellColors::kTruecolor},
      {{"TERM=xterm-256color", "KITTY_WINDOW_ID=3"},
       true,
       false,
       false,
       false,
       CellColors::kTruecolor},
      {{"TERM=xterm-256color", "LC_TERMINAL=iTerm2"},
       false,
       true,
       false,
       false,
       CellColors::kTruecolor},
      {{"TERM=foot"}, false, false, true, false, CellColors::k256},
      {{"TERM=xterm-256color"}, false, false, false, false, CellColors::kTruecolor},
      {{"TERM=xterm", "COLORTERM=truecolor"}, false, false, false, false, CellColors::kTruecolor},
      {{"TERM=xterm"}, false, false, false, false, CellColors::k256},
      {{"TERM=linux"}, false, false, false, true, CellColors::k16},
      {{"TERM=linux", "KITTY_WINDOW_ID=1"}, false, false, false, true, CellColors::k16},
  };
  for (const Case& c : cases) {
    const TerminalEnvironment found = Environment(c.env);
    const std::string name = c.env.back();
    EXPECT_EQ(found.kitty, c.kitty) << name;
    EXPECT_EQ(found.iterm, c.iterm) << name;
    EXPECT_EQ(found.sixel, c.sixel) << name;
    EXPECT_EQ(found.text_only, c.text_only) << name;
    EXPECT_EQ(found.colors, c.colors) << name;
  }
}

TEST(TerminalAnswers, EachAnswerIsReadAndKeysAreKept) {
  const TerminalAnswers a = ReadTerminalAnswers(
      "h\x1b_Gi=31;OK\x1b\\\x1b[4;600;800t"
      "f\x1b[A\x1b[6;20;10t\x1b[?62;4;22c");
  EXPECT_TRUE(a.complete);
  EXPECT_TRUE(a.kitty);
  EXPECT_TRUE(a.sixel);
  EXPECT_EQ(a.area_width, 800);
  EXPECT_EQ(a.area_height, 600);
  EXPECT_EQ(a.cell_width, 10);
  EXPECT_EQ(a.cell_height, 20);
  EXPECT_EQ(a.keys, "hf\x1b[A");
}

TEST(TerminalAnswers, RefusalsAndMissingAnswersAreNotCapabilities) {
  TerminalAnswers a = ReadTerminalAnswers("\x1b_Gi=31;ENOTSUPPORTED:no\x1b\\\x1b[?62;22;44c");
  EXPECT_TRUE(a.complete);
  EXPECT_FALSE(a.kitty);
  EXPECT_FALSE(a.sixel) << "44 is not 4";
  EXPECT_EQ(a.keys, "");
  a = ReadTerminalAnswers("\x1b[?1;2c");
  EXPECT_TRUE(a.complete);
  EXPECT_EQ(a.cell_width, 0);
  a = ReadTerminalAnswers("\x1b[>0;95;0c\x1b[8;24;80t");
  EXPECT_FALSE(a.complete) << "secondary attributes and other reports are not the end";
  EXPECT_EQ(a.area_width, 0);
}

TEST(TerminalAnswers, WhatIsCutShortStaysForLaterOrGoesToTheKeys) {
  for (const std::string cut :
       {"\x1b", "\x1b[", "\x1b[?62;4", "\x1b_Gi=31;OK", "\x1b_Gi=31;OK\x1b"}) {
    const TerminalAnswers a = ReadTerminalAnswers("x" + cut);
    EXPECT_FALSE(a.complete) << cut.substr(1);
    EXPECT_FALSE(a.kitty) << cut.substr(1);
    EXPECT_EQ(a.keys, "x" + cut) << cut.substr(1);
  }
  // A sequence broken by a byte that cannot be in one is no key: dropped up
  // to that byte, which is read afresh.
  const TerminalAnswers a = ReadTerminalAnswers("\x1b[\r\x1bq");
  EXPECT_EQ(a.keys, "\r\x1bq");
}

// A terminal that answers with what no terminal could mean: sizes beyond
// any screen are dropped, strings and sequences that are no answer and no key
// are dropped, and a page of noise gives no keys at all.
TEST(TerminalAnswers, WhatIsNotWellFormedIsDroppedNotTakenAsKeys) {
  TerminalAnswers a = ReadTerminalAnswers("\x1b[6;999999;999999t\x1b[4;99999;99999t\x1b[?62;4c");
  EXPECT_TRUE(a.complete);
  EXPECT_EQ(a.cell_width, 0);
  EXPECT_EQ(a.area_width, 0);
  EXPECT_EQ(a.keys, "");
  a = ReadTerminalAnswers("\x1b[6;0;10t\x1b[6;513;10t\x1b[6;20;257t");
  EXPECT_EQ(a.cell_width, 0) << "zero, or a cell larger than any font's";
  a = ReadTerminalAnswers("\x1b[6;512;256t");
  EXPECT_EQ(a.cell_width, 256);
  // Strings that are not the answer asked for, and sequences no key sends.
  a = ReadTerminalAnswers(
      "\x1bP1$r0m\x1b\\\x1b]11;rgb:0/0/0\x07\x1b[?1;2$y\x1b[>1;2c\x1b[12;40R"
      "a\x1b[1;5A\x1b[15~");
  EXPECT_EQ(a.keys, "a\x1b[1;5A\x1b[15~") << "keys, and only keys";
  EXPECT_FALSE(a.complete);
  // A cut-short string that is not kitty's is no key either.
  EXPECT_EQ(ReadTerminalAnswers("h\x1bP1$r0").keys, "h");
  // 4000 bytes of noise and the end of the answers: no key from them.
  std::string noise;
  for (int i = 0; i < 4000; i++) noise += char(32 + (i * 37) % 95);
  a = ReadTerminalAnswers(noise + "\x1b[?62;4c");
  EXPECT_TRUE(a.complete);
  EXPECT_TRUE(a.sixel);
  EXPECT_EQ(a.keys, "");
}

TEST(TerminalQuestions, EndWithTheDeviceAttributes) {
  const std::string with = TerminalQuestions(true), without = TerminalQuestions(false);
  EXPECT_EQ(with.rfind("\x1b[c"), with.size() - 3);
  EXPECT_EQ(without.rfind("\x1b[c"), without.size() - 3);
  EXPECT_NE(with.find("\x1b_G"), std::string::npos);
  EXPECT_EQ(without.find("\x1b_G"), std::string::npos);
  EXPECT_NE(without.find("\x1b[16t"), std::string::npos);
}

TEST(TerminalMode, TheSettingThenKittyItermSixelSymbols) {
  TerminalEnvironment none, kitty, iterm, sixel;
  kitty.kitty = iterm.iterm = sixel.sixel = true;
  TerminalAnswers silent, says_sixel, says_kitty, says_both;
  says_sixel.sixel = says_kitty.kitty = true;
  says_both.sixel = says_both.kitty = true;
  const auto Choose = ChooseTerminalMode;
  EXPECT_EQ(Choose(TerminalMode::kSymbols, kitty, &says_kitty), TerminalMode::kSymbols);
  EXPECT_EQ(Choose(TerminalMode::kSixel, none, nullptr), TerminalMode::kSixel);
  EXPECT_EQ(Choose(TerminalMode::kAuto, kitty, nullptr), TerminalMode::kKitty);
  EXPECT_EQ(Choose(TerminalMode::kAuto, iterm, nullptr), TerminalMode::kIterm);
  EXPECT_EQ(Choose(TerminalMode::kAuto, sixel, nullptr), TerminalMode::kSixel);
  EXPECT_EQ(Choose(TerminalMode::kAuto, none, &says_sixel), TerminalMode::kSixel);
  EXPECT_EQ(Choose(TerminalMode::kAuto, none, &says_both), TerminalMode::kKitty);
  EXPECT_EQ(Choose(TerminalMode::kAuto, none, &says_kitty), TerminalMode::kKitty);
  EXPECT_EQ(Choose(TerminalMode::kAuto, none, nullptr), TerminalMode::kSymbols);
  EXPECT_EQ(Choose(TerminalMode::kAuto, none, &silent), TerminalMode::kSymbols);

  TerminalEnvironment text;
  text.text_only = true;
  EXPECT_TRUE(ShouldAskForGraphics(TerminalMode::kAuto, none));
  EXPECT_FALSE(ShouldAskForGraphics(TerminalMode::kAuto, sixel)) << "the environment told";
  EXPECT_FALSE(ShouldAskForGraphics(TerminalMode::kAuto, text)) << "nothing to find";
  EXPECT_FALSE(ShouldAskForGraphics(TerminalMode::kSymbols, none)) << "chosen already";
}

}  // namespace
}  // namespace softboard
