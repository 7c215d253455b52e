// A small, persistent pool of threads that runs one job over numbered
// chunks of work: the program's one way of using several threads (the
// conversion of the station lines read, the estimator's sweeps, the
// report's station rows).
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
// worker that took none. Which threads take part never changes a result.
//
// A worker is started only when a job is given more threads than the pool
// has started (by the calling thread, as the job begins), and kept from
// then on: a run whose jobs never get more than one thread starts none.
//
// How many threads a job uses (ThreadShare decides): a pool made with a
// number of threads, as XFORM1_THREADS sets it for the program, uses them
// for every job of as many chunks. The program's pool otherwise follows the
// machine: it has a thread for each processor that the process may use
// (its processor affinity, its control group's share of processor time),
// and a job uses threads only while they pay:
//   - a job gets the processors of the process that the threads of other
//     programs (other runs of this one among them), which run or wait for
//     a processor anywhere on the system, leave free: a machine where every
//     processor is busy, or crowded by runs started together, gives a run
//     one thread. The pool counts these threads (/proc/loadavg) at its
//     first job (until then one thread) and again every kLookEvery,
//     and takes the fewer free processors of its last two looks: threads
//     are given up at once, taken again only once two looks show the
//     processors free (a passing lull of the others is not taken);
//   - a job gets one thread per kWorkPerThread of its work (a station
//     visited by one thread, some 5 to 10 nanoseconds: the unit its caller
//     states), some 10 to 20 microseconds: on less the handing over of the
//     work and the waiting for it cost more than they save. A larger share
//     does not pay either: the sweeps of the estimator alternate between
//     the search for a station to reject (a unit of work per station) and
//     the sums of the normal equations (eight per station), and a job given
//     fewer threads than the one before lets the others fall asleep, to be
//     woken again for the next. (Measured alone on 8 processors, 20,000 stations with
//     1,000 outliers: 16,384 per thread took 0.44 s, as long as one thread,
//     2,048 took 0.24 s, as long as all threads for every job.)
//     A machine where processors are busy gives a run fewer threads by the
//     rule above, whatever its work.
// A job that states no work is taken to be large (each chunk worth a
// thread).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

namespace rt {

// The threads a job gets, by the rule above: fed the machine by its pool,
// or by a test.
class ThreadShare {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kLookEvery = std::chrono::milliseconds(5);
  static constexpr std::size_t kWorkPerThread = 2048;

  // The machine seen from a run: the processors it may use, the threads of
  // the system that run or wait for a processor, the run's own included
  // (negative: not known), and the processors of the system those threads
  // run on (0: the run's own processors). The others' threads take the
  // system's processors first, so a run kept to a few of them (an affinity,
  // a batch system's share) still has those while the others do not fill
  // the rest.
  struct Machine {
    int processors = 1;
    int running = -1;
    int online = 0;
  };

  // `threads` for every job (follow false), or at most that many as the
  // machine and the job's work allow (follow true; one until the first look).
  ThreadShare(int threads, bool follow) : threads_(threads), follow_(follow) {}
  bool follows() const { return follow_; }
  // A look at the machine is due at `now`.
  bool due(Clock::time_point now) const { return follow_ && now >= nextLook_; }
  // A look at the machine at `now`, while `own` threads of the run run.
  void looked(Clock::time_point now, Machine machine, int own);
  // The threads, the calling thread included, for a job of `work`.
  int threadsFor(std::size_t work) const;

 private:
  int threads_;
  bool follow_;
  int free_ = 1;            // the threads the machine allows now
  int lastFree_ = 1 << 30;  // the free processors at the last look
  Clock::time_point nextLook_{};
};

class ChunkPool {
 public:
  // A job's work when its caller states none: every chunk is worth a thread.
  static constexpr std::size_t kAnyWork = SIZE_MAX;

  // A pool of `threads` threads in all, the calling thread included, that
  // every job of as many chunks uses: a pool of 1 starts no thread. A
  // thread that does not fit in the address space left under a limit of
  // the process when the pool is made leaves a smaller pool; so does a
  // lack of memory for the pool itself, and a thread that the system
  // refuses (the job that asked for it runs with the threads started).
  explicit ChunkPool(int threads) noexcept;
  // A pool of at most `threads` threads that follows the machine
  // (followMachine true) as the program's pool does, or one as above.
  ChunkPool(int threads, bool followMachine) noexcept;
  ~ChunkPool();
  ChunkPool(const ChunkPool&) = delete;
  ChunkPool& operator=(const ChunkPool&) = delete;

