#include "log/execution_log.h"

#include "platform/no_destructor.h"

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
    entries_.push_back(std::move(entry));
  }
  std::lock_guard lock(listenerMutex_);
  if (listener_) listener_();
}

ExecutionLog::Batch ExecutionLog::Read(std::uint64_t from) const {
  std::lock_guard lock(mutex_);
  Batch batch;
  const std::uint64_t start = from > first_ ? from : first_;
  for (std::uint64_t i = start - first_; i < entries_.size(); ++i) batch.entries.push_back(entries_[i]);
  batch.next = first_ + entries_.size();
  return batch;
}

void ExecutionLog::Clear() {
  std::lock_guard lock(mutex_);
  first_ += entries_.size();
  entries_.clear();
}

void ExecutionLog::SetListener(std::function<void()> listener) {
  std::lock_guard lock(listenerMutex_);
  listener_ = std::move(listener);
}

void RegistraLog(std::u16string_view iTexto) noexcept { ExecutionLog::Global().RegistraLog(iTexto); }

void RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco, std::u16string_view iMensagem) noexcept {
  ExecutionLog::Global().RegistraLogErro(iRotina, iBloco, iMensagem);
}

}  // namespace tav::log
