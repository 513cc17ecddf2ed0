// A thread of its own that runs posted tasks one at a time, in order: where
// browser-integration requests are answered, away from the user interface.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ostrela {

// post() may be called from any thread. The destructor runs the tasks already
// posted, then joins the thread; it must not be called from a task.
class SerialWorker {
 public:
  SerialWorker();
  ~SerialWorker();
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  void post(std::function<void()> task);
  // Returns once every task posted before the call has run. Not from a task.
  void drain();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
  bool stopping_ = false;                    // guarded by mutex_
  std::thread thread_;                       // started last, after the members it uses
};

}  // namespace ostrela
