// Test helper: activates the process-wide execution log and reads its entries
// without their "hh:nn:ss " time stamps.
#pragma once

#include <string>
#include <vector>

#include "log/execution_log.h"

namespace tav {
inline std::u16string testing_number(int n) {
  std::u16string s;
  for (char c : std::to_string(n)) s.push_back(static_cast<char16_t>(c));
  return s;
}
}  // namespace tav

namespace tav::testing {

class LogCapture {
 public:
  LogCapture() {
    log::ExecutionLog::Global().Clear();
    log::ExecutionLog::Global().SetActive(true);
  }
  ~LogCapture() {
    log::ExecutionLog::Global().SetActive(false);
    log::ExecutionLog::Global().Clear();
  }
  // Entries without the 9-character time stamp, and clears them.
  std::vector<std::u16string> Take() {
    std::vector<std::u16string> out;
    for (auto &e : log::ExecutionLog::Global().Entries()) out.push_back(e.size() >= 9 ? e.substr(9) : e);
    log::ExecutionLog::Global().Clear();
    return out;
  }
};

}  // namespace tav::testing

