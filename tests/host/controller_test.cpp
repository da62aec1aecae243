// The controller and the log window's logic without any toolkit, through views
// that record what they are asked to show. Runs on Linux and, under Wine, on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <atomic>
#include <thread>

#include "bizlib/bridge.h"
#include "bizlib/detail/state.h"
#include "host/controller.h"
#include "host/log_window.h"
#include "http/listener.h"
#include "http/module/web_module.h"
#include "platform/fileversion.h"
#include "platform/text.h"
#include "support/read_file.h"
#include "support/http_client.h"
#include "support/log_capture.h"
#include "support/portable.h"
#include "support/working_directory.h"

TAV_VERSION_NOTE(10, 2, 3, 4, 1, 2, 0, 0);

namespace fs = std::filesystem;
using Lines = std::vector<std::u16string>;
using tav::testing::WorkingDirectory;

using tav::testing::ReadFile;

namespace {

class RecordingMain : public tav::host::ServiceController {
 public:
  RecordingMain() { FormCreate(); }
  ~RecordingMain() override { tav::bizlib::FechaDll(); }
  void Show() { FormShow(); }

  bool logSwitch = false, logSqlSwitch = false, running = false, quit = false;
  int placed = 0, logWindowShown = 0, minimized = 0;
  std::u16string titulo, versao;
  Lines errors, opened;

 protected:
  bool LogSwitch() const override { return logSwitch; }
  void SetLogSwitch(bool on) override { logSwitch = on; }
  bool LogSqlSwitch() const override { return logSqlSwitch; }
  void PlaceAtBottomRight() override { ++placed; }
  void ShowLabels(std::u16string_view t, std::u16string_view v) override {
    titulo = t;
    versao = v;
  }
  void ShowRunning(bool active) override { running = active; }
  void ShowErrorBox(std::u16string_view message) override { errors.emplace_back(message); }
  void OpenWithShell(std::u16string_view target) override { opened.emplace_back(target); }
  void ShowLogWindow() override { ++logWindowShown; }
  void MinimizeWindows() override { ++minimized; }
  void QuitProgram() override { quit = true; }
};

// A text area that keeps its text as the Win32 edit control does: every entry
// followed by CR LF.
class RecordingLog : public tav::host::LogWindowController {
 public:
  RecordingLog() { StartWatching(); }
  ~RecordingLog() override { StopWatching(); }
  std::u16string text;
  bool answer = false, hidden = false;
  Lines errors, questions, opened;
  std::atomic<int> wakeUps{0};
  int appends = 0;

  // The text area's lines (an entry's CR LF breaks it into lines, as the control does).
  Lines ShownLines() const {
    Lines lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(u"\r\n", start)) != std::u16string::npos; start = at + 2)
      lines.push_back(text.substr(start, at - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  }

 protected:
  void WakeUp() override { ++wakeUps; }
  void AppendEntries(const std::vector<std::u16string> &entries) override {
    ++appends;
    for (const auto &entry : entries) text += entry + u"\r\n";
  }
  std::size_t TrimShown(std::size_t keep, std::size_t maxLines, std::size_t maxUnits) override {
    Lines lines = ShownLines();
    std::size_t units = text.size(), drop = 0;
    while (keep + drop + 1 < lines.size() && (lines.size() - drop > maxLines || units > maxUnits))
      units -= lines[keep + drop++].size() + 2;
    if (drop == 0) return 0;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(keep), lines.begin() + static_cast<std::ptrdiff_t>(keep + drop));
    Rebuild(lines);
    return drop;
  }
  void ShowFirstLine(std::u16string_view line, bool replace) override {
    Lines lines = ShownLines();
    if (replace && !lines.empty()) lines[0] = line;
    else lines.insert(lines.begin(), std::u16string(line));
    Rebuild(lines);
  }
  void Rebuild(const Lines &lines) {
    text.clear();
    for (const auto &line : lines) text += line + u"\r\n";
  }
  void ClearShownText() override { text.clear(); }
  std::u16string ShownText() const override {
    // As the Win32 view: the break after the last entry is the saved file's last line end.
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0) return text.substr(0, text.size() - 2);
    return text;
  }
  void ShowErrorBox(std::u16string_view message) override { errors.emplace_back(message); }
  bool ConfirmBox(std::u16string_view message) override {
    questions.emplace_back(message);
    return answer;
  }
  void OpenWithShell(std::u16string_view file) override { opened.emplace_back(file); }
  void HideWindow() override { hidden = true; }
};

