#include "host/win32/gui.h"

#include <shellapi.h>

#include "platform/win_util.h"

namespace tav::host::win32 {
namespace {

// Functions of Windows 10 (1607 and later), looked up so that the program still
// starts on Windows 7, where the system DPI serves for every monitor.
template <typename Function>
Function User32(const char *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

using GetDpiForWindowFn = UINT(WINAPI *)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI *)(LPRECT, DWORD, BOOL, DWORD, UINT);

using win::Wide;

constexpr wchar_t kCaption[] = L"TavWebService";

}  // namespace

NativeWindow::~NativeWindow() { DestroyNow(); }

void NativeWindow::Create(HINSTANCE instance, const wchar_t *windowClass, HBRUSH background, DWORD style,
                          DWORD exStyle, const wchar_t *caption, HWND owner) {
  WNDCLASSEXW description{};
  description.cbSize = sizeof description;
  description.lpfnWndProc = &NativeWindow::Procedure;
  description.hInstance = instance;
  description.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  description.hbrBackground = background;
  description.hIcon = LoadIconW(instance, L"MAINICON");
  description.lpszClassName = windowClass;
  RegisterClassExW(&description);
  // WM_NCCREATE, the first message, links the window to this object.
  CreateWindowExW(exStyle, windowClass, caption, style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, owner, nullptr, instance,
                  this);
}

void NativeWindow::DestroyNow() {
  if (window_ == nullptr) return;
  // The messages of the destruction go to the default procedure: OnMessage may
  // belong to an object that is already half gone.
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
  window_ = nullptr;
}

LRESULT CALLBACK NativeWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto *self = static_cast<NativeWindow *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto *self = reinterpret_cast<NativeWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {  // destroyed by the system (the owner went first)
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

UINT DpiOf(HWND window) {
  static const auto forWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
  if (forWindow != nullptr && window != nullptr) {
    if (const UINT dpi = forWindow(window)) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto adjust = User32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, width, height};
  if (adjust == nullptr || !adjust(&rect, style, FALSE, exStyle, dpi)) AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

Font UiFont(UINT dpi, bool bold) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(8, static_cast<int>(dpi), 72);
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
  return Font(CreateFontIndirectW(&font));
}

HWND Control(const wchar_t *windowClass, std::u16string_view text, DWORD style, HWND parent, int id) {
  const std::u16string caption(text);
  return CreateWindowExW(0, windowClass, Wide(caption), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void SetText(HWND window, std::u16string_view text) {
  const std::u16string wide(text);
  SetWindowTextW(window, Wide(wide));
}

std::u16string GetText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  return win::Text(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

RECT WorkArea(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info)) return info.rcWork;
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

void ErrorBox(HWND owner, std::u16string_view message) {
  const std::u16string text(message);
  MessageBoxW(owner, Wide(text), kCaption, MB_OK | MB_ICONERROR);
}

bool YesNoBox(HWND owner, std::u16string_view message) {
  const std::u16string text(message);
  return MessageBoxW(owner, Wide(text), kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void ShellOpen(HWND owner, std::u16string_view target, bool activate) {
  const std::u16string file(target);
  // The result is not examined: a missing browser or viewer is the machine's matter.
  ShellExecuteW(owner, L"open", Wide(file), nullptr, nullptr, activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE);
}

}  // namespace tav::host::win32
