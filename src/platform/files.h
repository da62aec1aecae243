// File helpers: working directory, existence, case-insensitive names, the executable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace tav::files {

// The process's working directory, without a trailing separator (except "/").
std::u16string CurrentDirectory();
// The same, but an IoError when it cannot be determined (it was removed, say).
std::u16string RequireCurrentDirectory();
bool Exists(std::u16string_view path);
// File names compare without regard to case: the exact name is tried first, then
// a case-insensitive match of the last component in the same folder. Returns the
// path to use (the given one when nothing matches).
std::u16string ResolveNoCase(std::u16string_view path);
std::string ResolveNoCase(const std::string &utf8Path);
// Absolute path of the running executable.
std::u16string ExecutablePath();
// Last modification time, local.
std::optional<LocalTime> ModifiedTime(std::u16string_view path);
// Whole file, or nullopt when it cannot be read.
std::optional<std::string> ReadAll(std::u16string_view path);
// Creates or replaces the file with the bytes; throws tav::Error with the system's reason.
void WriteAll(std::u16string_view path, std::string_view bytes);

// A file made by CreateNew, to be written once and closed.
class NewFile {
 public:
  NewFile(NewFile &&other) noexcept;
  NewFile &operator=(NewFile &&) = delete;
  NewFile(const NewFile &) = delete;
  NewFile &operator=(const NewFile &) = delete;
  ~NewFile();  // closes and removes a file that was not written

  // Writes every byte and closes the file; throws an IoError naming the file,
  // and then the file is gone (nothing half-written is left as if stored).
  void WriteAndClose(std::string_view bytes);
  const std::string &NativePath() const { return path_; }

 private:
  friend std::optional<NewFile> CreateNew(std::u16string_view path);
  NewFile(std::intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  std::intptr_t handle_;
  std::string path_;
};

// Creates the file only when no file has that name; while it is open others may
// read it but not write it (where the system can say so). nullopt when the name
// is taken; an IoError for any other failure.
std::optional<NewFile> CreateNew(std::u16string_view path);

// A file made by CreateNumbered, with the name it got.
struct NumberedFile {
  NewFile file;
  std::u16string path;
};

// Creates "<stem><extension>" when that name is free, else the first free one of
// "<stem><separator>1<extension>", "<stem><separator>2<extension>", ...: a name
// already taken is never replaced. An IoError when no name can be created.
NumberedFile CreateNumbered(std::u16string_view stem, std::u16string_view separator, std::u16string_view extension);

// The system's path separator, and `name` joined to `directory` with it.
#if defined(_WIN32)
inline constexpr std::u16string_view kSeparator = u"\\";
#else
inline constexpr std::u16string_view kSeparator = u"/";
#endif
inline std::u16string Join(std::u16string_view directory, std::u16string_view name) {
  std::u16string path(directory);
  path += kSeparator;
  path += name;
  return path;
}

std::string ToNative(std::u16string_view path);

}  // namespace tav::files
