#include "platform/fileversion.h"

#include <string>

#include "platform/text.h"

namespace tav {

std::u16string RetornaVersao(std::u16string_view iNomeArquivo) {
  const FileVersion v = ReadFileVersion(iNomeArquivo);
  const std::string s = std::to_string(v.ms >> 16) + "." + std::to_string(v.ms & 0xFFFF) + "." +
                        std::to_string(v.ls >> 16) + "." + std::to_string(v.ls & 0xFFFF);
  return text::Ascii(s);
}

}  // namespace tav
