// How the board writes where the process's own descriptors lead: standard
// error, and a trace that may be a pipe. Whatever the process was started
// with (descriptors closed, a reader that goes away), the board's text goes
// where it is meant to or nowhere, and never ends the program.
#pragma once

#include <string>

namespace softboard {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. A file
// opened later (the trace) would otherwise take the lowest free number and
// receive what the program and the board write to standard output or error.
void OpenStandardDescriptors();

// One line on standard error, "softboard: " and `line`. Text from outside in
// it must already be quoted (quote.h).
void Complain(const std::string& line);

}  // namespace softboard
