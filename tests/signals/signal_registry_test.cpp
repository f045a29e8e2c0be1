// The signal registry in a child process of its own each time: the order of
// the clean-ups, and what becomes of the program's own handlers, before,
// after and without ours.
#include "signal_registry.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

int report_fd = -1;  // the child's end of the pipe

// Async-signal-safe: what the child's clean-ups and handlers say.
void Say(const char* text) {
  [[maybe_unused]] ssize_t n = write(report_fd, text, std::strlen(text));
}

struct Ran {
  int status = -1;
  std::string said;
};

// Runs body in a child, in a process group of its own (so that it can be
// stopped), with the signals at their defaults; what it said and how it ended.
Ran InChild(const std::function<void()>& body, bool stop_and_continue = false) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    close(fds[0]);
    report_fd = fds[1];
    for (int sig = 1; sig < NSIG; sig++) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    body();
    _exit(0);
  }
  close(fds[1]);
  Ran ran;
  int status = 0;
  if (stop_and_continue) {
    EXPECT_EQ(waitpid(pid, &status, WUNTRACED), pid);
    EXPECT_TRUE(WIFSTOPPED(status)) << status;
    kill(pid, SIGCONT);
  }
  for (;;) {
    pollfd in{fds[0], POLLIN, 0};
    if (poll(&in, 1, 10000) <= 0) break;
    char buffer[256];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    ran.said.append(buffer, size_t(n));
  }
  close(fds[0]);
  waitpid(pid, &ran.status, 0);
  return ran;
}

bool DiedOf(const Ran& ran, int sig) {
  return WIFSIGNALED(ran.status) && WTERMSIG(ran.status) == sig;
}
bool Ended(const Ran& ran) {
  return WIFEXITED(ran.status) && WEXITSTATUS(ran.status) == 0;
}

// A clean-up that says its letter at the end (and while stopped), and the
// capital when the program goes on.
template <char kLetter>
signals::Cleanup Saying() {
  static const char end[] = {kLetter, 0};
  static const char resume[] = {char(kLetter - 'a' + 'A'), 0};
  const auto say_end = [](void*) { Say(end); };
  const auto say_resume = [](void*) { Say(resume); };
  return {say_end, say_end, say_resume, nullptr};
}

bool Is(int sig, void (*handler)(int)) {
  struct sigaction now {};
  sigaction(sig, nullptr, &now);
  return now.sa_handler == handler;
}

TEST(SignalRegistry, WithTheDefaultActionTheCleanUpsRunNewestFirstAndTheSignalEndsTheProcess) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGRTMIN + 1}) {
    const Ran ran = InChild([sig] {
      signals::Add(Saying<'a'>());
      signals::Add(Saying<'b'>());
      raise(sig);
      Say("survived");
    });
    EXPECT_TRUE(DiedOf(ran, sig)) << sig << ": " << ran.status;
    EXPECT_EQ(ran.said, "ba") << sig;
  }
}

TEST(SignalRegistry, AtExitTheCleanUpsRunOnce) {
  const Ran ran = InChild([] {
    signals::Add(Saying<'a'>());
    std::exit(0);
  });
  EXPECT_TRUE(Ended(ran));
  EXPECT_EQ(ran.said, "a");
}

// The program's earlier handler gets the signal after the clean-ups, with
// its siginfo; it returns, so the program goes on and the clean-ups take
// things again, oldest first.
TEST(SignalRegistry, TheProgramsEarlierHandlerRunsAfterTheCleanUpsWithItsSiginfo) {
  const Ran ran = InChild([] {
    struct sigaction action {};
    action.sa_sigaction = [](int, siginfo_t* info, void*) {
      Say(info->si_value.sival_int == 42 && info->si_code == SI_QUEUE ? "h42" : "h?");
    };
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGUSR1, &action, nullptr);
    signals::Add(Saying<'a'>());
    signals::Add(Saying<'b'>());
    sigqueue(getpid(), SIGUSR1, sigval{42});
    Say(".");
  });
  EXPECT_TRUE(Ended(ran)) << ran.status;
  EXPECT_EQ(ran.said, "bah42AB.");
}

// A handler installed with SA_RESETHAND runs once, as it would have; the
// next signal takes the default action.
TEST(SignalRegistry, AnEarlierOneShotHandlerRunsOnce) {
  const Ran ran = InChild([] {
    struct sigaction action {};
    action.sa_handler = [](int) { Say("h"); };
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGUSR2, &action, nullptr);
    signals::Add(Saying<'a'>());
    raise(SIGUSR2);
    raise(SIGUSR2);
    Say("survived");
  });
  EXPECT_TRUE(DiedOf(ran, SIGUSR2)) << ran.status;
  EXPECT_EQ(ran.said, "ahAa");
}

