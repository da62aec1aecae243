// The execution log window's logic: shows the log, clears it, saves it, stops
// recording. Like the service controller it knows no windowing toolkit; the
// window derives from it and supplies the view operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tav::host {

class LogWindowController {
 public:
  virtual ~LogWindowController() = default;

  std::u16string mPorta;

  void btnLimparLogClick();
  // Saves the log; returns the file written (empty when it failed).
  std::u16string btnSalvarLogClick();
  void btnFecharClick();

  // The caption for a showing: version, the executable's modification time and the port.
  std::u16string Caption() const;
  // The text as a saved file holds it: every line followed by CR LF.
  std::u16string LogText() const;
  // Appends the entries the log received since the last call.
  void DrainEntries();

 protected:
  // ---- what the window supplies ----
  // Appends entries, each as one or more lines (an entry may hold CR LF).
  virtual void AppendEntries(const std::vector<std::u16string> &entries) = 0;
  virtual void ClearShownText() = 0;
  // The text area's text, lines separated by LF or CR LF.
  virtual std::u16string ShownText() const = 0;
  virtual void ShowErrorBox(std::u16string_view message) = 0;
  virtual bool ConfirmBox(std::u16string_view message) = 0;  // Yes/No; true for Yes
  virtual void OpenWithShell(std::u16string_view file) = 0;
  virtual void HideWindow() = 0;

 private:
  std::uint64_t next_ = 0;
};

}  // namespace tav::host
