// A small, persistent pool of threads that runs one job over numbered
// chunks of work.
//
// Jobs often follow each other closely (one sweep over the stations after
// another), so a worker waits for its next job by polling for a short while
// before it sleeps, and so does the caller for the chunks that workers have
// taken; nobody polls for long, so that a machine shared with other
// programs gives its processors to them rather than to waiting.
//
// Each worker waits on a word of its own, which the caller sets to the
// number of the job it is asked to help with: a job wakes only the workers
// it asks for, the first ones of the pool. The caller counts as lost the
// time it waits for the workers' chunks beyond its own share (a worker that
// the system took off its processor in the middle of a chunk), and all the
// time of a job whose workers all came too late to take a chunk. When it
// loses more than a quarter of its time over a while (a rare delay costs
// less than fewer threads would), or when the system's processors are
// wanted by more threads than they can run over more than a quarter of
// that while (other programs, or other runs of this one, take them: the
// processor pressure that Linux counts, /proc/pressure/cpu), the number of
// threads later jobs use is halved; after a pause without a cut, and while
// the pressure stays low, the number doubles again, up to the pool's
// threads. Threads that wait for a processor do no work, and under such
// pressure the work that several threads share costs more processor time
// than one thread's would (each waits for the others and shares the
// common work of a station), so a crowded machine gets few threads.
#include "runtime/chunkpool.h"

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "runtime/sanitizer.h"
#include "runtime/signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// More threads than this are not started, whatever the environment asks.
constexpr int kMaxThreads = 1024;
// The low half of the claim word of a job being set up: no chunk to take.
constexpr std::uint32_t kClosed = 0xFFFFFFFFu;
// Chunks of one piece of a job (the claim word's half holds the next one).
constexpr std::size_t kMaxPiece = 0x7FFFFFFF;
// How long a worker polls for its next job before sleeping; the caller
// polls for the chunks of the workers as long as its own share took (the
// workers' chunks, if they run, end within about as much), within these
// bounds.
constexpr auto kWorkerPoll = std::chrono::microseconds(50);
constexpr auto kCallerPollMin = std::chrono::microseconds(20);
constexpr auto kCallerPollMax = std::chrono::microseconds(200);
// Workers asked for a job that have not taken a chunk of it after this
// are late.
constexpr auto kLate = std::chrono::microseconds(200);
// The time over which the caller's losses are summed, and the share of it
// that the caller may lose before the limit of threads is cut.
constexpr auto kWindow = std::chrono::milliseconds(20);
constexpr Clock::rep kLossShare = 4;  // one in this many
// The share of the window (one in this many) during which threads of the
// system may wait for a processor without stopping a rise of the limit.
constexpr Clock::rep kPressureShare = 16;

// The stack of a worker. The deepest chunks (the report's station rows,
// the conversion of station lines, with a line that cannot be read) take
// at most 12 KiB of it, the thread's own data included; the sanitizers'
// instrumentation takes several times what plain code does.
#if XF_ADDRESS_SANITIZER || XF_THREAD_SANITIZER
constexpr std::size_t kStack = std::size_t{4} << 20;
#else
constexpr std::size_t kStack = std::size_t{256} << 10;
#endif
// Of the address space left under a limit of the process, the workers'
// stacks take at most this share.
constexpr std::size_t kShareOfSpare = 16;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Polls ready() for about `time`; true as soon as it holds.
template <class Ready>
bool pollFor(Clock::duration time, Ready ready) {
  const Clock::time_point until = Clock::now() + time;
  for (;;) {
    for (int k = 0; k < 64; ++k) {
      if (ready()) return true;
      relax();
    }
    if (Clock::now() >= until) return ready();
  }
}

// The time, in microseconds since the system started, during which some
// thread of the system was ready to run and waited for a processor (the
// processor pressure that Linux counts, "some ... total="); false where the
// system does not tell.
bool processorPressure(std::uint64_t& stalled) {
  const int fd = ::open("/proc/pressure/cpu", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[256];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  const char* total = std::strstr(text, "total=");
  if (std::strncmp(text, "some", 4) != 0 || total == nullptr) return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(total + 6, &end, 10);
  if (end == total + 6) return false;
  stalled = value;
  return true;
}

// Where the pools read the processor pressure (a test hook may replace it).
std::atomic<bool (*)(std::uint64_t&)> pressureSource{processorPressure};

// The stack size of a worker, in bytes.
std::size_t workerStack() {
  const long least = ::sysconf(_SC_THREAD_STACK_MIN);
  return std::max(kStack, least > 0 ? static_cast<std::size_t>(least) : std::size_t{0});
}

// The address space, in bytes, that the process may still take under its
// limits of address space and of data (SIZE_MAX: no limit).
std::size_t spareAddressSpace() {
  std::size_t spare = SIZE_MAX;
  unsigned long pages[7] = {};
  bool haveSizes = false;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    haveSizes = std::fscanf(f, "%lu %lu %lu %lu %lu %lu", &pages[0], &pages[1], &pages[2],
                            &pages[3], &pages[4], &pages[5]) == 6;
    std::fclose(f);
  }
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  // statm: the whole size first, the data and stack sixth.
  const struct {
    int resource;
    std::size_t used;
  } limits[] = {{RLIMIT_AS, haveSizes ? pages[0] * page : 0},
                {RLIMIT_DATA, haveSizes ? pages[5] * page : 0}};
  for (const auto& l : limits) {
    rlimit lim{};
    if (::getrlimit(l.resource, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) continue;
    const std::size_t cap = static_cast<std::size_t>(lim.rlim_cur);
    spare = std::min(spare, cap > l.used ? cap - l.used : 0);
  }
  return spare;
}

}  // namespace

