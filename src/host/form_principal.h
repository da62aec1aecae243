// The main window: the service controller. Reads the configuration, opens the
// business library, owns the HTTP listener and the log window, and offers the
// operator's commands.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "http/limits.h"
#include "messaging/whatsapp.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tav::http {
class HttpListener;
}

namespace tav::host {

class LogBridge;
class TFrmLogProc;

class TFormPrincipal : public QWidget {
  Q_OBJECT
 public:
  explicit TFormPrincipal(QWidget *parent = nullptr);
  ~TFormPrincipal() override;

  // The execution log's operations (see log/execution_log.h).
  void RegistraLog(std::u16string_view iTexto);
  void RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco, std::u16string_view iMensagem);
  bool bLogAtivo() const;
  void SetLogAtivo(bool active);

  // The listener; throws tav::Error when controller creation stopped before it existed.
  http::HttpListener &Server();
  TFrmLogProc *FormLogProc() const { return FormLogProc_; }

  // Settings and paths (read at creation).
  std::u16string mDirSistema, mNomeArquivoIni, mNomeArquivoIniDll;
  std::u16string mDirDllTavoric, mUsuarioDll, mSenhaDll, mPorta;
  bool bIniciarAuto = false;
  std::u16string sVersaoSistema;
  messaging::GatewaySettings mGateway;
  http::Limits mLimites;  // the listener's limits, with the [SERVIDOR] settings

  // Controls, in declaration order.
  QPushButton *btnIniciar, *btnParar;
  QPushButton *ButtonOpenBrowser, *btnEncerrar, *btnMinimizar, *btnLogExec;
  QLabel *lblTitulo, *lblVersao;
  QGroupBox *grpLogs;
  QCheckBox *chkLog, *chkLogSql;
  QPushButton *btnLimparCache;

  // Commands (the buttons run these).
  void btnIniciarClick();
  void StartServer();
  void btnPararClick();
  void ButtonOpenBrowserClick();
  void btnMinimizarClick();
  void btnLogExecClick();
  void btnLimparCacheClick();
  void btnEncerrarClick();
  // The event loop's idle notification: Start enabled exactly when the listener is inactive.
  void ApplicationEvents1Idle();

  void CarregaParametroDll();
  void CarregaParametros();
  void CarregaDll();

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  void FormCreate();
  void FormShow();
  void ComposeControls();

  std::unique_ptr<http::HttpListener> FServer;
  TFrmLogProc *FormLogProc_ = nullptr;
  LogBridge *logBridge_ = nullptr;
  bool idleErrorReported_ = false;
};

// The process-wide reference to the one controller.
extern TFormPrincipal *FormPrincipal;

// The sky blue of both windows.
QColor SkyBlue();

}  // namespace tav::host
