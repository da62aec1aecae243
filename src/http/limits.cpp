#include "http/limits.h"

#include <cstdint>

#include "platform/strconv.h"

namespace tav::http {

Limits LimitsFromSettings(const std::function<std::u16string(std::u16string_view key)> &value,
                          std::u16string *problems) {
  Limits limits;
  // Whole numbers; a blank value leaves the default quietly, anything else unusable is named.
  const auto read = [&](std::u16string_view key, std::int64_t min, std::int64_t max, auto apply) {
    ReadWholeSetting(key, value(key), min, max, apply, problems);
  };
  constexpr std::int64_t kMaxSeconds = 24 * 3600;
  read(u"MAXCONEXOES", 1, 1 << 24, [&](std::int64_t n) { limits.maxConnections = static_cast<std::size_t>(n); });
  read(u"MAXCONEXOESPORCLIENTE", 1, 1 << 24,
       [&](std::int64_t n) { limits.maxConnectionsPerPeer = static_cast<std::size_t>(n); });
  read(u"TEMPOOCIOSO", 1, kMaxSeconds, [&](std::int64_t n) { limits.idleTimeout = std::chrono::seconds(n); });
  read(u"TEMPOREQUISICAO", 1, kMaxSeconds, [&](std::int64_t n) { limits.requestTimeout = std::chrono::seconds(n); });
  read(u"TAXAMINIMACORPO", 0, 1 << 30, [&](std::int64_t n) { limits.minBodyRate = static_cast<std::size_t>(n); });
  return limits;
}

}  // namespace tav::http
