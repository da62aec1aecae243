// File versions on Windows: the VERSIONINFO resource, read with the version API.
#include <windows.h>

#include <vector>

#include "platform/errors.h"
#include "platform/fileversion.h"
#include "platform/files.h"
#include "platform/win_util.h"

namespace tav {

FileVersion ReadFileVersion(std::u16string_view path) {
  const std::u16string resolved = files::ResolveNoCase(path);
  const wchar_t *wide = win::Wide(resolved);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide, &ignored);
  if (size == 0) {
    if (GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES)
      throw Error("Cannot read the version information of \"" + files::ToNative(path) + "\"");
    throw Error("The file \"" + files::ToNative(path) + "\" carries no version information");
  }
  std::vector<unsigned char> block(size);
  VS_FIXEDFILEINFO *info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(wide, 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    throw Error("The file \"" + files::ToNative(path) + "\" carries no version information");
  }
  return FileVersion{info->dwFileVersionMS, info->dwFileVersionLS};
}

}  // namespace tav
