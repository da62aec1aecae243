#include "platform/fileversion.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/errors.h"
#include "platform/detail/fd.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tav {
namespace {

constexpr char kNoteName[] = "Tavoric";
constexpr std::uint32_t kNoteType = 0x56415401u;

// Reads pieces of a file by offset, so that only the ELF headers and the note
// sections are read, not the whole executable.
class FilePieces {
 public:
  explicit FilePieces(const std::string &path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st{};
    if (fd_.valid() && ::fstat(fd_.get(), &st) == 0) size_ = static_cast<std::uint64_t>(st.st_size);
  }
  bool readable() const { return fd_.valid(); }

  bool Read(std::uint64_t offset, std::uint64_t length, std::string &out) const {
    if (offset > size_ || length > size_ - offset || length > kMaxPiece) return false;
    out.resize(length);
    std::uint64_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_.get(), out.data() + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::uint64_t>(n);
    }
    return true;
  }
  template <typename T>
  bool Read(std::uint64_t offset, T &value) const {
    std::string bytes;
    if (!Read(offset, sizeof(T), bytes)) return false;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return true;
  }

 private:
  static constexpr std::uint64_t kMaxPiece = 16u << 20;
  UniqueFd fd_;
  std::uint64_t size_ = 0;
};

std::uint32_t Word(std::string_view bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

std::uint64_t Align4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// Walks the notes of one section looking for ours.
std::optional<FileVersion> FindInNotes(std::string_view notes) {
  std::uint64_t pos = 0;
  while (notes.size() - pos >= 12) {
    const std::uint32_t namesz = Word(notes, pos), descsz = Word(notes, pos + 4), type = Word(notes, pos + 8);
    const std::uint64_t name = pos + 12;
    const std::uint64_t desc = name + Align4(namesz);
    const std::uint64_t next = desc + Align4(descsz);
    if (next > notes.size() || next <= pos) return std::nullopt;
    if (type == kNoteType && namesz == sizeof kNoteName && descsz >= 8 &&
        std::memcmp(notes.data() + name, kNoteName, sizeof kNoteName) == 0)
      return FileVersion{Word(notes, desc), Word(notes, desc + 4)};
    pos = next;
  }
  return std::nullopt;
}

template <typename Ehdr, typename Shdr>
std::optional<FileVersion> FindVersion(const FilePieces &file) {
  Ehdr eh;
  if (!file.Read(0, eh) || eh.e_shentsize != sizeof(Shdr)) return std::nullopt;
  std::string notes;
  for (std::uint64_t i = 0; i < eh.e_shnum; ++i) {
    Shdr sh;
    if (!file.Read(eh.e_shoff + i * sizeof(Shdr), sh)) return std::nullopt;
    if (sh.sh_type != SHT_NOTE || !file.Read(sh.sh_offset, sh.sh_size, notes)) continue;
    if (auto v = FindInNotes(notes)) return v;
  }
  return std::nullopt;
}

}  // namespace

FileVersion ReadFileVersion(std::u16string_view path) {
  const std::string native = files::ResolveNoCase(files::ToNative(path));
  const FilePieces file(native);
  if (!file.readable()) throw Error("Cannot read the version information of \"" + files::ToNative(path) + "\"");
  std::optional<FileVersion> version;
  unsigned char ident[EI_NIDENT];
  if (file.Read(0, ident) && std::memcmp(ident, ELFMAG, SELFMAG) == 0 && ident[EI_DATA] == ELFDATA2LSB) {
    if (ident[EI_CLASS] == ELFCLASS64) version = FindVersion<Elf64_Ehdr, Elf64_Shdr>(file);
    else if (ident[EI_CLASS] == ELFCLASS32) version = FindVersion<Elf32_Ehdr, Elf32_Shdr>(file);
  }
  if (!version) throw Error("The file \"" + files::ToNative(path) + "\" carries no version information");
  return *version;
}

}  // namespace tav
