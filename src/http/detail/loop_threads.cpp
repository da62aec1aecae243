#include "http/detail/loop_threads.h"

#include <algorithm>

namespace tav::http::detail {
namespace {

constexpr auto kRetireAfter = std::chrono::seconds(10);  // an extra thread idle this long ends
// Every loop thread inside an action this long, none finishing: another thread takes the loop.
constexpr auto kStallGrace = std::chrono::milliseconds(2);
constexpr auto kSupervisorRest = std::chrono::seconds(1);  // no action this long: the supervisor sleeps

}  // namespace

LoopThreads::LoopThreads(asio::io_context &io, std::size_t base, std::size_t max, std::function<void()> stalled)
    : io_(io), base_(std::max<std::size_t>(1, base)), max_(max), stalled_(std::move(stalled)) {}

void LoopThreads::Start() {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < base_; ++i) Spawn();
  supervising_ = true;
  supervisor_ = std::thread([this] { Supervise(); });
}

bool LoopThreads::EnterAction() {
  std::lock_guard lock(mutex_);
  const bool freeThread = threads_.size() > busy_ + 1;  // a loop thread besides this one is outside any action
  ++busy_;
  ++actionsStarted_;
  if (supervisorAsleep_) {
    supervisorAsleep_ = false;
    supervisorWake_.notify_one();
  }
  return freeThread;
}

void LoopThreads::LeaveAction() {
  std::lock_guard lock(mutex_);
  --busy_;
  ++actionsFinished_;
}

std::size_t LoopThreads::Count() const {
  std::lock_guard lock(mutex_);
  return threads_.size() + (supervisor_.joinable() ? 1 : 0);
}

void LoopThreads::Spawn() {
  // Threads that retired are joined here (they no longer need the lock).
  for (std::thread &ended : finished_) ended.join();
  finished_.clear();
  threads_.emplace_front();
  const auto self = threads_.begin();
  *self = std::thread([this, self] { ThreadBody(self); });
}

void LoopThreads::ThreadBody(std::list<std::thread>::iterator self) {
  for (;;) {
    std::size_t handled = 0;
    try {
      handled = io_.run_for(kRetireAfter);
    } catch (...) {
      handled = 1;  // a handler failed; the loop goes on
    }
    std::lock_guard lock(mutex_);
    const bool outOfWork = io_.stopped();  // only after Stop let the work go
    // While actions run, two threads stay free (see Supervise).
    const std::size_t keepFree = base_ + (busy_ > 0 ? 1 : 0);
    const bool spare = handled == 0 && threads_.size() - busy_ > keepFree;
    if (outOfWork || spare) {
      finished_.push_back(std::move(*self));
      threads_.erase(self);
      threadEnded_.notify_all();
      return;
    }
  }
}

// Looks at the actions every grace period while any run: when every loop thread
// is inside one and none has finished since the last look, the loop has stalled
// and gets another thread. Sleeps while no action starts.
void LoopThreads::Supervise() {
  std::unique_lock lock(mutex_);
  bool stalledBefore = false;
  std::uint64_t startedAtLastLook = actionsStarted_;
  Clock::time_point lastStart = Clock::now();
  while (supervising_) {
    if (busy_ == 0 && Clock::now() - lastStart > kSupervisorRest) {
      supervisorAsleep_ = true;
      supervisorWake_.wait(lock, [&] { return !supervisorAsleep_ || !supervising_; });
      supervisorAsleep_ = false;
      lastStart = Clock::now();
      startedAtLastLook = actionsStarted_;
      continue;
    }
    supervisorWake_.wait_for(lock, kStallGrace);
    if (!supervising_) break;
    // Stalled: fewer than two loop threads are free, and an action that had started
    // by the last look is still running (fewer actions have finished than had
    // started then). Fast actions finishing meanwhile do not hide a slow one. Two
    // free threads are kept: one accepts, one takes the accept role when that one
    // starts an action.
    const bool stalled = busy_ > 0 && busy_ + 2 > threads_.size() && actionsFinished_ < startedAtLastLook;
    if (stalled && stalledBefore && threads_.size() < max_) {
      Spawn();
      stalled_();  // the stalled thread may have been the one taking connections
      stalledBefore = false;
    } else {
      stalledBefore = stalled;
    }
    if (actionsStarted_ != startedAtLastLook) lastStart = Clock::now();
    startedAtLastLook = actionsStarted_;
  }
}

bool LoopThreads::Join(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!threadEnded_.wait_until(lock, deadline, [&] { return !finished_.empty() || threads_.empty(); }))
      return false;  // an action is still running; its thread ends when it does
    std::vector<std::thread> ended;
    ended.swap(finished_);
    const bool last = threads_.empty();
    lock.unlock();
    for (std::thread &thread : ended) thread.join();
    lock.lock();
    if (last && threads_.empty() && finished_.empty()) break;
  }
  // The loop is done; the supervisor has nothing left to watch.
  supervising_ = false;
  supervisorWake_.notify_all();
  lock.unlock();
  if (supervisor_.joinable()) supervisor_.join();
  return true;
}

}  // namespace tav::http::detail
