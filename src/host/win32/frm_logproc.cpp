#include "host/win32/frm_logproc.h"

#include <algorithm>
#include <string>

#include "host/layout.h"
#include "log/execution_log.h"
#include "platform/win_util.h"

namespace tav::host::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"TFrmLogProc";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr COLORREF kMaroon = RGB(0x80, 0x00, 0x00);
constexpr UINT kDrainMessage = WM_APP + 1;  // new log entries wait to be shown

enum ControlId : int { kSalvar = 201, kLimpar, kFechar, kTexto, kTitulo };

// The icons of the three flat buttons, drawn in a square of `size` at (x, y).
void DrawGlyph(HDC dc, int id, int x, int y, int size) {
  const int unit = size / 8 > 0 ? size / 8 : 1;
  HGDIOBJ oldPen = GetCurrentObject(dc, OBJ_PEN), oldBrush = GetCurrentObject(dc, OBJ_BRUSH);
  if (id == kSalvar) {  // a diskette
    HBRUSH body = CreateSolidBrush(RGB(0x1F, 0x4E, 0x9A)), label = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    RECT outer{x, y, x + size, y + size}, top{x + 2 * unit, y + unit, x + size - 2 * unit, y + 3 * unit + unit / 2},
        slot{x + 2 * unit, y + 5 * unit, x + size - 2 * unit, y + size - unit};
    FillRect(dc, &outer, body);
    FillRect(dc, &top, label);
    FillRect(dc, &slot, label);
    DeleteObject(body);
    DeleteObject(label);
  } else if (id == kLimpar) {  // a page with a green arrow turning back
    HBRUSH page = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    HPEN edge = CreatePen(PS_SOLID, 1, RGB(0x60, 0x60, 0x60)), arrow = CreatePen(PS_SOLID, 2 * unit, RGB(0x2E, 0x8B, 0x3A));
    SelectObject(dc, edge);
    SelectObject(dc, page);
    Rectangle(dc, x + unit, y, x + size - unit, y + size);
    SelectObject(dc, arrow);
    Arc(dc, x + 2 * unit, y + 2 * unit, x + size - 2 * unit, y + size - 2 * unit, x + size - 2 * unit, y + size / 2,
        x + size / 2, y + 2 * unit);
    MoveToEx(dc, x + size / 2, y + 2 * unit, nullptr);
    LineTo(dc, x + size / 2 + 2 * unit, y + unit);
    MoveToEx(dc, x + size / 2, y + 2 * unit, nullptr);
    LineTo(dc, x + size / 2 + 2 * unit, y + 3 * unit + unit / 2);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(page);
    DeleteObject(edge);
    DeleteObject(arrow);
  } else {  // a red cross
    HPEN cross = CreatePen(PS_SOLID, 2 * unit, RGB(0xC0, 0x20, 0x20));
    SelectObject(dc, cross);
    MoveToEx(dc, x + unit, y + unit, nullptr);
    LineTo(dc, x + size - unit, y + size - unit);
    MoveToEx(dc, x + size - unit, y + unit, nullptr);
    LineTo(dc, x + unit, y + size - unit);
    SelectObject(dc, oldPen);
    DeleteObject(cross);
  }
}

}  // namespace

TFrmLogProc::TFrmLogProc(HINSTANCE instance, HWND owner) {
  sky_.reset(CreateSolidBrush(kSky));
  Create(instance, kWindowClass, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), kStyle, kExStyle, L"", owner);
  HWND window = Handle();
  constexpr DWORD flat = BS_OWNERDRAW | WS_TABSTOP;
  btnFechar = Control(L"BUTTON", layout::kFechar, flat, window, kFechar);
  btnSalvarLog = Control(L"BUTTON", layout::kSalvarLog, flat | WS_GROUP, window, kSalvar);
  Label1 = Control(L"STATIC", layout::kLogTitle, SS_LEFT | SS_NOPREFIX, window, kTitulo);
  btnLimparLog = Control(L"BUTTON", layout::kLimparLog, flat, window, kLimpar);
  memLog = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                               ES_AUTOHSCROLL | ES_WANTRETURN | ES_NOHIDESEL,
                           0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTexto)), instance, nullptr);
  SendMessageW(memLog, EM_SETLIMITTEXT, 0, 0);  // no limit but the system's
  SetDpi(DpiOf(window));
  const SIZE outer =
      OuterSize(Scale(layout::kLogWidth, dpi_), Scale(layout::kLogHeight, dpi_), kStyle, kExStyle, dpi_);
  SetWindowPos(window, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  // Entries arrive on any thread; a burst of them wakes the GUI thread once, and it
  // reads every entry not shown yet, in the log's order.
  StartWatching();
}

