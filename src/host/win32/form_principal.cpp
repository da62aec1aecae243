#include "host/win32/form_principal.h"

#include "host/win32/frm_logproc.h"

namespace tav::host::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"TFormPrincipal";
// No system menu: no close box. Children are not clipped out of the background:
// the group box leaves its inside for the parent to paint.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
constexpr int kClientWidth = 119, kClientHeight = 273;

enum ControlId : int {
  kIniciar = 101,
  kParar,
  kOpenBrowser,
  kEncerrar,
  kMinimizar,
  kLogExec,
  kTitulo,
  kVersao,
  kGrupo,
  kLog,
  kLogSql,
  kLimparCache,
};

struct Place {
  int left, top, width, height;
};

BOOL CALLBACK MinimizeTopLevel(HWND window, LPARAM) {
  // Owned windows (the log window) go with their owner.
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr) ShowWindow(window, SW_MINIMIZE);
  return TRUE;
}

}  // namespace

TFormPrincipal::TFormPrincipal(HINSTANCE instance) : instance_(instance) {
  sky_.reset(CreateSolidBrush(kSky));
  Create(instance_, kWindowClass, sky_.get(), kStyle, kExStyle, L"TavWebService", nullptr);
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
      const SIZE outer = OuterSize(Scale(kClientWidth, dpi_), Scale(kClientHeight, dpi_), kStyle, kExStyle, dpi_);
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
  constexpr DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
  // Created in the tab order; the labels and the group box take no focus.
  btnIniciar = Control(L"BUTTON", u"Iniciar", button | WS_GROUP, window, kIniciar);
  btnParar = Control(L"BUTTON", u"Parar", button, window, kParar);
  ButtonOpenBrowser = Control(L"BUTTON", u"Open Browser", button, window, kOpenBrowser);
  btnEncerrar = Control(L"BUTTON", u"Encerrar", button, window, kEncerrar);
  btnMinimizar = Control(L"BUTTON", u"Minimizar", button, window, kMinimizar);
  btnLogExec = Control(L"BUTTON", u"Log Execução", button, window, kLogExec);
  grpLogs = Control(L"BUTTON", u"Log da Dll", BS_GROUPBOX, window, kGrupo);
  chkLog = Control(L"BUTTON", u"Log", BS_AUTOCHECKBOX | WS_TABSTOP | WS_CLIPSIBLINGS, window, kLog);
  chkLogSql = Control(L"BUTTON", u"Log Sql", BS_AUTOCHECKBOX | WS_TABSTOP | WS_CLIPSIBLINGS, window, kLogSql);
  btnLimparCache = Control(L"BUTTON", u"Reiniciar Cache", button, window, kLimparCache);
  lblTitulo = Control(L"STATIC", u"", SS_CENTER | SS_NOPREFIX, window, kTitulo);
  lblVersao = Control(L"STATIC", u"", SS_CENTER | SS_NOPREFIX, window, kVersao);
  // The group box is drawn beneath the check boxes it holds (it takes no focus, so
  // the tab order stays as created).
  SetWindowPos(grpLogs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Layout(DpiOf(window));
}

void TFormPrincipal::Layout(UINT dpi) {
  dpi_ = dpi;
  font_ = UiFont(dpi, false);
  boldFont_ = UiFont(dpi, true);
  const struct {
    HWND control;
    Place place;
    bool bold;
  } controls[] = {
      {lblTitulo, {6, 1, 106, 19}, true},
      {lblVersao, {5, 23, 106, 19}, true},
      {btnIniciar, {4, 40, 110, 25}, false},
      {btnParar, {4, 66, 110, 25}, false},
      {btnMinimizar, {4, 92, 110, 25}, false},
      {btnLogExec, {4, 120, 110, 25}, false},
      {btnLimparCache, {5, 147, 110, 25}, false},
      {grpLogs, {5, 180, 107, 58}, false},
      // The check boxes lie in the group box: its place plus theirs inside it.
      {chkLog, {5 + 7, 180 + 15, 97, 17}, false},
      {chkLogSql, {5 + 7, 180 + 35, 97, 17}, false},
      {btnEncerrar, {4, 242, 110, 25}, false},
      // Beyond the client width: present, enabled and in the tab order, but unseen.
      {ButtonOpenBrowser, {132, 84, 107, 25}, false},
  };
  for (const auto &item : controls) {
    SetWindowPos(item.control, nullptr, Scale(item.place.left, dpi), Scale(item.place.top, dpi),
                 Scale(item.place.width, dpi), Scale(item.place.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(item.control, WM_SETFONT, reinterpret_cast<WPARAM>(item.bold ? boldFont_.get() : font_.get()), TRUE);
  }
  const SIZE outer = OuterSize(Scale(kClientWidth, dpi), Scale(kClientHeight, dpi), kStyle, kExStyle, dpi);
  SetWindowPos(Handle(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormPrincipal::Command(int id, int notification) {
  if (notification != BN_CLICKED) return;
  switch (id) {
    case kIniciar: btnIniciarClick(); break;
    case kParar: btnPararClick(); break;
    case kOpenBrowser: ButtonOpenBrowserClick(); break;
    case kEncerrar: btnEncerrarClick(); break;
    case kMinimizar: btnMinimizarClick(); break;
    case kLogExec: btnLogExecClick(); break;
    case kLimparCache: btnLimparCacheClick(); break;
    case kLog: chkLogClick(LogSwitch()); break;
    case kLogSql: chkLogSqlClick(LogSqlSwitch()); break;
    default: break;
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
