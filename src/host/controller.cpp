#include "host/controller.h"

#include "bizlib/bridge.h"
#include "http/listener.h"
#include "log/execution_log.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/fileversion.h"
#include "platform/ini.h"
#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::host {

namespace {

// Runs a routine's body under its error handler: an error becomes an error block
// naming the routine, and the routine returns normally.
template <typename Body>
void Guarded(ServiceController &controller, std::u16string_view rotina, Body &&body) {
  try {
    body();
  } catch (...) {
    controller.RegistraLogErro(rotina, u"0", ErrorText(std::current_exception()));
  }
}

}  // namespace

template <typename Body>
void ServiceController::ShowingErrors(Body &&body) {
  try {
    body();
  } catch (...) {
    ShowErrorBox(ErrorText(std::current_exception()));
  }
}

ServiceController::ServiceController() = default;  // here, where the listener is a complete type

ServiceController::~ServiceController() {
  FServer.reset();  // stops the listener, waiting a bounded time for the actions in flight
}

// ---- log ----------------------------------------------------------------------

void ServiceController::RegistraLog(std::u16string_view iTexto) { log::ExecutionLog::Global().RegistraLog(iTexto); }

void ServiceController::RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco,
                                        std::u16string_view iMensagem) {
  log::ExecutionLog::Global().RegistraLogErro(iRotina, iBloco, iMensagem);
}

bool ServiceController::bLogAtivo() const { return log::ExecutionLog::Global().Active(); }
void ServiceController::SetLogAtivo(bool active) { log::ExecutionLog::Global().SetActive(active); }

http::HttpListener &ServiceController::Server() {
  if (!FServer) throw Error("The HTTP listener does not exist: the program did not finish starting up");
  return *FServer;
}

// ---- start-up -----------------------------------------------------------------

void ServiceController::FormCreate() {
  Guarded(*this, u"FormCreate()", [this] {
    sVersaoSistema = RetornaVersao(files::ExecutablePath());
    mDirSistema = files::CurrentDirectory();
    mNomeArquivoIni = files::Join(mDirSistema, u"TavWebService.ini");
    mNomeArquivoIniDll = files::Join(mDirSistema, u"DozUzedoda.ini");
    CarregaParametroDll();
    CarregaParametros();
    messaging::TWhatsApp::Configure(mGateway);
    CarregaDll();
    sVersaoSistema = sVersaoSistema.substr(0, 4) + bizlib::Versao();
    FServer = std::make_unique<http::HttpListener>(nullptr, mLimites);
  });
}

void ServiceController::CarregaParametroDll() {
  Guarded(*this, u"CarregaParametroDll()", [this] {
    if (!files::Exists(mNomeArquivoIniDll)) return;
    const auto ini = IniFile::Load(mNomeArquivoIniDll);
    const std::u16string ativo = ini ? ini->Get(u"LOG", u"Ativo", u"") : std::u16string();
    SetLogSwitch(text::UpperAscii(ativo) == u"SIM");
  });
}

void ServiceController::CarregaParametros() {
  Guarded(*this, u"CarregaParametros()", [this] {
    if (!files::Exists(mNomeArquivoIni)) return;
    const auto ini = IniFile::Load(mNomeArquivoIni);
    const auto value = [&](const char16_t *section, const char16_t *key, const char16_t *fallback) {
      return ini ? ini->Get(section, key, fallback) : std::u16string(fallback);
    };
    mPorta = value(u"SERVIDOR", u"PORTA", u"8080");
    mDirDllTavoric = files::CurrentDirectory();
    mUsuarioDll = value(u"DLL", u"USUARIO", u"");
    mSenhaDll = value(u"DLL", u"SENHA", u"");
    bIniciarAuto = value(u"GERAIS", u"INICIARAUTO", u"") == u"S";
    mGateway.endpoint = text::ToUtf8(value(u"WHATSAPP", u"ENDERECO", u""));
    mGateway.token = text::ToUtf8(value(u"WHATSAPP", u"TOKEN", u""));
    mGateway.caBundle = text::ToUtf8(value(u"WHATSAPP", u"CERTIFICADOS", u""));
    std::u16string problems;
    mLimites = http::LimitsFromSettings(
        [&](std::u16string_view key) { return ini ? ini->Get(u"SERVIDOR", key, u"") : std::u16string(); }, &problems);
    std::u16string logProblems;
    const log::LogBounds bounds = log::LogBoundsFromSettings(
        [&](std::u16string_view key) { return ini ? ini->Get(u"LOG", key, u"") : std::u16string(); }, &logProblems);
    log::ExecutionLog::Global().SetBounds(bounds);
    // Read last, so that a bad limit loses nothing else; that limit keeps its default.
    std::u16string report;
    if (!problems.empty()) report = u"Valor inválido em [SERVIDOR], mantido o padrão: " + problems;
    if (!logProblems.empty())
      report += (report.empty() ? u"" : u"; ") + (u"Valor inválido em [LOG], mantido o padrão: " + logProblems);
    if (!report.empty()) throw Error(report);
  });
}

