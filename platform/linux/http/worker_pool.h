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

// The pool, created on first use (thread-safe), with as many threads as the
// machine has cores, at least two.
boost::asio::thread_pool& workerPool();

// Threads the pool runs: 0 until it is created.
std::size_t workerThreadCount();

// Starts `task()` as a detached coroutine on the pool and returns at once. Any
// thread may call it. The task must not throw: nothing awaits it.
void spawnDetached(std::function<boost::asio::awaitable<void>()> task);

}  // namespace ostrela::linux_platform
