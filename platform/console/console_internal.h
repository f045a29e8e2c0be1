#pragma once

// Forgets queued keys and any half-read sequence and looks at standard input afresh, as at
// start-up, except that terminal settings are not touched again. For tests that replace
// standard input in a child process.
void ConsoleReset();
