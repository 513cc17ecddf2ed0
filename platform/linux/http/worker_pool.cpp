#include "platform/linux/http/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/thread_pool.hpp>
#include <thread>

#include <sys/resource.h>

namespace ostrela::linux_platform {
namespace {

std::size_t threadsPerPool() {
  return std::max<std::size_t>(2, std::thread::hardware_concurrency());
}

std::atomic<bool> poolCreated{false};

// Every exchange in flight holds a socket. Browsers start hosts with the
// desktop's soft limit on descriptors, often 1,024, far below the hard limit:
// raise it, so that a burst of messages is not refused for want of descriptors.
void allowAsManyDescriptorsAsPermitted() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

boost::asio::thread_pool& workerPool() {
  // Never deleted: tasks may still run while the process exits.
  static boost::asio::thread_pool* const pool = [] {
    allowAsManyDescriptorsAsPermitted();
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
