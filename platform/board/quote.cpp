#include "quote.h"

#include <cstdio>

namespace softboard {
namespace {

std::string Printable(std::string_view text, size_t max_bytes, bool in_quotes) {
  const bool cut = max_bytes > 0 && text.size() > max_bytes;
  if (cut) text = text.substr(0, max_bytes);
  std::string out;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (in_quotes && (c == '"' || c == '\\')) out += '\\';
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return cut ? out + "..." : out;
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

}  // namespace softboard
