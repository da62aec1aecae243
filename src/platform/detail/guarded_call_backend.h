// The system's half of the guard (guarded_call_posix.cpp, guarded_call_win.cpp):
// structured exceptions where the system has them. Internal to the platform layer.
#pragma once

#include <optional>

#include "platform/guarded_call.h"

namespace tav::detail {

// Runs call(context); what the system's guard caught, or nullopt. C++ exceptions
// pass through to the caller.
std::optional<Escaped> SystemGuardedCall(void (*call)(void *), void *context);

}  // namespace tav::detail
