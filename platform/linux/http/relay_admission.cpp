#include "platform/linux/http/relay_admission.h"

#include <algorithm>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <vector>

#include "platform/linux/http/worker_pool.h"

namespace ostrela::linux_platform {

// One wait at a time, re-armed whenever an earlier deadline starts waiting.
// A wait that completes after its owner is gone does nothing.
class RelayAdmission::ExpiryTimer : public std::enable_shared_from_this<ExpiryTimer> {
 public:
  explicit ExpiryTimer(RelayAdmission& owner) : owner_(owner), timer_(owner.pool_.context()) {}

  // With the owner's mutex held.
  void armFor(Clock::time_point deadline) {
    if (armed_ && armedFor_ <= deadline) return;
    armed_ = true;
    armedFor_ = deadline;
    timer_.expires_at(deadline);  // ends an earlier wait, whose handler does nothing
    timer_.async_wait([weak = weak_from_this()](boost::system::error_code ec) {
      if (std::shared_ptr<ExpiryTimer> self = weak.lock(); self && !ec) self->owner_.expireDue();
    });
  }
  // With the owner's mutex held, when the wait has completed.
  void fired() { armed_ = false; }

 private:
  RelayAdmission& owner_;
  boost::asio::steady_timer timer_;
  bool armed_ = false;
  Clock::time_point armedFor_;
};

RelayAdmission::RelayAdmission(WorkerPool& pool, std::size_t maxInFlight)
    : pool_(pool), maxInFlight_(maxInFlight) {}

RelayAdmission::~RelayAdmission() = default;

void RelayAdmission::submit(Entry entry) {
  {
    std::lock_guard lock(mutex_);
    if (inFlight_ >= maxInFlight_) {
      waiting_.push_back(std::move(entry));
      byDeadline_.emplace(waiting_.back().deadline, std::prev(waiting_.end()));
      armForEarliest();
      return;
    }
    ++inFlight_;
  }
  entry.start();
}

RelayAdmission::Entry RelayAdmission::takeOut(ByDeadline::iterator item) {
  const Waiting::iterator entry = item->second;
  byDeadline_.erase(item);
  Entry taken = std::move(*entry);
  waiting_.erase(entry);
  return taken;
}

void RelayAdmission::finished() {
  std::vector<Entry> expired;
  std::function<void()> next;
  {
    std::lock_guard lock(mutex_);
    --inFlight_;
    const Clock::time_point now = Clock::now();
    while (!waiting_.empty() && !next) {
      // The first to arrive, found among those of its deadline.
      const Waiting::iterator first = waiting_.begin();
      const auto [from, to] = byDeadline_.equal_range(first->deadline);
      Entry entry =
          takeOut(std::find_if(from, to, [&](const auto& item) { return item.second == first; }));
      if (entry.deadline <= now) {
        expired.push_back(std::move(entry));
      } else {
        ++inFlight_;
        next = std::move(entry.start);
      }
    }
  }
  for (Entry& entry : expired) entry.expire();
  if (next) next();
}

void RelayAdmission::armForEarliest() {
  if (byDeadline_.empty()) return;
  if (!timer_) timer_ = std::make_shared<ExpiryTimer>(*this);
  timer_->armFor(byDeadline_.begin()->first);
}

void RelayAdmission::expireDue() {
  std::vector<Entry> expired;
  {
    std::lock_guard lock(mutex_);
    timer_->fired();
    const Clock::time_point now = Clock::now();
    while (!byDeadline_.empty() && byDeadline_.begin()->first <= now) {
      expired.push_back(takeOut(byDeadline_.begin()));
    }
    armForEarliest();
  }
  for (Entry& entry : expired) entry.expire();
}

}  // namespace ostrela::linux_platform
