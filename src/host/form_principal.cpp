#include "host/form_principal.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

#include "bizlib/bridge.h"
#include "host/frm_logproc.h"
#include "host/log_bridge.h"
#include "host/prompter.h"
#include "host/qtext.h"
#include "http/listener.h"
#include "log/execution_log.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/fileversion.h"
#include "platform/ini.h"
#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::host {

TFormPrincipal *FormPrincipal = nullptr;

QColor SkyBlue() { return QColor(0xA6, 0xCA, 0xF0); }

namespace {

// Runs a routine's body under its error handler: an error becomes an error block
// naming the routine, and the routine returns normally.
template <typename Body>
void Guarded(TFormPrincipal &form, std::u16string_view rotina, Body &&body) {
  try {
    body();
  } catch (...) {
    form.RegistraLogErro(rotina, u"0", ErrorText(std::current_exception()));
  }
}

// A command without a handler of its own: an error reaches the operator in the
// toolkit's standard error box, and the program carries on.
template <typename Body>
void ShowingErrors(QWidget *window, Body &&body) {
  try {
    body();
  } catch (...) {
    Prompter::Current().ShowError(window, Q(ErrorText(std::current_exception())));
  }
}

QPushButton *Button(const QString &caption, int x, int y, QWidget *parent) {
  auto *button = new QPushButton(caption, parent);
  button->setGeometry(x, y, 110, 25);
  return button;
}

QLabel *BoldLabel(int x, int y, QWidget *parent) {
  auto *label = new QLabel(parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(x, y, 106, 19);
  return label;
}

}  // namespace

TFormPrincipal::TFormPrincipal(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
  FormPrincipal = this;
  ComposeControls();
  FormCreate();
  // Idle update: each time the event loop is about to wait for events.
  if (auto *dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TFormPrincipal::ApplicationEvents1Idle);
}

TFormPrincipal::~TFormPrincipal() {
  FServer.reset();  // stops the listener first
  if (FormPrincipal == this) FormPrincipal = nullptr;
}

void TFormPrincipal::ComposeControls() {
  setWindowTitle(QStringLiteral("TavWebService"));
  setFixedSize(119, 273);
  setAutoFillBackground(true);
  QPalette sky = palette();
  sky.setColor(QPalette::Window, SkyBlue());
  setPalette(sky);

  btnIniciar = Button(QStringLiteral("Iniciar"), 4, 40, this);
  btnParar = Button(QStringLiteral("Parar"), 4, 66, this);
  ButtonOpenBrowser = Button(QStringLiteral("Open Browser"), 132, 84, this);
  ButtonOpenBrowser->resize(107, 25);  // beyond the client width: present, enabled, unseen
  btnEncerrar = Button(QStringLiteral("Encerrar"), 4, 242, this);
  btnMinimizar = Button(QStringLiteral("Minimizar"), 4, 92, this);
  btnLogExec = Button(QStringLiteral("Log Execução"), 4, 120, this);
  lblTitulo = BoldLabel(6, 1, this);
  lblVersao = BoldLabel(5, 23, this);
  grpLogs = new QGroupBox(QStringLiteral("Log da Dll"), this);
  grpLogs->setGeometry(5, 180, 107, 58);
  chkLog = new QCheckBox(QStringLiteral("Log"), grpLogs);
  chkLog->setGeometry(7, 15, 97, 17);
  chkLogSql = new QCheckBox(QStringLiteral("Log Sql"), grpLogs);
  chkLogSql->setGeometry(7, 35, 97, 17);
  btnLimparCache = Button(QStringLiteral("Reiniciar Cache"), 5, 147, this);

  setTabOrder(btnIniciar, btnParar);
  setTabOrder(btnParar, ButtonOpenBrowser);
  setTabOrder(ButtonOpenBrowser, btnEncerrar);
  setTabOrder(btnEncerrar, btnMinimizar);
  setTabOrder(btnMinimizar, btnLogExec);
  setTabOrder(btnLogExec, chkLog);
  setTabOrder(chkLog, chkLogSql);
  setTabOrder(chkLogSql, btnLimparCache);

  connect(btnIniciar, &QPushButton::clicked, this, &TFormPrincipal::btnIniciarClick);
  connect(btnParar, &QPushButton::clicked, this, &TFormPrincipal::btnPararClick);
  connect(ButtonOpenBrowser, &QPushButton::clicked, this, &TFormPrincipal::ButtonOpenBrowserClick);
  connect(btnMinimizar, &QPushButton::clicked, this, &TFormPrincipal::btnMinimizarClick);
  connect(btnLogExec, &QPushButton::clicked, this, &TFormPrincipal::btnLogExecClick);
  connect(btnLimparCache, &QPushButton::clicked, this, &TFormPrincipal::btnLimparCacheClick);
  connect(btnEncerrar, &QPushButton::clicked, this, &TFormPrincipal::btnEncerrarClick);
  connect(chkLog, &QCheckBox::toggled, this, [this](bool on) { ShowingErrors(this, [on] { bizlib::AtivarLogProc(on); }); });
  connect(chkLogSql, &QCheckBox::toggled, this, [this](bool on) { ShowingErrors(this, [on] { bizlib::AtivarLogSql(on); }); });
}

// ---- log ----------------------------------------------------------------------

void TFormPrincipal::RegistraLog(std::u16string_view iTexto) { log::ExecutionLog::Global().RegistraLog(iTexto); }

void TFormPrincipal::RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco,
                                     std::u16string_view iMensagem) {
  log::ExecutionLog::Global().RegistraLogErro(iRotina, iBloco, iMensagem);
}

