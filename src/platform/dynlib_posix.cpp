// Dynamic libraries on Linux: dlopen(RTLD_NOW | RTLD_LOCAL), dlsym, dlclose.
#include <dlfcn.h>

#include <utility>

#include "platform/dynlib.h"

namespace tav {

DynamicLibrary DynamicLibrary::Open(const std::string &utf8Path, std::string *error) {
  void *handle = dlopen(utf8Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *reason = dlerror();
    if (error != nullptr) *error = reason != nullptr ? reason : "unknown loader error";
    (void)dlerror();  // a second call releases the message the first one returned
  }
  return DynamicLibrary(handle);
}

void *DynamicLibrary::symbol(const char *name) const noexcept {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

bool DynamicLibrary::close(std::string *error) noexcept {
  if (handle_ == nullptr) return true;
  const int rc = dlclose(std::exchange(handle_, nullptr));
  if (rc != 0) {
    const char *reason = dlerror();
    if (error != nullptr) *error = reason != nullptr ? reason : "unknown loader error";
    (void)dlerror();
  }
  return rc == 0;
}

}  // namespace tav
