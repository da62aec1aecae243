// The places, sizes, captions and tab order of both windows, in pixels at 96 dpi.
// Each view builds its controls from these tables (scaling them for the screen),
// and the tests check that each view follows them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace tav::host::layout {

struct Place {
  int left, top, width, height;
  friend constexpr bool operator==(const Place &, const Place &) = default;
};

// Pixels at 96 dpi on a screen of `dpi`, rounded to the nearest as Windows' MulDiv.
constexpr int Scale(int pixels, int dpi) { return (pixels * dpi + (pixels >= 0 ? 48 : -48)) / 96; }
constexpr Place Scale(const Place &place, int dpi) {
  return {Scale(place.left, dpi), Scale(place.top, dpi), Scale(place.width, dpi), Scale(place.height, dpi)};
}
// A place inside a band, moved into the window the band lies in.
constexpr Place Below(const Place &place, int bandTop) {
  return {place.left, place.top + bandTop, place.width, place.height};
}

// ---- the main window ----------------------------------------------------------

inline constexpr int kMainWidth = 119, kMainHeight = 273;  // the client area
inline constexpr std::u16string_view kMainCaption = u"TavWebService";

enum class Kind {
  Button,    // a push button; a tab stop
  CheckBox,  // a tab stop, inside the group box
  Group,     // the group box; no tab stop
  Label,     // bold and centred, its text set at the first showing; no tab stop
};

// The main window's controls in the order they are made: the tab order is the
// order of the tab stops (buttons and check boxes).
enum class Main {
  btnIniciar,
  btnParar,
  ButtonOpenBrowser,
  btnEncerrar,
  btnMinimizar,
  btnLogExec,
  grpLogs,
  chkLog,
  chkLogSql,
  btnLimparCache,
  lblTitulo,
  lblVersao,
};

struct MainControl {
  Main id;
  Kind kind;
  std::u16string_view caption;
  Place place;  // the check boxes' inside the group box, the others' inside the window
};

inline constexpr MainControl kMainControls[] = {
    {Main::btnIniciar, Kind::Button, u"Iniciar", {4, 40, 110, 25}},
    {Main::btnParar, Kind::Button, u"Parar", {4, 66, 110, 25}},
    // Beyond the client width: present, enabled and in the tab order, but unseen.
    {Main::ButtonOpenBrowser, Kind::Button, u"Open Browser", {132, 84, 107, 25}},
    {Main::btnEncerrar, Kind::Button, u"Encerrar", {4, 242, 110, 25}},
    {Main::btnMinimizar, Kind::Button, u"Minimizar", {4, 92, 110, 25}},
    {Main::btnLogExec, Kind::Button, u"Log Execução", {4, 120, 110, 25}},
    {Main::grpLogs, Kind::Group, u"Log da Dll", {5, 180, 107, 58}},
    {Main::chkLog, Kind::CheckBox, u"Log", {7, 15, 97, 17}},
    {Main::chkLogSql, Kind::CheckBox, u"Log Sql", {7, 35, 97, 17}},
    {Main::btnLimparCache, Kind::Button, u"Reiniciar Cache", {5, 147, 110, 25}},
    {Main::lblTitulo, Kind::Label, u"", {6, 1, 106, 19}},
    {Main::lblVersao, Kind::Label, u"", {5, 23, 106, 19}},
};
inline constexpr std::size_t kMainCount = std::size(kMainControls);

constexpr const MainControl &Of(Main id) {
  return *std::find_if(std::begin(kMainControls), std::end(kMainControls),
                       [id](const MainControl &control) { return control.id == id; });
}

// A control's place inside the window (a check box's is its group box's plus its own).
constexpr Place InWindow(const MainControl &control) {
  if (control.kind != Kind::CheckBox) return control.place;
  const Place group = Of(Main::grpLogs).place;
  return {group.left + control.place.left, group.top + control.place.top, control.place.width, control.place.height};
}

// The number of a control for views that name controls by number (Win32).
inline constexpr int kFirstControlNumber = 101;
constexpr int Number(Main id) { return kFirstControlNumber + static_cast<int>(id); }

// ---- the log window -----------------------------------------------------------

inline constexpr int kLogWidth = 794, kLogHeight = 455;        // the client area at first
inline constexpr int kLogMinWidth = 750, kLogMinHeight = 450;  // the smallest size
inline constexpr std::u16string_view kLogTitle = u"Ws Tavoric - Log de Execução";
inline constexpr std::u16string_view kSalvarLog = u"Salvar Log", kLimparLog = u"Limpar Log", kFechar = u"Fechar";

// Where everything lies for a client area of `width` by `height` device pixels
// on a screen of `dpi`: the two bands and the text area inside the window, the
// title inside the top band, the buttons inside the bottom band ("Fechar" keeps
// to its right edge).
struct LogPlaces {
  Place top, bottom, text;
  Place title;
  Place salvar, limpar, fechar;
};

constexpr LogPlaces LogWindowPlaces(int width, int height, int dpi = 96) {
  const int top = Scale(35, dpi), bottom = Scale(46, dpi);
  const int buttonWidth = Scale(121, dpi), buttonHeight = Scale(38, dpi), buttonTop = Scale(3, dpi);
  LogPlaces places{};
  places.top = {0, 0, width, top};
  places.bottom = {0, height - bottom, width, bottom};
  places.text = {0, top, width, std::max(0, height - top - bottom)};
  places.title = {Scale(8, dpi), Scale(6, dpi), Scale(300, dpi), Scale(16, dpi)};
  places.salvar = {Scale(8, dpi), buttonTop, buttonWidth, buttonHeight};
  places.limpar = {Scale(131, dpi), buttonTop, buttonWidth, buttonHeight};
  places.fechar = {width - Scale(9, dpi) - buttonWidth, buttonTop, buttonWidth, buttonHeight};
  return places;
}

}  // namespace tav::host::layout
