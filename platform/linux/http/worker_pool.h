// The extension's one pool of worker threads, on which every relayed message
// runs as a detached task. Created by the first relayed message, never torn
// down: until then the process has no worker thread.
#pragma once

#include <cstddef>
#include <functional>

#include <boost/asio/awaitable.hpp>

namespace boost::asio {
class thread_pool;
}

namespace ostrela::linux_platform {

// The pool, created on first use (thread-safe). Its threads start as work
// needs them: one with the first task, another whenever more tasks are in
// flight than threads run, up to as many as the machine has cores (at least
// two). A cold start that relays one message so starts one thread, not two.
boost::asio::thread_pool& workerPool();

// Counts work handed to the pool other than through spawnDetached (an
// exchange awaited from another executor) as a task in flight while it lives,
// so that a thread runs it.
class PoolWork {
 public:
  PoolWork();
  ~PoolWork();
  PoolWork(const PoolWork&) = delete;
  PoolWork& operator=(const PoolWork&) = delete;
};

// Starts `task()` as a detached coroutine on the pool and returns at once. Any
// thread may call it. The task must not throw: nothing awaits it.
void spawnDetached(std::function<boost::asio::awaitable<void>()> task);

}  // namespace ostrela::linux_platform
