#include "http/module/utilitarios.h"

namespace tav::http {

std::u16string ExtraiConteudo(std::u16string_view sTexto, std::u16string_view sChave) {
  const std::size_t found = sTexto.find(sChave);
  if (found == std::u16string_view::npos) return {};
  const std::size_t lPosicao = found + sChave.size() + 1;  // skips the "=" (or whatever follows the key)
  if (lPosicao >= sTexto.size()) return {};
  const std::u16string_view rest = sTexto.substr(lPosicao);
  return std::u16string(rest.substr(0, rest.find(u'&')));
}

}  // namespace tav::http
