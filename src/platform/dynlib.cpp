// What a loaded library is on every system: moved like a value, closed when it goes.
// Opening, looking up and closing are the system's (dynlib_posix.cpp, dynlib_win.cpp).
#include "platform/dynlib.h"

#include <utility>

namespace tav {

DynamicLibrary::DynamicLibrary(DynamicLibrary &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { close(); }

}  // namespace tav
