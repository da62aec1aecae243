// The real program, started in a scratch working directory with the stand-in
// library, driven with raw HTTP over loopback (on Linux offscreen; on Windows,
// under Wine, with its windows on a virtual X display).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "host/layout.h"
#include "support/http_client.h"
#include "support/read_file.h"
#include "support/portable.h"
#include "support/program.h"
#include "support/test_gateway.h"

namespace fs = std::filesystem;
using tav::testing::Exchange;
using tav::testing::Program;

using tav::testing::ReadFile;

namespace {

std::string Body(const std::string &r) { return r.substr(r.find("\r\n\r\n") + 4); }
std::string StatusLine(const std::string &r) { return r.substr(0, r.find("\r\n")); }

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tav::testing::SetEnv("no_proxy", "127.0.0.1,localhost");
    dir_ = fs::temp_directory_path() / ("program_" + std::to_string(tav::testing::ProcessId()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    port_ = tav::testing::FreePort();
  }
  void TearDown() override {
    program_.reset();
    fs::remove_all(dir_);
  }
  // `serverIni`: more lines of [SERVIDOR]; `extraIni`: more sections; `library`:
  // the business library to use instead of the stand-in.
  void Start(bool withLibrary, const std::string &extraIni = "", const std::string &serverIni = "",
             const fs::path &library = TAV_STANDIN) {
    std::ofstream(dir_ / "TavWebService.ini")
        << "[SERVIDOR]\r\nPORTA=" << port_ << "\r\n" << serverIni << "[DLL]\r\nUSUARIO=demo\r\nSENHA=demo123\r\n[GERAIS]\r\nINICIARAUTO=S\r\n"
        << extraIni;
    std::ofstream(dir_ / "DozUzedoda.ini") << "[LOG]\r\nAtivo=NAO\r\n[BANCO]\r\nARQUIVO=teste.db\r\n";
    if (withLibrary) fs::copy_file(library, dir_ / library.filename());
    program_ = std::make_unique<Program>(TAV_PROGRAM, dir_, port_);
    ASSERT_TRUE(program_->Ready()) << ReadFile(dir_ / "program.out");
  }
  std::string Post(const std::string &target, const std::string &body, const std::string &headers = "") const {
    return Exchange(port_, "POST " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "Content-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body);
  }
  std::vector<fs::path> IntakeFiles() const {
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(dir_))
      if (e.path().extension() == ".txt") files.push_back(e.path());
    return files;
  }

  fs::path dir_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Program> program_;
};

}  // namespace

TEST_F(ProgramTest, BusinessRequestsAgainstTheStandIn) {
  Start(true);
  const std::string query = Post("/WsTavoric?usuario=demo&senha=demo123",
                                 "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"clientes\",\"FILTRO\":{\"nome\":\"Jo\xC3\xA3o Lima\"}}",
                                 "Content-Type: application/json; charset=UTF-8\r\n");
  EXPECT_EQ(StatusLine(query), "HTTP/1.1 200 OK");
  EXPECT_NE(query.find("Content-Type: application/json; charset=ISO-8859-1\r\n"), std::string::npos);
  EXPECT_NE(Body(query).find("\"nome\":\"Jo\xE3o Lima\""), std::string::npos) << Body(query);  // ISO-8859-1 bytes

  // Credentials from the headers when the query has none.
  const std::string inserted = Post("/WsTavoric", "{\"ACAO\":\"INSERIR\",\"TABELA\":\"produtos\",\"DADOS\":{\"descricao\":\"Sal\",\"preco\":2.5}}",
                                    "usuario: demo\r\nsenha: demo123\r\n");
  EXPECT_EQ(StatusLine(inserted), "HTTP/1.1 201 Created");
  EXPECT_EQ(StatusLine(Post("/WsTavoric?usuario=demo&senha=errada", "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"produtos\"}")),
            "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(StatusLine(Post("/WsTavoric?usuario=demo&senha=demo123", "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"usuarios\"}")),
            "HTTP/1.1 400 Bad Request");
  // A keyword in lower case does not change the route.
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"ACAO\":\"PING\",\"x\":\"enviarwhatsapp\"}")), "HTTP/1.1 200 OK");
}

