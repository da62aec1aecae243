// Small text utilities of the service.
#pragma once

#include <string>
#include <string_view>

namespace tav::http {

// The value after `sChave` in a key=value text: the one character after the key
// is skipped, and the value runs to the first "&" or the end. Empty when the key
// is not found (case-sensitive).
std::u16string ExtraiConteudo(std::u16string_view sTexto, std::u16string_view sChave);

}  // namespace tav::http
