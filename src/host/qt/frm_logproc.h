// The execution log window on Qt: the log window logic's controls and view operations.
#pragma once

#include <QWidget>

#include "host/log_window.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tav::host {

class TFrmLogProc : public QWidget, public LogWindowController {
  Q_OBJECT
 public:
  // `owner` is the controller; the window is a top-level window it owns.
  explicit TFrmLogProc(QWidget *owner);
  ~TFrmLogProc() override;  // stops watching the log before the view goes

  QWidget *pnlTopo, *pnlRodape;
  QPushButton *btnFechar, *btnSalvarLog;
  QLabel *Label1;
  QPushButton *btnLimparLog;
  QPlainTextEdit *memLog;

 protected:
  void showEvent(QShowEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

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
};

}  // namespace tav::host