TEST_F(ProgramTest, IntakeFilesOnDisk) {
  Start(true);
  const std::string big(6000, 'x');
  const std::string body = "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"" + big + "\"}";
  // The route sees the first 5900 bytes only: cut, the JSON is invalid, nothing is
  // stored and the sender is told.
  EXPECT_EQ(StatusLine(Post("/WsTavoric", body)), "HTTP/1.1 400 Bad Request");
  EXPECT_TRUE(IntakeFiles().empty());
  const std::string note = "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"Avi\xC3\xA3o\"}";
  EXPECT_EQ(StatusLine(Post("/WsTavoric", note, "Content-Type: application/json; charset=UTF-8\r\n")), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(Post("/WsTavoric", note, "Content-Type: application/json; charset=UTF-8\r\n")), "HTTP/1.1 200 OK");
  const auto files = IntakeFiles();
  ASSERT_EQ(files.size(), 2u);  // even within one second, nothing is overwritten
  const std::string content = ReadFile(files[0]);
  EXPECT_EQ(content.rfind("Informa\xE7\xE3o recebida em ", 0), 0u);
  EXPECT_EQ(content.substr(content.find("\r\n") + 2), "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"Avi\xE3o\"}");
}

// A library that fails on every second call, as one in another language does
// with an error it does not catch: each failure is answered 500 with its reason,
// and the program goes on serving.
TEST_F(ProgramTest, AFailingLibraryDoesNotTakeTheProgramDown) {
  tav::testing::SetEnv("FIXTURE_FAIL", "ExecJSon:raise");
  tav::testing::SetEnv("FIXTURE_FAIL_EVERY", "2");
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  Start(true, "", "", TAV_FIXTURE_LIBRARY);  // the program inherits the variables
  tav::testing::UnsetEnv("FIXTURE_FAIL");
  tav::testing::UnsetEnv("FIXTURE_FAIL_EVERY");
  tav::testing::UnsetEnv("FIXTURE_ANSWER");
  for (int i = 1; i <= 6; ++i) {
    const std::string response = Post("/WsTavoric", "{\"ACAO\":\"PING\"}");
    SCOPED_TRACE(i);
    if (i % 2 == 0) {
      EXPECT_EQ(StatusLine(response), "HTTP/1.1 500 Internal Server Error");
      EXPECT_NE(Body(response).find("na biblioteca de neg\\u00F3cio (ExecJSon)"), std::string::npos) << Body(response);
    } else {
      EXPECT_EQ(StatusLine(response), "HTTP/1.1 200 OK");
      EXPECT_EQ(Body(response), "{}");
    }
  }
}

TEST_F(ProgramTest, WithoutTheLibraryBusinessRequestsGet503) {
  Start(false);
  const std::string response = Post("/WsTavoric", "{\"ACAO\":\"PING\"}");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 503 Service Unavailable");
  EXPECT_NE(Body(response).find("erro"), std::string::npos);
}

TEST_F(ProgramTest, WhatsAppThroughALocalGateway) {
  tav::testing::TestGateway gateway(TAV_GATEWAY_SCRIPT);
  gateway.SetPlan(R"({"/conta/api/v1/status":{"status":200},"/conta/api/v1/send_message":{"status":200}})");
  Start(true, "[WHATSAPP]\r\nENDERECO=" + gateway.base() + "\r\nTOKEN=tok123\r\nCERTIFICADOS=" + gateway.ca() + "\r\n");
  const std::string response = Post("/WsTavoric", "{\"a\":\"ENVIARWHATSAPP\",\"f\":\"+55 81 9\",\"m\":\"Ol\xE1 \\\"voc\xEA\\\"\"}",
                                    "Content-Type: application/json; charset=ISO-8859-1\r\n");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(response), "");
  const auto requests = gateway.TakeRequests();
  ASSERT_EQ(requests.size(), 2u);
  const auto send = nlohmann::json::parse(requests[1]);
  EXPECT_EQ(send["path"], "/conta/api/v1/send_message");
  const auto message = nlohmann::json::parse(send["body"].get<std::string>());
  EXPECT_EQ(message["message"], "Ola \"voce\"");
  EXPECT_EQ(message["number"], "55819");

  gateway.SetPlan(R"({"/conta/api/v1/status":{"status":500}})");
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"a\":\"ENVIARWHATSAPP\",\"f\":\"1\",\"m\":\"x\"}")), "HTTP/1.1 400 Bad Request");
}

