#include "platform/linux/gtk/gobject_support.h"

#include <thread>

#include <gtest/gtest.h>

namespace ostrela::linux_platform {
namespace {

// As after the application's run: no thread owns the main context, and a
// worker hands work back. It must wait for the main thread.
TEST(MainContextHandOff, WorkFromAnotherThreadRunsOnlyOnTheMainThread) {
  std::thread::id ranOn;
  std::thread([&ranOn] {
    runOnMainContext([&ranOn] { ranOn = std::this_thread::get_id(); });
  }).join();
  EXPECT_EQ(ranOn, std::thread::id());
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace ostrela::linux_platform