void ServiceController::CarregaDll() {
  RegistraLog(u"Rotina...: TFormPrincipal.CarregaDll()");
  bizlib::AbreDll(mDirDllTavoric, mUsuarioDll, mSenhaDll, LogSwitch(), LogSqlSwitch());
  RegistraLog(u"Rotina...: TFormPrincipal.CarregaDll() > Fim");
}

void ServiceController::FormShow() {
  Guarded(*this, u"FormShow()", [this] {
    PlaceAtBottomRight();
    if (bIniciarAuto) btnIniciarClick();
    ShowLabels(mPorta, u"V " + sVersaoSistema);
  });
}

// ---- commands -----------------------------------------------------------------

void ServiceController::btnIniciarClick() {
  Guarded(*this, u"btnIniciarClick()", [this] {
    RegistraLog(u"Rotina...: btnIniciarClick()");
    CarregaDll();
    StartServer();
  });
}

void ServiceController::StartServer() {
  Guarded(*this, u"StartServer()", [this] {
    RegistraLog(u"Rotina...: StartServer()");
    http::HttpListener &server = Server();
    if (server.Active()) return;
    RegistraLog(u" 1 Não está ativo...");
    server.ClearBindings();
    // A port outside 0..65535 is refused like any other bad port text, never wrapped to another port.
    const auto port = ParseInteger(mPorta, 0, 65535);
    if (!port) throw Error(u"'" + mPorta + u"' is not a valid integer value");
    server.SetDefaultPort(static_cast<std::uint16_t>(*port));
    server.SetActive(true);
    RegistraLog(u" 2 Ativou...");
  });
}

void ServiceController::btnPararClick() {
  Guarded(*this, u"btnPararClick()", [this] {
    RegistraLog(u"Rotina...: btnPararClick()");
    // One bounded wait for both: a call hung inside the library (a database lock)
    // never freezes the window. The library closes first; a call still inside it
    // then unloads it when it leaves, and its answer is dropped.
    const auto deadline = std::chrono::steady_clock::now() + bizlib::kCloseWait;
    bizlib::FechaDll(deadline);
    Server().Stop(deadline);
    Server().ClearBindings();
  });
}

void ServiceController::ButtonOpenBrowserClick() {
  ShowingErrors([this] {
    StartServer();
    OpenWithShell(u"http://localhost:" + mPorta);
  });
}

void ServiceController::btnMinimizarClick() { MinimizeWindows(); }

void ServiceController::btnLogExecClick() {
  ShowingErrors([this] {
    SetLogAtivo(true);
    ShowLogWindow();
  });
}

void ServiceController::btnLimparCacheClick() {
  ShowingErrors([] { bizlib::LimparCache(); });
}

void ServiceController::btnEncerrarClick() {
  Guarded(*this, u"btnEncerrarClick()", [this] {
    RegistraLog(u"Rotina...: btnEncerrarClick()");
    QuitProgram();
  });
}

void ServiceController::chkLogClick(bool on) {
  ShowingErrors([on] { bizlib::AtivarLogProc(on); });
}

void ServiceController::chkLogSqlClick(bool on) {
  ShowingErrors([on] { bizlib::AtivarLogSql(on); });
}

void ServiceController::ApplicationEvents1Idle() {
  try {
    ShowRunning(Server().Active());
  } catch (...) {
    // Reported once: the idle update runs whenever the loop waits, and the log it
    // writes to would wake the loop again.
    if (!idleErrorReported_) {
      idleErrorReported_ = true;
      RegistraLogErro(u"ApplicationEvents1Idle()", u"0", ErrorText(std::current_exception()));
    }
  }
}

}  // namespace tav::host
