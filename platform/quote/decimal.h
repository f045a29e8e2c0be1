// Numbers from outside (settings, file headers, arguments), read by one
// grammar: plain decimal digits, with at most one point between digits ("2",
// "02", "2.25"); no sign, exponent, hex, spaces or anything a locale would
// add. Anything else is refused, never half read.
#pragma once

#include <cstdint>
#include <string_view>

namespace quote {

bool ParseDecimal(std::string_view text, double* out);

// Digits only (no point), at most `max`.
bool ParseDigits(std::string_view text, uint64_t max, uint64_t* out);

}  // namespace quote
