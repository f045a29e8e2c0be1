#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "child_process.h"
#include "conio.h"
#include "console_keys.h"

namespace {

std::string codes_until_end() {
  std::string text;
  for (int code; (code = _getch()) != -1;) text += std::to_string(code) + " ";
  return text;
}

// Each call in its own statement: the operands of + run in no set order.
std::string num(int n) {
  return std::to_string(n) + " ";
}

// Standard input as a pipe already holding `bytes` and closed by the writer.
int finished_pipe(std::string_view bytes) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  if (write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return -1;
  close(fds[1]);
  return fds[0];
}

TEST(ConsoleQueue, WindowKeysComeOutInOrderAndKbhitDoesNotTakeThem) {
  std::string got = run_in_child(finished_pipe(""), [] {
    console_queue_key('a');
    console_queue_key(0xE0);
    console_queue_key(0x48);
    console_queue_key(27);
    std::string text = num(_kbhit());
    text += num(_kbhit());
    for (int i = 0; i < 4; ++i) text += num(_getch());
    return text += num(_kbhit());
  });
  EXPECT_EQ(got, "1 1 97 224 72 27 0 ");
}

TEST(ConsoleQueue, CodesOutsideOneByteAreIgnored) {
  std::string got = run_in_child(finished_pipe(""), [] {
    console_queue_key(-1);
    console_queue_key(256);
    std::string text = num(_kbhit());
    return text += num(_getch());
  });
  EXPECT_EQ(got, "0 -1 ");
}

// What comes to the queue past a few dozen keys at once (a terminal that
// answers its questions with a page of garbage, a flood of window keys) is
// dropped, but an Esc always gets in, at the end, and a key's two codes go
// in together or not at all.
TEST(ConsoleQueue, IsBoundedButAlwaysTakesEsc) {
  std::string got = run_in_child(finished_pipe("\x1b"), [] {
    std::string flood(4000, 'x');
    for (size_t i = 0; i < flood.size(); i += 7) flood[i] = '\x1b';  // Alt+x: two codes
    ConsoleFeedInput(flood + "\x1b[A");
    int codes = 0, last = -1;
    for (int code; (code = _getch()) != -1; last = code) {
      codes++;
      if (code == 0 && _getch() != 0x2D) return std::string("a prefix without its scan code");
    }
    std::string text = num(codes <= 64) + num(codes >= 32) + num(last);
    for (int i = 0; i < 200; i++) console_queue_key(i % 2 ? 0x48 : 0xE0);
    console_queue_key(27);
    console_queue_key(27);
    codes = 0;
    while (_kbhit()) {
      const int code = _getch();
      codes++;
      if (code == 0xE0 && _getch() != 0x48) return std::string("a window key split");
      last = code;
    }
    return text + num(codes <= 64) + num(last);
  });
  EXPECT_EQ(got, "1 1 27 1 27 ") << "the Esc read after the flood, then the window's";
}

// A host drawing on one thread (a window's keys are queued from its swaps)
// while another reads keys: every key read is one queued, in order, whole.
TEST(ConsoleQueue, KeysQueuedOnOneThreadAndReadOnAnotherArriveInOrder) {
  std::string got = run_in_child(finished_pipe(""), [] {
    constexpr int kKeys = 20000;
    std::atomic<bool> done = false;
    std::thread window([&] {
      for (int i = 0; i < kKeys; i++) {
        console_queue_key(0xE0);
        console_queue_key(0x48 + i % 4);
      }
      done = true;
    });
    int read = 0, last = -1, faults = 0;
    while (!done || _kbhit()) {
      if (!_kbhit()) continue;
      if (_getch() != 0xE0) faults++;
      const int scan = _getch();
      if (scan < 0x48 || scan > 0x4B) faults++;
      last = scan;
      read++;
    }
    window.join();
    return num(faults) + num(read > 0) + num(read <= kKeys) + num(last != -1);
  });
  EXPECT_EQ(got, "0 1 1 1 ");
}

// Keys typed faster than they are taken are not lost: they wait in the
// terminal's own buffer, and the queue takes them as it has room.
TEST(PipeInput, AFastTypistLosesNoKey) {
  std::string keys;
  for (int i = 0; i < 1000; i++) keys += char('a' + i % 26);
  std::string got = run_in_child(finished_pipe(keys + "\x1b[A\x1b"), [] {
    std::string text;
    for (int code; (code = _getch()) != -1;) text += char(code);
    return text;
  });
  EXPECT_EQ(got.size(), 1003u);
  EXPECT_EQ(got.substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(got.substr(1000), "\xe0H\x1b");
}

TEST(PipeInput, BytesAreKeysAndEndOfInputEndsTheWait) {
  std::string got = run_in_child(finished_pipe(" h\x1b[A\rX\x1b"), [] {
    std::string text = num(console_input_ended());
    text += codes_until_end() + "| ";
    text += num(console_input_ended());
    text += num(_kbhit());
    text += num(_getch()) + "| ";
    console_queue_key('q');  // the window still delivers keys after the pipe ended
    text += num(_kbhit());
    text += num(_getch());
    return text += num(_getch());
  });
  EXPECT_EQ(got, "0 32 104 224 72 13 88 27 | 1 0 -1 | 1 113 -1 ");
}

TEST(PipeInput, FileIsReadLikeAPipe) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("ok\x1b", file);
  std::fflush(file);
  std::rewind(file);
  EXPECT_EQ(run_in_child(dup(fileno(file)), codes_until_end), "111 107 27 ");
  std::fclose(file);
}

TEST(PipeInput, ClosedStandardInputIsAtEnd) {
  std::string got = run_in_child(-1, [] {
    std::string text = num(_kbhit());
    return text += num(_getch());
  });
  EXPECT_EQ(got, "0 -1 ");
}

// The writer keeps the pipe open: a lone Esc must still arrive, through _kbhit polled as the
// demo polls it and through a waiting _getch, and an empty open pipe must not block _kbhit.
TEST(PipeInput, LoneEscArrivesWhileThePipeStaysOpen) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int writer = fds[1];
  std::string got = run_in_child(fds[0], [writer] {
    std::string text = num(_kbhit());
    if (write(writer, "\x1b", 1) != 1) return std::string("write failed");
    int seen = 0;
    for (int frame = 0; frame < 1000 && !(seen = _kbhit()); ++frame)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    text += num(seen);
    text += num(_getch());
    text += num(_kbhit());
    if (write(writer, "\x1b", 1) != 1) return std::string("write failed");
    return text += num(_getch());
  });
  close(writer);
  EXPECT_EQ(got, "0 1 27 0 27 ");
}

}  // namespace