TEST_F(ProgramTest, ConnectionLimitsFromTheIni) {
  Start(true, "", "TEMPOREQUISICAO=1\r\nMAXCONEXOESPORCLIENTE=2\r\n");
  // A client that sends a byte every 200 ms is never idle, but is closed at the 1 s deadline.
  tav::testing::RawClient trickle(port_);
  const std::string request = "POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\n{}";
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t sent = 0; !trickle.closedByPeer() && sent < request.size(); ++sent) {
    trickle.Send(request.substr(sent, 1));
    EXPECT_EQ(trickle.ReadSome(std::chrono::milliseconds(200)), "");
  }
  EXPECT_TRUE(trickle.closedByPeer());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  // Two connections per address: a third from the same address is refused, others are served.
  tav::testing::RawClient first(port_, false, "127.0.0.1"), second(port_, false, "127.0.0.1");
  first.Send("POST /WsTavoric HTTP/1.1\r\n");
  second.Send("POST /WsTavoric HTTP/1.1\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(StatusLine(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n", "127.0.0.1")),
            "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(StatusLine(Exchange(port_, "POST /WsTavoric HTTP/1.0\r\nContent-Length: 15\r\n\r\n{\"ACAO\":\"PING\"}",
                                "127.0.0.9")),
            "HTTP/1.1 200 OK");
}

#if defined(_WIN32)
namespace {

using namespace tav::testing;

// Waits until `done` holds (polled), up to 10 s.
template <typename Condition>
bool Eventually(Condition done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

bool Contains(const std::wstring &text, const wchar_t *part) { return text.find(part) != std::wstring::npos; }

std::string Ansi(const std::wstring &text) {
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

// Where a control lies in its window's client area.
tav::host::layout::Place PlaceIn(HWND window, HWND control) {
  RECT place{};
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&place), 2);
  return {place.left, place.top, place.right - place.left, place.bottom - place.top};
}

}  // namespace

namespace tav::host::layout {
void PrintTo(const Place &place, std::ostream *out) {
  *out << "{" << place.left << ", " << place.top << ", " << place.width << ", " << place.height << "}";
}
}  // namespace tav::host::layout

