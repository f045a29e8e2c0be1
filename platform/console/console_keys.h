// What a display that shows its frames on the console's own terminal needs of
// the console's keys (POSIX only).
#pragma once

#include <string_view>

// Bytes the display read from the terminal while it waited for the answers to
// its questions: keys typed meanwhile, decoded as if the console had read them.
void ConsoleFeedInput(std::string_view bytes);

// A two-code key (prefix, scan) the display acts on itself, such as F12 for a
// screenshot: from now on it is counted rather than queued. (0, 0): none.
void ConsoleClaimKey(int prefix, int scan);

// Claimed keys that came since the last call.
int ConsoleTakeClaimedKeys();
