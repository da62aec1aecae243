#include "log/execution_log.h"

#include <algorithm>

#include "platform/no_destructor.h"
#include "platform/strconv.h"

namespace tav::log {
namespace {
const std::u16string kRule(61, u'=');
}

ExecutionLog::ExecutionLog(Clock clock, const Regional *regional)
    : clock_(std::move(clock)), regional_(regional) {}

ExecutionLog &ExecutionLog::Global() {
  // Never destroyed: connection threads may still append while the process ends.
  static NoDestructor<ExecutionLog> log;
  return log.get();
}

const Regional &ExecutionLog::regional() const { return regional_ != nullptr ? *regional_ : CurrentRegional(); }

void ExecutionLog::RegistraLog(std::u16string_view iTexto) noexcept {
  if (!Active()) return;
  try {
    std::u16string line = FormatDateTime(u"hh:nn:ss", clock_(), regional());
    line.push_back(u' ');
    line.append(iTexto);
    Append(std::move(line));
  } catch (...) {
    // A failure to log is swallowed: logging never breaks the caller.
  }
}

std::u16string ExecutionLog::ErrorBlock(std::u16string_view rotina, std::u16string_view bloco,
                                        std::u16string_view mensagem, const LocalTime &now) const {
  std::u16string block;
  block += kRule;
  block += u"\r\n  Data.........: ";
  block += FormatDateTime(regional().shortDateFormat, now, regional());
  block += u"\r\n  Hora.........: ";
  block += FormatDateTime(regional().longTimeFormat, now, regional());
  block += u"\r\n  Rotina.......: ";
  block += rotina;
  block += u"\r\n  Bloco........: ";
  block += bloco;
  block += u"\r\n  Falha........: ";
  block += mensagem;
  block += u"\r\n";
  block += kRule;
  return block;
}

void ExecutionLog::RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco,
                                   std::u16string_view iMensagem) noexcept {
  if (!Active()) return;
  try {
    RegistraLog(ErrorBlock(iRotina, iBloco, iMensagem, clock_()));
  } catch (...) {
  }
}

void ExecutionLog::AppendRaw(std::u16string entry) { Append(std::move(entry)); }

void ExecutionLog::Append(std::u16string entry) {
  {
    std::lock_guard lock(mutex_);
    entryLines_.push_back(LinesIn(entry));
    lines_ += entryLines_.back();
    units_ += entry.size();
    entries_.push_back(std::move(entry));
    TrimLocked();
  }
  if (wakePending_.exchange(true, std::memory_order_acq_rel)) return;  // a wake-up is on its way
  std::lock_guard lock(listenerMutex_);
  if (listener_) listener_();
  else wakePending_.store(false, std::memory_order_release);  // nobody to wake: the next append tries
}

// The oldest entries go until both bounds hold; the newest one always stays.
void ExecutionLog::TrimLocked() {
  while (entries_.size() > 1 && (lines_ > bounds_.maxLines || units_ * sizeof(char16_t) > bounds_.maxBytes)) {
    const std::size_t lines = entryLines_.front();
    lines_ -= lines;
    units_ -= entries_.front().size();
    if (first_ >= lastNext_) skippedLines_ += lines;  // the reader never got it
    entries_.pop_front();
    entryLines_.pop_front();
    ++first_;
  }
}

void ExecutionLog::SetBounds(LogBounds bounds) {
  std::lock_guard lock(mutex_);
  bounds_ = bounds;
  TrimLocked();
}

LogBounds ExecutionLog::Bounds() const {
  std::lock_guard lock(mutex_);
  return bounds_;
}

ExecutionLog::Batch ExecutionLog::Read(std::uint64_t from) const {
  wakePending_.store(false, std::memory_order_release);  // appends from now on wake the reader again
  std::lock_guard lock(mutex_);
  Batch batch;
  const std::uint64_t start = from > first_ ? from : first_;
  batch.entries.reserve(entries_.size() - (start - first_));
  for (std::uint64_t i = start - first_; i < entries_.size(); ++i) batch.entries.push_back(entries_[i]);
  batch.next = first_ + entries_.size();
  // Another reader's position: only that entries were skipped is known, not their lines.
  // (What a Clear removed was not dropped.)
  const std::uint64_t since = std::max(from, clearedAt_);
  batch.skippedLines = from == lastNext_ ? skippedLines_ : (since < first_ ? first_ - since : 0);
  lastNext_ = batch.next;
  skippedLines_ = 0;
  return batch;
}

void ExecutionLog::Clear() {
  std::lock_guard lock(mutex_);
  first_ += entries_.size();
  clearedAt_ = first_;
  entries_.clear();
  entryLines_.clear();
  lines_ = units_ = 0;
  skippedLines_ = 0;
}

void ExecutionLog::SetListener(std::function<void()> listener) {
  std::lock_guard lock(listenerMutex_);
  listener_ = std::move(listener);
  wakePending_.store(false, std::memory_order_release);
}

LogBounds LogBoundsFromSettings(const std::function<std::u16string(std::u16string_view key)> &value,
                                std::u16string *problems) {
  LogBounds bounds;
  ReadWholeSetting(u"MAXLINHAS", value(u"MAXLINHAS"), 1, 1 << 20,
                   [&](std::int64_t n) { bounds.maxLines = static_cast<std::size_t>(n); }, problems);
  ReadWholeSetting(u"MAXMEGABYTES", value(u"MAXMEGABYTES"), 1, 1 << 20,
                   [&](std::int64_t n) { bounds.maxBytes = static_cast<std::size_t>(n) << 20; }, problems);
  return bounds;
}

std::size_t LinesIn(std::u16string_view text) noexcept {
  std::size_t lines = 1;
  for (char16_t c : text) lines += c == u'\n';
  return lines;
}

void RegistraLog(std::u16string_view iTexto) noexcept { ExecutionLog::Global().RegistraLog(iTexto); }

void RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco, std::u16string_view iMensagem) noexcept {
  ExecutionLog::Global().RegistraLogErro(iRotina, iBloco, iMensagem);
}

}  // namespace tav::log