// The native windows, worked the way an operator works them: window messages
// from this process to the program's controls.
TEST_F(ProgramTest, TheOperatorsWindows) {
  Start(true);
  const std::wstring port = std::to_wstring(port_);
  HWND main = program_->MainWindow();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(WindowText(main), L"TavWebService");
  EXPECT_EQ(GetWindowLongPtrW(main, GWL_STYLE) & WS_SYSMENU, 0);  // no close box
  RECT client{}, outer{}, work{};
  GetClientRect(main, &client);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  namespace layout = tav::host::layout;
  EXPECT_EQ(client.right, layout::Scale(layout::kMainWidth, dpi));
  EXPECT_EQ(client.bottom, layout::Scale(layout::kMainHeight, dpi));
  GetWindowRect(main, &outer);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(outer.right, work.right);  // bottom-right of the work area
  EXPECT_EQ(outer.bottom, work.bottom);
  // Every control where the layout table puts it, with its caption.
  std::vector<std::wstring> tabStops;
  for (const auto &row : layout::kMainControls) {
    HWND control = GetDlgItem(main, layout::Number(row.id));
    ASSERT_NE(control, nullptr) << layout::Number(row.id);
    const std::wstring caption(row.caption.begin(), row.caption.end());
    EXPECT_EQ(PlaceIn(main, control), layout::Scale(layout::InWindow(row), dpi)) << Ansi(caption);
    if (row.kind != layout::Kind::Label) {
      EXPECT_EQ(WindowText(control), caption);
    }
    if (row.kind == layout::Kind::Button || row.kind == layout::Kind::CheckBox) tabStops.push_back(caption);
  }
  EXPECT_NE(Child(main, L"Static", port.c_str()), nullptr);
  HWND version = GetDlgItem(main, layout::Number(layout::Main::lblVersao));
  EXPECT_EQ(WindowText(version).rfind(L"V 2.0.", 0), 0u) << WindowText(version).size();

  HWND iniciar = Child(main, L"Button", L"Iniciar"), parar = Child(main, L"Button", L"Parar");
  ASSERT_TRUE(iniciar && parar);
  EXPECT_TRUE(Eventually([&] { return !IsWindowEnabled(iniciar) && IsWindowEnabled(parar); }));  // started by itself
  // The tab order is the table's (Start is disabled while running, so the round
  // begins at Stop); "Open Browser" is in it though it lies beyond the client area.
  std::vector<std::wstring> order;
  HWND control = parar;
  do {
    order.push_back(WindowText(control));
    control = GetNextDlgTabItem(main, control, FALSE);
  } while (control != nullptr && control != parar && order.size() < 12);
  ASSERT_EQ(tabStops.at(0), L"Iniciar");
  EXPECT_EQ(order, std::vector<std::wstring>(tabStops.begin() + 1, tabStops.end()));
  RECT browser{};
  GetWindowRect(Child(main, L"Button", L"Open Browser"), &browser);
  MapWindowPoints(nullptr, main, reinterpret_cast<POINT *>(&browser), 2);
  EXPECT_GE(browser.left, client.right);

  // The execution log: opened, then every step is recorded in it.
  ASSERT_TRUE(Click(Child(main, L"Button", L"Log Execução")));
  HWND log = WaitForWindow(program_->Id(), L"TFrmLogProc");
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(IsWindowVisible(log));
  const std::wstring caption = WindowText(log);
  EXPECT_EQ(caption.rfind(L"WsTavoric Log - Versão: 2.0.6.0 Compilado em : ", 0), 0u);
  EXPECT_EQ(caption.substr(caption.size() - port.size() - 1), L" " + port);
  HWND memo = Child(log, L"Edit", nullptr);
  ASSERT_NE(memo, nullptr);
  // The log window's places are the table's for its client area.
  RECT logClient{};
  GetClientRect(log, &logClient);
  EXPECT_EQ(logClient.right, layout::Scale(layout::kLogWidth, dpi));
  EXPECT_EQ(logClient.bottom, layout::Scale(layout::kLogHeight, dpi));
  const layout::LogPlaces places = layout::LogWindowPlaces(logClient.right, logClient.bottom, dpi);
  struct LogRow { HWND control; layout::Place place; };
  const LogRow logRows[] = {
      {memo, places.text},
      {Child(log, L"Button", L"Salvar Log"), layout::Below(places.salvar, places.bottom.top)},
      {Child(log, L"Button", L"Limpar Log"), layout::Below(places.limpar, places.bottom.top)},
      {Child(log, L"Button", L"Fechar"), layout::Below(places.fechar, places.bottom.top)},
  };
  for (const LogRow &row : logRows) {
    ASSERT_NE(row.control, nullptr);
    EXPECT_EQ(PlaceIn(log, row.control), row.place) << Ansi(WindowText(row.control));
  }
  EXPECT_EQ(StatusLine(Post("/WsTavoric?usuario=demo&senha=demo123", "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"produtos\"}")),
            "HTTP/1.1 200 OK");
  EXPECT_TRUE(Eventually([&] { return Contains(WindowText(memo), L"Iniciado Execução da Ação no WsTavoric"); }))
      << Ansi(WindowText(memo));

  // Stop and Start from the buttons; the idle update follows the listener.
  ASSERT_TRUE(Click(parar));
  EXPECT_TRUE(Eventually([&] { return IsWindowEnabled(iniciar) && !IsWindowEnabled(parar); }));
  EXPECT_FALSE(RawClient(port_).connected());
  ASSERT_TRUE(Click(iniciar));
  EXPECT_TRUE(program_->Ready());
  EXPECT_TRUE(Eventually([&] {
    const std::wstring text = WindowText(memo);
    return Contains(text, L"Rotina...: btnPararClick()") && Contains(text, L"Rotina...: btnIniciarClick()") &&
           Contains(text, L" 2 Ativou...");
  })) << Ansi(WindowText(memo));

  if (const char *pictures = std::getenv("TAV_SCREENSHOT_DIR")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // both windows drawn
    EXPECT_TRUE(SavePicture(main, fs::path(pictures) / "main.bmp"));
    EXPECT_TRUE(SavePicture(log, fs::path(pictures) / "log.bmp"));
    EXPECT_TRUE(SavePicture(GetDesktopWindow(), fs::path(pictures) / "screen.bmp"));
  }

  // Save: the file, then the native Yes/No box, answered No.
  const std::wstring shown = WindowText(memo);
  ASSERT_TRUE(ClickLater(Child(log, L"Button", L"Salvar Log")));
  HWND box = WaitForWindow(program_->Id(), L"#32770");
  ASSERT_NE(box, nullptr);
  const std::wstring question = MessageBoxText(box);
  const std::wstring prefix = L"Arquivo de Log armazenado em: \r\n";
  ASSERT_EQ(question.rfind(prefix, 0), 0u) << Ansi(question);
  const std::wstring file = question.substr(prefix.size(), question.find(L"\r\nAbrir") - prefix.size());
  EXPECT_EQ(question.substr(prefix.size() + file.size()), L"\r\nAbrir o Arquivo? ");
  EXPECT_EQ(fs::path(file).parent_path(), dir_);
  EXPECT_EQ(fs::path(file).filename().wstring().rfind(L"LogExecucao_", 0), 0u);
  HWND no = Child(box, L"Button", L"&No");
  ASSERT_TRUE(Click(no != nullptr ? no : GetDlgItem(box, IDNO)));
  EXPECT_TRUE(Eventually([&] { return ProcessWindow(program_->Id(), L"#32770") == nullptr; }));
  EXPECT_EQ(ReadFile(file), Ansi(shown));  // the text as shown, in the ANSI code page

  // Clear leaves one line; Fechar hides the window and stops recording.
  ASSERT_TRUE(Click(Child(log, L"Button", L"Limpar Log")));
  const std::wstring cleared = WindowText(memo);
  EXPECT_EQ(cleared.size(), 8u + 28u + 2u) << Ansi(cleared);
  EXPECT_TRUE(Contains(cleared, L" Registro de Log Reiniciado.\r\n"));
  ASSERT_TRUE(Click(Child(log, L"Button", L"Fechar")));
  EXPECT_FALSE(IsWindowVisible(log));
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"ACAO\":\"PING\"}")), "HTTP/1.1 200 OK");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(WindowText(memo), cleared);

  // Windows shutting down: the service stops before the process is ended.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 20000, &ignored);
  EXPECT_FALSE(RawClient(port_).connected());
  EXPECT_EQ(program_->Stop(), 0u);  // "Encerrar"
}
#endif

