// Text from outside (paths, setting values) made safe to print on one line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace softboard {

// Double-quoted, with " and \ escaped and control bytes as \xNN; text longer
// than `max_bytes` (0: no limit) is cut and marked with "...".
std::string Quote(std::string_view text, size_t max_bytes = 0);
// Control bytes as \xNN and cut like Quote, without the quotes.
std::string Escape(std::string_view text, size_t max_bytes = 0);

}  // namespace softboard