bool TFormPrincipal::bLogAtivo() const { return log::ExecutionLog::Global().Active(); }
void TFormPrincipal::SetLogAtivo(bool active) { log::ExecutionLog::Global().SetActive(active); }

http::HttpListener &TFormPrincipal::Server() {
  if (!FServer) throw Error("The HTTP listener does not exist: the program did not finish starting up");
  return *FServer;
}

// ---- start-up -----------------------------------------------------------------

void TFormPrincipal::FormCreate() {
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

void TFormPrincipal::CarregaParametroDll() {
  Guarded(*this, u"CarregaParametroDll()", [this] {
    if (!files::Exists(mNomeArquivoIniDll)) return;
    const auto ini = IniFile::Load(mNomeArquivoIniDll);
    const std::u16string ativo = ini ? ini->Get(u"LOG", u"Ativo", u"") : std::u16string();
    chkLog->setChecked(text::UpperAscii(ativo) == u"SIM");
  });
}

void TFormPrincipal::CarregaParametros() {
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
    // Read last, so that a bad limit loses nothing else; that limit keeps its default.
    if (!problems.empty()) throw Error(u"Valor inválido em [SERVIDOR], mantido o padrão: " + problems);
  });
}

void TFormPrincipal::CarregaDll() {
  RegistraLog(u"Rotina...: TFormPrincipal.CarregaDll()");
  bizlib::AbreDll(mDirDllTavoric, mUsuarioDll, mSenhaDll, chkLog->isChecked(), chkLogSql->isChecked());
  RegistraLog(u"Rotina...: TFormPrincipal.CarregaDll() > Fim");
}

void TFormPrincipal::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TFormPrincipal::FormShow() {
  Guarded(*this, u"FormShow()", [this] {
    if (QScreen *screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      const QRect outer = frameGeometry();
      move(area.width() - outer.width(), area.height() - outer.height());
    }
    if (bIniciarAuto) btnIniciarClick();
    lblTitulo->setText(Q(mPorta));
    lblVersao->setText(QStringLiteral("V ") + Q(sVersaoSistema));
  });
}

// ---- commands -----------------------------------------------------------------

void TFormPrincipal::btnIniciarClick() {
  Guarded(*this, u"btnIniciarClick()", [this] {
    RegistraLog(u"Rotina...: btnIniciarClick()");
    CarregaDll();
    StartServer();
  });
}

void TFormPrincipal::StartServer() {
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

void TFormPrincipal::btnPararClick() {
  Guarded(*this, u"btnPararClick()", [this] {
    RegistraLog(u"Rotina...: btnPararClick()");
    bizlib::FechaDll();  // the library closes first; running calls finish before it unloads
    Server().SetActive(false);
    Server().ClearBindings();
  });
}

void TFormPrincipal::ButtonOpenBrowserClick() {
  ShowingErrors(this, [this] {
    StartServer();
    Prompter::Current().Open(QUrl(QStringLiteral("http://localhost:%1").arg(Q(mPorta))));
  });
}

void TFormPrincipal::btnMinimizarClick() {
  for (QWidget *window : QApplication::topLevelWidgets())
    if (window->isVisible()) window->showMinimized();
}

void TFormPrincipal::btnLogExecClick() {
  ShowingErrors(this, [this] {
    if (FormLogProc_ == nullptr) {
      FormLogProc_ = new TFrmLogProc(this);
      logBridge_ = new LogBridge(this);
      connect(logBridge_, &LogBridge::entriesAppended, FormLogProc_, &TFrmLogProc::DrainEntries, Qt::QueuedConnection);
    }
    FormLogProc_->mPorta = Q(mPorta);
    SetLogAtivo(true);
    FormLogProc_->show();
    FormLogProc_->raise();
    FormLogProc_->activateWindow();
  });
}

void TFormPrincipal::btnLimparCacheClick() {
  ShowingErrors(this, [] { bizlib::LimparCache(); });
}

void TFormPrincipal::btnEncerrarClick() {
  Guarded(*this, u"btnEncerrarClick()", [this] {
    RegistraLog(u"Rotina...: btnEncerrarClick()");
    QApplication::quit();
  });
}

void TFormPrincipal::ApplicationEvents1Idle() {
  try {
    const bool active = Server().Active();
    btnIniciar->setEnabled(!active);
    btnParar->setEnabled(active);
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
