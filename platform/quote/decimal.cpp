#include "decimal.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>

namespace quote {

bool ParseDecimal(std::string_view text, double* out) {
  bool point = false;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '.' && !point && i > 0 && i + 1 < text.size()) {
      point = true;
    } else if (text[i] < '0' || text[i] > '9') {
      return false;
    }
  }
  if (text.empty()) return false;
#if defined(__cpp_lib_to_chars)
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *out, std::chars_format::fixed);
  return error == std::errc() && stop == end;
#else
  // A library without from_chars for doubles (the web page's): the text is
  // digits and a point only, and the page never leaves the C locale.
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  *out = std::strtod(copy.c_str(), &end);
  return errno == 0 && end == copy.c_str() + copy.size();
#endif
}

bool ParseDigits(std::string_view text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = uint64_t(c - '0');
    if (digit > max || v > (max - digit) / 10) return false;  // past max, never past 64 bits
    v = v * 10 + digit;
  }
  *out = v;
  return true;
}

}  // namespace quote
