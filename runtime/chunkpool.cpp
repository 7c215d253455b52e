// A small, persistent pool of threads that runs one job over numbered
// chunks of work.
//
// Jobs often follow each other closely (one sweep over the stations after
// another), so a worker waits for its next job by polling for a short while
// before it sleeps, and so does the caller for the chunks that workers have
// taken; nobody polls for long, so that a machine shared with other
// programs gives its processors to them rather than to waiting. Each worker
// waits on a word of its own, which the caller sets to the number of the
// job it is asked to help with: a job wakes only the workers it asks for,
// the first ones of the pool.
#include "runtime/chunkpool.h"

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "runtime/sanitizer.h"
#include "runtime/signals.h"

namespace {

using Clock = std::chrono::steady_clock;

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

// The whole text of a small file of the system ("" where it cannot be read).
std::string smallFile(const char* path) {
  std::string text;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) text.assign(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

// The processors the process may use: those of its affinity, and no more
// than its control group's share of processor time (cpu.max: quota and
// period), rounded up.
int usableProcessors() {
  int processors = 0;
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) processors = CPU_COUNT(&set);
  if (processors <= 0) {
    const unsigned hardware = std::thread::hardware_concurrency();
    processors = hardware == 0 ? 1 : static_cast<int>(std::min<unsigned>(hardware, 1u << 20));
  }
  const std::string group = smallFile("/proc/self/cgroup");
  const std::size_t at = group.rfind("0::/");
  if (at == 0 || (at != std::string::npos && group[at - 1] == '\n')) {
    const std::string path = group.substr(at + 3, group.find('\n', at) - (at + 3));
    unsigned long long quota = 0, period = 0;
    if (std::sscanf(smallFile(("/sys/fs/cgroup" + path + "/cpu.max").c_str()).c_str(), "%llu %llu",
                    &quota, &period) == 2 &&
        quota > 0 && period > 0) {
      processors = static_cast<int>(
          std::min<unsigned long long>(static_cast<unsigned long long>(processors),
                                       (quota + period - 1) / period));
    }
  }
  return processors;
}

// The machine as the system shows it: the processors the process may use
// and those of the system (found once), and the threads of the system that
// run or wait for a processor now (the fourth field of /proc/loadavg:
// running/all).
rt::ThreadShare::Machine systemMachine() {
  static const int processors = usableProcessors();
  static const int online = static_cast<int>(std::max(::sysconf(_SC_NPROCESSORS_ONLN), 1L));
  rt::ThreadShare::Machine machine;
  machine.processors = processors;
  machine.online = online;
  const std::string load = smallFile("/proc/loadavg");
  int running = 0;
  if (std::sscanf(load.c_str(), "%*s %*s %*s %d/", &running) == 1 && running > 0) {
    machine.running = running;
  }
  return machine;
}

// Where the pools look at the machine (a test hook may replace it).
std::atomic<rt::ThreadShare::Machine (*)()> machineSource{systemMachine};

// Blocks in the calling thread the signals sent to the process (previous:
// its mask before), so that the workers it starts leave such a signal (an
// interruption, a termination) to the program's own thread, never taking
// it in the middle of a chunk. Signals raised by a fault of a worker's own
// stay with it.
void blockProcessSignals(sigset_t& previous) {
  sigset_t blocked;
  sigfillset(&blocked);
  for (int sig : rt::kFaultSignals) sigdelset(&blocked, sig);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
}

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
  std::uint32_t before = 0;  // a job number before its first (set before it starts)
  pthread_t thread{};
};

ChunkPool::ChunkPool(int threads) noexcept : ChunkPool(threads, false) {}

