#include "key_decoder.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int E = 0xE0;

std::vector<int> decode_whole(std::string_view bytes, bool then_flush = false) {
  KeyDecoder decoder;
  std::deque<int> out;
  decoder.Feed(bytes, out);
  if (then_flush) decoder.Flush(out);
  return {out.begin(), out.end()};
}

std::vector<int> decode_bytewise(std::string_view bytes, bool then_flush = false) {
  KeyDecoder decoder;
  std::deque<int> out;
  for (char c : bytes) decoder.Feed(std::string_view(&c, 1), out);
  if (then_flush) decoder.Flush(out);
  return {out.begin(), out.end()};
}

struct Case {
  const char* name;
  std::string bytes;
  std::vector<int> codes;
};

// Complete input: decodes without waiting for time to pass, however the reads split it.
class CompleteInput : public testing::TestWithParam<Case> {};

TEST_P(CompleteInput, DecodesAtOnceAndAlikeWhenSplit) {
  const Case& c = GetParam();
  KeyDecoder decoder;
  std::deque<int> out;
  decoder.Feed(c.bytes, out);
  EXPECT_EQ(std::vector<int>(out.begin(), out.end()), c.codes);
  EXPECT_FALSE(decoder.Pending());
  EXPECT_EQ(decode_bytewise(c.bytes), c.codes);
}

