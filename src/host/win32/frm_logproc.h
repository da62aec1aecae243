// The execution log window on Win32: the log window logic's controls and view operations.
#pragma once

#include <windows.h>

#include <atomic>

#include "host/log_window.h"
#include "host/win32/gui.h"

namespace tav::host::win32 {

class TFrmLogProc final : public LogWindowController, public NativeWindow {
 public:
  // A top-level window owned by the main window `owner`.
  TFrmLogProc(HINSTANCE instance, HWND owner);
  ~TFrmLogProc() override;  // unhooks the log's notifications

  // Shows the window (modeless) and brings it to the front; a window that was
  // hidden gets its caption anew and is centred in its work area.
  void Show();

  HWND btnFechar = nullptr, btnSalvarLog = nullptr;
  HWND Label1 = nullptr;
  HWND btnLimparLog = nullptr;
  HWND memLog = nullptr;

 protected:
  void WakeUp() override;
  void AppendEntries(const std::vector<std::u16string> &entries) override;
  std::size_t TrimShown(std::size_t keep, std::size_t maxLines, std::size_t maxUnits) override;
  void ShowFirstLine(std::u16string_view line, bool replace) override;
  void ClearShownText() override;
  std::u16string ShownText() const override;
  void ShowErrorBox(std::u16string_view message) override;
  bool ConfirmBox(std::u16string_view message) override;
  void OpenWithShell(std::u16string_view file) override;
  void HideWindow() override;

 private:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Layout();  // places the bands, the buttons and the text for the client size
  void SetDpi(UINT dpi);
  void Paint();
  void DrawButton(const DRAWITEMSTRUCT &item) const;

  Font font_, boldFont_;
  Brush sky_;
  UINT dpi_ = kBaseDpi;
};

}  // namespace tav::host::win32
