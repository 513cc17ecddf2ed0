#include "host/serial_worker.h"

#include <atomic>
#include <future>
#include <vector>

#include <gtest/gtest.h>

namespace ostrela {
namespace {

TEST(SerialWorker, RunsTasksInOrderOnItsOwnThread) {
  std::vector<int> order;
  std::promise<std::thread::id> ran;
  {
    SerialWorker worker;
    for (int i = 0; i < 100; ++i) worker.post([&order, i] { order.push_back(i); });
    worker.post([&ran] { ran.set_value(std::this_thread::get_id()); });
    EXPECT_NE(ran.get_future().get(), std::this_thread::get_id());
  }
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(SerialWorker, DestructionRunsEveryTaskAlreadyPosted) {
  std::atomic<int> count = 0;
  {
    SerialWorker worker;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
      posters.emplace_back([&] {
        for (int i = 0; i < 250; ++i) worker.post([&count] { ++count; });
      });
    }
    for (auto& poster : posters) poster.join();
  }
  EXPECT_EQ(count, 1000);
}

}  // namespace
}  // namespace ostrela