namespace rt {

struct alignas(64) ChunkPool::Worker {
  std::atomic<std::uint32_t> go{0};        // the last job it was asked to help with
  std::atomic<std::uint32_t> sleeping{0};  // it sleeps on go
  ChunkPool* pool = nullptr;
  pthread_t thread{};
};

ChunkPool::ChunkPool(int threads) noexcept {
  int wanted = threads < 1 ? 0 : (threads > kMaxThreads ? kMaxThreads : threads) - 1;
  if (wanted == 0) return;
  const std::size_t stack = workerStack();
  const std::size_t spare = spareAddressSpace();
  if (spare != SIZE_MAX) {
    // Under a limit every worker's stack counts in full, and so would the
    // malloc arena that the C library would give each worker (tens of MiB
    // reserved): the workers allocate from the program's own arena instead,
    // and the pool takes a small share of what is left.
#ifdef M_ARENA_MAX
    ::mallopt(M_ARENA_MAX, 1);
#endif
    const std::size_t perWorker = stack + static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    wanted = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(wanted),
                                                    spare / kShareOfSpare / perWorker));
    if (wanted == 0) return;
  }
  workers_.reset(new (std::nothrow) Worker[static_cast<std::size_t>(wanted)]);
  if (!workers_) return;
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return;
  ::pthread_attr_setstacksize(&attr, stack);
  // The workers start with the signals sent to the process blocked, so
  // that such a signal (an interruption, a termination) is always taken by
  // the program's own thread, never in the middle of a worker's chunk.
  // Signals raised by a fault of a worker's own stay with it.
  sigset_t blocked, previous;
  sigfillset(&blocked);
  for (int sig : kFaultSignals) sigdelset(&blocked, sig);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  for (int k = 0; k < wanted; ++k) {
    Worker& w = workers_[static_cast<std::size_t>(k)];
    w.pool = this;
    if (::pthread_create(&w.thread, &attr, &ChunkPool::start, &w) != 0) break;
    ++nWorkers_;  // run with the threads that did start
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::pthread_attr_destroy(&attr);
  limit_ = ThreadLimit(nWorkers_ + 1);
  windowStart_ = Clock::now();
}

ChunkPool::~ChunkPool() {
  stop_.store(true);
  for (int k = 0; k < nWorkers_; ++k) {
    Worker& w = workers_[static_cast<std::size_t>(k)];
    w.go.fetch_add(1);
    w.go.notify_one();
  }
  for (int k = 0; k < nWorkers_; ++k) {
    ::pthread_join(workers_[static_cast<std::size_t>(k)].thread, nullptr);
  }
}

