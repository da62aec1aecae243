#include "host/log_window.h"

#include "log/execution_log.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/fileversion.h"
#include "platform/text.h"

namespace tav::host {

std::u16string LogWindowController::Caption() const {
  const std::u16string exe = files::ExecutablePath();
  std::u16string caption = u"WsTavoric Log - Versão: ";
  try {
    caption += RetornaVersao(exe);
  } catch (const std::exception &) {
  }
  caption += u" Compilado em : ";
  if (const auto built = files::ModifiedTime(exe)) {
    const Regional &regional = CurrentRegional();
    caption += FormatDateTime(regional.shortDateFormat, *built, regional);
    if (built->hour != 0 || built->minute != 0 || built->second != 0) {
      caption += u" ";
      caption += FormatDateTime(regional.longTimeFormat, *built, regional);
    }
  }
  caption += u" ";
  caption += mPorta;
  return caption;
}

LogWindowController::~LogWindowController() { StopWatching(); }

void LogWindowController::StartWatching() {
  log::ExecutionLog::Global().SetListener([this] { WakeUp(); });
  watching_ = true;
  DrainEntries();  // what arrived before
}

void LogWindowController::StopWatching() {
  if (!watching_) return;
  watching_ = false;
  log::ExecutionLog::Global().SetListener({});  // waits for a wake-up in progress
}

std::u16string LogWindowController::DroppedNotice(std::uint64_t lines) {
  return FormatDateTime(u"hh:nn:ss", LocalNow()) + u" " + text::Ascii(std::to_string(lines)) +
         u" linha(s) mais antiga(s) descartada(s): o log de execução guarda só as mais recentes.";
}

void LogWindowController::DrainEntries() {
  log::ExecutionLog &log = log::ExecutionLog::Global();
  const log::LogBounds bounds = log.Bounds();
  log::ExecutionLog::Batch batch = log.Read(next_);
  next_ = batch.next;
  dropped_ += batch.skippedLines;
  std::vector<std::u16string> &entries = batch.entries;
  // Far behind: only the newest entries that fit are shown; the rest count as dropped.
  std::size_t lines = 0, units = 0, first = entries.size();
  while (first > 0) {
    const std::size_t more = log::LinesIn(entries[first - 1]);
    if (first < entries.size() &&
        (lines + more > bounds.maxLines || (units + entries[first - 1].size()) * sizeof(char16_t) > bounds.maxBytes))
      break;
    lines += more;
    units += entries[first - 1].size();
    --first;
  }
  for (std::size_t i = 0; i < first; ++i) dropped_ += log::LinesIn(entries[i]);
  entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(first));
  if (!entries.empty()) AppendEntries(entries);
  // The text area keeps to the same bounds, its dropped-lines line included.
  const std::size_t keep = noticeShown_ ? 1 : 0;
  const std::size_t room = bounds.maxLines > 1 ? bounds.maxLines - 1 : 1;
  dropped_ += TrimShown(keep, room + keep, bounds.maxBytes / sizeof(char16_t));
  if (dropped_ != noticeCount_) {
    ShowFirstLine(DroppedNotice(dropped_), noticeShown_);
    noticeShown_ = true;
    noticeCount_ = dropped_;
  }
}

std::u16string LogWindowController::LogText() const {
  const std::u16string shown = ShownText();
  if (shown.empty()) return {};
  // Every line break becomes CR LF, and the last line ends with one too.
  std::u16string saved;
  saved.reserve(shown.size() + shown.size() / 16 + 2);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char16_t c = shown[i];
    if (c == u'\r' && i + 1 < shown.size() && shown[i + 1] == u'\n') continue;  // the LF writes it
    if (c == u'\n') saved += u'\r';
    saved += c;
  }
  saved += u"\r\n";
  return saved;
}

void LogWindowController::btnLimparLogClick() {
  ClearShownText();
  dropped_ = noticeCount_ = 0;
  noticeShown_ = false;
  log::ExecutionLog &log = log::ExecutionLog::Global();
  log.Clear();
  next_ = log.Read(0).next;
  // Written whether or not the log is active.
  log.AppendRaw(FormatDateTime(u"hh:nn:ss", LocalNow()) + u" Registro de Log Reiniciado.");
  DrainEntries();
}

std::u16string LogWindowController::btnSalvarLogClick() {
  DrainEntries();
  std::u16string name;
  try {
    const std::u16string stem = files::Join(files::RequireCurrentDirectory(),
                                            u"LogExecucao_" + FormatDateTime(u"DD-MM-YYYY_hh_mm_ss", LocalNow()));
    // A second save within the same second gets "..._ss_1.txt": an earlier saved log is never replaced.
    files::NumberedFile saved = files::CreateNumbered(stem, u"_", u".txt");
    name = std::move(saved.path);
    saved.file.WriteAndClose(text::ToAnsi(LogText()));
  } catch (const std::exception &error) {
    ShowErrorBox(ErrorText(error));
    return {};
  }
  if (ConfirmBox(u"Arquivo de Log armazenado em: \r\n" + name + u"\r\nAbrir o Arquivo? ")) OpenWithShell(name);
  return name;
}

void LogWindowController::btnFecharClick() {
  log::ExecutionLog::Global().SetActive(false);
  HideWindow();
}

}  // namespace tav::host
