// The cap on relays in flight: arrival order, and deadlines kept while waiting.
#include "platform/linux/http/relay_admission.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/http/worker_pool.h"

namespace ostrela::linux_platform {
namespace {

using namespace std::chrono_literals;
using Clock = RelayAdmission::Clock;

// What happened to each entry, in order: "start a", "expire b", ...
class Journal {
 public:
  RelayAdmission::Entry entry(const std::string& name, Clock::duration budget) {
    return {Clock::now() + budget, [this, name] { add("start " + name); },
            [this, name] { add("expire " + name); }};
  }
  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // Waits until `count` events have happened.
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
  }

 private:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

TEST(RelayAdmission, BeyondTheCapRelaysStartInArrivalOrderAsOthersEnd) {
  RelayAdmission admission(2);
  Journal journal;
  for (const char* name : {"a", "b", "c", "d"}) admission.submit(journal.entry(name, 60s));
  EXPECT_EQ(journal.events(), (std::vector<std::string>{"start a", "start b"}));
  admission.finished();
  admission.finished();
  admission.finished();
  EXPECT_EQ(journal.events(),
            (std::vector<std::string>{"start a", "start b", "start c", "start d"}));
}

TEST(RelayAdmission, AWaitingRelayIsAnsweredAtItsDeadlineWithoutStarting) {
  const PoolWork work;  // a pool thread for the timer
  RelayAdmission admission(1);
  Journal journal;
  admission.submit(journal.entry("holds the slot", 60s));
  admission.submit(journal.entry("long", 60s));
  const auto submitted = Clock::now();
  admission.submit(journal.entry("short", 100ms));
  ASSERT_TRUE(journal.waitFor(2, 5s));
  EXPECT_GE(Clock::now() - submitted, 100ms);
  EXPECT_EQ(journal.events().back(), "expire short");
  // A relay that arrives now with an earlier deadline re-arms the wait for it.
  admission.submit(journal.entry("shorter", 1ms));
  ASSERT_TRUE(journal.waitFor(3, 5s));
  admission.finished();
  EXPECT_EQ(journal.events(), (std::vector<std::string>{"start holds the slot", "expire short",
                                                        "expire shorter", "start long"}));
}

}  // namespace
}  // namespace ostrela::linux_platform