void ChunkPool::setPressureSource(bool (*source)(std::uint64_t& stalled)) {
  pressureSource.store(source != nullptr ? source : processorPressure);
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
  for (std::size_t base = 0; base < nChunks; base += kMaxPiece) {
    runPiece(base, static_cast<std::uint32_t>(std::min(kMaxPiece, nChunks - base)), task, ctx);
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void ChunkPool::runPiece(std::size_t base, std::uint32_t nChunks, Task task, void* ctx) {
  const std::uint32_t job = ++job_;
  // Takers of earlier jobs find this job's number from here on, before its
  // size changes.
  claim_.store(std::uint64_t{job} << 32 | kClosed);
  nChunks_.store(nChunks, std::memory_order_release);
  task_ = task;
  ctx_ = ctx;
  base_ = base;
  done_.store(0, std::memory_order_relaxed);
  joined_.store(0, std::memory_order_relaxed);
  claim_.store(std::uint64_t{job} << 32, std::memory_order_release);

  // Workers asked: as many as the job has chunks besides one of the
  // caller's, within the limit.
  const int wake =
      static_cast<int>(std::min(nChunks, static_cast<std::uint32_t>(limit_.value()))) - 1;
  if (wake <= 0) {
    help(job, false);
    if (limit_.value() < threads()) adapt(Clock::now(), {});
    return;
  }
  const Clock::time_point started = Clock::now();
  for (int k = 0; k < wake; ++k) workers_[static_cast<std::size_t>(k)].go.store(job);
  for (int k = 0; k < wake; ++k) {
    Worker& w = workers_[static_cast<std::size_t>(k)];
    if (w.sleeping.load()) w.go.notify_one();
  }
  help(job, false);
  const Clock::time_point own = Clock::now();
  if (done_.load(std::memory_order_acquire) != nChunks) {
    const auto finished = [this, nChunks] {
      return done_.load(std::memory_order_acquire) == nChunks;
    };
    const Clock::duration poll = std::clamp<Clock::duration>(own - started, kCallerPollMin,
                                                             kCallerPollMax);
    if (!pollFor(poll, finished)) {
      callerWaits_.store(1);
      for (std::uint32_t d; (d = done_.load()) != nChunks;) done_.wait(d);
      callerWaits_.store(0);
    }
  }
  const Clock::time_point end = Clock::now();
  // The caller lost what it waited beyond its own share (the workers' chunks,
  // if they ran, would have ended within about as much)...
  Clock::duration loss = std::max<Clock::duration>((end - own) - (own - started), {});
  // ...or, when the workers asked have not come to take a chunk while the
  // caller took them all for a long while (they are late, not merely slower
  // to wake than a short job, nor still starting), all its time.
  if (joined_.load(std::memory_order_relaxed) == 0 && end - started > kLate &&
      running_.load(std::memory_order_relaxed) == nWorkers_) {
    loss = end - started;
  }
  adapt(end, loss);
}

void ChunkPool::adapt(Clock::time_point now, Clock::duration loss) {
  lost_ += loss;
  if (now - windowStart_ < kWindow) return;
  const Clock::rep window = (now - windowStart_).count();
  // The processors are wanted by more threads than they can run (this
  // run's and other programs'): some thread waited for one during more
  // than a quarter of the window. While any waited more than a sixteenth,
  // the limit does not rise.
  bool crowded = false;
  bool busy = false;
  std::uint64_t stalled = 0;
  if (pressureSource.load(std::memory_order_relaxed)(stalled)) {
    if (havePressure_) {
      const std::chrono::microseconds stall(
          static_cast<std::chrono::microseconds::rep>(stalled - stalled_));
      const Clock::rep waited = std::chrono::duration_cast<Clock::duration>(stall).count();
      crowded = waited * kLossShare > window;
      busy = waited * kPressureShare > window;
    }
    stalled_ = stalled;
    havePressure_ = true;
  }
  const bool losing = crowded || lost_.count() * kLossShare > window;
  windowStart_ = now;
  lost_ = {};
  limit_.windowEnded(now, losing, busy);
}

void ThreadLimit::windowEnded(Clock::time_point now, bool losing, bool busy) {
  if (losing) {
    if (limit_ == 1) return;
    limit_ /= 2;
    pause_ = std::min(2 * pause_, kMaxPause);
    rose_ = false;
    nextRise_ = now + pause_;
  } else if (now >= nextRise_ && (limit_ < threads_ || rose_) && !busy) {
    // No cut since the last rise: it held.
    if (rose_) pause_ = std::max(pause_ / 2, kMinPause);
    rose_ = limit_ < threads_;
    limit_ = std::min(threads_, 2 * limit_);
    nextRise_ = now + pause_;
  }
}

std::uint32_t ChunkPool::help(std::uint32_t job, bool worker) {
  std::uint32_t ran = 0;
  std::uint64_t seen = claim_.load(std::memory_order_acquire);
  for (;;) {
    if (static_cast<std::uint32_t>(seen >> 32) != job) break;
    const std::uint32_t next = static_cast<std::uint32_t>(seen);
    // A size read of a later job means that the claim word has moved on
    // too: the exchange below then fails.
    const std::uint32_t n = nChunks_.load(std::memory_order_acquire);
    if (next >= n) break;
    if (!claim_.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
      continue;
    }
    if (worker && ran == 0) joined_.fetch_add(1, std::memory_order_relaxed);
    const std::size_t chunk = base_ + next;
    try {
      task_(ctx_, chunk);
    } catch (...) {
      fail(chunk, std::current_exception());
    }
    ++ran;
    if (done_.fetch_add(1) + 1 == n && callerWaits_.load()) done_.notify_one();
    seen = claim_.load(std::memory_order_acquire);
  }
  return ran;
}

void ChunkPool::fail(std::size_t chunk, std::exception_ptr failure) {
  const std::lock_guard<std::mutex> lock(failMutex_);
  if (!failure_ || chunk < failedChunk_) {
    failure_ = std::move(failure);
    failedChunk_ = chunk;
  }
}

void* ChunkPool::start(void* worker) {
  Worker& self = *static_cast<Worker*>(worker);
  self.pool->work(self);
  return nullptr;
}

void ChunkPool::work(Worker& self) {
  running_.fetch_add(1, std::memory_order_relaxed);
  std::uint32_t seen = 0;
  for (;;) {
    std::uint32_t job = 0;
    const auto asked = [&self, &job, seen] {
      job = self.go.load(std::memory_order_acquire);
      return job != seen;
    };
    if (!pollFor(kWorkerPoll, asked)) {
      for (;;) {
        self.sleeping.store(1);
        job = self.go.load();
        if (job != seen) break;
        self.go.wait(seen);
      }
      self.sleeping.store(0);
    }
    if (stop_.load()) return;
    seen = job;
    help(job, true);
  }
}

}  // namespace rt
