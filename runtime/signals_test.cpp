#include "runtime/signals.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// The signals after which the run removes its new files: those whose
// default action ends the process and that can be caught, SIGXFSZ aside.
TEST(Signals, SignalsThatEndTheRun) {
  const std::set<int> ending = {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT,
                                SIGBUS,  SIGFPE,    SIGUSR1, SIGSEGV, SIGUSR2,   SIGPIPE,
                                SIGALRM, SIGTERM,   SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF,
                                SIGIO,   SIGPWR,    SIGSYS};
  for (int sig = 1; sig < SIGRTMIN; ++sig)
    EXPECT_EQ(rt::signalEndsTheRun(sig), ending.count(sig) == 1) << sig << " " << strsignal(sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) EXPECT_TRUE(rt::signalEndsTheRun(sig)) << sig;
  for (int sig : {0, SIGKILL, SIGSTOP, SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG,
                  SIGWINCH, SIGXFSZ, SIGRTMAX + 1})
    EXPECT_FALSE(rt::signalEndsTheRun(sig)) << sig;
}

// The registry of files to remove on a signal takes and frees entries.
TEST(Signals, TemporaryFileEntries) {
  std::vector<int> entries;
  for (int i = 0; i < 64; ++i) entries.push_back(rt::registerTempFile(AT_FDCWD, "none" + std::to_string(i)));
  EXPECT_EQ(std::count(entries.begin(), entries.end(), -1), 0);
  EXPECT_EQ(rt::registerTempFile(AT_FDCWD, "one-too-many"), -1);
  rt::unregisterTempFile(entries[5]);
  EXPECT_EQ(rt::registerTempFile(AT_FDCWD, "again"), entries[5]);
  for (int e : entries) rt::unregisterTempFile(e);
  rt::unregisterTempFile(-1);
  EXPECT_GE(rt::registerTempFile(AT_FDCWD, "free"), 0);
  rt::unregisterTempFile(0);
}

}  // namespace
