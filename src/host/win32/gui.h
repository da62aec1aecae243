// Small pieces the two Win32 windows share: owned GDI objects, DPI scaling,
// fonts, controls and the program's message boxes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "host/controller.h"

namespace tav::host::win32 {

struct GdiDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

// A top-level window of a class of its own whose messages go to OnMessage; the
// window is destroyed with the object.
class NativeWindow {
 public:
  NativeWindow(const NativeWindow &) = delete;
  NativeWindow &operator=(const NativeWindow &) = delete;
  HWND Handle() const { return window_; }

 protected:
  NativeWindow() = default;
  ~NativeWindow();
  // Registers the window class and creates the window (hidden, sized later).
  void Create(HINSTANCE instance, const wchar_t *windowClass, HBRUSH background, DWORD style, DWORD exStyle,
              const wchar_t *caption, HWND owner);
  void DestroyNow();  // before the derived object's parts are gone
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
};

inline constexpr UINT kBaseDpi = 96;
inline constexpr COLORREF kSky = RGB(kSkyBlue.red, kSkyBlue.green, kSkyBlue.blue);

// The window's DPI (its monitor's, for a per-monitor aware program), or the system's.
UINT DpiOf(HWND window);
// Pixels at 96 dpi scaled to `dpi`.
inline int Scale(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kBaseDpi)); }
// Outer size of a window whose client area is width x height (already scaled).
SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

// The program's text font (Tahoma 8 pt), at the given DPI.
Font UiFont(UINT dpi, bool bold);

// A child control with the given class, text, style and command identifier.
HWND Control(const wchar_t *windowClass, std::u16string_view text, DWORD style, HWND parent, int id);
void SetText(HWND window, std::u16string_view text);
std::u16string GetText(HWND window);

// The work area of the monitor that holds the window.
RECT WorkArea(HWND window);

// The program's message boxes, captioned "TavWebService".
void ErrorBox(HWND owner, std::u16string_view message);
bool YesNoBox(HWND owner, std::u16string_view message);  // true for Yes
// The system's "open" action on a URL or a file; `activate` false leaves the
// opened window behind the program's.
void ShellOpen(HWND owner, std::u16string_view target, bool activate);

}  // namespace tav::host::win32
