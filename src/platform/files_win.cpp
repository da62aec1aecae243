// Files on Windows: wide-character paths, CreateFileW; names already compare
// without regard to case, as the system does.
#include <windows.h>

#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/win_util.h"

namespace tav::files {
namespace {

using win::SystemMessage;
using win::Wide;

[[noreturn]] void Fail(const std::string &context, DWORD code) {
  throw IoError(IoError::Composed{}, context + ": " + SystemMessage(code));
}

// Writes every byte and closes the handle; throws naming the file.
void WriteAndCloseHandle(HANDLE file, std::string_view bytes, const std::string &nativePath) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
      const DWORD code = GetLastError();
      CloseHandle(file);
      Fail("Cannot write file \"" + nativePath + "\"", code);
    }
    done += written;
  }
  if (!CloseHandle(file)) Fail("Cannot write file \"" + nativePath + "\"", GetLastError());
}

}  // namespace

std::string ToNative(std::u16string_view path) { return text::ToUtf8(path); }

std::u16string CurrentDirectory() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return u"";
  std::vector<wchar_t> buffer(n);
  const DWORD got = GetCurrentDirectoryW(n, buffer.data());
  if (got == 0 || got >= n) return u"";
  std::u16string dir = win::Text(buffer.data(), got);
  if (dir.size() > 3 && dir.back() == u'\\') dir.pop_back();
  return dir;
}

std::u16string RequireCurrentDirectory() {
  std::u16string dir = CurrentDirectory();
  if (dir.empty()) Fail("The working directory is not available", GetLastError());
  return dir;
}

bool Exists(std::u16string_view path) {
  const DWORD attributes = GetFileAttributesW(Wide(std::u16string(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ResolveNoCase(const std::string &path) { return path; }
std::u16string ResolveNoCase(std::u16string_view path) { return std::u16string(path); }

std::u16string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return u"";
    if (n < buffer.size()) return win::Text(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<LocalTime> ModifiedTime(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(std::u16string(path)), GetFileExInfoStandard, &data)) return std::nullopt;
  FILETIME local{};
  SYSTEMTIME t{};
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &t)) return std::nullopt;
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::optional<std::string> ReadAll(std::u16string_view path) {
  HANDLE file = CreateFileW(Wide(std::u16string(path)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string data;
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      CloseHandle(file);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, n);
  }
  CloseHandle(file);
  return data;
}

void WriteAll(std::u16string_view path, std::string_view bytes) {
  const std::string native = ToNative(path);
  HANDLE file = CreateFileW(Wide(std::u16string(path)), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("Cannot create file \"" + native + "\"", GetLastError());
  WriteAndCloseHandle(file, bytes, native);
}

NewFile::NewFile(NewFile &&other) noexcept : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

NewFile::~NewFile() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  DeleteFileW(Wide(text::FromUtf8(path_)));  // never written: nothing may take it for a stored file
}

void NewFile::WriteAndClose(std::string_view bytes) {
  try {
    WriteAndCloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, -1)), bytes, path_);
  } catch (...) {
    DeleteFileW(Wide(text::FromUtf8(path_)));  // a half-written file is not left behind as if stored
    throw;
  }
}

// Others may read the file while it is written, not write it.
std::optional<NewFile> CreateNew(std::u16string_view path) {
  std::string native = ToNative(path);
  HANDLE file = CreateFileW(Wide(std::u16string(path)), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return std::nullopt;
    Fail("Cannot create file \"" + native + "\"", code);
  }
  return NewFile(reinterpret_cast<std::intptr_t>(file), std::move(native));
}

}  // namespace tav::files
