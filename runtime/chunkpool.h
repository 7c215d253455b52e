// A small, persistent pool of threads that runs one job over numbered
// chunks of work: the program's one way of using several threads (the
// conversion of the station lines read, the estimator's sweeps).
//
// A job is a body called once for every chunk 0 .. nChunks-1; the chunks are
// handed out to the pool's threads and to the calling thread in no fixed
// order, so a body writes only the result slot of its own chunk and the
// caller combines the slots in chunk order afterwards: the result then does
// not depend on the number of threads. A body may throw: the other chunks
// still run, and the job then throws to its caller the exception of the
// first chunk, in chunk order, that threw. A pool runs one job at a time,
// for one calling thread.
//
// A job ends when its chunks are done: the calling thread takes chunks
// itself and waits only for those that a worker has taken, never for a
// worker that took none. A job wakes no more workers than it has chunks
// besides the caller's, and no more than the pool's current limit: while
// the workers keep holding the caller up or coming too late (other
// programs take the processors, a worker taken off its processor in the
// middle of a chunk), the limit falls, down to the calling thread alone; it
// rises again while the workers keep up. It falls too while the system's
// processors are wanted by more threads than they can run (other programs
// or other runs take them), and rises only while they are not. Which
// threads take part never changes a result.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <type_traits>

namespace rt {

// The number of threads that the jobs of a pool use, and how it moves over
// windows of time: a window that loses (the caller lost too much of it, or
// the processors were crowded) halves it, down to 1; after a pause without
// a cut, and in a window that is neither losing nor busy (the processors
// not wanted by many), it doubles, up to the pool's threads. The pause
// doubles with each cut (up to kMaxPause) and halves with each rise
// that held, so that the pool takes the processors again soon after they
// are free, and on a machine that stays busy a rise, which costs a job held
// up, comes rarely.
class ThreadLimit {
 public:
  using Clock = std::chrono::steady_clock;
  // The pause between a cut of the limit and its next rise: from, to.
  static constexpr Clock::duration kMinPause = std::chrono::milliseconds(1);
  static constexpr Clock::duration kMaxPause = std::chrono::milliseconds(400);

  explicit ThreadLimit(int threads) : threads_(threads), limit_(threads) {}
  int value() const { return limit_; }
  // The end of a window at `now`.
  void windowEnded(Clock::time_point now, bool losing, bool busy);

 private:
  int threads_;
  int limit_;
  Clock::duration pause_ = kMinPause;  // from a cut to the next rise
  Clock::time_point nextRise_{};       // the limit may rise from then on
  bool rose_ = false;                  // the last change was a rise
};

class ChunkPool {
 public:
  // A pool of `threads` threads in all, the calling thread included: a pool
  // of 1 starts no thread. A thread that the system refuses, or that does
  // not fit in the address space left under a limit of the process, leaves
  // a smaller pool; so does a lack of memory for the pool itself.
  explicit ChunkPool(int threads) noexcept;
  ~ChunkPool();
  ChunkPool(const ChunkPool&) = delete;
  ChunkPool& operator=(const ChunkPool&) = delete;

  // The pool of the program, started on first use with threadCount() threads.
  static ChunkPool& shared();

  // The number of threads for the program's pool: the positive integer in
  // the environment variable XFORM1_THREADS, otherwise (unset or not a
  // positive integer) the number of hardware threads.
  static int threadCount();

  // Test hook: the source of the system's processor pressure (the time, in
  // microseconds, during which some thread waited for a processor; false:
  // not known) for every pool; nullptr restores the system's own.
  static void setPressureSource(bool (*source)(std::uint64_t& stalled));

  // Threads of the pool, the calling thread included.
  int threads() const { return nWorkers_ + 1; }

  // The threads, the calling thread included, that a job of many chunks
  // would use now (from 1 to threads()). For the calling thread only.
  int threadsNow() const { return limit_.value(); }

  // Calls body(chunk) once for every chunk in [0, nChunks) and returns when
  // every call has returned (or throws the failure of the first chunk that
  // threw).
  template <class Body>
  void run(std::size_t nChunks, Body&& body) {
    if (nChunks == 0) return;
    if (nChunks == 1 || nWorkers_ == 0) {
      for (std::size_t c = 0; c < nChunks; ++c) body(c);
      return;
    }
    using Callable = std::remove_reference_t<Body>;  // const for a const body
    runJob(nChunks, [](void* ctx, std::size_t c) { (*static_cast<Callable*>(ctx))(c); },
           const_cast<void*>(static_cast<const void*>(std::addressof(body))));
  }

 private:
  using Task = void (*)(void*, std::size_t);
  struct Worker;

  void runJob(std::size_t nChunks, Task task, void* ctx);
  // One job of at most kMaxPiece chunks, from chunk `base` on.
  void runPiece(std::size_t base, std::uint32_t nChunks, Task task, void* ctx);
  static void* start(void* worker);
  void work(Worker& self);
  // Takes and runs chunks of job `job` while it has any (worker: for a
  // worker); returns the number of chunks run.
  std::uint32_t help(std::uint32_t job, bool worker);
  // Keeps the failure of a chunk when no earlier chunk has failed.
  void fail(std::size_t chunk, std::exception_ptr failure);
  // The limit of threads after a job that could have woken workers, ended
  // at `now`, in which the caller lost `loss` to the workers.
  void adapt(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration loss);

  std::unique_ptr<Worker[]> workers_;
  int nWorkers_ = 0;
  std::atomic<int> running_{0};  // workers that have started

  // The current job. claim_ holds the job number (high half) and the next
  // chunk to hand out (low half): a chunk is taken by moving it on while
  // the job number is still the one the taker helps with, so that a worker
  // late for a job never takes a chunk of a later one. task_, ctx_ and
  // base_ are written between jobs only, and read by a thread that has
  // taken a chunk (its job cannot end before the chunk is done).
  std::atomic<std::uint64_t> claim_{0};
  std::atomic<std::uint32_t> nChunks_{0};
  std::atomic<std::uint32_t> done_{0};       // chunks done
  std::atomic<std::uint32_t> joined_{0};     // workers that took a chunk
  std::atomic<std::uint32_t> callerWaits_{0};  // the caller sleeps on done_
  Task task_ = nullptr;
  void* ctx_ = nullptr;
  std::size_t base_ = 0;
  std::uint32_t job_ = 0;  // number of the last job (the caller's)
  std::atomic<bool> stop_{false};

  // The failure of the current job with the lowest chunk number.
  std::mutex failMutex_;
  std::exception_ptr failure_;
  std::size_t failedChunk_ = 0;

  // The limit of threads a job uses (the caller's).
  ThreadLimit limit_{1};
  // The time the caller lost since windowStart_.
  std::chrono::steady_clock::time_point windowStart_{};
  std::chrono::steady_clock::duration lost_{};
  // The system's processor pressure at the end of the last window
  // (microseconds during which some thread waited for a processor).
  bool havePressure_ = false;
  std::uint64_t stalled_ = 0;
};

}  // namespace rt
