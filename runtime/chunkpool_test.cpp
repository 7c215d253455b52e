#include "runtime/chunkpool.h"

#include <gtest/gtest.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iterator>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/testsupport.h"

namespace {

using rt::ChunkPool;
using rt::ThreadShare;

TEST(ChunkPool, EveryChunkRunsOnceInEveryJob) {
  for (int threads : {1, 2, 3, 8}) {
    ChunkPool pool(threads);
    EXPECT_EQ(pool.threads(), threads);
    for (std::size_t nChunks : {0u, 1u, 2u, 7u, 1000u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(nChunks) + " chunks");
      std::vector<int> calls(nChunks, 0);
      // Many jobs in a row: a job that starts before the last one has ended,
      // or a worker that misses a job, shows as a count other than 1 (or as
      // a hang).
      for (int job = 0; job < 200; ++job) {
        std::fill(calls.begin(), calls.end(), 0);
        pool.run(nChunks, [&calls](std::size_t c) { ++calls[c]; });
        for (std::size_t c = 0; c < nChunks; ++c) ASSERT_EQ(calls[c], 1) << "chunk " << c;
      }
    }
  }
}

TEST(ChunkPool, JobAfterTheWorkersHaveGoneToSleep) {
  ChunkPool pool(4);
  for (int round = 0; round < 3; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<int> calls(64, 0);
    pool.run(calls.size(), [&calls](std::size_t c) { ++calls[c]; });
    for (int n : calls) ASSERT_EQ(n, 1);
  }
}

// A body may be a named object, const or not, as well as a temporary.
TEST(ChunkPool, NamedBodies) {
  ChunkPool pool(3);
  std::vector<int> calls(50, 0);
  const auto constBody = [&calls](std::size_t c) { ++calls[c]; };
  auto body = [&calls](std::size_t c) { calls[c] += 10; };
  pool.run(calls.size(), constBody);
  pool.run(calls.size(), body);
  for (std::size_t c = 0; c < calls.size(); ++c) ASSERT_EQ(calls[c], 11) << "chunk " << c;
}

TEST(ChunkPool, FailureOfTheFirstFailingChunkReachesTheCaller) {
  // Chunks 30, 7 and 50 throw (with several threads most likely in that
  // order): the caller gets 7's failure once every other chunk has run, and
  // the pool goes on with the next job.
  for (int threads : {1, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    ChunkPool pool(threads);
    std::vector<std::atomic<int>> calls(64);
    try {
      pool.run(calls.size(), [&calls](std::size_t c) {
        ++calls[c];
        if (c == 30) throw std::runtime_error("chunk 30");
        if (c == 7 || c == 50) {
          std::this_thread::sleep_for(std::chrono::milliseconds(c == 7 ? 5 : 20));
          throw std::runtime_error("chunk " + std::to_string(c));
        }
      });
      ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "chunk 7");
    }
    if (threads > 1) {
      for (std::size_t c = 0; c < calls.size(); ++c) EXPECT_EQ(calls[c].load(), 1) << "chunk " << c;
    }
    std::vector<int> again(64, 0);
    pool.run(again.size(), [&again](std::size_t c) { ++again[c]; });
    for (int n : again) ASSERT_EQ(n, 1);
  }
}

TEST(ChunkPool, OneThreadRunsOnTheCaller) {
  ChunkPool pool(1);
  EXPECT_EQ(pool.threads(), 1);
  const auto caller = std::this_thread::get_id();
  std::vector<std::size_t> order;
  pool.run(5, [&](std::size_t c) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    order.push_back(c);
  });
  EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

// The workers of a pool, found by a job whose chunks wait until every thread
// of the pool has taken one: their thread handles and system thread ids.
struct PoolThreads {
  std::vector<pthread_t> handles;
  std::vector<pid_t> ids;
};
std::optional<PoolThreads> workersOf(ChunkPool& pool) {
  const auto caller = pthread_self();
  const std::size_t all = static_cast<std::size_t>(pool.threads());
  std::mutex mutex;
  std::condition_variable arrived;
  PoolThreads found;
  std::size_t count = 0;
  bool complete = true;
  pool.run(all, [&](std::size_t) {
    std::unique_lock<std::mutex> lock(mutex);
    ++count;
    if (!pthread_equal(pthread_self(), caller)) {
      found.handles.push_back(pthread_self());
      found.ids.push_back(::gettid());
    }
    arrived.notify_all();
    if (!arrived.wait_for(lock, std::chrono::seconds(30), [&] { return count == all; })) {
      complete = false;
    }
  });
  if (!complete) return std::nullopt;
  return found;
}

// Holds the pool's workers with a signal that they take (the one of a bad
// system call, which the workers leave unblocked) until release(): a worker
// that the system does not run. The signal is sent once the workers sleep:
// a handler that waits must not interrupt a sanitizer's bookkeeping of an
// atomic operation, which another thread may need.
std::atomic<int> workersHeld{0};
std::atomic<bool> holdWorkers{false};
void holdWorker(int) {
  ++workersHeld;
  const timespec pause{0, 1000000};
  while (holdWorkers.load()) ::nanosleep(&pause, nullptr);
  --workersHeld;
}
class HeldWorkers {
 public:
  explicit HeldWorkers(const std::vector<pthread_t>& workers) {
    struct sigaction action {};
    action.sa_handler = holdWorker;
    sigemptyset(&action.sa_mask);
    ok_ = ::sigaction(SIGSYS, &action, &previous_) == 0;
    if (!ok_) return;
    holdWorkers.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const pthread_t w : workers) ::pthread_kill(w, SIGSYS);
    for (int i = 0; i < 30000 && workersHeld.load() < static_cast<int>(workers.size()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ok_ = workersHeld.load() == static_cast<int>(workers.size());
  }
  ~HeldWorkers() { release(); }
  bool ok() const { return ok_; }
  void release() {
    if (!holdWorkers.exchange(false)) return;
    while (workersHeld.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::sigaction(SIGSYS, &previous_, nullptr);
  }

 private:
  struct sigaction previous_ {};
  bool ok_ = false;
};

TEST(ChunkPool, JobEndsWhenItsChunksAreDoneWhileItsWorkersAreHeld) {
  // Workers that the system does not run (another program has the
  // processors) take no chunk: the caller takes them all, and every job
  // ends without waiting for them. Afterwards the workers go back to
  // waiting and take their share of later jobs.
  ChunkPool pool(4);
  const std::optional<PoolThreads> workers = workersOf(pool);
  ASSERT_TRUE(workers) << "the pool's threads did not all take a chunk";
  ASSERT_EQ(workers->handles.size(), 3u);
  HeldWorkers held(workers->handles);
  ASSERT_TRUE(held.ok()) << "the workers could not be held";

  // Should a job wait for its workers, the guard releases them after a
  // minute, and the test fails.
  std::mutex mutex;
  std::condition_variable ended;
  bool jobEnded = false, guardReleased = false;
  std::thread guard([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!ended.wait_for(lock, std::chrono::seconds(60), [&] { return jobEnded; })) {
      guardReleased = true;
      holdWorkers.store(false);
    }
  });
  const auto caller = pthread_self();
  std::vector<std::atomic<int>> byCaller(64), calls(64);
  constexpr int kJobs = 200;
  for (int job = 0; job < kJobs; ++job) {
    pool.run(calls.size(), [&](std::size_t c) {
      ++calls[c];
      if (pthread_equal(pthread_self(), caller)) ++byCaller[c];
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    });
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    jobEnded = true;
  }
  ended.notify_all();
  guard.join();
  EXPECT_FALSE(guardReleased) << "a job waited for workers that took no chunk";
  for (std::size_t c = 0; c < calls.size(); ++c) {
    EXPECT_EQ(calls[c].load(), kJobs) << "chunk " << c;
    EXPECT_EQ(byCaller[c].load(), kJobs) << "chunk " << c;
  }

  held.release();
  for (int job = 0; job < 50; ++job) {
    std::vector<int> again(64, 0);
    pool.run(again.size(), [&again](std::size_t c) { ++again[c]; });
    for (std::size_t c = 0; c < again.size(); ++c) ASSERT_EQ(again[c], 1) << "chunk " << c;
  }
}

// The machine that a pool which follows it sees in the test below: 8
// processors, and as many threads running as the test sets.
std::atomic<int> fakeRunning{1};
ThreadShare::Machine fakeMachine() { return {8, fakeRunning.load()}; }

// The threads that took a chunk of a job of 64 chunks of `work`, whose
// chunks take a while.
std::size_t threadsOfJob(ChunkPool& pool, std::size_t work) {
  std::mutex mutex;
  std::set<std::thread::id> seen;
  std::vector<int> calls(64, 0);
  pool.run(
      calls.size(),
      [&](std::size_t c) {
        ++calls[c];
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        const std::lock_guard<std::mutex> lock(mutex);
        seen.insert(std::this_thread::get_id());
      },
      work);
  for (std::size_t c = 0; c < calls.size(); ++c) EXPECT_EQ(calls[c], 1) << "chunk " << c;
  return seen.size();
}

// Two looks of `pool` at the fake machine where `running` threads run.
void afterALook(ChunkPool& pool, int running) {
  fakeRunning.store(running);
  for (int look = 0; look < 2; ++look) {
    std::this_thread::sleep_for(ThreadShare::kLookEvery + std::chrono::milliseconds(1));
    pool.threadsNow();
  }
}

// Pools that follow the fake machine while they live.
struct FakeMachine {
  FakeMachine() { ChunkPool::setMachineSource(fakeMachine); }
  ~FakeMachine() { ChunkPool::setMachineSource(nullptr); }
};

TEST(ChunkPool, PoolThatFollowsTheMachineTakesItsShareForTheJobsWork) {
  // The machine seen anew after each pause: crowded, a job runs on the
  // caller alone; free, a job of much work uses every thread and a job of
  // little work few (ThreadShare's own test follows the rule case by case).
  const FakeMachine machine;
  ChunkPool pool(8, true);
  if (pool.threads() < 8) {
    GTEST_SKIP() << "the system allows only " << pool.threads() << " threads";
  }
  const std::size_t little = 2 * ThreadShare::kWorkPerThread;
  const auto afterALook = [&pool](int running) { ::afterALook(pool, running); };
  afterALook(100);
  EXPECT_EQ(pool.threadsNow(), 1);
  EXPECT_EQ(threadsOfJob(pool, ChunkPool::kAnyWork), 1u);
  afterALook(1);
  EXPECT_EQ(pool.threadsNow(), 8);
  EXPECT_EQ(pool.threadsFor(little), 2);
  EXPECT_LE(threadsOfJob(pool, little), 2u);
  const std::optional<PoolThreads> workers = workersOf(pool);
  ASSERT_TRUE(workers) << "the pool's threads did not all take a chunk";
  EXPECT_EQ(workers->handles.size(), 7u);
  afterALook(100);
  EXPECT_EQ(threadsOfJob(pool, ChunkPool::kAnyWork), 1u);
}

TEST(ChunkPool, WorkerStartsWhenAJobIsFirstGivenItsThread) {
  // A machine where no processor is free: jobs run on the caller, and no
  // worker is started. Once processors are free, a job of little work
  // starts one worker, a job of much work the rest, and they all take
  // chunks; the machine crowded again, the workers are kept.
  const FakeMachine machine;
  ChunkPool pool(8, true);
  if (pool.threads() < 8) {
    GTEST_SKIP() << "the system allows only " << pool.threads() << " threads";
  }
  EXPECT_EQ(pool.workersStarted(), 0);
  afterALook(pool, 100);
  for (int job = 0; job < 20; ++job) {
    EXPECT_EQ(threadsOfJob(pool, ChunkPool::kAnyWork), 1u);
    EXPECT_EQ(threadsOfJob(pool, 100 * ThreadShare::kWorkPerThread), 1u);
  }
  EXPECT_EQ(pool.workersStarted(), 0);
  EXPECT_EQ(pool.threads(), 8);

  afterALook(pool, 1);
  EXPECT_LE(threadsOfJob(pool, 2 * ThreadShare::kWorkPerThread), 2u);
  EXPECT_EQ(pool.workersStarted(), 1);
  const std::optional<PoolThreads> workers = workersOf(pool);
  ASSERT_TRUE(workers) << "the pool's threads did not all take a chunk";
  EXPECT_EQ(workers->handles.size(), 7u);
  EXPECT_EQ(std::set<pid_t>(workers->ids.begin(), workers->ids.end()).size(), 7u);
  EXPECT_EQ(pool.workersStarted(), 7);

  afterALook(pool, 100);
  EXPECT_EQ(threadsOfJob(pool, ChunkPool::kAnyWork), 1u);
  EXPECT_EQ(pool.workersStarted(), 7);
  afterALook(pool, 1);
  const std::optional<PoolThreads> again = workersOf(pool);
  ASSERT_TRUE(again) << "the pool's threads did not all take a chunk";
  EXPECT_EQ(std::set<pid_t>(again->ids.begin(), again->ids.end()),
            std::set<pid_t>(workers->ids.begin(), workers->ids.end()));
}

TEST(ChunkPool, PoolOfSetThreadsStartsThemAsJobsAskForThem) {
  // A job of n chunks asks for n - 1 workers, within the pool's threads.
  ChunkPool pool(8);
  EXPECT_EQ(pool.threads(), 8);
  const struct {
    std::size_t nChunks;
    int started;
  } steps[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {2, 2}, {64, 7}, {3, 7}};
  for (const auto& step : steps) {
    SCOPED_TRACE(std::to_string(step.nChunks) + " chunks");
    std::vector<int> calls(step.nChunks, 0);
    pool.run(calls.size(), [&calls](std::size_t c) { ++calls[c]; });
    for (int n : calls) ASSERT_EQ(n, 1);
    EXPECT_EQ(pool.workersStarted(), step.started);
    EXPECT_EQ(pool.threads(), 8);
  }
}

// Makes the system refuse any new thread of the calling process from now on
// (the C library's clone then fails with EAGAIN).
bool refuseThreads() { return rttest::filterThreads(SECCOMP_RET_ERRNO | EAGAIN); }

TEST(ChunkPool, JobRunsWithTheThreadsStartedWhenTheSystemRefusesMore) {
  // In a child process: a pool of 8 starts one worker for a job of two
  // chunks; then the system refuses threads. The next jobs run every chunk
  // once on the caller and that worker, and the pool keeps to them.
  constexpr int kNoFilter = 125;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failed = 0;
    {
      ChunkPool pool(8);
      std::vector<std::atomic<int>> calls(64);
      pool.run(2, [&calls](std::size_t c) { ++calls[c]; });
      if (pool.workersStarted() != 1) failed |= 1;
      if (!refuseThreads()) ::_exit(kNoFilter);
      for (int job = 0; job < 20; ++job) {
        std::mutex mutex;
        std::set<std::thread::id> seen;
        for (auto& n : calls) n.store(0);
        pool.run(calls.size(), [&](std::size_t c) {
          ++calls[c];
          const std::lock_guard<std::mutex> lock(mutex);
          seen.insert(std::this_thread::get_id());
        });
        for (const auto& n : calls) failed |= n.load() != 1 ? 2 : 0;
        if (seen.size() > 2) failed |= 4;
        if (pool.workersStarted() != 1 || pool.threads() != 2) failed |= 8;
        if (pool.threadsNow() != 2) failed |= 16;
      }
    }
    ::_exit(failed);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  if (WEXITSTATUS(status) == kNoFilter) GTEST_SKIP() << "a seccomp filter cannot be installed here";
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: workers started before, 2: a chunk not run once, 4: more threads than started, "
         "8: the pool's count, 16: the threads of a job";
}

TEST(ThreadShare, JobGetsItsShareOfTheFreeProcessorsAndAThreadPerWork) {
  using Clock = ThreadShare::Clock;
  constexpr std::size_t kWork = ThreadShare::kWorkPerThread;
  constexpr std::size_t kAny = ChunkPool::kAnyWork;
  ThreadShare share(8, true);
  Clock::time_point t{};
  // Until the first look, one thread; the first look alone decides.
  EXPECT_TRUE(share.due(t));
  EXPECT_EQ(share.threadsFor(kAny), 1);
  share.looked(t, {8, 3}, 1);
  EXPECT_EQ(share.threadsFor(kAny), 6);
  const struct {
    const char* what;
    int processors, running, own;  // the machine at the look, the run's own running
    std::size_t work;
    int threads;
    int online = 0;  // the system's processors, when more than the run's
  } cases[] = {
      {"alone", 8, 1, 1, kAny, 8},
      {"alone, its own threads running", 8, 8, 8, kAny, 8},
      {"fewer running than its own (counted at another moment)", 8, 1, 5, kAny, 8},
      {"running not known", 8, -1, 1, kAny, 8},
      {"one other thread", 8, 2, 1, kAny, 7},
      {"five others, its own three running", 8, 8, 3, kAny, 3},
      {"seven others", 8, 8, 1, kAny, 1},
      {"a busy loop on every processor", 8, 9, 1, kAny, 1},
      {"32 runs", 8, 32, 1, kAny, 1},
      {"4 processors for the process", 4, 1, 1, kAny, 4},
      {"more processors than threads", 16, 1, 1, kAny, 8},
      {"no work", 8, 1, 1, 0, 1},
      {"less work than a thread's", 8, 1, 1, kWork - 1, 1},
      {"the work of two threads", 8, 1, 1, 2 * kWork + 1, 2},
      {"much work", 8, 1, 1, 100 * kWork, 8},
      {"work of three threads, five processors free", 8, 4, 1, 3 * kWork, 3},
      {"2 of 8 processors for the process, 5 others", 2, 6, 1, kAny, 2, 8},
      {"2 of 8 processors for the process, 7 others", 2, 8, 1, kAny, 1, 8},
      {"2 of 8 processors for the process, a busy loop on every one", 2, 9, 1, kAny, 1, 8},
      {"much work, two processors free", 8, 7, 1, 100 * kWork, 2},
  };
  // Each machine seen at two looks in a row.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int look = 0; look < 2; ++look) {
      t += ThreadShare::kLookEvery;
      ASSERT_TRUE(share.due(t));
      share.looked(t, {c.processors, c.running, c.online}, c.own);
      // Until the next look is due, the share holds.
      EXPECT_FALSE(share.due(t + ThreadShare::kLookEvery - std::chrono::nanoseconds(1)));
    }
    EXPECT_EQ(share.threadsFor(c.work), c.threads);
  }
  // Threads are given up at the first look that finds the processors
  // taken, taken again at the second that finds them free.
  const auto look = [&](int running) {
    t += ThreadShare::kLookEvery;
    share.looked(t, {8, running}, 1);
    return share.threadsFor(kAny);
  };
  EXPECT_EQ(look(1), 2);  // two processors were free at the look before
  EXPECT_EQ(look(1), 8);
  EXPECT_EQ(look(9), 1);
  EXPECT_EQ(look(1), 1);
  EXPECT_EQ(look(1), 8);
  EXPECT_EQ(look(5), 4);
  EXPECT_EQ(look(3), 4);
  EXPECT_EQ(look(3), 6);
  // A pool of a set number of threads looks at nothing and uses them for
  // any job.
  ThreadShare fixed(3, false);
  EXPECT_FALSE(fixed.due(t));
  EXPECT_EQ(fixed.threadsFor(0), 3);
  EXPECT_EQ(fixed.threadsFor(kAny), 3);
}

