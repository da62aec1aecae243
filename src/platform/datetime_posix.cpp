// The clock and regional formats on Linux: localtime_r and the LC_TIME locale.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>

#include "platform/datetime.h"
#include "platform/detail/datetime_backend.h"

namespace tav {

Regional backend::LoadRegional() {
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return Regional{};
  Regional result;
  const char *name = getenv("LC_ALL");
  if (name == nullptr || *name == '\0') name = getenv("LC_TIME");
  if (name == nullptr || *name == '\0') name = getenv("LANG");
  const std::string_view n = name != nullptr ? name : "";
  const bool neutral = n.empty() || n == "C" || n == "POSIX" || n.rfind("C.", 0) == 0;
  if (!neutral) result = RegionalFromStrftime(nl_langinfo_l(D_FMT, loc), nl_langinfo_l(T_FMT, loc));
  freelocale(loc);
  return result;
}

std::tm backend::LocalParts(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::tm UtcParts(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

}  // namespace tav