TFrmLogProc::~TFrmLogProc() {
  StopWatching();  // waits for a wake-up in progress
  DestroyNow();
}

LRESULT TFrmLogProc::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = Handle();
  switch (message) {
    case kDrainMessage:
      DrainEntries();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
          case kSalvar: btnSalvarLogClick(); break;
          case kLimpar: btnLimparLogClick(); break;
          case kFechar: btnFecharClick(); break;
          default: break;
        }
      }
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      auto *limits = reinterpret_cast<MINMAXINFO *>(lParam);
      limits->ptMinTrackSize = POINT{Scale(layout::kLogMinWidth, dpi_), Scale(layout::kLogMinHeight, dpi_)};  // outer
      return 0;
    }
    case WM_DPICHANGED: {
      SetDpi(HIWORD(wParam));
      const auto *suggested = reinterpret_cast<const RECT *>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_PAINT:
      Paint();
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kMaroon);
      SetBkColor(dc, kSky);
      return reinterpret_cast<LRESULT>(sky_.get());
    }
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
      return TRUE;
    case WM_CLOSE:
      HideWindow();  // the title-bar close box hides the window; the log goes on recording
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void TFrmLogProc::SetDpi(UINT dpi) {
  dpi_ = dpi;
  font_ = UiFont(dpi, false);
  boldFont_ = UiFont(dpi, true);
  for (HWND control : {btnFechar, btnSalvarLog, btnLimparLog, memLog})
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
  SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.get()), TRUE);
  Layout();
}

