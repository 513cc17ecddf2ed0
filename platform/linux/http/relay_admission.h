// Caps the relays in flight, so that descriptors and memory stay bounded
// whatever the browser sends, while every message keeps the deadline it got
// when it arrived.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>

namespace ostrela::linux_platform {

class WorkerPool;

// Relays beyond the cap wait in arrival order and start as others end. One
// whose deadline passes while it waits is answered then, without being sent:
// a timer on the worker pool is armed for the earliest deadline among them.
//
// Threads: safe from any thread. `start` and `expire` run outside the lock,
// on the submitting thread or a worker thread; `start` must return at once.
class RelayAdmission {
 public:
  using Clock = std::chrono::steady_clock;

  struct Entry {
    Clock::time_point deadline;
    // Starts the relay; its end must call finished() exactly once.
    std::function<void()> start;
    // Answers the relay as timed out; it never started.
    std::function<void()> expire;
  };

  // The timer lives on `pool`, which must outlive the admission.
  RelayAdmission(WorkerPool& pool, std::size_t maxInFlight);
  ~RelayAdmission();
  RelayAdmission(const RelayAdmission&) = delete;
  RelayAdmission& operator=(const RelayAdmission&) = delete;

  void submit(Entry entry);
  // A started relay has ended: the next waiting one starts.
  void finished();

 private:
  class ExpiryTimer;
  void armForEarliest();  // with mutex_ held
  void expireDue();

  using Waiting = std::list<Entry>;
  using ByDeadline = std::multimap<Clock::time_point, Waiting::iterator>;
  // Takes the relay `item` points to out of both orders; with mutex_ held.
  Entry takeOut(ByDeadline::iterator item);

  WorkerPool& pool_;
  const std::size_t maxInFlight_;
  std::mutex mutex_;
  std::size_t inFlight_ = 0;  // guarded by mutex_
  // Guarded by mutex_: the waiting relays in arrival order, and the same by
  // deadline, so that neither starting nor expiring one walks the others.
  Waiting waiting_;
  ByDeadline byDeadline_;
  std::shared_ptr<ExpiryTimer> timer_;  // guarded by mutex_; made for the first wait
};

}  // namespace ostrela::linux_platform
