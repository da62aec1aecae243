// The part of the guard every system shares: C++ exceptions.
#include "platform/guarded_call.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>

#include "platform/detail/guarded_call_backend.h"
#include "platform/text.h"

namespace tav {

std::optional<Escaped> GuardedCall(void (*call)(void *), void *context) {
  try {
    return detail::SystemGuardedCall(call, context);
#if defined(__GLIBC__)
  } catch (abi::__forced_unwind &) {
    throw;  // a thread being cancelled must go on unwinding
#endif
  } catch (const std::exception &e) {
    return Escaped{u"Exceção C++ \"" + text::FromUtf8(e.what()) + u"\""};
  } catch (...) {
    const std::type_info *type = abi::__cxa_current_exception_type();
    if (type == nullptr) return Escaped{u"Exceção C++"};
    int status = 0;
    const std::unique_ptr<char, void (*)(void *)> readable(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                           std::free);
    return Escaped{u"Exceção C++ do tipo " + text::FromUtf8(readable ? readable.get() : type->name())};
  }
}

}  // namespace tav
