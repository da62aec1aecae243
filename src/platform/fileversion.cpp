#include "platform/fileversion.h"

#include <elf.h>

#include <cstring>
#include <optional>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tav {
namespace {

constexpr char kNoteName[] = "Tavoric";
constexpr std::uint32_t kNoteType = 0x56415401u;

template <typename T>
bool ReadAt(std::string_view data, std::uint64_t offset, T &out) {
  if (offset > data.size() || data.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, data.data() + offset, sizeof(T));
  return true;
}

std::uint64_t Align4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// Walks the notes of one section looking for ours.
std::optional<FileVersion> FindInNotes(std::string_view data, std::uint64_t offset, std::uint64_t size) {
  if (offset > data.size() || size > data.size() - offset) return std::nullopt;
  std::uint64_t pos = offset;
  const std::uint64_t end = offset + size;
  while (end - pos >= 12) {
    std::uint32_t namesz = 0, descsz = 0, type = 0;
    ReadAt(data, pos, namesz);
    ReadAt(data, pos + 4, descsz);
    ReadAt(data, pos + 8, type);
    const std::uint64_t name = pos + 12;
    const std::uint64_t desc = name + Align4(namesz);
    const std::uint64_t next = desc + Align4(descsz);
    if (next > end || next <= pos) return std::nullopt;
    if (type == kNoteType && namesz == sizeof kNoteName && descsz >= 8 &&
        std::memcmp(data.data() + name, kNoteName, sizeof kNoteName) == 0) {
      FileVersion v;
      ReadAt(data, desc, v.ms);
      ReadAt(data, desc + 4, v.ls);
      return v;
    }
    pos = next;
  }
  return std::nullopt;
}

template <typename Ehdr, typename Shdr>
std::optional<FileVersion> FindVersion(std::string_view data) {
  Ehdr eh;
  if (!ReadAt(data, 0, eh) || eh.e_shentsize != sizeof(Shdr)) return std::nullopt;
  for (std::uint64_t i = 0; i < eh.e_shnum; ++i) {
    Shdr sh;
    if (!ReadAt(data, eh.e_shoff + i * sizeof(Shdr), sh)) return std::nullopt;
    if (sh.sh_type != SHT_NOTE) continue;
    if (auto v = FindInNotes(data, sh.sh_offset, sh.sh_size)) return v;
  }
  return std::nullopt;
}

}  // namespace

FileVersion ReadFileVersion(std::u16string_view path) {
  const auto data = files::ReadAll(path);
  if (!data) throw Error("Cannot read the version information of \"" + files::ToNative(path) + "\"");
  std::optional<FileVersion> version;
  if (data->size() >= EI_NIDENT && std::memcmp(data->data(), ELFMAG, SELFMAG) == 0 &&
      static_cast<unsigned char>((*data)[EI_DATA]) == ELFDATA2LSB) {
    const auto elfClass = static_cast<unsigned char>((*data)[EI_CLASS]);
    if (elfClass == ELFCLASS64) version = FindVersion<Elf64_Ehdr, Elf64_Shdr>(*data);
    else if (elfClass == ELFCLASS32) version = FindVersion<Elf32_Ehdr, Elf32_Shdr>(*data);
  }
  if (!version) throw Error("The file \"" + files::ToNative(path) + "\" carries no version information");
  return *version;
}

std::u16string RetornaVersao(std::u16string_view iNomeArquivo) {
  const FileVersion v = ReadFileVersion(iNomeArquivo);
  const std::string s = std::to_string(v.ms >> 16) + "." + std::to_string(v.ms & 0xFFFF) + "." +
                        std::to_string(v.ls >> 16) + "." + std::to_string(v.ls & 0xFFFF);
  return text::Ascii(s);
}

}  // namespace tav