#if defined(_WIN32)
// The operator with a library that fails and one call that hangs: the failure is
// in the execution log, "Parar" answers while the call is still inside the
// library, and once the call ends the library unloads and "Iniciar" serves again.
TEST_F(ProgramTest, TheOperatorWithAFailingAndAHungLibrary) {
  const fs::path hold = dir_ / "segura";
  tav::testing::SetEnv("FIXTURE_FAIL", "ExecJSon:raise");
  tav::testing::SetEnv("FIXTURE_FAIL_EVERY", "2");
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  tav::testing::SetEnv("FIXTURE_HOLD", hold.string().c_str());  // held while the file exists
  Start(true, "", "", TAV_FIXTURE_LIBRARY);
  for (const char *v : {"FIXTURE_FAIL", "FIXTURE_FAIL_EVERY", "FIXTURE_ANSWER", "FIXTURE_HOLD"})
    tav::testing::UnsetEnv(v);
  HWND main = program_->MainWindow();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(Click(Child(main, L"Button", L"Log Execução")));
  HWND log = WaitForWindow(program_->Id(), L"TFrmLogProc");
  HWND memo = Child(log, L"Edit", nullptr);
  ASSERT_NE(memo, nullptr);

  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"ACAO\":1}")), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"ACAO\":2}")), "HTTP/1.1 500 Internal Server Error");
  EXPECT_TRUE(Eventually([&] {
    return Contains(WindowText(memo), L"Falha...: Exceção 0xE0000001 na biblioteca de negócio (ExecJSon)");
  })) << Ansi(WindowText(memo));

  // The third call hangs (a database lock).
  std::ofstream(hold).put('x');
  std::string hung = "<none>";
  std::thread client([&] { hung = Post("/WsTavoric", "{\"ACAO\":3}"); });
  EXPECT_TRUE(Eventually([&] { return Contains(WindowText(memo), L"{\"ACAO\":3}"); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // from its log line into the library
  HWND iniciar = Child(main, L"Button", L"Iniciar"), parar = Child(main, L"Button", L"Parar");
  ASSERT_TRUE(Click(parar));  // returns: the window is not frozen
  DWORD_PTR ignored = 0;
  EXPECT_NE(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored), 0);
  EXPECT_TRUE(Eventually([&] { return IsWindowEnabled(iniciar) && !IsWindowEnabled(parar); }));
  EXPECT_FALSE(RawClient(port_).connected());
  EXPECT_TRUE(Eventually([&] { return Contains(WindowText(memo), L"será fechada quando a última terminar"); }))
      << Ansi(WindowText(memo));

  fs::remove(hold);  // the call ends: its answer is dropped and the library unloads
  client.join();
  EXPECT_EQ(hung, "");
  EXPECT_TRUE(Eventually([&] { return Contains(WindowText(memo), L"Dll fechada"); })) << Ansi(WindowText(memo));

  ASSERT_TRUE(Click(iniciar));
  EXPECT_TRUE(program_->Ready());
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"ACAO\":4}")), "HTTP/1.1 200 OK");  // a fresh load counts from one
  EXPECT_EQ(program_->Stop(), 0u);
}
#endif

