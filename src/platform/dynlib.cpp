#include "platform/dynlib.h"

#include <dlfcn.h>

#include <utility>

namespace tav {

DynamicLibrary DynamicLibrary::Open(const std::string &utf8Path, std::string *error) {
  void *handle = dlopen(utf8Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) {
    const char *reason = dlerror();
    *error = reason != nullptr ? reason : "unknown loader error";
  }
  return DynamicLibrary(handle);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { close(); }

void *DynamicLibrary::symbol(const char *name) const noexcept {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

bool DynamicLibrary::close(std::string *error) noexcept {
  if (handle_ == nullptr) return true;
  const int rc = dlclose(std::exchange(handle_, nullptr));
  if (rc != 0 && error != nullptr) {
    const char *reason = dlerror();
    *error = reason != nullptr ? reason : "unknown loader error";
  }
  return rc == 0;
}

}  // namespace tav
