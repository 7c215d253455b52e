// A small, persistent pool of threads that runs one job over numbered
// chunks of work.
//
// Jobs often follow each other closely (one sweep over the stations after
// another), so a worker waits for the next one by spinning for a short
// while before it sleeps (as between two blocks of lines read), and the
// caller spins until the workers are done.
#include "runtime/chunkpool.h"

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

namespace {

// More threads than this are not started, whatever the environment asks.
constexpr int kMaxThreads = 1024;
// Polls of a waiting worker before it sleeps (some 0.1 ms), and of the
// caller before it starts yielding the processor.
constexpr int kSpins = 4000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

namespace rt {

ChunkPool::ChunkPool(int threads) {
  const int wanted = threads < 1 ? 0 : (threads > kMaxThreads ? kMaxThreads : threads) - 1;
  if (wanted == 0) return;
  workers_.reserve(static_cast<std::size_t>(wanted));
  // The workers start with the signals sent to the process blocked, so
  // that such a signal (an interruption, a termination) is always taken by
  // the program's own thread, never in the middle of a worker's chunk.
  // Signals raised by a fault of a worker's own stay with it.
  sigset_t blocked, previous;
  sigfillset(&blocked);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&blocked, sig);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  for (int k = 0; k < wanted; ++k) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // run with the threads that did start
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ChunkPool::~ChunkPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

ChunkPool& ChunkPool::shared() {
  static ChunkPool pool(threadCount());
  return pool;
}

int ChunkPool::threadCount() {
  if (const char* text = std::getenv("XFORM1_THREADS")) {
    const char* end = text + std::strlen(text);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec == std::errc() && ptr == end && ptr != text && value >= 1) return value;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(hardware < kMaxThreads ? hardware : kMaxThreads);
}

void ChunkPool::runJob(std::size_t nChunks, Task task, void* ctx) {
  failure_ = nullptr;
  task_ = task;
  ctx_ = ctx;
  nChunks_ = nChunks;
  next_.store(0);
  busy_.store(static_cast<int>(workers_.size()));
  generation_.fetch_add(1);  // publishes the job
  if (sleepers_.load() > 0) {
    // A worker that is about to sleep holds the mutex from its last look at
    // the generation until it waits, so it cannot miss this call.
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_all();
  }
  drain();
  for (int spin = 0; busy_.load() != 0; ++spin) {
    if (spin < kSpins) {
      relax();
    } else {
      std::this_thread::yield();
    }
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void ChunkPool::drain() {
  for (;;) {
    const std::size_t chunk = next_.fetch_add(1);
    if (chunk >= nChunks_) return;
    try {
      task_(ctx_, chunk);
    } catch (...) {
      fail(chunk, std::current_exception());
    }
  }
}

void ChunkPool::fail(std::size_t chunk, std::exception_ptr failure) {
  const std::lock_guard<std::mutex> lock(failMutex_);
  if (!failure_ || chunk < failedChunk_) {
    failure_ = std::move(failure);
    failedChunk_ = chunk;
  }
}

void ChunkPool::work() {
  unsigned long seen = 0;
  for (;;) {
    bool ready = false;
    for (int spin = 0; spin < kSpins && !ready; ++spin) {
      ready = stop_.load() || generation_.load() != seen;
      if (!ready) relax();
    }
    if (!ready) {
      std::unique_lock<std::mutex> lock(mutex_);
      sleepers_.fetch_add(1);
      wake_.wait(lock, [this, seen] { return stop_.load() || generation_.load() != seen; });
      sleepers_.fetch_sub(1);
    }
    if (stop_.load()) return;
    seen = generation_.load();
    drain();
    busy_.fetch_sub(1);
  }
}

}  // namespace rt
