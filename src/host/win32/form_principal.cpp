#include "host/win32/form_principal.h"

#include "host/win32/frm_logproc.h"
#include "platform/win_util.h"

namespace tav::host::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"TFormPrincipal";
// No system menu: no close box. Children are not clipped out of the background:
// the group box leaves its inside for the parent to paint.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

using layout::Kind;
using layout::Main;

// The window's style for a kind of control. The first button opens the group the
// arrow keys move in; the check boxes are not clipped out of the group box that
// holds them.
DWORD StyleOf(const layout::MainControl &control) {
  switch (control.kind) {
    case Kind::Button:
      return BS_PUSHBUTTON | WS_TABSTOP | (control.id == Main::btnIniciar ? WS_GROUP : 0);
    case Kind::CheckBox: return BS_AUTOCHECKBOX | WS_TABSTOP | WS_CLIPSIBLINGS;
    case Kind::Group: return BS_GROUPBOX;
    case Kind::Label: return SS_CENTER | SS_NOPREFIX;
  }
  return 0;
}

BOOL CALLBACK MinimizeTopLevel(HWND window, LPARAM) {
  // Owned windows (the log window) go with their owner.
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr) ShowWindow(window, SW_MINIMIZE);
  return TRUE;
}

}  // namespace

TFormPrincipal::TFormPrincipal(HINSTANCE instance) : instance_(instance) {
  sky_.reset(CreateSolidBrush(kSky));
  Create(instance_, kWindowClass, sky_.get(), kStyle, kExStyle, win::Wide(std::u16string(layout::kMainCaption)), nullptr);
  ComposeControls();
  FormCreate();
}

TFormPrincipal::~TFormPrincipal() {
  FormLogProc_.reset();  // an owned window goes before its owner
  DestroyNow();
}

