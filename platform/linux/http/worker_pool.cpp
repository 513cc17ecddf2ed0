#include "platform/linux/http/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/thread_pool.hpp>
#include <exception>
#include <mutex>
#include <thread>

namespace ostrela::linux_platform {
namespace {

// An asio::thread_pool made with no threads of its own; threads join it
// (`attach`) when the tasks in flight outnumber them. Creating a thread costs
// 0.1 ms or more and 8 MiB of address space: at a cold start, which relays
// one message, a second thread would add a tenth to the time to the reply.
class LazyPool {
 public:
  boost::asio::thread_pool pool{0};

  // Counts a task in flight; returns how many are.
  std::size_t taskCounted() { return tasks_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Starts a thread when `inFlight` tasks outnumber the threads. Called once
  // the task is queued, so that a new thread finds it at once instead of
  // going to sleep and being woken for it.
  void threadStartedIfNeeded(std::size_t inFlight) {
    if (inFlight <= threads_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(mutex_);
    const std::size_t running = threads_.load(std::memory_order_relaxed);
    // maxThreads() is at least two: the first thread starts without reading it.
    if (running >= inFlight || (running > 0 && running >= maxThreads())) return;
    std::thread([this] { pool.attach(); }).detach();
    threads_.store(running + 1, std::memory_order_release);
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
  std::atomic<std::size_t> threads_{0};
  std::mutex mutex_;  // serialises starting threads
};

LazyPool& lazyPool() {
  // Never deleted: tasks may still run while the process exits.
  static LazyPool* const pool = new LazyPool;
  return *pool;
}

}  // namespace

boost::asio::thread_pool& workerPool() {
  return lazyPool().pool;
}

PoolWork::PoolWork() {
  LazyPool& pool = lazyPool();
  pool.threadStartedIfNeeded(pool.taskCounted());
}
PoolWork::~PoolWork() {
  lazyPool().taskEnded();
}

void spawnDetached(std::function<boost::asio::awaitable<void>()> task) {
  LazyPool& pool = lazyPool();
  const std::size_t inFlight = pool.taskCounted();
  boost::asio::co_spawn(pool.pool, std::move(task),
                        [&pool](const std::exception_ptr&) { pool.taskEnded(); });
  pool.threadStartedIfNeeded(inFlight);
}

}  // namespace ostrela::linux_platform
