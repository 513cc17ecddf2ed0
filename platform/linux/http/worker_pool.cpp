#include "platform/linux/http/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/thread_pool.hpp>
#include <thread>

namespace ostrela::linux_platform {
namespace {

std::size_t threadsPerPool() {
  return std::max<std::size_t>(2, std::thread::hardware_concurrency());
}

std::atomic<bool> poolCreated{false};

}  // namespace

boost::asio::thread_pool& workerPool() {
  // Never deleted: tasks may still run while the process exits.
  static boost::asio::thread_pool* const pool = [] {
    auto* created = new boost::asio::thread_pool(threadsPerPool());
    poolCreated.store(true, std::memory_order_release);
    return created;
  }();
  return *pool;
}

std::size_t workerThreadCount() {
  return poolCreated.load(std::memory_order_acquire) ? threadsPerPool() : 0;
}

void spawnDetached(std::function<boost::asio::awaitable<void>()> task) {
  boost::asio::co_spawn(workerPool(), std::move(task), boost::asio::detached);
}

}  // namespace ostrela::linux_platform
