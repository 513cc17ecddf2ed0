#include "host/serial_worker.h"

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace ostrela {
namespace {

// Tasks from several threads run one at a time on the worker's own thread, each
// thread's in the order posted, and destruction runs every task already posted.
TEST(SerialWorker, RunsEveryPostedTaskInOrderOnItsOwnThread) {
  std::vector<std::pair<int, int>> ran;  // (poster, task)
  std::atomic<int> ranOnPoster = 0;
  {
    SerialWorker worker;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
      posters.emplace_back([&, t] {
        const auto poster = std::this_thread::get_id();
        for (int i = 0; i < 250; ++i) {
          worker.post([&, t, i, poster] {
            ran.emplace_back(t, i);
            if (std::this_thread::get_id() == poster) ++ranOnPoster;
          });
        }
      });
    }
    for (auto& poster : posters) poster.join();
  }
  ASSERT_EQ(ran.size(), 1000u);
  EXPECT_EQ(ranOnPoster, 0);
  std::vector<int> next(4, 0);
  for (const auto& [t, i] : ran) EXPECT_EQ(i, next[t]++);
}

}  // namespace
}  // namespace ostrela
