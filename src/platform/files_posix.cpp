#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/detail/fd.h"
#include "platform/text.h"

namespace tav::files {
namespace {

struct DirCloser {
  void operator()(DIR *d) const noexcept { closedir(d); }
};

}  // namespace

std::string ToNative(std::u16string_view path) { return text::ToUtf8(path); }

std::u16string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return u"";
    buffer.resize(buffer.size() * 2);
  }
  return text::FromUtf8(buffer.data());
}

std::u16string RequireCurrentDirectory() {
  std::u16string dir = CurrentDirectory();
  if (dir.empty()) throw IoError(errno != 0 ? errno : ENOENT, "The working directory is not available");
  return dir;
}

bool Exists(std::u16string_view path) {
  struct stat st{};
  return ::stat(ToNative(ResolveNoCase(path)).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ResolveNoCase(const std::string &path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) return path;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return path;
  const std::u16string wanted = text::FromUtf8(name);
  while (dirent *entry = ::readdir(dir.get())) {
    if (text::EqualsNoCase(text::FromUtf8(entry->d_name), wanted)) {
      return slash == std::string::npos ? std::string(entry->d_name) : path.substr(0, slash + 1) + entry->d_name;
    }
  }
  return path;
}

std::u16string ResolveNoCase(std::u16string_view path) { return text::FromUtf8(ResolveNoCase(ToNative(path))); }

std::u16string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return u"";
  return text::FromUtf8(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
}

std::optional<LocalTime> ModifiedTime(std::u16string_view path) {
  struct stat st{};
  if (::stat(ToNative(path).c_str(), &st) != 0) return std::nullopt;
  return ToLocalTime(st.st_mtime);
}

std::optional<std::string> ReadAll(std::u16string_view path) {
  UniqueFd fd(::open(ToNative(ResolveNoCase(path)).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

namespace {

// Writes every byte to an open descriptor and closes it; throws naming the file.
void WriteAndCloseFd(UniqueFd &file, std::string_view bytes, const std::string &nativePath) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IoError(errno, "Cannot write file \"" + nativePath + "\"");  // the file closes as `file` goes
    }
    done += static_cast<std::size_t>(n);
  }
  if (!file.close()) throw IoError(errno, "Cannot write file \"" + nativePath + "\"");
}

}  // namespace

void WriteAll(std::u16string_view path, std::string_view bytes) {
  const std::string native = ToNative(path);
  UniqueFd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) throw IoError(errno, "Cannot create file \"" + native + "\"");
  WriteAndCloseFd(fd, bytes, native);
}

NewFile::NewFile(NewFile &&other) noexcept : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

NewFile::~NewFile() {
  if (handle_ < 0) return;
  UniqueFd closing(static_cast<int>(handle_));
  ::unlink(path_.c_str());  // never written: nothing may take it for a stored file
}

void NewFile::WriteAndClose(std::string_view bytes) {
  UniqueFd file(static_cast<int>(std::exchange(handle_, -1)));
  try {
    WriteAndCloseFd(file, bytes, path_);
  } catch (...) {
    ::unlink(path_.c_str());  // a half-written file is not left behind as if stored
    throw;
  }
}

// Linux has no mandatory sharing mode: the file is created exclusively and written once.
std::optional<NewFile> CreateNew(std::u16string_view path) {
  std::string native = ToNative(path);
  const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return std::nullopt;
    throw IoError(errno, "Cannot create file \"" + native + "\"");
  }
  return NewFile(fd, std::move(native));
}

}  // namespace tav::files