  // The pool of the program, started on first use: the threads that
  // XFORM1_THREADS sets, otherwise one for each processor the process may
  // use, jobs taking as many as the machine and their work allow.
  static ChunkPool& shared();

  // The threads that XFORM1_THREADS asks for: the positive integer of
  // `value` (blanks around it allowed), 0 where it is unset (null), empty
  // or blank. A larger integer than kMaxThreads gives kMaxThreads, any other
  // value 0, and either one, in `warning`, the line for the user that says
  // so (otherwise `warning` is left empty).
  static constexpr int kMaxThreads = 1024;
  static int threadsAsked(const char* value, std::string& warning);
  // The program's setting, read from the environment once per process; the
  // first call writes its warning, if any, to standard error.
  static int threadSetting();

  // Test hook: where the pools that follow the machine look at it;
  // nullptr restores the system's own.
  static void setMachineSource(ThreadShare::Machine (*source)());

  // Threads of the pool, the calling thread included: the workers started
  // and those it may still start.
  int threads() const { return maxWorkers_ + 1; }
  // Workers started so far.
  int workersStarted() const { return nWorkers_; }

  // The threads, the calling thread included, that a job of `work` (in
  // the unit of ThreadShare) would use now, from 1 to threads(); of many
  // chunks where `work` is not stated. For the calling thread only.
  int threadsFor(std::size_t work);
  int threadsNow() { return threadsFor(kAnyWork); }

  // Calls body(chunk) once for every chunk in [0, nChunks) and returns when
  // every call has returned (or throws the failure of the first chunk that
  // threw). `work`: the job's work, see threadsFor.
  template <class Body>
  void run(std::size_t nChunks, Body&& body, std::size_t work = kAnyWork) {
    if (nChunks == 0) return;
    if (nChunks == 1 || maxWorkers_ == 0) {
      for (std::size_t c = 0; c < nChunks; ++c) body(c);
      return;
    }
    using Callable = std::remove_reference_t<Body>;  // const for a const body
    runJob(nChunks, work, [](void* ctx, std::size_t c) { (*static_cast<Callable*>(ctx))(c); },
           const_cast<void*>(static_cast<const void*>(std::addressof(body))));
  }

 private:
  using Task = void (*)(void*, std::size_t);
  struct Worker;

  void runJob(std::size_t nChunks, std::size_t work, Task task, void* ctx);
  // One job of at most kMaxPiece chunks, from chunk `base` on, with at most
  // `threads` threads.
  void runPiece(std::size_t base, std::uint32_t nChunks, int threads, Task task, void* ctx);
  // Starts workers until `wanted` are started, fewer where the system
  // refuses one (the pool then keeps those it has), for job `job`.
  void startWorkers(int wanted, std::uint32_t job);
  static void* start(void* worker);
  void work(Worker& self);
  // Takes and runs chunks of job `job` while it has any.
  void help(std::uint32_t job);
  // Keeps the failure of a chunk when no earlier chunk has failed.
  void fail(std::size_t chunk, std::exception_ptr failure);
  std::unique_ptr<Worker[]> workers_;  // maxWorkers_ of them
  int maxWorkers_ = 0;
  int nWorkers_ = 0;  // the first ones, started
  std::size_t stack_ = 0;  // of a worker, in bytes

  // The current job. claim_ holds the job number (high half) and the next
  // chunk to hand out (low half): a chunk is taken by moving it on while
  // the job number is still the one the taker helps with, so that a worker
  // late for a job never takes a chunk of a later one. task_, ctx_ and
  // base_ are written between jobs only, and read by a thread that has
  // taken a chunk (its job cannot end before the chunk is done).
  std::atomic<std::uint64_t> claim_{0};
  std::atomic<std::uint32_t> nChunks_{0};
  std::atomic<std::uint32_t> done_{0};       // chunks done
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

  // How many threads a job uses (the caller's).
  ThreadShare share_{1, false};
};

}  // namespace rt
