// The execution log: an ordered list of time-stamped entries that every part of the
// program appends to, from any thread, and that the log window shows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"

namespace tav::log {

// How much of the log is kept: the newest entries up to either bound, whichever is
// reached first. An operator may leave the window open for months.
struct LogBounds {
  std::size_t maxLines = 100000;       // lines of text (an entry may hold several)
  std::size_t maxBytes = 32u << 20;    // bytes of text, UTF-16 as held
};

// The defaults with the operator's settings applied, as http::LimitsFromSettings
// does: `value` gives the text of a key of [LOG]. Keys, whole positive numbers:
//   MAXLINHAS     maxLines
//   MAXMEGABYTES  maxBytes, in MiB
// A value that is not one keeps the default and is named in `problems`.
LogBounds LogBoundsFromSettings(const std::function<std::u16string(std::u16string_view key)> &value,
                                std::u16string *problems = nullptr);

// Lines in a text: one more than its line feeds.
std::size_t LinesIn(std::u16string_view text) noexcept;

class ExecutionLog {
 public:
  explicit ExecutionLog(Clock clock = LocalNow, const Regional *regional = nullptr);

  // The process-wide log that RegistraLog and RegistraLogErro write to.
  static ExecutionLog &Global();

  // bLogAtivo: texts handed over while the log is inactive are dropped.
  void SetActive(bool active) noexcept { active_.store(active, std::memory_order_release); }
  bool Active() const noexcept { return active_.load(std::memory_order_acquire); }

  // Appends "hh:nn:ss", a blank and the text as one entry, if active. Never throws.
  void RegistraLog(std::u16string_view iTexto) noexcept;
  // Appends the seven-line error block through RegistraLog.
  void RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco,
                       std::u16string_view iMensagem) noexcept;
  // Appends an entry as given (no time stamp), whatever the active flag (the log
  // window's own "Registro de Log Reiniciado." line).
  void AppendRaw(std::u16string entry);

  void SetBounds(LogBounds bounds);
  LogBounds Bounds() const;

  // Entries have consecutive sequence numbers; Read gives those from `from` on and
  // the number to ask for next time. Entries the bounds dropped are skipped.
  struct Batch {
    std::vector<std::u16string> entries;
    std::uint64_t next = 0;
    // Lines of entries the bounds dropped before this reader got them: exact for a
    // reader that always asks from the `next` of its previous Read (the window).
    std::uint64_t skippedLines = 0;
  };
  Batch Read(std::uint64_t from) const;  // not to be called by two readers in turn
  std::vector<std::u16string> Entries() const { return Read(0).entries; }
  // Removes every entry.
  void Clear();

  // Wakes the reader: called (on the appending thread, outside the lock) after an
  // append when no wake-up is pending; a Read ends the pending state. So a burst
  // of appends costs the window one wake-up, however many entries it brings.
  // Replacing it with an empty function unhooks the listener; this waits for a
  // notification in progress.
  void SetListener(std::function<void()> listener);

  // The block text RegistraLogErro composes for the current time (exposed for tests).
  std::u16string ErrorBlock(std::u16string_view rotina, std::u16string_view bloco, std::u16string_view mensagem,
                            const LocalTime &now) const;

 private:
  void Append(std::u16string entry);
  void TrimLocked();
  const Regional &regional() const;

  Clock clock_;
  const Regional *regional_;
  std::atomic<bool> active_{false};
  mutable std::mutex mutex_;
  std::deque<std::u16string> entries_;
  std::deque<std::size_t> entryLines_;  // LinesIn of each entry, side by side
  std::uint64_t first_ = 0;  // sequence number of entries_.front()
  std::uint64_t clearedAt_ = 0;  // first_ after the last Clear
  LogBounds bounds_;
  std::size_t lines_ = 0;    // lines in entries_
  std::size_t units_ = 0;    // UTF-16 units in entries_
  mutable std::uint64_t lastNext_ = 0;      // `next` of the last Read
  mutable std::uint64_t skippedLines_ = 0;  // lines dropped since then that it had not got
  mutable std::atomic<bool> wakePending_{false};
  std::mutex listenerMutex_;
  std::function<void()> listener_;
};

// The controller's log operations, on the process-wide log.
void RegistraLog(std::u16string_view iTexto) noexcept;
void RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco, std::u16string_view iMensagem) noexcept;

}  // namespace tav::log
