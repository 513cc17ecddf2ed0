#include "platform/linux/http/relay_admission.h"

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
      pending_.insert(entry.deadline);
      waiting_.push_back(std::move(entry));
      armForEarliest();
      return;
    }
    ++inFlight_;
  }
  entry.start();
}

void RelayAdmission::finished() {
  std::vector<Entry> expired;
  std::function<void()> next;
  {
    std::lock_guard lock(mutex_);
    --inFlight_;
    const Clock::time_point now = Clock::now();
    while (!waiting_.empty() && !next) {
      Entry entry = std::move(waiting_.front());
      waiting_.pop_front();
      pending_.erase(pending_.find(entry.deadline));
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
  if (pending_.empty()) return;
  if (!timer_) timer_ = std::make_shared<ExpiryTimer>(*this);
  timer_->armFor(*pending_.begin());
}

void RelayAdmission::expireDue() {
  std::vector<Entry> expired;
  {
    std::lock_guard lock(mutex_);
    timer_->fired();
    const Clock::time_point now = Clock::now();
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (it->deadline > now) {
        ++it;
        continue;
      }
      pending_.erase(pending_.find(it->deadline));
      expired.push_back(std::move(*it));
      it = waiting_.erase(it);
    }
    armForEarliest();
  }
  for (Entry& entry : expired) entry.expire();
}

}  // namespace ostrela::linux_platform
