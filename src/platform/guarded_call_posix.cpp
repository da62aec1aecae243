// Linux has no structured exceptions: a library's failure reaches the host as a
// C++ exception, which the shared part of the guard catches.
#include "platform/detail/guarded_call_backend.h"

namespace tav::detail {

std::optional<Escaped> SystemGuardedCall(void (*call)(void *), void *context) {
  call(context);
  return std::nullopt;
}

}  // namespace tav::detail
