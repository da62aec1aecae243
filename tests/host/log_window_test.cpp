// The execution log window: clear, save, close, and appends from many threads.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "host/qt/form_principal.h"
#include "host/qt/frm_logproc.h"
#include "host/qt/qtext.h"
#include "host_support.h"
#include "support/read_file.h"
#include "log/execution_log.h"
#include "platform/text.h"

using tav::host::TFormPrincipal;
using tav::testing::ProcessEvents;
using tav::testing::WorkingDirectory;

using tav::testing::ReadFile;

namespace {

QStringList Lines(const TFormPrincipal &form) {
  return form.FormLogProc()->memLog->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

TEST(LogWindow, ClearLeavesOneLineActiveOrNot) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[SERVIDOR]\nPORTA=0\n");
  TFormPrincipal form;
  form.btnLogExec->click();
  auto *window = form.FormLogProc();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("WsTavoric Log - Versão: 10.2.3.4 Compilado em : ")));
  EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral(" 0")));
  EXPECT_EQ(window->memLog->toPlainText(), QString());
  window->btnLimparLog->click();
  ProcessEvents();
  QStringList lines = Lines(form);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" Registro de Log Reiniciado.")));
  EXPECT_EQ(lines[0].size(), 8 + 28);

  window->btnFechar->click();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(form.bLogAtivo());
  form.RegistraLog(u"perdido");
  window->btnLimparLog->click();  // still writes its line while inactive
  ProcessEvents();
  lines = Lines(form);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" Registro de Log Reiniciado.")));
}

TEST(LogWindow, FecharStopsRecordingTheCloseBoxDoesNot) {
  WorkingDirectory dir;
  TFormPrincipal form;
  form.btnLogExec->click();
  form.RegistraLog(u"um");
  form.FormLogProc()->close();  // the title bar's close box: hidden, still recording
  form.RegistraLog(u"dois");
  form.FormLogProc()->btnFecharClick();
  form.RegistraLog(u"perdido");
  form.btnLogExec->click();
  form.RegistraLog(u"tres");
  ProcessEvents();
  const QStringList lines = Lines(form);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" um")));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" dois")));
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral(" tres")));
}

TEST(LogWindow, SaveWritesWindows1252AndAsks) {
  WorkingDirectory dir;
  tav::testing::RecordingPrompter prompter;
  prompter.answer = true;
  TFormPrincipal form;
  form.btnLogExec->click();
  form.RegistraLog(u"Ação €");
  form.RegistraLogErro(u"Teste()", u"0", u"causa\r\nsegunda");
  ProcessEvents();
  const QString file = tav::host::Q(form.FormLogProc()->btnSalvarLogClick());
  ASSERT_FALSE(file.isEmpty());
  const std::string name = std::filesystem::path(file.toStdString()).filename().string();
  EXPECT_EQ(name.size(), std::string("LogExecucao_09-12-2024_14_03_27.txt").size());
  EXPECT_EQ(name.rfind("LogExecucao_", 0), 0u);
  EXPECT_EQ(std::filesystem::path(file.toStdString()).parent_path(), std::filesystem::current_path());

  const std::string bytes = ReadFile(file.toStdString());
  const std::string first = bytes.substr(0, bytes.find("\r\n"));
  EXPECT_EQ(first.substr(8), " A\xE7\xE3o \x80");
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = bytes.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 1u + 8u);  // the error block takes eight lines with a two-line failure text
  EXPECT_EQ(bytes.substr(bytes.size() - 63), std::string(61, '=') + "\r\n");
  ASSERT_EQ(prompter.confirmations.size(), 1);
  EXPECT_EQ(prompter.confirmations[0], QStringLiteral("Arquivo de Log armazenado em: \r\n") + file + QStringLiteral("\r\nAbrir o Arquivo? "));
  EXPECT_EQ(prompter.opened, QStringList{QUrl::fromLocalFile(file).toString()});
}

TEST(LogWindow, SavesWithinOneSecondKeepEveryFile) {
  WorkingDirectory dir;
  tav::testing::RecordingPrompter prompter;
  TFormPrincipal form;
  form.btnLogExec->click();
  // The name a save in this second takes is already there: it is kept, and the
  // saves go on to the counter names.
  std::vector<std::u16string> names;
  for (int i = 0; i < 3; ++i) {
    form.RegistraLog(u"linha " + tav::text::Ascii(std::to_string(i)));
    ProcessEvents();
    names.push_back(form.FormLogProc()->btnSalvarLogClick());
  }
  ASSERT_FALSE(names[0].empty());
  std::set<std::u16string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), 3u);
  for (const auto &name : names) EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(tav::text::ToUtf8(name))));
  const std::string first = tav::text::ToUtf8(names[0]);
  const std::string second = tav::text::ToUtf8(names[1]);
  if (second.size() == first.size() + 2) {  // the same second: "<name>_1.txt"
    EXPECT_EQ(second, first.substr(0, first.size() - 4) + "_1.txt");
  }
  // Each file holds the log as it stood at its save.
  EXPECT_LT(ReadFile(first).size(), ReadFile(tav::text::ToUtf8(names[2])).size());
  EXPECT_EQ(prompter.confirmations.size(), 3);
}

