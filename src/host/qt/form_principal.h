// The main window on Qt: the service controller's controls and view operations.
#pragma once

#include <QWidget>

#include <array>

#include "host/controller.h"
#include "host/layout.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tav::host {

class TFrmLogProc;

class TFormPrincipal : public QWidget, public ServiceController {
  Q_OBJECT
 public:
  explicit TFormPrincipal(QWidget *parent = nullptr);
  ~TFormPrincipal() override;

  TFrmLogProc *FormLogProc() const { return FormLogProc_; }
  // The control a row of the layout table made.
  QWidget *Control(layout::Main id) const { return controls_[static_cast<std::size_t>(id)]; }

  // Controls, in declaration order.
  QPushButton *btnIniciar, *btnParar;
  QPushButton *ButtonOpenBrowser, *btnEncerrar, *btnMinimizar, *btnLogExec;
  QLabel *lblTitulo, *lblVersao;
  QGroupBox *grpLogs;
  QCheckBox *chkLog, *chkLogSql;
  QPushButton *btnLimparCache;

 protected:
  void showEvent(QShowEvent *event) override;

  bool LogSwitch() const override;
  void SetLogSwitch(bool on) override;
  bool LogSqlSwitch() const override;
  void PlaceAtBottomRight() override;
  void ShowLabels(std::u16string_view titulo, std::u16string_view versao) override;
  void ShowRunning(bool active) override;
  void ShowErrorBox(std::u16string_view message) override;
  void OpenWithShell(std::u16string_view target) override;
  void ShowLogWindow() override;
  void MinimizeWindows() override;
  void QuitProgram() override;

 private:
  void ComposeControls();
  template <typename T>
  T *Typed(layout::Main id) const {
    return static_cast<T *>(Control(id));
  }

  std::array<QWidget *, layout::kMainCount> controls_{};
  TFrmLogProc *FormLogProc_ = nullptr;
};

// The sky blue of both windows.
QColor SkyBlue();

}  // namespace tav::host
