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

// A top-level window destroyed with its owner object.
struct WindowDeleter {
  void operator()(HWND window) const { DestroyWindow(window); }
};
using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

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
