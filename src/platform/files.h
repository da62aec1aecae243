// File helpers: working directory, existence, case-insensitive names, the executable.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/datetime.h"
#include "platform/fd.h"

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
// Writes every byte to an open file and closes it (also on failure); throws an
// IoError naming `nativePath`.
void WriteAndClose(UniqueFd &file, std::string_view bytes, const std::string &nativePath);

std::string ToNative(std::u16string_view path);

}  // namespace tav::files