bool Has(const Lines &lines, std::u16string_view part) {
  for (const auto &line : lines)
    if (line.find(part) != std::u16string::npos) return true;
  return false;
}

}  // namespace

// A working directory with both INI files and the library, and the controller
// created in it (automatic start on, port chosen by the system).
class StartedController : public ::testing::Test {
 protected:
  StartedController() {
    dir.Write("TavWebService.ini", "[SERVIDOR]\r\nPORTA=0\r\n[DLL]\r\nUSUARIO=ana\r\n[GERAIS]\r\nINICIARAUTO=S\r\n");
    dir.Write("DozUzedoda.ini", "[LOG]\r\nAtivo=sim\r\n");
    dir.AddLibrary();
    main = std::make_unique<RecordingMain>();
  }
  WorkingDirectory dir;
  tav::testing::LogCapture log;
  std::unique_ptr<RecordingMain> main;
};

TEST_F(StartedController, CreationReadsTheConfigurationAndTheVersions) {
  EXPECT_TRUE(main->logSwitch);  // from DozUzedoda.ini, before the library opened
  EXPECT_EQ(main->sVersaoSistema, u"10.2FX1");  // four characters of the program's version, then the library's
  EXPECT_FALSE(main->Server().Active());
}

TEST_F(StartedController, ShowingPlacesLabelsAndStartsByItself) {
  main->Show();
  EXPECT_EQ(main->placed, 1);
  EXPECT_EQ(main->titulo, u"0");
  EXPECT_EQ(main->versao, u"V 10.2FX1");
  EXPECT_TRUE(main->Server().Active());
  main->ApplicationEvents1Idle();
  EXPECT_TRUE(main->running);
}

TEST_F(StartedController, PararStopsAndTheIdleUpdateFollows) {
  main->Show();
  main->btnPararClick();
  main->ApplicationEvents1Idle();
  EXPECT_FALSE(main->running);
  EXPECT_FALSE(main->Server().Active());
}

// A port text that is no port fails Start with an error block, and nothing else.
TEST_F(StartedController, ABadPortFailsStartWithAnErrorBlock) {
  main->mPorta = u"65536";
  main->btnIniciarClick();
  EXPECT_FALSE(main->Server().Active());
  EXPECT_TRUE(Has(log.Take(), u"  Rotina.......: StartServer()\r\n  Bloco........: 0\r\n  Falha........: '65536' is not a valid "
                              u"integer value"));
  EXPECT_TRUE(main->errors.empty());
}

TEST_F(StartedController, OpenBrowserStartsThenOpensThePortsAddress) {
  main->ButtonOpenBrowserClick();
  EXPECT_TRUE(main->Server().Active());
  EXPECT_EQ(main->opened, (Lines{u"http://localhost:0"}));
}

TEST_F(StartedController, LogMinimizeAndExit) {
  main->btnLogExecClick();
  EXPECT_EQ(main->logWindowShown, 1);
  EXPECT_TRUE(main->bLogAtivo());
  main->btnMinimizarClick();
  EXPECT_EQ(main->minimized, 1);
  main->btnEncerrarClick();
  EXPECT_TRUE(main->quit);
  EXPECT_EQ(log.Take().back(), u"Rotina...: btnEncerrarClick()");
}

// What the guard reports for FIXTURE_FAIL "<export>:raise".
std::u16string Raised(std::u16string_view exportName) {
#if defined(_WIN32)
  return u"Exceção 0xE0000001 na biblioteca de negócio (" + std::u16string(exportName) + u")";
#else
  return u"Exceção C++ do tipo int na biblioteca de negócio (" + std::u16string(exportName) + u")";
#endif
}

// A library failure in a window command is reported where the command reports
// errors: the toolkit's error box, or the routine's error block.
TEST(ServiceController, LibraryFailuresInTheCommands) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[SERVIDOR]\r\nPORTA=0\r\n");
  dir.AddLibrary();
  tav::testing::LogCapture log;
  RecordingMain main;
  tav::testing::SetEnv("FIXTURE_FAIL", "HabilitarLog:raise");
  main.chkLogClick(true);
  EXPECT_EQ(main.errors, Lines{Raised(u"HabilitarLog")});
  tav::testing::SetEnv("FIXTURE_FAIL", "LimpaCache:raise");
  main.btnLimparCacheClick();  // dropped, between its two lines
  EXPECT_EQ(main.errors.size(), 1u);
  tav::testing::UnsetEnv("FIXTURE_FAIL");
  const Lines lines = log.Take();
  EXPECT_EQ((Lines(lines.end() - 2, lines.end())),
            (Lines{u"Rotina...: LimparCache() ", u"Rotina...: LimparCache() - FIM "}));
}

