// The service controller: reads the configuration, opens the business library,
// owns the HTTP listener and carries out the operator's commands. It knows no
// windowing toolkit; a window (Qt on Linux, Win32 on Windows) derives from it,
// supplies the view operations below and calls the commands from its controls.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "http/limits.h"
#include "messaging/whatsapp.h"

namespace tav::http {
class HttpListener;
}

namespace tav::host {

class ServiceController {
 public:
  ServiceController();
  virtual ~ServiceController();  // stops the listener
  ServiceController(const ServiceController &) = delete;
  ServiceController &operator=(const ServiceController &) = delete;

  // The execution log's operations (see log/execution_log.h).
  void RegistraLog(std::u16string_view iTexto);
  void RegistraLogErro(std::u16string_view iRotina, std::u16string_view iBloco, std::u16string_view iMensagem);
  bool bLogAtivo() const;
  void SetLogAtivo(bool active);

  // The listener; throws tav::Error when controller creation stopped before it existed.
  http::HttpListener &Server();

  // Settings and paths (read at creation).
  std::u16string mDirSistema, mNomeArquivoIni, mNomeArquivoIniDll;
  std::u16string mDirDllTavoric, mUsuarioDll, mSenhaDll, mPorta;
  bool bIniciarAuto = false;
  std::u16string sVersaoSistema;
  messaging::GatewaySettings mGateway;
  http::Limits mLimites;  // the listener's limits, with the [SERVIDOR] settings

  // Commands (the window's controls run these).
  void btnIniciarClick();
  void StartServer();
  void btnPararClick();
  void ButtonOpenBrowserClick();
  void btnMinimizarClick();
  void btnLogExecClick();
  void btnLimparCacheClick();
  void btnEncerrarClick();
  void chkLogClick(bool on);     // the library's own log switched on or off
  void chkLogSqlClick(bool on);  // the library's SQL log switched on or off
  // The event loop's idle notification: Start enabled exactly when the listener is inactive.
  void ApplicationEvents1Idle();

  void CarregaParametroDll();
  void CarregaParametros();
  void CarregaDll();

 protected:
  // Creation (configuration, library, version, listener): the window calls it
  // once its controls exist. Errors become an error block, never an exception.
  void FormCreate();
  // The first showing: placement, the automatic start, the port and version labels.
  void FormShow();

  // ---- what the window supplies ----
  virtual bool LogSwitch() const = 0;      // "Log" check box
  virtual void SetLogSwitch(bool on) = 0;  // as the operator's click (runs chkLogClick)
  virtual bool LogSqlSwitch() const = 0;   // "Log Sql" check box
  virtual void PlaceAtBottomRight() = 0;   // of the work area of the window's screen
  virtual void ShowLabels(std::u16string_view titulo, std::u16string_view versao) = 0;
  virtual void ShowRunning(bool active) = 0;  // Start enabled when inactive, Stop when active
  virtual void ShowErrorBox(std::u16string_view message) = 0;
  virtual void OpenWithShell(std::u16string_view target) = 0;  // a URL or a file
  // Creates the log window the first time, gives it the port, shows and raises it.
  virtual void ShowLogWindow() = 0;
  virtual void MinimizeWindows() = 0;  // every visible window of the program
  virtual void QuitProgram() = 0;      // ends the event loop

 private:
  // A command without an error handler of its own: the error goes to the error box.
  template <typename Body>
  void ShowingErrors(Body &&body);

  std::unique_ptr<http::HttpListener> FServer;
  bool idleErrorReported_ = false;
};

// The sky blue of both windows, as red, green, blue.
struct Rgb {
  unsigned char red, green, blue;
};
inline constexpr Rgb kSkyBlue{0xA6, 0xCA, 0xF0};

}  // namespace tav::host
