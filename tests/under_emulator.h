// Whether the tests run under a user-mode emulator (qemu-aarch64, for the
// arm64 build): the program is then the emulator's guest, so a limit on the
// process's memory binds the emulator too, and a death test cannot start
// the test program again by itself (no binfmt here).
#pragma once

#if defined(SOFTBOARD_TESTS_UNDER_EMULATOR)
constexpr bool kUnderEmulator = true;
#else
constexpr bool kUnderEmulator = false;
#endif

constexpr const char* kNotUnderEmulator =
    "not under a user-mode emulator: it limits the process's memory or starts the test "
    "program again, which reaches the emulator rather than the program";
