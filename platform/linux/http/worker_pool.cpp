#include "platform/linux/http/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/thread_pool.hpp>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrela::linux_platform {

// An asio::thread_pool made with no threads of its own; threads join it
// (`attach`) when the tasks in flight outnumber them. Creating a thread costs
// 0.1 ms or more and 8 MiB of address space: at a cold start, which relays
// one message, a second thread would add a tenth to the time to the reply.
class WorkerPool::Threads {
 public:
  boost::asio::thread_pool pool{0};

  // A task still running may ask for a thread meanwhile: none starts once stopping.
  ~Threads() {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      threads.swap(threads_);
    }
    pool.stop();
    for (std::thread& thread : threads) thread.join();
  }

  // Counts a task in flight; returns how many are.
  std::size_t taskCounted() { return tasks_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Starts a thread when `inFlight` tasks outnumber the threads. Called once
  // the task is queued, so that a new thread finds it at once instead of
  // going to sleep and being woken for it.
  void threadStartedIfNeeded(std::size_t inFlight) {
    if (inFlight <= running_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(mutex_);
    const std::size_t running = threads_.size();
    // maxThreads() is at least two: the first thread starts without reading it.
    if (stopping_ || running >= inFlight || (running > 0 && running >= maxThreads())) return;
    threads_.emplace_back([this] { pool.attach(); });
    running_.store(running + 1, std::memory_order_release);
  }
  void taskEnded() { tasks_.fetch_sub(1, std::memory_order_relaxed); }

 private:
  // The processors this process may run on, asked of the kernel when a second
  // thread is about to start. Not std::thread::hardware_concurrency(): glibc
  // reads it from /sys or /proc, which the confined extension may not read.
  static std::size_t maxThreads() {
    static const std::size_t cores = [] {
      cpu_set_t allowed;
      CPU_ZERO(&allowed);
      const int count =
          ::sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 0;
      return std::max<std::size_t>(2, static_cast<std::size_t>(count));
    }();
    return cores;
  }
  std::atomic<std::size_t> tasks_{0};
  std::atomic<std::size_t> running_{0};  // threads_.size(), read without the lock
  std::mutex mutex_;                     // serialises starting threads
  std::vector<std::thread> threads_;     // guarded by mutex_
  bool stopping_ = false;                // guarded by mutex_
};

WorkerPool::WorkerPool() : threads_(std::make_unique<Threads>()) {}

WorkerPool::~WorkerPool() = default;

boost::asio::thread_pool& WorkerPool::context() {
  return threads_->pool;
}

void WorkerPool::spawnDetached(std::function<boost::asio::awaitable<void>()> task) {
  Threads& threads = *threads_;
  const std::size_t inFlight = threads.taskCounted();
  boost::asio::co_spawn(threads.pool, std::move(task),
                        [&threads](const std::exception_ptr&) { threads.taskEnded(); });
  threads.threadStartedIfNeeded(inFlight);
}

WorkerPool::Work::Work(WorkerPool& pool) : pool_(pool) {
  pool_.threads_->threadStartedIfNeeded(pool_.threads_->taskCounted());
}

WorkerPool::Work::~Work() {
  pool_.threads_->taskEnded();
}

}  // namespace ostrela::linux_platform
