// The execution log window's logic: shows the log, clears it, saves it, stops
// recording. Like the service controller it knows no windowing toolkit; the
// window derives from it and supplies the view operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tav::host {

class LogWindowController {
 public:
  virtual ~LogWindowController();  // stops watching

  std::u16string mPorta;

  void btnLimparLogClick();
  // Saves the log; returns the file written (empty when it failed).
  std::u16string btnSalvarLogClick();
  void btnFecharClick();

  // The caption for a showing: version, the executable's modification time and the port.
  std::u16string Caption() const;
  // The text as a saved file holds it: every line followed by CR LF.
  std::u16string LogText() const;
  // Appends the entries the log received since the last call, in one operation of
  // the view, then keeps the text area within the log's bounds: its oldest lines
  // go (typed text too), and its first line says how many went.
  void DrainEntries();
  // The text of the dropped-lines line for `lines` lines.
  static std::u16string DroppedNotice(std::uint64_t lines);

 protected:
  // The log's appends (from any thread) wake the window: at most one WakeUp until
  // the next DrainEntries, however many entries arrive meanwhile. The window calls
  // StartWatching once it can take wake-ups, StopWatching before it goes.
  void StartWatching();
  void StopWatching();

  // ---- what the window supplies ----
  // From any thread: have DrainEntries run on the window's thread (queued).
  virtual void WakeUp() = 0;
  // Appends entries, each as one or more lines (an entry may hold CR LF), at once.
  virtual void AppendEntries(const std::vector<std::u16string> &entries) = 0;
  // Removes the oldest lines (after the first `keep`, the dropped-lines line) until
  // at most `maxLines` lines and `maxUnits` UTF-16 units remain; returns how many went.
  virtual std::size_t TrimShown(std::size_t keep, std::size_t maxLines, std::size_t maxUnits) = 0;
  // Writes `line` as the first line: in place of the first one when `replace`,
  // else before it.
  virtual void ShowFirstLine(std::u16string_view line, bool replace) = 0;
  virtual void ClearShownText() = 0;
  // The text area's text, lines separated by LF or CR LF.
  virtual std::u16string ShownText() const = 0;
  virtual void ShowErrorBox(std::u16string_view message) = 0;
  virtual bool ConfirmBox(std::u16string_view message) = 0;  // Yes/No; true for Yes
  virtual void OpenWithShell(std::u16string_view file) = 0;
  virtual void HideWindow() = 0;

 private:
  std::uint64_t next_ = 0;
  std::uint64_t dropped_ = 0;  // lines gone from the text area since it was last cleared
  std::uint64_t noticeCount_ = 0;  // the count the dropped-lines line shows
  bool noticeShown_ = false;
  bool watching_ = false;
};

}  // namespace tav::host
