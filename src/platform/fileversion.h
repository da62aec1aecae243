// The file version carried by an executable: on Windows its VERSIONINFO resource,
// on Linux an ELF note section that the build embeds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#if defined(_WIN32)
// The version is the VERSIONINFO resource of the executable's .rc file.
#define TAV_VERSION_NOTE(fa, fb, fc, fd, pa, pb, pc, pd) static_assert(true)
#else
// Embeds the version note in the binary that expands it (once per executable).
// Layout: namesz, descsz, type, "Tavoric\0", then file MS, file LS, product MS, product LS.
#define TAV_VERSION_NOTE(fa, fb, fc, fd, pa, pb, pc, pd)                                              \
  extern "C" __attribute__((section(".note.tavoric.version"), used, aligned(4)))                     \
  const std::uint32_t tav_version_note[9] = {                                                          \
      8, 16, 0x56415401u, 0x6f766154u, 0x00636972u,                                                    \
      (std::uint32_t{fa} << 16) | (fb), (std::uint32_t{fc} << 16) | (fd), (std::uint32_t{pa} << 16) | (pb), \
      (std::uint32_t{pc} << 16) | (pd)}
#endif

namespace tav {

struct FileVersion {
  std::uint32_t ms = 0;  // major << 16 | minor
  std::uint32_t ls = 0;  // release << 16 | build
};

// Reads the version of the file; throws tav::Error for a file that cannot be
// read or carries no version.
FileVersion ReadFileVersion(std::u16string_view path);

// "Maior.Menor.Release.Build" of the file, for example 2.0.6.0.
std::u16string RetornaVersao(std::u16string_view iNomeArquivo);

}  // namespace tav
