// The communication intake: each communication stored in its own time-stamped file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace tav::messaging {

struct IntakeOptions {
  Clock clock = LocalNow;
  std::u16string directory;            // empty: the working directory at the moment of the request
  const Regional *regional = nullptr;  // null: the machine's
};

// 200. A status query ("CONSULTARSTATUS" at position 1) stores nothing; any other
// communication is written to "DDMMYYYY_hhmmss_.txt" (a taken name gets a counter
// before ".txt", so nothing is ever overwritten). Errors propagate.
std::int32_t ProcessaRequisicao(std::u16string_view body);
std::int32_t ProcessaRequisicao(std::u16string_view body, const IntakeOptions &options);

}  // namespace tav::messaging
