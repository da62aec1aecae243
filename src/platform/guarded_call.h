// Calls into foreign code (the business library) through one guard: whatever
// escapes the call comes back as a description instead of taking the process down.
//   Linux: any C++ exception.
//   Windows: any structured exception of any code (an access violation included),
//   and a C++ exception wherever the toolchain can carry it across the library's
//   boundary (x64; on x86 a library with its own static runtime ends the process
//   in its own unwinder before anything reaches the host).
// Only what escapes counts: exceptions raised and handled inside the call are the
// library's own business and do not fail it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace tav {

struct Escaped {
  // In the log's language, for example "Exceção 0xE0000001", "Exceção 0xC0000005
  // (violação de acesso: escrita no endereço 0x00000000)" or "Exceção C++ \"texto\"".
  std::u16string description;
};

// Runs call(context) under the guard; nullopt when it returned normally.
std::optional<Escaped> GuardedCall(void (*call)(void *), void *context);

// The same for any callable.
template <typename Body>
std::optional<Escaped> Guard(Body &&body) {
  using Stored = std::remove_reference_t<Body>;
  return GuardedCall([](void *p) { (*static_cast<Stored *>(p))(); }, std::addressof(body));
}

}  // namespace tav