#if defined(_WIN32)
// The Win32 text area keeps to the log's bounds: at most MAXLINHAS lines, the
// first one saying how many went.
TEST_F(ProgramTest, TheLogWindowKeepsToItsBounds) {
  Start(true, "[LOG]\r\nMAXLINHAS=30\r\n");
  HWND main = program_->MainWindow();
  ASSERT_TRUE(Click(Child(main, L"Button", L"Log Execução")));
  HWND log = WaitForWindow(program_->Id(), L"TFrmLogProc");
  HWND memo = Child(log, L"Edit", nullptr);
  ASSERT_NE(memo, nullptr);
  for (int i = 0; i < 20; ++i) Post("/WsTavoric", "{\"ACAO\":\"PING\",\"n\":" + std::to_string(i) + "}");
  EXPECT_TRUE(Eventually([&] { return Contains(WindowText(memo), L"\"n\":19}"); })) << Ansi(WindowText(memo));
  const std::wstring text = WindowText(memo);
  const auto lines = SendMessageW(memo, EM_GETLINECOUNT, 0, 0) - 1;  // the last line is the empty one after CR LF
  EXPECT_LE(lines, 30);
  EXPECT_GE(lines, 25);
  EXPECT_TRUE(Contains(text.substr(0, text.find(L"\r\n")), L"linha(s) mais antiga(s) descartada(s)")) << Ansi(text.substr(0, 200));
  EXPECT_EQ(program_->Stop(), 0u);
}
#endif
