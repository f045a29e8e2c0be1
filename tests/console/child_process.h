#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

// Reads fd until what came ends with `end` (or until end of file when `end` is empty), for at
// most timeout_ms; returns what came.
std::string read_until(int fd, std::string_view end, int timeout_ms);

// Waits at most timeout_ms for pid to end (or, with WUNTRACED in flags, to stop) and returns
// its wait status; on timeout kills it and returns -1.
int wait_for(pid_t pid, int timeout_ms, int flags = 0);

// Runs body in a forked child whose standard input is stdin_fd (closed when -1), after
// ConsoleReset(); stdin_fd is closed in the caller. Returns the text body returned, followed by a
// note if the child failed.
std::string run_in_child(int stdin_fd, const std::function<std::string()>& body);
