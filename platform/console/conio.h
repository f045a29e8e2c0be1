// The old console runtime's keyboard functions. On Windows these are the runtime's own (this
// header cannot include the runtime's <conio.h>: it would find itself first); elsewhere this
// layer provides them over a POSIX terminal.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The board's library exports these too: its window feeds the same queue.
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

// Waits for one key and returns its code, without echo. Extended keys come as
// two codes: 0 or 0xE0, then the key's scan code. On POSIX, -1 at once when
// no key is queued and standard input has ended.
int _getch(void);
// Non-zero when a key is waiting; does not take it.
int _kbhit(void);

// Non-zero once standard input has ended or failed: no key will come from it
// again (a window may still queue keys).
int console_input_ended(void);

// Queues one key code as if typed on the console: how a window hands its keys
// to the program. Codes as _getch returns them.
void console_queue_key(int code);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif
