#include "runtime/chunkpool.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/testsupport.h"

namespace {

using rt::ChunkPool;
using rt::ThreadLimit;

int hardwareThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

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
  // processors) take no chunk: the caller takes them all, and the job ends
  // without waiting for them. Afterwards the workers go back to waiting
  // and take their share of later jobs.
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
  // Jobs with chunks that take a while, for which the workers asked never
  // come: the pool falls to the caller alone.
  int jobs = 0;
  bool alone = false;
  for (; jobs < 1000 && !alone; ++jobs) {
    pool.run(calls.size(), [&](std::size_t c) {
      ++calls[c];
      if (pthread_equal(pthread_self(), caller)) ++byCaller[c];
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    });
    alone = pool.threadsNow() == 1;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    jobEnded = true;
  }
  ended.notify_all();
  guard.join();
  EXPECT_FALSE(guardReleased) << "a job waited for workers that took no chunk";
  for (std::size_t c = 0; c < calls.size(); ++c) {
    EXPECT_EQ(calls[c].load(), jobs) << "chunk " << c;
    EXPECT_EQ(byCaller[c].load(), jobs) << "chunk " << c;
  }
  EXPECT_TRUE(alone) << "the pool still asks for the held workers after " << jobs << " jobs";

  held.release();
  for (int job = 0; job < 50; ++job) {
    std::vector<int> again(64, 0);
    pool.run(again.size(), [&again](std::size_t c) { ++again[c]; });
    for (std::size_t c = 0; c < again.size(); ++c) ASSERT_EQ(again[c], 1) << "chunk " << c;
  }
}

// A system whose processors some thread always waits for, and one where
// none ever waits: the processor pressure that the pool reads.
bool fullPressure(std::uint64_t& stalled) {
  using namespace std::chrono;
  stalled = static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
  return true;
}
bool noPressure(std::uint64_t& stalled) {
  stalled = 0;
  return true;
}

TEST(ChunkPool, CrowdedProcessorsGetFewerThreadsAndFreeOnesMore) {
  // While the system's processors are wanted by more threads than they
  // can run, later jobs use fewer threads, down to the caller alone; once
  // they are free again, jobs use more threads again (how many depends on
  // how soon the workers come as well: ThreadLimit's own test follows the
  // rule step by step). Every chunk runs once whatever the threads.
  struct Restore {
    ~Restore() { ChunkPool::setPressureSource(nullptr); }
  } restore;
  ChunkPool pool(8);
  if (pool.threads() < 8) GTEST_SKIP() << "the system started only " << pool.threads() << " threads";
  const auto jobsUntil = [&pool](auto reached) {
    int jobs = 0;
    for (; jobs < 20000 && !reached(pool.threadsNow()); ++jobs) {
      std::vector<int> calls(16, 0);
      pool.run(calls.size(), [&calls](std::size_t c) {
        ++calls[c];
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      });
      for (std::size_t c = 0; c < calls.size(); ++c) EXPECT_EQ(calls[c], 1) << "chunk " << c;
    }
    return reached(pool.threadsNow());
  };
  ChunkPool::setPressureSource(fullPressure);
  EXPECT_TRUE(jobsUntil([](int t) { return t == 1; }))
      << "still " << pool.threadsNow() << " threads on crowded processors";
  ChunkPool::setPressureSource(noPressure);
  EXPECT_TRUE(jobsUntil([](int t) { return t > 1; }))
      << "only " << pool.threadsNow() << " thread on free processors";
}

TEST(ThreadLimit, HalvesInLosingWindowsAndDoublesAfterAPauseWhileNotBusy) {
  using Clock = ThreadLimit::Clock;
  using std::chrono::milliseconds;
  ThreadLimit limit(8);
  Clock::time_point t{};
  const auto window = [&](Clock::duration after, bool losing, bool busy) {
    t += after;
    limit.windowEnded(t, losing, busy);
    return limit.value();
  };
  EXPECT_EQ(limit.value(), 8);
  // Losing windows halve it, down to 1 and no further; the pause after the
  // cuts has grown from 1 ms to 8 ms.
  EXPECT_EQ(window(milliseconds(20), true, false), 4);
  EXPECT_EQ(window(milliseconds(20), true, false), 2);
  EXPECT_EQ(window(milliseconds(20), true, false), 1);
  // Within the pause after the last cut: no rise.
  EXPECT_EQ(window(milliseconds(7), false, false), 1);
  // Still losing: it stays at 1.
  EXPECT_EQ(window(milliseconds(20), true, false), 1);
  // Not losing, but busy: no rise, however long it lasts.
  EXPECT_EQ(window(milliseconds(500), false, true), 1);
  // Neither: it doubles, and again once the pause after that rise (8 ms)
  // has passed, each rise that held halving the pause.
  EXPECT_EQ(window(milliseconds(1), false, false), 2);
  EXPECT_EQ(window(milliseconds(1), false, false), 2);
  EXPECT_EQ(window(milliseconds(7), false, false), 4);
  EXPECT_EQ(window(milliseconds(4), false, false), 8);
  EXPECT_EQ(window(milliseconds(20), false, false), 8);
  // Each cut doubles the pause, up to its longest.
  for (int cut = 0; cut < 20; ++cut) {
    window(milliseconds(1000), true, false);
    window(milliseconds(1000), false, false);
  }
  window(milliseconds(1000), true, false);
  const int cut = limit.value();
  EXPECT_EQ(window(ThreadLimit::kMaxPause - milliseconds(1), false, false), cut);
  EXPECT_EQ(window(milliseconds(1), false, false), 2 * cut);
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
    // Every worker asleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<long> before = sleeps();
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

TEST(ChunkPool, ThreadCountFromTheEnvironment) {
  const struct {
    const char* value;
    int threads;  // 0: the hardware's
  } cases[] = {{"3", 3},   {"1", 1},     {"12", 12}, {nullptr, 0}, {"", 0},   {"0", 0},
               {"-2", 0},  {"four", 0},  {"4x", 0},  {" 4", 0},    {"4 ", 0}, {"99999999999", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "unset" : c.value);
    const rttest::EnvVariable variable("XFORM1_THREADS", c.value);
    EXPECT_EQ(ChunkPool::threadCount(), c.threads > 0 ? c.threads : hardwareThreads());
  }
}

}  // namespace