// "Parar" with a business call that does not return (a database lock): the window
// answers within the bounded wait, the listener is stopped, and the library is
// unloaded once the call ends; "Iniciar" then serves again.
TEST(ServiceController, StopWithAHungCallAnswersAtOnce) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[SERVIDOR]\r\nPORTA=0\r\n");
  dir.AddLibrary();
  const std::string hold = (dir.path() / "hold").string();
  dir.Write("hold", "x");
  tav::testing::SetEnv("FIXTURE_HOLD", hold.c_str());
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  tav::testing::LogCapture log;
  tav::http::RegisterWebModule();  // as the program's main() does
  RecordingMain main;
  main.btnIniciarClick();
  ASSERT_TRUE(main.Server().Active());
  const std::uint16_t port = main.Server().Bindings().at(0).port;
  std::string hungAnswer = "<none>";
  std::thread client([&] {
    hungAnswer = tav::testing::Exchange(port, "POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\n{}");
  });
  // "Conectado" is written once the request holds the library, before ExecJSon.
  for (int i = 0; i < 1000 && !Has(tav::log::ExecutionLog::Global().Entries(), u" Conectado"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  main.btnPararClick();  // returns while the call is still held
  EXPECT_FALSE(main.Server().Active());
  EXPECT_FALSE(tav::bizlib::Carregada());
  EXPECT_TRUE(Has(log.Take(), u"Dll em uso por 1 chamada(s): será fechada quando a última terminar"));

  std::filesystem::remove(hold);  // the call ends; its answer is dropped, the library unloads
  client.join();
  EXPECT_EQ(hungAnswer, "");
  for (int i = 0; i < 500 && !Has(tav::log::ExecutionLog::Global().Entries(), u"Dll fechada"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Has(log.Take(), u"Dll fechada"));

  main.btnIniciarClick();
  ASSERT_TRUE(main.Server().Active());
  const std::string next = tav::testing::Exchange(main.Server().Bindings().at(0).port,
                                                  "POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\n{}");
  EXPECT_EQ(next.substr(0, 15), "HTTP/1.1 200 OK");
  tav::testing::UnsetEnv("FIXTURE_HOLD");
  tav::testing::UnsetEnv("FIXTURE_ANSWER");
}

TEST(ServiceController, WithoutTheServiceIniNothingStarts) {
  WorkingDirectory dir;
  tav::testing::LogCapture log;
  RecordingMain main;
  EXPECT_EQ(main.mPorta, u"");
  EXPECT_EQ(main.sVersaoSistema, u"10.2");  // no library: no version of its own
  main.Show();
  EXPECT_EQ(main.titulo, u"");
  main.btnIniciarClick();
  EXPECT_FALSE(main.Server().Active());
  EXPECT_TRUE(Has(log.Take(), u"Rotina.......: StartServer()"));
}

// The text area keeps to the log's bounds: the oldest lines go (typed ones too),
// the first line says how many went, batches keep the log's order, a burst of
// appends wakes the window once, and Clear starts over.
TEST(LogWindowController, BoundedTextAreaWithTheDroppedLinesLine) {
  WorkingDirectory dir;
  tav::testing::LogCapture log;
  tav::log::ExecutionLog &global = tav::log::ExecutionLog::Global();
  const tav::log::LogBounds defaults = global.Bounds();
  global.SetBounds({10, 1 << 20});
  RecordingLog window;
  window.text += u"digitado 1\r\ndigitado 2\r\n";  // the operator typed two lines
  for (int i = 0; i < 6; ++i) global.RegistraLog(u"e" + tav::testing_number(i));
  EXPECT_EQ(window.wakeUps.load(), 1);  // six appends, one wake-up
  window.DrainEntries();
  EXPECT_EQ(window.appends, 1);  // one batch, one append
  EXPECT_EQ(window.ShownLines().size(), 8u);
  for (int i = 6; i < 20; ++i) {
    global.RegistraLog(u"e" + tav::testing_number(i));
    if (i % 5 == 0) window.DrainEntries();
  }
  window.DrainEntries();
  const Lines lines = window.ShownLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0].substr(8), u" 13 linha(s) mais antiga(s) descartada(s): o log de execução guarda só as mais recentes.");
  for (int i = 1; i < 10; ++i) EXPECT_EQ(lines[i].substr(9), u"e" + tav::testing_number(10 + i));  // in order, newest kept
  EXPECT_EQ(window.LogText().substr(0, lines[0].size()), lines[0]);  // a saved log says it is not complete

  // Bytes bound as well, whichever comes first.
  global.SetBounds({1000, 40 * sizeof(char16_t)});
  global.RegistraLog(u"um texto bem mais longo que o resto");
  window.DrainEntries();
  EXPECT_LE(window.text.size(), 40u + 2 * 100);  // the newest line and the notice always stay
  EXPECT_EQ(window.ShownLines().back().substr(9), u"um texto bem mais longo que o resto");

  window.btnLimparLogClick();
  global.SetBounds({10, 1 << 20});
  EXPECT_EQ(window.ShownLines().size(), 1u);  // only "Registro de Log Reiniciado."
  global.RegistraLog(u"depois");
  window.DrainEntries();
  EXPECT_EQ(window.ShownLines().size(), 2u);
  global.SetBounds(defaults);
}