const Case kComplete[] = {
    {"letters_keep_case", "aZ f", {'a', 'Z', ' ', 'f'}},
    {"enter_cr_and_lf", "\r\n", {13, 13}},
    {"backspace_del_and_bs", "\x7f\x08", {8, 8}},
    {"tab", "\t", {9}},
    {"ctrl_at", std::string(1, '\0'), {0, 3}},
    {"high_bytes_as_is", "\xe0\xff", {0xE0, 0xFF}},
    {"csi_arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {E, 0x48, E, 0x50, E, 0x4D, E, 0x4B}},
    {"csi_home_end", "\x1b[H\x1b[F", {E, 0x47, E, 0x4F}},
    {"ss3_arrows", "\x1bOA\x1bOB\x1bOC\x1bOD", {E, 0x48, E, 0x50, E, 0x4D, E, 0x4B}},
    {"ss3_home_end", "\x1bOH\x1bOF", {E, 0x47, E, 0x4F}},
    {"ss3_f1_f4", "\x1bOP\x1bOQ\x1bOR\x1bOS", {0, 0x3B, 0, 0x3C, 0, 0x3D, 0, 0x3E}},
    {"vt220_home_end", "\x1b[1~\x1b[7~\x1b[4~\x1b[8~", {E, 0x47, E, 0x47, E, 0x4F, E, 0x4F}},
    {"vt220_ins_del", "\x1b[2~\x1b[3~", {E, 0x52, E, 0x53}},
    {"vt220_pages", "\x1b[5~\x1b[6~", {E, 0x49, E, 0x51}},
    {"vt220_f1_f5",
     "\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~",
     {0, 0x3B, 0, 0x3C, 0, 0x3D, 0, 0x3E, 0, 0x3F}},
    {"vt220_f6_f10",
     "\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~",
     {0, 0x40, 0, 0x41, 0, 0x42, 0, 0x43, 0, 0x44}},
    {"vt220_f11_f12", "\x1b[23~\x1b[24~", {E, 0x85, E, 0x86}},
    {"linux_f1_f5",
     "\x1b[[A\x1b[[B\x1b[[C\x1b[[D\x1b[[E",
     {0, 0x3B, 0, 0x3C, 0, 0x3D, 0, 0x3E, 0, 0x3F}},
    {"modified_arrow", "\x1b[1;5A\x1b[1;2D", {E, 0x48, E, 0x4B}},
    {"modified_f1", "\x1b[1;2P\x1bO5P", {0, 0x3B, 0, 0x3B}},
    {"modified_tilde_keys", "\x1b[3;5~\x1b[24;2~", {E, 0x53, E, 0x86}},
    {"rxvt_modified",
     "\x1bOa\x1b[b\x1b[2^\x1b[3$\x1b[11@",
     {E, 0x48, E, 0x50, E, 0x52, E, 0x53, 0, 0x3B}},
    {"shift_tab", "\x1b[Z", {0, 0x0F}},
    {"alt_letters_are_their_scan_codes",
     "\x1bh\x1bH\x1bq\x1bm",
     {0, 0x23, 0, 0x23, 0, 0x10, 0, 0x32}},
    {"alt_digits_and_punctuation",
     "\x1b"
     "1\x1b"
     "0\x1b-\x1b=\x1b,\x1b/",
     {0, 0x78, 0, 0x81, 0, 0x82, 0, 0x83, 0, 0x33, 0, 0x35}},
    {"alt_enter_backspace_tab", "\x1b\r\x1b\x7f\x1b\t", {0, 0x1C, 0, 0x0E, 0, 0xA5}},
    {"alt_without_a_code_is_the_key", "\x1b\x01\x1b ", {1, ' '}},
    {"alt_arrow_rxvt_is_the_arrow", "\x1b\x1b[A", {E, 0x48}},
    {"alt_esc_then_letter", "\x1b\x1bh", {0, 0x01, 'h'}},
    {"unknown_tilde_dropped", "\x1b[99~x\x1b[16~y", {'x', 'y'}},
    {"unknown_final_dropped", "\x1b[E\x1bOE\x1b[[Z", {}},
    {"reports_dropped", "\x1b[?1;2c\x1b[>0;95;0c\x1b[12;40R", {}},
    {"size_reports_dropped", "\x1b[4;600;800t\x1b[6;20;10t", {}},
    {"graphics_answers_dropped",
     "\x1b_Gi=31;OK\x1b\\h\x1b_Gi=31;EINVAL:fghb\x07"
     "b",
     {'h', 'b'}},
    {"graphics_answer_cut_by_a_key", "\x1b_Gi=31;O\x1b[A", {E, 0x48}},
    {"intermediate_dropped", "\x1b[1 q!", {'!'}},
    {"overlong_dropped", "\x1b[1;2;3;4;5;6;7;8;9;10A.", {'.'}},
    {"huge_number_dropped", "\x1b[99999999999999~.", {'.'}},
    {"control_byte_breaks_sequence", "\x1b[5\x01", {1}},
    {"esc_restarts_sequence", "\x1b[1\x1b[B", {E, 0x50}},
    {"esc_bracket_then_control", "\x1b[\r", {0, 0x1A, 13}},
};
INSTANTIATE_TEST_SUITE_P(KeyDecoder, CompleteInput, testing::ValuesIn(kComplete),
                         [](const auto& info) { return std::string(info.param.name); });

// Input that ends mid-sequence: only time passing (flush) turns it into keys.
class UnfinishedInput : public testing::TestWithParam<Case> {};

TEST_P(UnfinishedInput, WaitsThenFlushes) {
  const Case& c = GetParam();
  KeyDecoder decoder;
  std::deque<int> out;
  decoder.Feed(c.bytes, out);
  EXPECT_TRUE(decoder.Pending());
  decoder.Flush(out);
  EXPECT_FALSE(decoder.Pending());
  EXPECT_EQ(std::vector<int>(out.begin(), out.end()), c.codes);
  EXPECT_EQ(decode_bytewise(c.bytes, true), c.codes);
}

const Case kUnfinished[] = {
    {"lone_esc", "\x1b", {27}},
    {"alt_esc", "\x1b\x1b", {0, 0x01}},
    {"alt_bracket", "\x1b[", {0, 0x1A}},
    {"alt_shift_o", "\x1bO", {0, 0x18}},
    {"letter_then_esc", "q\x1b", {'q', 27}},
    {"cut_sequence_dropped", "\x1b[1;5", {}},
    {"cut_linux_fn_dropped", "\x1b[[", {}},
    {"cut_graphics_answer_dropped", "\x1b_Gi=31;", {}},
    {"cut_graphics_answer_end_dropped", "\x1b_Gi=31;OK\x1b", {}},
};
INSTANTIATE_TEST_SUITE_P(KeyDecoder, UnfinishedInput, testing::ValuesIn(kUnfinished),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyDecoder, FlushBetweenReadsEndsTheWait) {
  KeyDecoder decoder;
  std::deque<int> out;
  decoder.Feed("\x1b", out);
  decoder.Flush(out);
  decoder.Feed("[A", out);
  EXPECT_EQ(std::vector<int>(out.begin(), out.end()), (std::vector<int>{27, '[', 'A'}))
      << "a lone Esc given up on stays Esc";
}

// A watcher (a display acting on F12 in a terminal) sees each two-code key,
// whatever sequence sends it, and keeps those it takes out of the codes;
// characters never reach it.
TEST(KeyDecoder, AWatcherSeesTwoCodeKeysAndTakesOutThoseItWants) {
  struct Seen {
    std::vector<std::pair<int, int>> keys;
  } seen;
  const auto watch = [](int prefix, int scan, void* context) {
    static_cast<Seen*>(context)->keys.emplace_back(prefix, scan);
    return prefix == E && scan == 0x86;
  };
  KeyDecoder decoder;
  std::deque<int> out;
  decoder.Watch(watch, &seen);
  decoder.Feed("a\x1b[24~\x1b[24;2~\x1b[23~b\xe0", out);
  EXPECT_EQ(std::vector<int>(out.begin(), out.end()), (std::vector<int>{'a', E, 0x85, 'b', 0xE0}));
  EXPECT_EQ(seen.keys, (std::vector<std::pair<int, int>>{{E, 0x86}, {E, 0x86}, {E, 0x85}}));
  decoder.Watch(nullptr, nullptr);
  out.clear();
  decoder.Feed("\x1b[24~", out);
  EXPECT_EQ(std::vector<int>(out.begin(), out.end()), (std::vector<int>{E, 0x86}));
  EXPECT_EQ(seen.keys.size(), 3u);
}

bool is_valid_code(int code) {
  return code >= 0 && code <= 255;
}

// Any final byte of a well-formed sequence gives a whole key or nothing, never stray bytes.
TEST(KeyDecoder, WellFormedSequencesNeverLeak) {
  for (int final_byte = 0x40; final_byte <= 0x7E; ++final_byte) {
    for (std::string intro : {"\x1b[", "\x1b[1;5", "\x1bO"}) {
      if (intro == "\x1b[" && final_byte == '[') continue;  // linux console prefix
      std::vector<int> codes = decode_whole(intro + char(final_byte), true);
      ASSERT_TRUE(codes.empty() || (codes.size() == 2 && (codes[0] == 0 || codes[0] == E)))
          << "intro " << intro.substr(1) << " final " << final_byte << " gave " << codes.size()
          << " codes";
    }
  }
}

TEST(KeyDecoder, AnyBytesGiveOnlyByteCodes) {
  for (int a = 0; a <= 0xFF; ++a) {
    for (std::string prefix : {"", "\x1b", "\x1b[", "\x1bO", "\x1b[[", "\x1b[1;"}) {
      for (int b : {0, 0x1B, int('A'), int('~'), 0x7F, 0xFF}) {
        std::string bytes = prefix + char(a) + char(b);
        for (int code : decode_whole(bytes, true))
          ASSERT_TRUE(is_valid_code(code)) << "bytes " << a << "," << b << " gave " << code;
      }
    }
  }
  unsigned state = 12345;  // a fixed pseudo-random stream, all byte values
  std::string noise;
  for (int i = 0; i < 100000; ++i) {
    state = state * 1103515245u + 12345u;
    noise += char(state >> 24);
  }
  for (int code : decode_whole(noise, true)) ASSERT_TRUE(is_valid_code(code));
}

}  // namespace
