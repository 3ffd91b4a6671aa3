#pragma once

// A thread that runs one piece of work at a time, kept for as long as its
// owner lives: handing work to it costs no thread's creation and ending.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace zel {

class Worker {
 public:
  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  // Finishes the work handed over, then ends the thread.
  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // Hands over work, which must not throw; the work before it must be done
  // (Wait). The thread starts with the first.
  void Post(std::function<void()> work) {
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work_ = std::move(work);
    }
    changed_.notify_all();
  }

  // Whether the work handed over last is done (Wait would return at once).
  bool Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !work_;
  }

  // Returns once the work handed over last is done.
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !work_; });
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return quit_ || work_; });
      if (!work_) return;  // told to end, with nothing left to do
      const std::function<void()> work = work_;
      lock.unlock();
      work();
      lock.lock();
      work_ = nullptr;
      changed_.notify_all();
    }
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> work_;  // guarded by mutex_: handed over and not yet done
  bool quit_ = false;           // guarded by mutex_
};

}  // namespace zel
