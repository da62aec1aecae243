// The threads that run one event loop. One thread runs the loop and, inline, the
// action of each complete request, so a request costs no hand-over between
// threads. A supervisor watches the actions: when every loop thread has been
// inside one for a while and none finishes, it starts another thread for the
// loop; spare threads end when idle.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "http/detail/loop.h"

namespace tav::http::detail {

class LoopThreads {
 public:
  // `base` threads at least (one when 0), `max` at most; `stalled` runs after a
  // thread was added for a stalled loop (under the threads' lock: it must only post).
  LoopThreads(asio::io_context &io, std::size_t base, std::size_t max, std::function<void()> stalled);
  LoopThreads(const LoopThreads &) = delete;
  LoopThreads &operator=(const LoopThreads &) = delete;

  // Starts the base threads and the supervisor.
  void Start();
  // Around an action on a loop thread. EnterAction tells whether another loop
  // thread is free, outside any action.
  bool EnterAction();
  void LeaveAction();
  // Threads alive now, the supervisor included.
  std::size_t Count() const;
  // Once the loop is out of work: waits for every thread to end, until `deadline`
  // at most; false when some are still inside an action then.
  bool Join(Clock::time_point deadline);

 private:
  void Spawn();  // under mutex_
  void ThreadBody(std::list<std::thread>::iterator self);
  void Supervise();

  asio::io_context &io_;
  const std::size_t base_;
  const std::size_t max_;
  const std::function<void()> stalled_;

  mutable std::mutex mutex_;
  std::condition_variable threadEnded_;
  std::condition_variable supervisorWake_;
  std::list<std::thread> threads_;
  std::vector<std::thread> finished_;  // ended, to be joined
  std::thread supervisor_;
  bool supervising_ = false;
  bool supervisorAsleep_ = false;
  std::size_t busy_ = 0;  // threads inside an action
  std::uint64_t actionsStarted_ = 0;
  std::uint64_t actionsFinished_ = 0;
};

}  // namespace tav::http::detail
