// The pool of web module instances the listener serves with: the program
// registers its module class, and each request takes an instance for its action.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "http/limits.h"
#include "http/web.h"

namespace tav::http {

using ModuleFactory = std::function<std::unique_ptr<WebModule>()>;

// Instances of the registered module class: at most `limit` active, idle ones reused.
class HandlerPool {
 public:
  explicit HandlerPool(std::size_t limit = Limits{}.maxActiveModules) : limit_(limit) {}
  // The pool the program registers its module class with.
  static HandlerPool &Global();

  void RegisterModuleClass(ModuleFactory factory);

  class Lease {
   public:
    Lease(HandlerPool &pool, std::unique_ptr<WebModule> module) : pool_(&pool), module_(std::move(module)) {}
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    Lease(Lease &&other) noexcept : pool_(std::exchange(other.pool_, nullptr)), module_(std::move(other.module_)) {}
    Lease &operator=(Lease &&) = delete;
    ~Lease() { Release(); }
    WebModule *get() const { return module_.get(); }
    // Gives the instance back now.
    void Release();

   private:
    HandlerPool *pool_;
    std::unique_ptr<WebModule> module_;
  };

  // Takes an idle instance or creates one; throws tav::Error with the concurrency
  // message when `limit` instances are active.
  Lease Admit();
  std::size_t Active() const;
  std::size_t Idle() const;

 private:
  void GiveBack(std::unique_ptr<WebModule> module);

  std::size_t limit_;
  mutable std::mutex mutex_;
  ModuleFactory factory_;
  std::vector<std::unique_ptr<WebModule>> idle_;
  std::size_t active_ = 0;
};

}  // namespace tav::http