// A save while entries keep arriving holds whole lines only.
TEST(LogWindowController, SaveDuringAppendsHoldsWholeLines) {
  WorkingDirectory dir;
  tav::testing::LogCapture log;
  RecordingLog window;
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&stop, t] {
      for (int i = 0; !stop; ++i) tav::log::ExecutionLog::Global().RegistraLog(u"linha " + tav::testing_number(t * 1000000 + i));
    });
  window.answer = false;
  for (int i = 0; i < 5000 && window.ShownLines().size() < 100; ++i) {  // the writers are under way
    window.DrainEntries();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::u16string saved;
  for (int i = 0; i < 5; ++i) {
    window.DrainEntries();
    saved = window.btnSalvarLogClick();
  }
  stop = true;
  for (auto &w : writers) w.join();
  ASSERT_FALSE(saved.empty());
  std::istringstream file(ReadFile(fs::path(tav::text::ToUtf8(saved))));
  std::size_t count = 0;
  for (std::string line; std::getline(file, line); ++count) {
    ASSERT_GE(line.size(), 16u);
    EXPECT_EQ(line.back(), '\r');
    if (count == 0 && line.find("descartada") != std::string::npos) continue;  // the dropped-lines line
    EXPECT_EQ(line.substr(8, 7), " linha ") << line;
  }
  EXPECT_GT(count, 0u);
}

TEST(LogWindowController, ShowsSavesClearsAndCloses) {
  WorkingDirectory dir;
  tav::testing::LogCapture log;
  RecordingLog window;
  window.mPorta = u"8080";
  const std::u16string caption = window.Caption();
  EXPECT_EQ(caption.rfind(u"WsTavoric Log - Versão: 10.2.3.4 Compilado em : ", 0), 0u);
  EXPECT_EQ(caption.substr(caption.size() - 5), u" 8080");

  tav::log::ExecutionLog::Global().RegistraLog(u"Ação €");
  tav::log::ExecutionLog::Global().RegistraLogErro(u"Teste()", u"0", u"causa");
  window.DrainEntries();
  window.text += u"digitado pelo operador";  // the text area is editable
  const std::u16string expected = window.text + u"\r\n";
  EXPECT_EQ(window.LogText(), expected);  // every line ends with CR LF, the typed one too

  // Two saves in the same second (or not): two files, neither replaced.
  window.answer = true;
  const std::u16string first = window.btnSalvarLogClick();
  const std::u16string second = window.btnSalvarLogClick();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  const fs::path firstFile(tav::text::ToUtf8(first));
  EXPECT_EQ(firstFile.parent_path(), dir.path());
  EXPECT_EQ(ReadFile(firstFile), tav::text::ToAnsi(expected));
  EXPECT_EQ(ReadFile(fs::path(tav::text::ToUtf8(second))), tav::text::ToAnsi(expected));
  EXPECT_EQ(window.questions.at(0), u"Arquivo de Log armazenado em: \r\n" + first + u"\r\nAbrir o Arquivo? ");
  EXPECT_EQ(window.opened, (Lines{first, second}));

  window.btnLimparLogClick();
  EXPECT_EQ(window.text.size(), 8u + 28u + 2u);
  EXPECT_NE(window.text.find(u" Registro de Log Reiniciado.\r\n"), std::u16string::npos);

  window.btnFecharClick();
  EXPECT_TRUE(window.hidden);
  EXPECT_FALSE(tav::log::ExecutionLog::Global().Active());
}
