// The main window on Win32: the service controller's controls and view operations.
#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "host/controller.h"
#include "host/layout.h"
#include "host/win32/gui.h"

namespace tav::host::win32 {

class TFrmLogProc;

class TFormPrincipal final : public ServiceController, public NativeWindow {
 public:
  explicit TFormPrincipal(HINSTANCE instance);
  ~TFormPrincipal() override;

  TFrmLogProc *FormLogProc() const { return FormLogProc_.get(); }
  // Shows the window for the first time (placement, automatic start, labels).
  void Show();
  // Runs the event loop until Exit; returns the exit code.
  int Run();

  // Controls, in declaration order.
  HWND btnIniciar = nullptr, btnParar = nullptr;
  HWND ButtonOpenBrowser = nullptr, btnEncerrar = nullptr, btnMinimizar = nullptr, btnLogExec = nullptr;
  HWND lblTitulo = nullptr, lblVersao = nullptr;
  HWND grpLogs = nullptr;
  HWND chkLog = nullptr, chkLogSql = nullptr;
  HWND btnLimparCache = nullptr;

 protected:
  bool LogSwitch() const override;
  void SetLogSwitch(bool on) override;
  bool LogSqlSwitch() const override;
  void PlaceAtBottomRight() override;
  void ShowLabels(std::u16string_view titulo, std::u16string_view versao) override;
  void ShowRunning(bool active) override;
  void ShowErrorBox(std::u16string_view message) override;
  void OpenWithShell(std::u16string_view target) override;
  void ShowLogWindow() override;
  void MinimizeWindows() override;
  void QuitProgram() override;

 private:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void ComposeControls();
  void Layout(UINT dpi);  // sizes and places everything for the DPI
  void Command(int id, int notification);
  HWND ControlOf(layout::Main id) const { return controls_[static_cast<std::size_t>(id)]; }

  HINSTANCE instance_;
  Font font_, boldFont_;
  Brush sky_;
  UINT dpi_ = kBaseDpi;
  int running_ = -1;  // what ShowRunning last showed: -1 nothing yet, 0 stopped, 1 running
  std::array<HWND, layout::kMainCount> controls_{};  // by the layout table's rows
  std::unique_ptr<TFrmLogProc> FormLogProc_;
};

}  // namespace tav::host::win32
