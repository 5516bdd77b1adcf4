#pragma once

// A few threads that make the copies of a batch side by side: on a share, a
// NAS or a USB disk every operation waits on the device or the network, and
// several copies under way at once overlap those waits.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/content_copy.h"

namespace qor::platform {

class CopyWorkers {
 public:
  // Up to `count` threads, started as work comes.
  explicit CopyWorkers(std::size_t count) : count_(count) {}
  // Lets the work under way end, then ends the threads.
  ~CopyWorkers();
  CopyWorkers(const CopyWorkers&) = delete;
  CopyWorkers& operator=(const CopyWorkers&) = delete;

  // Runs `work` on a worker, or here when no thread can be had. `work` must
  // not throw.
  void Run(std::function<void()> work);
  // Waits until fewer than `most` pieces of work are under way, asking
  // `keep_going` every 100 ms meanwhile. False as soon as it says to stop.
  bool WaitBelow(std::size_t most, const KeepGoing& keep_going);
  // Waits until no work is under way, asking `keep_going` every 100 ms also
  // once it has said to stop (the work cannot be broken off, and a window
  // must go on living meanwhile). False when it said to stop.
  bool WaitIdle(const KeepGoing& keep_going);

 private:
  void Serve();

  const std::size_t count_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
  std::size_t under_way_ = 0;  // queued or running
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qor::platform