LRESULT TFormPrincipal::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = Handle();
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      // Labels, the group box and the check boxes sit on the sky blue.
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, kSky);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(sky_.get());
    }
    case WM_DPICHANGED: {
      Layout(HIWORD(wParam));
      const auto *suggested = reinterpret_cast<const RECT *>(lParam);
      const SIZE outer =
          OuterSize(Scale(layout::kMainWidth, dpi_), Scale(layout::kMainHeight, dpi_), kStyle, kExStyle, dpi_);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT: {
      // Also what themed controls ask for as the background behind them.
      RECT area{};
      GetClientRect(window, &area);
      FillRect(reinterpret_cast<HDC>(wParam), &area, sky_.get());
      return 1;
    }
    case WM_ENDSESSION:
      // Windows is shutting down or the user logs off, and the process ends when
      // this returns: stop as "Parar" does, so that the requests in flight finish
      // (an intake file half written would be lost).
      if (wParam) btnPararClick();
      return 0;
    case WM_CLOSE:
      return 0;  // Exit ("Encerrar") is the only way to end the program
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void TFormPrincipal::ComposeControls() {
  HWND window = Handle();
  // Made in the table's order, which is the tab order of the tab stops.
  for (const layout::MainControl &control : layout::kMainControls) {
    const wchar_t *windowClass = control.kind == Kind::Label ? L"STATIC" : L"BUTTON";
    controls_[static_cast<std::size_t>(control.id)] =
        Control(windowClass, control.caption, StyleOf(control), window, layout::Number(control.id));
  }
  btnIniciar = ControlOf(Main::btnIniciar);
  btnParar = ControlOf(Main::btnParar);
  ButtonOpenBrowser = ControlOf(Main::ButtonOpenBrowser);
  btnEncerrar = ControlOf(Main::btnEncerrar);
  btnMinimizar = ControlOf(Main::btnMinimizar);
  btnLogExec = ControlOf(Main::btnLogExec);
  grpLogs = ControlOf(Main::grpLogs);
  chkLog = ControlOf(Main::chkLog);
  chkLogSql = ControlOf(Main::chkLogSql);
  btnLimparCache = ControlOf(Main::btnLimparCache);
  lblTitulo = ControlOf(Main::lblTitulo);
  lblVersao = ControlOf(Main::lblVersao);
  // The group box is drawn beneath the check boxes it holds (it takes no focus, so
  // the tab order stays as made).
  SetWindowPos(grpLogs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Layout(DpiOf(window));
}

void TFormPrincipal::Layout(UINT dpi) {
  dpi_ = dpi;
  font_ = UiFont(dpi, false);
  boldFont_ = UiFont(dpi, true);
  for (const layout::MainControl &control : layout::kMainControls) {
    // The check boxes are children of the window, not of the group box: their
    // place is the group box's plus theirs inside it.
    const layout::Place place = layout::Scale(layout::InWindow(control), static_cast<int>(dpi));
    HWND made = ControlOf(control.id);
    SetWindowPos(made, nullptr, place.left, place.top, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
    const HFONT font = control.kind == Kind::Label ? boldFont_.get() : font_.get();
    SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  const SIZE outer = OuterSize(Scale(layout::kMainWidth, dpi), Scale(layout::kMainHeight, dpi), kStyle, kExStyle, dpi);
  SetWindowPos(Handle(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormPrincipal::Command(int id, int notification) {
  if (notification != BN_CLICKED) return;
  const int row = id - layout::kFirstControlNumber;
  if (row < 0 || row >= static_cast<int>(layout::kMainCount)) return;
  switch (static_cast<Main>(row)) {
    case Main::btnIniciar: btnIniciarClick(); break;
    case Main::btnParar: btnPararClick(); break;
    case Main::ButtonOpenBrowser: ButtonOpenBrowserClick(); break;
    case Main::btnEncerrar: btnEncerrarClick(); break;
    case Main::btnMinimizar: btnMinimizarClick(); break;
    case Main::btnLogExec: btnLogExecClick(); break;
    case Main::btnLimparCache: btnLimparCacheClick(); break;
    case Main::chkLog: chkLogClick(LogSwitch()); break;
    case Main::chkLogSql: chkLogSqlClick(LogSqlSwitch()); break;
    case Main::grpLogs:
    case Main::lblTitulo:
    case Main::lblVersao: break;
  }
}

void TFormPrincipal::Show() {
  FormShow();  // placed before it appears, as the first showing does
  ShowWindow(Handle(), SW_SHOWNORMAL);
  UpdateWindow(Handle());
  SetFocus(btnIniciar);
}

int TFormPrincipal::Run() {
  MSG message;
  for (;;) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      // Tab and the arrow keys move between the controls of either window.
      HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
      if (root != nullptr && IsDialogMessageW(root, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    // The queue is empty: the event loop's idle moment.
    ApplicationEvents1Idle();
    WaitMessage();
  }
}

// ---- view operations ----------------------------------------------------------

bool TFormPrincipal::LogSwitch() const { return SendMessageW(chkLog, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TFormPrincipal::SetLogSwitch(bool on) {
  if (LogSwitch() == on) return;
  SendMessageW(chkLog, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  chkLogClick(on);  // a changed state runs the switch's action, as a click does
}

bool TFormPrincipal::LogSqlSwitch() const { return SendMessageW(chkLogSql, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TFormPrincipal::PlaceAtBottomRight() {
  const RECT area = WorkArea(Handle());
  RECT outer{};
  GetWindowRect(Handle(), &outer);
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  SetWindowPos(Handle(), nullptr, (area.right - area.left) - width, (area.bottom - area.top) - height, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormPrincipal::ShowLabels(std::u16string_view titulo, std::u16string_view versao) {
  SetText(lblTitulo, titulo);
  SetText(lblVersao, versao);
}

void TFormPrincipal::ShowRunning(bool active) {
  if (running_ == static_cast<int>(active)) return;  // enabling anew would post messages and wake the loop
  running_ = static_cast<int>(active);
  HWND focus = GetFocus();
  EnableWindow(btnIniciar, !active);
  EnableWindow(btnParar, active);
  if (focus == btnIniciar && active) SetFocus(btnParar);
  if (focus == btnParar && !active) SetFocus(btnIniciar);
}

void TFormPrincipal::ShowErrorBox(std::u16string_view message) { ErrorBox(Handle(), message); }

void TFormPrincipal::OpenWithShell(std::u16string_view target) { ShellOpen(Handle(), target, false); }

void TFormPrincipal::ShowLogWindow() {
  if (!FormLogProc_) FormLogProc_ = std::make_unique<TFrmLogProc>(instance_, Handle());
  FormLogProc_->mPorta = mPorta;
  FormLogProc_->Show();
}

void TFormPrincipal::MinimizeWindows() { EnumThreadWindows(GetCurrentThreadId(), &MinimizeTopLevel, 0); }

void TFormPrincipal::QuitProgram() { PostQuitMessage(0); }

}  // namespace tav::host::win32
