// Dynamic libraries on Windows: LoadLibraryW, GetProcAddress, FreeLibrary.
#include <windows.h>

#include <utility>

#include "platform/dynlib.h"
#include "platform/text.h"

namespace tav {
namespace {

std::string SystemMessage(DWORD code) {
  wchar_t *buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
  std::string message = n > 0 ? text::ToUtf8(std::u16string_view(reinterpret_cast<const char16_t *>(buffer), n))
                              : "error " + std::to_string(code);
  if (buffer != nullptr) LocalFree(buffer);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) message.pop_back();
  return message;
}

}  // namespace

DynamicLibrary DynamicLibrary::Open(const std::string &utf8Path, std::string *error) {
  const std::u16string wide = text::FromUtf8(utf8Path);
  HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t *>(wide.c_str()));
  if (module == nullptr && error != nullptr) *error = SystemMessage(GetLastError());
  return DynamicLibrary(reinterpret_cast<void *>(module));
}

DynamicLibrary::DynamicLibrary(DynamicLibrary &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { close(); }

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
