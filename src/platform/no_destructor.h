// A process-wide object that is never destroyed: for state that threads may still
// reach while the process ends (the log, the library bridge, the module pool).
#pragma once

#include <new>
#include <utility>

namespace tav {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args &&...args) {
    ::new (static_cast<void *>(storage_)) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor &) = delete;
  NoDestructor &operator=(const NoDestructor &) = delete;

  T &get() { return *std::launder(reinterpret_cast<T *>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tav
