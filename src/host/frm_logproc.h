// The execution log window: shows the log, clears it, saves it, stops recording.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace tav::host {

class TFrmLogProc : public QWidget {
  Q_OBJECT
 public:
  // `owner` is the controller; the window is a top-level window it owns.
  explicit TFrmLogProc(QWidget *owner);

  QString mPorta;

  QWidget *pnlTopo, *pnlRodape;
  QPushButton *btnFechar, *btnSalvarLog;
  QLabel *Label1;
  QPushButton *btnLimparLog;
  QPlainTextEdit *memLog;

  void btnLimparLogClick();
  // Saves the log; returns the file written (empty when it failed).
  QString btnSalvarLogClick();
  void btnFecharClick();

  // The text as a saved file holds it: every line followed by CR LF.
  std::u16string LogText() const;
  // Appends the entries the log received since the last call.
  void DrainEntries();

 protected:
  void showEvent(QShowEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

 private:
  std::uint64_t next_ = 0;
};

}  // namespace tav::host
