// Text from outside (paths, setting values, file contents) made safe to print
// on one line of a terminal. Every message that shows such text goes through
// here, so no byte of it can move the cursor, change colours or fake a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quote {

// The default cut: a message stays a line, whatever it quotes.
constexpr size_t kMaxBytes = 256;

// Double-quoted, with " and \ escaped. Shown as \xNN, byte by byte: C0
// controls, DEL, C1 controls (U+0080 to U+009F), the Unicode characters that
// break or reorder a line (U+2028, U+2029, the bidirectional marks, embeddings,
// overrides and isolates) and every byte that is not part of valid UTF-8.
// Text longer than `max_bytes` is cut at a character boundary and marked "...".
std::string Quote(std::string_view text, size_t max_bytes = kMaxBytes);
// Escaped and cut like Quote, without the quotes (" and \ stay as they are).
std::string Escape(std::string_view text, size_t max_bytes = kMaxBytes);

}  // namespace quote