TEST(SignalRegistry, AnIgnoredSignalStaysIgnored) {
  const Ran ran = InChild([] {
    signal(SIGHUP, SIG_IGN);
    signals::Add(Saying<'a'>());
    if (Is(SIGHUP, SIG_IGN)) Say("ignored");
    raise(SIGHUP);
    Say(".");
  });
  EXPECT_TRUE(Ended(ran)) << ran.status;
  EXPECT_EQ(ran.said, "ignored.");
}

// The last one out puts back what was there, where its own handler is still
// installed; one the program installed meanwhile stays, and is not
// replaced when clean-ups come again.
TEST(SignalRegistry, HandlersInstalledLaterAreLeftAloneAndTheEarlierOnesComeBack) {
  const Ran ran = InChild([] {
    static void (*const earlier)(int) = [](int) { Say("e"); };
    static void (*const later)(int) = [](int) { Say("l"); };
    signal(SIGUSR1, earlier);
    const int a = signals::Add(Saying<'a'>());
    const int b = signals::Add(Saying<'b'>());
    signal(SIGUSR2, later);
    signals::Remove(b);
    raise(SIGUSR2);  // the program's own handler, alone
    raise(SIGUSR1);  // the clean-up left, then the earlier handler
    signals::Remove(a);
    if (Is(SIGUSR1, earlier) && Is(SIGUSR2, later) && Is(SIGTERM, SIG_DFL) &&
        Is(SIGTSTP, SIG_DFL) && Is(SIGCONT, SIG_DFL))
      Say("restored");
    raise(SIGUSR1);  // nothing of ours any more
    Say(".");
  });
  EXPECT_TRUE(Ended(ran)) << ran.status;
  EXPECT_EQ(ran.said, "laeArestorede.");
}

// Ctrl+Z: the clean-ups put things back, the process stops, and when it is
// continued they take them again (once after the stop, once for SIGCONT).
TEST(SignalRegistry, AStopPutsBackAndContinuingTakesAgain) {
  const Ran ran = InChild(
      [] {
        signals::Add(Saying<'a'>());
        raise(SIGTSTP);
        Say(".");
      },
      true);
  EXPECT_TRUE(Ended(ran)) << ran.status;
  EXPECT_EQ(ran.said, "aAA.");
}

// A SIGCONT and a SIGTERM delivered to two threads at once (a shell's `kill`
// of a stopped job): the ending waits for the taking again to finish, and
// nothing takes things again once the process is ending, so the terminal is
// left as it was put back.
TEST(SignalRegistry, HandlersOnTwoThreadsTakeTurnsAndNothingResumesAfterTheEnd) {
  const Ran ran = InChild([] {
    static const signals::Cleanup slow{
        [](void*) { Say("e"); }, nullptr,
        [](void*) {
          const timespec pause = {0, 200000000};  // long enough for the SIGTERM to land
          nanosleep(&pause, nullptr);
          Say("R");
        },
        nullptr};
    signals::Add(slow);
    // Each signal to a thread of its own: the main thread takes SIGTERM only,
    // the other SIGCONT only.
    sigset_t term, cont;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigemptyset(&cont);
    sigaddset(&cont, SIGCONT);
    pthread_sigmask(SIG_BLOCK, &cont, nullptr);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    std::thread other([cont] {
      pthread_sigmask(SIG_UNBLOCK, &cont, nullptr);
      const timespec wait = {2, 0};
      nanosleep(&wait, nullptr);
    });
    kill(getpid(), SIGCONT);
    const timespec pause = {0, 50000000};
    nanosleep(&pause, nullptr);  // the other thread is in its resume now
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    kill(getpid(), SIGTERM);
    kill(getpid(), SIGCONT);
    other.join();
    Say("survived");
  });
  EXPECT_TRUE(DiedOf(ran, SIGTERM)) << ran.status;
  EXPECT_EQ(ran.said, "Re") << "put back while being taken again, or taken again after the end";
}

TEST(SignalRegistry, AFullTableSaysSo) {
  const Ran ran = InChild([] {
    int last = 0;
    for (int i = 0; i < 64 && last >= 0; i++) last = signals::Add({});
    Say(last == -1 ? "full" : "endless");
  });
  EXPECT_EQ(ran.said, "full");
}

}  // namespace