TEST(LogWindow, SaveFailureShowsTheErrorAndAsksNothing) {
  WorkingDirectory dir;
  tav::testing::RecordingPrompter prompter;
  TFormPrincipal form;
  form.btnLogExec->click();
  std::filesystem::remove_all(dir.path());  // the working directory is gone: nothing can be created in it
  EXPECT_TRUE(form.FormLogProc()->btnSalvarLogClick().empty());
  ASSERT_EQ(prompter.errors.size(), 1);
  EXPECT_TRUE(prompter.errors[0].contains(QStringLiteral("working directory"))) << prompter.errors[0].toStdString();
  EXPECT_TRUE(prompter.confirmations.isEmpty());
}

TEST(LogWindow, AppendsFromManyThreadsArriveInOrder) {
  WorkingDirectory dir;
  TFormPrincipal form;
  form.btnLogExec->click();
  constexpr int kThreads = 6, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&form, t] {
      for (int i = 0; i < kEach; ++i)
        form.RegistraLog(std::u16string(1, static_cast<char16_t>(u'A' + t)) + tav::text::Ascii(std::to_string(i)));
    });
  while (Lines(form).size() < kThreads * kEach / 2) ProcessEvents();  // the GUI thread drains while they append
  for (auto &th : threads) th.join();
  ProcessEvents();
  const QStringList lines = Lines(form);
  ASSERT_EQ(lines.size(), kThreads * kEach);
  std::vector<int> next(kThreads, 0);
  for (const QString &line : lines) {
    const int t = line[9].unicode() - u'A';
    EXPECT_EQ(line.mid(10).toInt(), next[t]++);
  }
}

// The Qt text area keeps to the log's bounds like the model: the oldest lines go,
// the typed ones too, the first line says how many, and Clear starts over.
TEST(LogWindow, TheTextAreaIsBounded) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[SERVIDOR]\nPORTA=0\n[LOG]\nMAXLINHAS=20\n");
  TFormPrincipal form;
  form.btnLogExec->click();
  auto *window = form.FormLogProc();
  window->memLog->appendPlainText(QStringLiteral("digitado pelo operador"));
  for (int i = 0; i < 100; ++i) form.RegistraLog(u"linha " + tav::text::Ascii(std::to_string(i)));
  ProcessEvents();
  const QStringList lines = Lines(form);
  ASSERT_EQ(lines.size(), 20);
  EXPECT_TRUE(lines[0].contains(QStringLiteral(" linha(s) mais antiga(s) descartada(s)"))) << lines[0].toStdString();
  EXPECT_TRUE(lines.back().endsWith(QStringLiteral(" linha 99")));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" linha 81")));  // in order, the newest kept
  EXPECT_FALSE(window->memLog->toPlainText().contains(QStringLiteral("digitado")));
  EXPECT_LE(window->memLog->document()->blockCount(), 20);
  window->btnLimparLog->click();
  ProcessEvents();
  EXPECT_EQ(Lines(form).size(), 1);
  tav::log::ExecutionLog::Global().SetBounds({});
}

// The window follows the layout table at its first size and after a resize.
TEST(LogWindow, FollowsTheLayoutTable) {
  namespace layout = tav::host::layout;
  using tav::host::Q;
  WorkingDirectory dir;
  TFormPrincipal form;
  form.btnLogExec->click();
  auto *window = form.FormLogProc();
  EXPECT_EQ(window->size(), QSize(layout::kLogWidth, layout::kLogHeight));
  for (const QSize size : {QSize(layout::kLogWidth, layout::kLogHeight), QSize(1000, 600)}) {
    window->resize(size);
    ProcessEvents();
    const layout::LogPlaces places = layout::LogWindowPlaces(size.width(), size.height());
    EXPECT_EQ(window->pnlTopo->geometry(), Q(places.top));
    EXPECT_EQ(window->pnlRodape->geometry(), Q(places.bottom));
    EXPECT_EQ(window->memLog->geometry(), Q(places.text));
    EXPECT_EQ(window->Label1->geometry(), Q(places.title));
    EXPECT_EQ(window->btnSalvarLog->geometry(), Q(places.salvar));
    EXPECT_EQ(window->btnLimparLog->geometry(), Q(places.limpar));
    EXPECT_EQ(window->btnFechar->geometry(), Q(places.fechar));
  }
  EXPECT_EQ(window->Label1->text(), Q(layout::kLogTitle));
  EXPECT_EQ(window->btnSalvarLog->text(), Q(layout::kSalvarLog));
  EXPECT_EQ(window->btnLimparLog->text(), Q(layout::kLimparLog));
  EXPECT_EQ(window->btnFechar->text(), Q(layout::kFechar));
}
