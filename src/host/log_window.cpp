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

void LogWindowController::DrainEntries() {
  auto batch = log::ExecutionLog::Global().Read(next_);
  next_ = batch.next;
  if (!batch.entries.empty()) AppendEntries(batch.entries);
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
