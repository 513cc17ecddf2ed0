// The extension's pool of worker threads, on which every relayed message runs
// as a detached task and where the relay's sockets and timers live. The
// executable's main makes one and passes it to the relay and its tasks.
#pragma once

#include <functional>
#include <memory>

#include <boost/asio/awaitable.hpp>

namespace boost::asio {
class thread_pool;
}

namespace ostrela::linux_platform {

// Made with no thread. Its threads start as work needs them: one with the
// first task, another whenever more tasks are in flight than threads run, up
// to as many as the process may use cores (at least two). A cold start that
// relays one message so starts one thread, and one that relays nothing none.
//
// Threads: every member is safe from any thread. Whatever lives on the pool
// (sockets, timers, the relay's sessions) must be gone before the pool is.
class WorkerPool {
 public:
  WorkerPool();
  // Stops the pool and joins its threads; queued work is dropped unrun.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Where sockets and timers are made.
  boost::asio::thread_pool& context();

  // Starts `task()` as a detached coroutine on the pool and returns at once.
  // The task must not throw: nothing awaits it.
  void spawnDetached(std::function<boost::asio::awaitable<void>()> task);

  // Counts work handed to the pool other than through spawnDetached (a timer
  // or exchange awaited from another executor) as a task in flight while it
  // lives, so that a thread runs it.
  class Work {
   public:
    explicit Work(WorkerPool& pool);
    ~Work();
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;

   private:
    WorkerPool& pool_;
  };

 private:
  class Threads;
  std::unique_ptr<Threads> threads_;
};

}  // namespace ostrela::linux_platform
