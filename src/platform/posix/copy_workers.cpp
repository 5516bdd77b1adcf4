#include "platform/posix/copy_workers.h"

#include <chrono>
#include <cstdint>
#include <system_error>
#include <utility>

namespace qor::platform {

namespace {

constexpr auto kKeepGoingEvery = std::chrono::milliseconds(100);

}  // namespace

CopyWorkers::~CopyWorkers() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void CopyWorkers::Run(std::function<void(bool here)> work, const void* lane) {
  std::unique_lock lock(mutex_);
  if (threads_.size() < count_ && threads_.size() < under_way_ + 1) {
    try {
      threads_.emplace_back([this] { Serve(); });
    } catch (const std::system_error&) {
      // No further thread to be had: those there are will do.
    }
  }
  if (threads_.empty()) {
    lock.unlock();
    work(true);
    return;
  }
  queue_.push_back({std::move(work), lane});
  ++under_way_;
  lock.unlock();
  changed_.notify_all();
}

void CopyWorkers::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) return;
    const auto next = Next();
    const std::function<void(bool here)> work = std::move(next->work);
    const void* lane = next->lane;
    queue_.erase(next);
    ++running_[lane];
    lock.unlock();
    work(false);
    lock.lock();
    if (--running_[lane] == 0) running_.erase(lane);
    --under_way_;
    changed_.notify_all();
  }
}

std::deque<CopyWorkers::Queued>::iterator CopyWorkers::Next() {
  auto best = queue_.begin();
  std::size_t fewest = SIZE_MAX;
  for (auto it = queue_.begin(); it != queue_.end() && fewest > 0; ++it) {
    const auto running = running_.find(it->lane);
    const std::size_t count = running == running_.end() ? 0 : running->second;
    if (count < fewest) {
      fewest = count;
      best = it;
    }
  }
  return best;
}

bool CopyWorkers::WaitBelow(std::size_t most, const KeepGoing& keep_going) {
  std::unique_lock lock(mutex_);
  while (under_way_ >= most) {
    if (changed_.wait_for(lock, kKeepGoingEvery, [&] { return under_way_ < most; })) break;
    lock.unlock();
    const bool go_on = !keep_going || keep_going();
    lock.lock();
    if (!go_on) return false;
  }
  return true;
}

bool CopyWorkers::WaitIdle(const KeepGoing& keep_going) {
  bool go_on = true;
  std::unique_lock lock(mutex_);
  while (!changed_.wait_for(lock, kKeepGoingEvery, [this] { return under_way_ == 0; })) {
    lock.unlock();
    if (keep_going && !keep_going()) go_on = false;
    lock.lock();
  }
  return go_on;
}

}  // namespace qor::platform
