// Dynamic libraries on Windows: LoadLibraryW, GetProcAddress, FreeLibrary.
#include <windows.h>

#include <utility>

#include "platform/dynlib.h"
#include "platform/text.h"
#include "platform/win_util.h"

namespace tav {
using win::SystemMessage;

DynamicLibrary DynamicLibrary::Open(const std::string &utf8Path, std::string *error) {
  const std::u16string wide = text::FromUtf8(utf8Path);
  HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t *>(wide.c_str()));
  if (module == nullptr && error != nullptr) *error = SystemMessage(GetLastError());
  return DynamicLibrary(reinterpret_cast<void *>(module));
}

void *DynamicLibrary::symbol(const char *name) const noexcept {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

bool DynamicLibrary::close(std::string *error) noexcept {
  if (handle_ == nullptr) return true;
  if (FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)))) return true;
  if (error != nullptr) *error = SystemMessage(GetLastError());
  return false;
}

}  // namespace tav