void TFrmLogProc::Layout() {
  RECT client{};
  GetClientRect(Handle(), &client);
  const layout::LogPlaces places = layout::LogWindowPlaces(client.right, client.bottom, static_cast<int>(dpi_));
  // The controls are the window's children: the title and the buttons move out of their bands.
  const auto place = [](HWND control, const layout::Place &at) {
    SetWindowPos(control, nullptr, at.left, at.top, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(Label1, layout::Below(places.title, places.top.top));
  place(btnSalvarLog, layout::Below(places.salvar, places.bottom.top));
  place(btnLimparLog, layout::Below(places.limpar, places.bottom.top));
  place(btnFechar, layout::Below(places.fechar, places.bottom.top));
  place(memLog, places.text);
  InvalidateRect(Handle(), nullptr, TRUE);
}

void TFrmLogProc::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(Handle(), &paint);
  RECT client{};
  GetClientRect(Handle(), &client);
  const layout::Place top = layout::LogWindowPlaces(client.right, client.bottom, static_cast<int>(dpi_)).top;
  RECT band{top.left, top.top, top.left + top.width, top.top + top.height};
  FillRect(dc, &band, sky_.get());  // the top band; the bottom one keeps the window's colour
  EndPaint(Handle(), &paint);
}

void TFrmLogProc::DrawButton(const DRAWITEMSTRUCT &item) const {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  if (pressed) DrawEdge(dc, &area, BDR_SUNKENOUTER, BF_RECT);  // flat: an edge only while pressed
  const int glyph = Scale(16, dpi_), gap = Scale(6, dpi_), shift = pressed ? 1 : 0;
  const std::u16string caption = GetText(item.hwndItem);
  HGDIOBJ oldFont = SelectObject(dc, font_.get());
  SIZE textSize{};
  GetTextExtentPoint32W(dc, win::Wide(caption), static_cast<int>(caption.size()), &textSize);
  const int contentWidth = glyph + gap + textSize.cx;
  const int left = area.left + (area.right - area.left - contentWidth) / 2 + shift;
  const int middle = (area.top + area.bottom) / 2 + shift;
  DrawGlyph(dc, static_cast<int>(item.CtlID), left, middle - glyph / 2, glyph);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor((item.itemState & ODS_DISABLED) != 0 ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  RECT text{left + glyph + gap, area.top, area.right, area.bottom};
  text.top += shift;
  text.bottom += shift;
  DrawTextW(dc, win::Wide(caption), static_cast<int>(caption.size()), &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = area;
    InflateRect(&focus, -Scale(3, dpi_), -Scale(3, dpi_));
    DrawFocusRect(dc, &focus);
  }
}

void TFrmLogProc::Show() {
  HWND window = Handle();
  if (!IsWindowVisible(window)) {
    SetText(window, Caption());
    // Centred in the work area of its screen.
    const RECT area = WorkArea(window);
    RECT outer{};
    GetWindowRect(window, &outer);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window);
}

// ---- view operations ----------------------------------------------------------

void TFrmLogProc::AppendEntries(const std::vector<std::u16string> &entries) {
  std::u16string text;
  for (const auto &entry : entries) {
    text += entry;
    text += u"\r\n";  // every entry ends with a line break
  }
  const LRESULT length = GetWindowTextLengthW(memLog);
  DWORD start = 0, end = 0;
  SendMessageW(memLog, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const bool atEnd = start == end && static_cast<LRESULT>(end) == length;
  SendMessageW(memLog, EM_SETSEL, static_cast<WPARAM>(length), length);
  SendMessageW(memLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(win::Wide(text)));
  if (!atEnd) SendMessageW(memLog, EM_SETSEL, start, end);  // the operator's selection stays
}

void TFrmLogProc::WakeUp() { PostMessageW(Handle(), kDrainMessage, 0, 0); }

namespace {

// The operator's selection (or caret) around an edit of the text before it, and
// the view kept at the end when it was there.
class KeepSelection {
 public:
  explicit KeepSelection(HWND edit) : edit_(edit) {
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start_), reinterpret_cast<LPARAM>(&end_));
    length_ = static_cast<DWORD>(GetWindowTextLengthW(edit));
    atEnd_ = start_ == end_ && end_ == length_;
  }
  ~KeepSelection() {
    const auto length = static_cast<DWORD>(GetWindowTextLengthW(edit_));
    if (atEnd_) {
      SendMessageW(edit_, EM_SETSEL, length, length);
      SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
      return;
    }
    // The edit was before the selection: it moves by the change in length.
    const auto shift = [&](DWORD at) {
      const long long moved = static_cast<long long>(at) + length - length_;
      return static_cast<DWORD>(moved < 0 ? 0 : moved);
    };
    SendMessageW(edit_, EM_SETSEL, shift(start_), shift(end_));
  }
  KeepSelection(const KeepSelection &) = delete;
  KeepSelection &operator=(const KeepSelection &) = delete;

 private:
  HWND edit_;
  DWORD start_ = 0, end_ = 0, length_ = 0;
  bool atEnd_ = false;
};

}  // namespace

std::size_t TFrmLogProc::TrimShown(std::size_t keep, std::size_t maxLines, std::size_t maxUnits) {
  // Every entry ends with CR LF: the last line of the control is the empty one after it.
  const auto count = static_cast<std::size_t>(SendMessageW(memLog, EM_GETLINECOUNT, 0, 0));
  const std::size_t lines = count > 0 ? count - 1 : 0;
  if (lines <= keep + 1) return 0;  // the newest line always stays
  const auto indexOf = [&](std::size_t line) {
    return static_cast<std::size_t>(SendMessageW(memLog, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
  };
  const auto length = static_cast<std::size_t>(GetWindowTextLengthW(memLog));
  std::size_t drop = lines > maxLines ? lines - maxLines : 0;
  const std::size_t from = indexOf(keep);
  if (length - (indexOf(keep + drop) - from) > maxUnits) {
    // The fewest lines whose removal brings the text within maxUnits.
    std::size_t low = drop, high = lines - keep - 1;
    while (low < high) {
      const std::size_t mid = low + (high - low) / 2;
      if (length - (indexOf(keep + mid) - from) <= maxUnits) high = mid;
      else low = mid + 1;
    }
    drop = low;
  }
  drop = std::min(drop, lines - keep - 1);
  if (drop == 0) return 0;
  KeepSelection keepSelection(memLog);
  SendMessageW(memLog, EM_SETSEL, from, indexOf(keep + drop));
  SendMessageW(memLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  return drop;
}

void TFrmLogProc::ShowFirstLine(std::u16string_view line, bool replace) {
  KeepSelection keepSelection(memLog);
  const auto end = replace ? SendMessageW(memLog, EM_LINEINDEX, 1, 0) : 0;
  SendMessageW(memLog, EM_SETSEL, 0, end < 0 ? 0 : end);
  const std::u16string text = std::u16string(line) + u"\r\n";
  SendMessageW(memLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(win::Wide(text)));
}

void TFrmLogProc::ClearShownText() { SetWindowTextW(memLog, L""); }

std::u16string TFrmLogProc::ShownText() const {
  std::u16string text = GetText(memLog);
  // The break after the last entry is the saved file's last line end, not an empty line.
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0) text.resize(text.size() - 2);
  return text;
}

void TFrmLogProc::ShowErrorBox(std::u16string_view message) { ErrorBox(Handle(), message); }

bool TFrmLogProc::ConfirmBox(std::u16string_view message) { return YesNoBox(Handle(), message); }

void TFrmLogProc::OpenWithShell(std::u16string_view file) { ShellOpen(Handle(), file, true); }

void TFrmLogProc::HideWindow() { ShowWindow(Handle(), SW_HIDE); }

}  // namespace tav::host::win32