ChunkPool::ChunkPool(int threads, bool followMachine) noexcept {
  int wanted = threads < 1 ? 0 : (threads > kMaxThreads ? kMaxThreads : threads) - 1;
  share_ = ThreadShare(1, followMachine);
  if (wanted == 0) return;
  stack_ = workerStack();
  const std::size_t spare = spareAddressSpace();
  if (spare != SIZE_MAX) {
    // Under a limit every worker's stack counts in full, and so would the
    // malloc arena that the C library would give each worker (tens of MiB
    // reserved): the workers allocate from the program's own arena instead,
    // and the pool takes a small share of what is left now, whenever it
    // starts them.
#ifdef M_ARENA_MAX
    ::mallopt(M_ARENA_MAX, 1);
#endif
    const std::size_t perWorker = stack_ + static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    wanted = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(wanted),
                                                    spare / kShareOfSpare / perWorker));
    if (wanted == 0) return;
  }
  workers_.reset(new (std::nothrow) Worker[static_cast<std::size_t>(wanted)]);
  if (!workers_) return;
  maxWorkers_ = wanted;
  share_ = ThreadShare(maxWorkers_ + 1, followMachine);
}

void ChunkPool::startWorkers(int wanted, std::uint32_t job) {
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) {
    maxWorkers_ = nWorkers_;
    return;
  }
  ::pthread_attr_setstacksize(&attr, stack_);
  sigset_t previous;
  blockProcessSignals(previous);
  while (nWorkers_ < wanted) {
    Worker& w = workers_[static_cast<std::size_t>(nWorkers_)];
    w.pool = this;
    w.before = job - 1;
    w.go.store(job, std::memory_order_relaxed);
    if (::pthread_create(&w.thread, &attr, &ChunkPool::start, &w) != 0) {
      maxWorkers_ = nWorkers_;  // run with the threads that did start
      break;
    }
    ++nWorkers_;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::pthread_attr_destroy(&attr);
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

void ChunkPool::setMachineSource(ThreadShare::Machine (*source)()) {
  machineSource.store(source != nullptr ? source : systemMachine);
}

ChunkPool& ChunkPool::shared() {
  static const int asked = threadSetting();
  static ChunkPool pool(asked > 0 ? asked : std::min(systemMachine().processors, kMaxThreads),
                        asked == 0);
  return pool;
}

int ChunkPool::threadsAsked(const char* value, std::string& warning) {
  warning.clear();
  if (value == nullptr) return 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const char* begin = value;
  const char* end = value + std::strlen(value);
  while (begin < end && blank(*begin)) ++begin;
  while (end > begin && blank(end[-1])) --end;
  if (begin == end) return 0;  // empty, or blanks alone
  bool number = true;
  long long threads = 0;  // kMaxThreads + 1 for any larger number
  for (const char* c = begin; c < end && number; ++c) {
    number = *c >= '0' && *c <= '9';
    threads = std::min<long long>(10 * threads + (*c - '0'), kMaxThreads + 1);
  }
  if (number && threads > kMaxThreads) {
    warning = std::string("XFORM1_THREADS=\"") + value + "\" is more than " +
              std::to_string(kMaxThreads) + ": the program uses " + std::to_string(kMaxThreads) +
              " threads";
    return kMaxThreads;
  }
  if (number && threads >= 1) return static_cast<int>(threads);
  warning = std::string("XFORM1_THREADS=\"") + value +
            "\" is not a positive integer: the program chooses the number of threads";
  return 0;
}

int ChunkPool::threadSetting() {
  static const int setting = [] {
    std::string warning;
    const int threads = threadsAsked(std::getenv("XFORM1_THREADS"), warning);
    if (!warning.empty()) std::cerr << warning << std::endl;
    return threads;
  }();
  return setting;
}

int ChunkPool::threadsFor(std::size_t work) {
  if (share_.follows()) {
    const Clock::time_point now = Clock::now();
    if (share_.due(now)) {
      // The run's own threads that run: the caller, and the workers that
      // do not sleep.
      int awake = 1;
      for (int k = 0; k < nWorkers_; ++k) {
        const Worker& w = workers_[static_cast<std::size_t>(k)];
        awake += w.sleeping.load(std::memory_order_relaxed) == 0;
      }
      share_.looked(now, machineSource.load(std::memory_order_relaxed)(), awake);
    }
  }
  return std::min(share_.threadsFor(work), maxWorkers_ + 1);
}

void ThreadShare::looked(Clock::time_point now, Machine machine, int own) {
  nextLook_ = now + kLookEvery;
  // Not known: as many as the processors.
  const int others = machine.running < 0 ? 0 : std::max(machine.running - own, 0);
  const int online = std::max(machine.online, machine.processors);
  const int free = std::max(1, std::min(machine.processors, online - others));
  free_ = std::min(free, lastFree_);
  lastFree_ = free;
}

int ThreadShare::threadsFor(std::size_t work) const {
  const std::size_t byWork = follow_ ? std::max<std::size_t>(work / kWorkPerThread, 1) : SIZE_MAX;
  const int allowed = follow_ ? free_ : threads_;
  return static_cast<int>(std::min({byWork, static_cast<std::size_t>(allowed),
                                    static_cast<std::size_t>(threads_)}));
}

void ChunkPool::runJob(std::size_t nChunks, std::size_t work, Task task, void* ctx) {
  failure_ = nullptr;
  const int threads = threadsFor(work);
  for (std::size_t base = 0; base < nChunks; base += kMaxPiece) {
    runPiece(base, static_cast<std::uint32_t>(std::min(kMaxPiece, nChunks - base)), threads, task,
             ctx);
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void ChunkPool::runPiece(std::size_t base, std::uint32_t nChunks, int threads, Task task,
                         void* ctx) {
  const std::uint32_t job = ++job_;
  // Takers of earlier jobs find this job's number from here on, before its
  // size changes.
  claim_.store(std::uint64_t{job} << 32 | kClosed);
  nChunks_.store(nChunks, std::memory_order_release);
  task_ = task;
  ctx_ = ctx;
  base_ = base;
  done_.store(0, std::memory_order_relaxed);
  claim_.store(std::uint64_t{job} << 32, std::memory_order_release);

  // Workers asked: as many as the job has chunks besides one of the
  // caller's, within its threads. Those not started yet start now, with
  // the job set up: they take chunks at once.
  const int asked = static_cast<int>(std::min(nChunks, static_cast<std::uint32_t>(threads))) - 1;
  const int awake = std::min(asked, nWorkers_);
  Clock::time_point started = Clock::now();
  for (int k = 0; k < awake; ++k) workers_[static_cast<std::size_t>(k)].go.store(job);
  for (int k = 0; k < awake; ++k) {
    Worker& w = workers_[static_cast<std::size_t>(k)];
    if (w.sleeping.load()) w.go.notify_one();
  }
  if (asked > nWorkers_ && nWorkers_ < maxWorkers_) {
    startWorkers(asked, job);
    started = Clock::now();
  }
  help(job);
  if (done_.load(std::memory_order_acquire) == nChunks) return;
  // The workers' chunks, if they run, end within about as long as the
  // caller's own share took.
  const auto finished = [this, nChunks] {
    return done_.load(std::memory_order_acquire) == nChunks;
  };
  const Clock::duration poll =
      std::clamp<Clock::duration>(Clock::now() - started, kCallerPollMin, kCallerPollMax);
  if (!pollFor(poll, finished)) {
    callerWaits_.store(1);
    for (std::uint32_t d; (d = done_.load()) != nChunks;) done_.wait(d);
    callerWaits_.store(0);
  }
}

void ChunkPool::help(std::uint32_t job) {
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
    const std::size_t chunk = base_ + next;
    try {
      task_(ctx_, chunk);
    } catch (...) {
      fail(chunk, std::current_exception());
    }
    if (done_.fetch_add(1) + 1 == n && callerWaits_.load()) done_.notify_one();
    seen = claim_.load(std::memory_order_acquire);
  }
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
  std::uint32_t seen = self.before;
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
    help(job);
  }
}

}  // namespace rt