// The voluntary context switches of a thread of the process (each time it
// went to sleep); nothing where the system does not show them.
std::optional<long> sleepsOf(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  }
  return std::nullopt;
}

TEST(ChunkPool, JobOfFewChunksWakesNoMoreWorkersThanItNeeds) {
  // A worker that is woken goes to sleep again afterwards: its count of
  // sleeps shows it. A job of one chunk wakes none, a job of two at most
  // one, a job of three at most two.
  ChunkPool pool(8);
  const std::optional<PoolThreads> workers = workersOf(pool);
  ASSERT_TRUE(workers) << "the pool's threads did not all take a chunk";
  const auto sleeps = [&] {
    std::vector<long> counts;
    for (const pid_t id : workers->ids) {
      const std::optional<long> n = sleepsOf(id);
      if (n) counts.push_back(*n);
    }
    return counts;
  };
  for (const std::size_t nChunks : {1u, 2u, 3u}) {
    SCOPED_TRACE(std::to_string(nChunks) + " chunks");
    // Every worker asleep: no count moves over 100 ms (on a crowded
    // machine a worker may take a while to get there).
    std::vector<long> before = sleeps();
    for (int wait = 0; wait < 50; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::vector<long> now = sleeps();
      if (now == before) break;
      before = now;
    }
    if (before.size() != workers->ids.size()) GTEST_SKIP() << "no count of sleeps of a thread here";
    for (int job = 0; job < 20; ++job) {
      std::vector<int> calls(nChunks, 0);
      pool.run(nChunks, [&calls](std::size_t c) {
        ++calls[c];
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      });
      for (int n : calls) ASSERT_EQ(n, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<long> after = sleeps();
    ASSERT_EQ(after.size(), before.size());
    std::size_t woken = 0;
    for (std::size_t k = 0; k < before.size(); ++k) woken += after[k] != before[k];
    EXPECT_LE(woken, nChunks - 1);
  }
}

std::atomic<pthread_t> signalTakenBy{};
std::atomic<bool> signalTaken{false};
void noteSignal(int) {
  signalTakenBy.store(pthread_self());
  signalTaken.store(true);
}

TEST(ChunkPool, SignalsToTheProcessAreTakenByTheCallingThread) {
  // A signal sent to the process is never taken by a worker: a handler
  // that ends the run then always runs on the program's own thread.
  struct sigaction action {}, previous {};
  action.sa_handler = noteSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  const pthread_t caller = pthread_self();
  {
    ChunkPool pool(4);
    std::atomic<int> byWorkers{0}, blockedInWorkers{0};
    pool.run(64, [&](std::size_t c) {
      if (!pthread_equal(pthread_self(), caller)) {
        ++byWorkers;
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        if (sigismember(&mask, SIGTERM) && sigismember(&mask, SIGINT) &&
            sigismember(&mask, SIGUSR1) && !sigismember(&mask, SIGSEGV)) {
          ++blockedInWorkers;
        }
      }
      if (c == 5) kill(getpid(), SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    for (int i = 0; i < 1000 && !signalTaken.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(signalTaken.load());
    EXPECT_TRUE(pthread_equal(signalTakenBy.load(), caller));
    ASSERT_GT(byWorkers.load(), 0);
    EXPECT_EQ(blockedInWorkers.load(), byWorkers.load());
  }
  // The caller's own signals stay as they were.
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGTERM));
  EXPECT_FALSE(sigismember(&mask, SIGUSR1));
  sigaction(SIGUSR1, &previous, nullptr);
}

TEST(ChunkPool, ThreadsAskedByTheEnvironment) {
  // 0: the program chooses; a value not taken, or one above the most
  // threads, is told in one line naming the variable and its value.
  enum Told { kNothing, kNotTaken, kCapped };
  const struct {
    const char* value;
    int threads;
    Told told;
  } cases[] = {
      {nullptr, 0, kNothing},
      {"", 0, kNothing},
      {" ", 0, kNothing},
      {"3", 3, kNothing},
      {"1", 1, kNothing},
      {"12", 12, kNothing},
      {"007", 7, kNothing},
      {"1 ", 1, kNothing},
      {" 4", 4, kNothing},
      {"\t2\t ", 2, kNothing},
      {"1024", 1024, kNothing},
      {"0001024", 1024, kNothing},
      {"1025", 1024, kCapped},
      {" 5000\t", 1024, kCapped},
      {"99999999999999999999999999", 1024, kCapped},
      {"0", 0, kNotTaken},
      {"000", 0, kNotTaken},
      {"-2", 0, kNotTaken},
      {"+2", 0, kNotTaken},
      {"four", 0, kNotTaken},
      {"4x", 0, kNotTaken},
      {"5000x", 0, kNotTaken},
      {"4 4", 0, kNotTaken},
      {"1.5", 0, kNotTaken},
  };
  static_assert(ChunkPool::kMaxThreads == 1024);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "unset" : std::string("\"") + c.value + "\"");
    std::string warning = "left from before";
    EXPECT_EQ(ChunkPool::threadsAsked(c.value, warning), c.threads);
    const std::string named = c.value == nullptr ? "" : std::string("XFORM1_THREADS=\"") + c.value;
    switch (c.told) {
      case kNothing:
        EXPECT_EQ(warning, "");
        break;
      case kNotTaken:
        EXPECT_EQ(warning, named +
                               "\" is not a positive integer: the program chooses the number of "
                               "threads");
        break;
      case kCapped:
        EXPECT_EQ(warning, named + "\" is more than 1024: the program uses 1024 threads");
        break;
    }
  }
}

}  // namespace
