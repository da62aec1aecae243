// A loaded shared library, owned like a value: dlclose when it goes.
#pragma once

#include <cstdint>
#include <string>

namespace tav {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Loads the file (RTLD_NOW | RTLD_LOCAL). On failure the result is not loaded
  // and `error` (when given) receives the loader's reason.
  static DynamicLibrary Open(const std::string &utf8Path, std::string *error = nullptr);

  DynamicLibrary(const DynamicLibrary &) = delete;
  DynamicLibrary &operator=(const DynamicLibrary &) = delete;
  DynamicLibrary(DynamicLibrary &&other) noexcept;
  DynamicLibrary &operator=(DynamicLibrary &&other) noexcept;
  ~DynamicLibrary();

  bool loaded() const noexcept { return handle_ != nullptr; }
  // The handle as an unsigned number (0 when not loaded), for the log.
  std::uintptr_t value() const noexcept { return reinterpret_cast<std::uintptr_t>(handle_); }
  // Address of an export, or null when the library lacks it.
  void *symbol(const char *name) const noexcept;
  // Unloads now; false (and the reason in `error`) when the loader refused.
  bool close(std::string *error = nullptr) noexcept;

 private:
  explicit DynamicLibrary(void *handle) : handle_(handle) {}
  void *handle_ = nullptr;
};

}  // namespace tav
