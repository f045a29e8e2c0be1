#include "quote.h"

#include <cstdint>
#include <cstdio>

namespace quote {
namespace {

bool Continuation(std::string_view s, size_t i) {
  return i < s.size() && (uint8_t(s[i]) & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence that starts s[at] (no
// overlong forms, surrogates or values past U+10FFFF), and its code point;
// 0 when the byte starts none.
size_t Sequence(std::string_view s, size_t at, char32_t* code) {
  const uint8_t lead = uint8_t(s[at]);
  if (lead < 0x80) return (*code = lead, 1);
  size_t n = 0;
  uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + 1 >= s.size() || uint8_t(s[at + 1]) < low || uint8_t(s[at + 1]) > high) return 0;
  char32_t value = lead & (0x7F >> n);
  for (size_t i = 1; i < n; i++) {
    if (!Continuation(s, at + i)) return 0;
    value = value << 6 | (uint8_t(s[at + i]) & 0x3F);
  }
  *code = value;
  return n;
}

// Characters that act on the terminal or on how the line reads.
bool Hidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AddHex(std::string_view bytes, std::string* out) {
  for (const char b : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(uint8_t(b)));
    *out += hex;
  }
}

std::string Printable(std::string_view text, size_t max_bytes, bool in_quotes) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    char32_t code = 0;
    const size_t n = Sequence(text, at, &code);
    const size_t length = n == 0 ? 1 : n;
    if (at + length > max_bytes) break;
    const std::string_view piece = text.substr(at, length);
    if (n == 0 || Hidden(code)) {
      AddHex(piece, &out);
    } else {
      if (in_quotes && (code == '"' || code == '\\')) out += '\\';
      out += piece;
    }
    at += length;
  }
  return at < text.size() ? out + "..." : out;
}

}  // namespace

std::string Quote(std::string_view text, size_t max_bytes) {
  std::string quoted = "\"";
  quoted += Printable(text, max_bytes, true);
  quoted += '"';
  return quoted;
}

std::string Escape(std::string_view text, size_t max_bytes) {
  return Printable(text, max_bytes, false);
}

}  // namespace quote
