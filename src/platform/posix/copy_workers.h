#pragma once

// A few threads that make the copies of a batch side by side: on a share, a
// NAS or a USB disk every operation waits on the device or the network, and
// several copies under way at once overlap those waits.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/content_copy.h"

namespace qor::platform {

class CopyWorkers {
 public:
  // Up to `count` threads, started as work comes.
  explicit CopyWorkers(std::size_t count) : count_(count) {}
  std::size_t count() const { return count_; }
  // Lets the work under way end, then ends the threads.
  ~CopyWorkers();
  CopyWorkers(const CopyWorkers&) = delete;
  CopyWorkers& operator=(const CopyWorkers&) = delete;

  // Runs `work` on a worker, or here when no thread can be had; `here` tells
  // it which, as only work done here may ask the caller (a window handles
  // its events on its own thread). `work` must not throw: on a worker that
  // would end the program. Work is handed out in the order given, except
  // that work of a `lane` with fewer pieces running goes first: the system
  // makes the creates and renames in one folder wait for each other, so
  // copies spread over the folders of a batch overlap more of their waits.
  void Run(std::function<void(bool here)> work, const void* lane = nullptr);
  // Waits until fewer than `most` pieces of work are under way, asking
  // `keep_going` every 100 ms meanwhile. False as soon as it says to stop.
  bool WaitBelow(std::size_t most, const KeepGoing& keep_going);
  // Waits until no work is under way, asking `keep_going` every 100 ms also
  // once it has said to stop (the work cannot be broken off, and a window
  // must go on living meanwhile). False when it said to stop.
  bool WaitIdle(const KeepGoing& keep_going);
  // Runs `step` on each of `items`, those whose `lane_of` is the same one
  // after the other on a worker of their own, and waits for them all,
  // asking `meanwhile` every 100 ms; on every way out, also when an
  // exception leaves, as the work uses what the caller holds. `step` must
  // not throw.
  template <typename Item, typename LaneOf, typename Step>
  void InLanes(const std::vector<Item*>& items, LaneOf lane_of, Step step,
               const KeepGoing& meanwhile) {
    std::vector<std::vector<Item*>> lanes;
    struct IdleOnLeaving {
      CopyWorkers* workers;
      ~IdleOnLeaving() {
        if (workers != nullptr) workers->WaitIdle({});
      }
    } leaving{this};
    for (Item* item : items) {
      auto lane = std::find_if(lanes.begin(), lanes.end(), [&](const std::vector<Item*>& lane) {
        return lane_of(*lane.front()) == lane_of(*item);
      });
      if (lane == lanes.end()) lane = lanes.insert(lanes.end(), std::vector<Item*>{});
      lane->push_back(item);
    }
    for (const std::vector<Item*>& lane : lanes) {
      Run([&lane, &step](bool) {
        for (Item* item : lane) step(*item);
      });
    }
    leaving.workers = nullptr;
    WaitIdle(meanwhile);
  }

 private:
  void Serve();

  const std::size_t count_;
  std::mutex mutex_;
  std::condition_variable changed_;
  struct Queued {
    std::function<void(bool here)> work;
    const void* lane;
  };
  // The next piece of work to run: the first of a lane with the fewest
  // pieces running.
  std::deque<Queued>::iterator Next();

  std::deque<Queued> queue_;
  std::map<const void*, std::size_t> running_;  // per lane
  std::size_t under_way_ = 0;                   // queued or running
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qor::platform
