// The cap on relays in flight: arrival order, and deadlines kept while waiting.
#include "platform/linux/http/relay_admission.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <string>
#include <vector>

#include "platform/linux/http/worker_pool.h"

namespace ostrela::linux_platform {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// What happened to each entry, in order: "start a", "expire b", ...
class Journal {
 public:
  RelayAdmission::Entry entry(const std::string& name, RelayAdmission::Clock::duration budget) {
    return {RelayAdmission::Clock::now() + budget, [this, name] { add("start " + name); },
            [this, name] { add("expire " + name); }};
  }
  // The events once there are `count` of them, or after five seconds.
  Events waitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return events_.size() >= count; });
    return events_;
  }

 private:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  Events events_;
};

TEST(RelayAdmission, BeyondTheCapRelaysStartInArrivalOrderAsOthersEnd) {
  WorkerPool pool;
  RelayAdmission admission(pool, 2);
  Journal journal;
  for (const char* name : {"a", "b", "c", "d"}) admission.submit(journal.entry(name, 60s));
  EXPECT_EQ(journal.waitFor(0), (Events{"start a", "start b"}));
  for (int i = 0; i < 3; ++i) admission.finished();
  EXPECT_EQ(journal.waitFor(0), (Events{"start a", "start b", "start c", "start d"}));
}

// A waiting relay is answered at its deadline without starting, also when one
// with an earlier deadline arrives later; the rest start as slots free.
TEST(RelayAdmission, AWaitingRelayIsAnsweredAtItsDeadlineWithoutStarting) {
  WorkerPool pool;
  const WorkerPool::Work work(pool);  // a pool thread for the timer
  RelayAdmission admission(pool, 1);
  Journal journal;
  admission.submit(journal.entry("holds the slot", 60s));
  admission.submit(journal.entry("long", 60s));
  const auto submitted = RelayAdmission::Clock::now();
  admission.submit(journal.entry("short", 100ms));
  EXPECT_EQ(journal.waitFor(2).back(), "expire short");
  EXPECT_GE(RelayAdmission::Clock::now() - submitted, 100ms);
  admission.submit(journal.entry("shorter", 1ms));
  journal.waitFor(3);
  admission.finished();
  EXPECT_EQ(journal.waitFor(4),
            (Events{"start holds the slot", "expire short", "expire shorter", "start long"}));
}

}  // namespace
}  // namespace ostrela::linux_platform
