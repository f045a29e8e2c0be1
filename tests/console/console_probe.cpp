#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "conio.h"

// A program using the console as the demo does: says "ready" once it has looked for a key,
// prints each key code on its own line until 'q', then leaves by returning from main or, given
// "exit", by exit(1).
int main(int argc, char** argv) {
  _kbhit();  // the console takes the terminal at its first key read
  std::printf("ready\n");
  std::fflush(stdout);
  for (int code; (code = _getch()) != 'q';) {
    if (code == -1) return 2;
    std::printf("%d\n", code);
    std::fflush(stdout);
  }
  if (argc > 1 && std::strcmp(argv[1], "exit") == 0) std::exit(1);
  return 0;
}
