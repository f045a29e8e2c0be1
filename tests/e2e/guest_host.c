/* A host program of someone else's that links the board's library: it does
 * the steps named on its command line, in order, and reports on standard
 * error (standard input and output are the terminal the test drives).
 *
 *   report    the signals whose handler is not the default, and its threads
 *             (GLib's idle pool threads aside)
 *   handlers  installs its own SIGINT (plain) and SIGTERM (SA_SIGINFO)
 *             handlers, which report whether the terminal echoes as they
 *             run, write "[handler]" on the terminal, and return
 *   init, open, shutdown
 *             grLibInit; a display opened (as SOFTBOARD_DISPLAY says) and one
 *             frame shown; grLibShutdown
 *   keys      _kbhit, as a program polling its keyboard
 *   wait      says "waiting" and waits for its handler to have run, then
 *             reports whether the terminal echoes
 *   mine      whether its handlers are still the ones installed
 *   line      prints "type: ", reads a line with fgets, prints it back */
#include <dirent.h>
#ifdef GUEST_CONTROL
/* The same program without the library, linked to the libraries it links:
 * what the process holds without us (a preloaded library's thread, say). */
static void grLibInit(void) {}
static void grLibShutdown(void) {}
static int Open(void) {
  return 0;
}
static int _kbhit(void) {
  return 0;
}
#else
#include <conio.h>
#include <grlib.h>
#endif
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t handled = 0;

static int Echoes(void) {
  struct termios now;
  return tcgetattr(STDIN_FILENO, &now) == 0 && (now.c_lflag & ECHO) != 0;
}

/* Async-signal-safe: write and tcgetattr. */
static void Say(const char* text) {
  ssize_t n = write(STDERR_FILENO, text, strlen(text));
  (void)n;
}

static void Report(int sig) {
  char line[80];
  const char* echo = Echoes() ? "on" : "off";
  size_t at = 0;
  const char* name = sig == SIGINT    ? "handler SIGINT echo="
                     : sig == SIGTERM ? "handler SIGTERM echo="
                                      : "handler without its siginfo echo=";
  ssize_t n;
  while (*name) line[at++] = *name++;
  while (*echo) line[at++] = *echo++;
  line[at++] = '\n';
  n = write(STDOUT_FILENO, "[handler]", 9);
  (void)n;
  n = write(STDERR_FILENO, line, at);
  (void)n;
  handled = 1;
}

static void OnInterrupt(int sig) {
  Report(sig);
}

static void OnTerminate(int sig, siginfo_t* info, void* context) {
  (void)context;
  Report(info != NULL && info->si_signo == sig ? sig : 0);
}

static void InstallHandlers(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, NULL);
  action.sa_sigaction = OnTerminate;
  action.sa_flags = SA_SIGINFO;
  sigaction(SIGTERM, &action, NULL);
}

/* GLib's idle pool threads (chafa's, named "pool") are GLib's: the terminal
 * display asks it to end those idle at close, but one still finishing its
 * last task then stays idle until GLib's own timeout. */
static int IsGlibPool(const char* task) {
  char path[300], name[32] = "";
  FILE* comm;
  snprintf(path, sizeof path, "/proc/self/task/%s/comm", task);
  comm = fopen(path, "r");
  if (comm == NULL) return 0;
  if (!fgets(name, sizeof name, comm)) name[0] = '\0';
  fclose(comm);
  return strncmp(name, "pool", 4) == 0;
}

static void ReportProcess(void) {
  int sig, i, threads = 0;
  DIR* tasks = opendir("/proc/self/task");
  struct dirent* entry;
  fprintf(stderr, "handlers:");
  for (sig = 1; sig < NSIG; sig++) {
    struct sigaction now;
    if (sigaction(sig, NULL, &now) == 0 && now.sa_handler != SIG_DFL) fprintf(stderr, " %d", sig);
  }
  for (i = 0; tasks != NULL && i < 100; i++) { /* a thread told to stop has a moment to */
    threads = 0;
    rewinddir(tasks);
    while ((entry = readdir(tasks)) != NULL)
      threads += entry->d_name[0] != '.' && !IsGlibPool(entry->d_name);
    if (threads == 1) break;
    usleep(10000);
  }
  if (tasks) closedir(tasks);
  fprintf(stderr, " threads: %d\n", threads);
}

#ifndef GUEST_CONTROL
static int Open(void) {
  GrHwConfiguration hardware;
  if (!grSstQueryHardware(&hardware)) return 0;
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                    GR_ORIGIN_UPPER_LEFT, 2, 1))
    return 0;
  grBufferClear(0xFF0000FFu, 255, 0);
  grBufferSwap(0);
  return 1;
}
#endif

static const char* Mine(void) {
  struct sigaction interrupt, terminate;
  sigaction(SIGINT, NULL, &interrupt);
  sigaction(SIGTERM, NULL, &terminate);
  return interrupt.sa_handler == OnInterrupt && terminate.sa_sigaction == OnTerminate ? "yes"
                                                                                      : "no";
}

int main(int argc, char** argv) {
  int i;
  char line[256];
  for (i = 1; i < argc; i++) {
    const char* step = argv[i];
    if (strcmp(step, "report") == 0) {
      ReportProcess();
    } else if (strcmp(step, "handlers") == 0) {
      InstallHandlers();
    } else if (strcmp(step, "init") == 0) {
      grLibInit();
    } else if (strcmp(step, "open") == 0) {
      if (!Open()) return 3;
    } else if (strcmp(step, "shutdown") == 0) {
      grLibShutdown();
    } else if (strcmp(step, "keys") == 0) {
      _kbhit();
    } else if (strcmp(step, "wait") == 0) {
      Say("waiting\n");
      while (!handled) usleep(10000);
      Say(Echoes() ? "back echo=on\n" : "back echo=off\n");
    } else if (strcmp(step, "mine") == 0) {
      fprintf(stderr, "mine: %s\n", Mine());
    } else if (strcmp(step, "line") == 0) {
      fputs("type: ", stdout);
      fflush(stdout);
      if (!fgets(line, sizeof line, stdin)) return 4;
      line[strcspn(line, "\r\n")] = '\0';
      printf("got [%s]\n", line);
      fflush(stdout);
    } else {
      fprintf(stderr, "unknown step %s\n", step);
      return 2;
    }
  }
  return 0;
}
