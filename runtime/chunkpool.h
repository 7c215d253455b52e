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
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace rt {

class ChunkPool {
 public:
  // A pool of `threads` threads in all, the calling thread included: a pool
  // of 1 starts no thread. A thread that the system refuses leaves a
  // smaller pool.
  explicit ChunkPool(int threads);
  ~ChunkPool();
  ChunkPool(const ChunkPool&) = delete;
  ChunkPool& operator=(const ChunkPool&) = delete;

  // The pool of the program, started on first use with threadCount() threads.
  static ChunkPool& shared();

  // The number of threads for the program's pool: the positive integer in
  // the environment variable XFORM1_THREADS, otherwise (unset or not a
  // positive integer) the number of hardware threads.
  static int threadCount();

  // Threads of the pool, the calling thread included.
  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Calls body(chunk) once for every chunk in [0, nChunks) and returns when
  // every call has returned (or throws the failure of the first chunk that
  // threw).
  template <class Body>
  void run(std::size_t nChunks, Body&& body) {
    if (nChunks == 0) return;
    if (nChunks == 1 || workers_.empty()) {
      for (std::size_t c = 0; c < nChunks; ++c) body(c);
      return;
    }
    using Callable = std::remove_reference_t<Body>;  // const for a const body
    runJob(nChunks, [](void* ctx, std::size_t c) { (*static_cast<Callable*>(ctx))(c); },
           const_cast<void*>(static_cast<const void*>(std::addressof(body))));
  }

 private:
  using Task = void (*)(void*, std::size_t);
  void runJob(std::size_t nChunks, Task task, void* ctx);
  void work();
  // Takes and runs chunks of the current job until none is left.
  void drain();
  // Keeps the failure of a chunk when no earlier chunk has failed.
  void fail(std::size_t chunk, std::exception_ptr failure);

  std::vector<std::thread> workers_;
  // The current job: written before generation_ moves on, read after.
  Task task_ = nullptr;
  void* ctx_ = nullptr;
  std::size_t nChunks_ = 0;
  std::atomic<std::size_t> next_{0};      // next chunk to hand out
  std::atomic<unsigned long> generation_{0};  // jobs started
  std::atomic<int> busy_{0};      // workers not yet done with the current job
  std::atomic<int> sleepers_{0};  // workers blocked on wake_
  std::atomic<bool> stop_{false};
  // The failure of the current job with the lowest chunk number.
  std::mutex failMutex_;
  std::exception_ptr failure_;
  std::size_t failedChunk_ = 0;
  // A worker that finds no job for a while sleeps on wake_.
  std::mutex mutex_;
  std::condition_variable wake_;
};

}  // namespace rt
