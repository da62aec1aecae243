#include "host/qt/form_principal.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

#include "host/qt/frm_logproc.h"
#include "host/qt/prompter.h"
#include "host/qt/qtext.h"

namespace tav::host {

QColor SkyBlue() { return QColor(kSkyBlue.red, kSkyBlue.green, kSkyBlue.blue); }

namespace {

QWidget *Make(const layout::MainControl &control, QWidget *parent) {
  const QString caption = Q(control.caption);
  QWidget *made = nullptr;
  switch (control.kind) {
    case layout::Kind::Button: made = new QPushButton(caption, parent); break;
    case layout::Kind::CheckBox: made = new QCheckBox(caption, parent); break;
    case layout::Kind::Group: made = new QGroupBox(caption, parent); break;
    case layout::Kind::Label: {
      auto *label = new QLabel(caption, parent);
      QFont font = label->font();
      font.setBold(true);
      label->setFont(font);
      label->setAlignment(Qt::AlignCenter);
      made = label;
      break;
    }
  }
  made->setGeometry(Q(control.place));
  return made;
}

}  // namespace

TFormPrincipal::TFormPrincipal(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
  ComposeControls();
  FormCreate();
  // Idle update: each time the event loop is about to wait for events.
  if (auto *dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { ApplicationEvents1Idle(); });
}

TFormPrincipal::~TFormPrincipal() = default;

void TFormPrincipal::ComposeControls() {
  setWindowTitle(Q(layout::kMainCaption));
  setFixedSize(layout::kMainWidth, layout::kMainHeight);
  setAutoFillBackground(true);
  QPalette sky = palette();
  sky.setColor(QPalette::Window, SkyBlue());
  setPalette(sky);

  // In the table's order: the group box is made before the check boxes it holds.
  QWidget *previousStop = nullptr;
  for (const layout::MainControl &control : layout::kMainControls) {
    QWidget *made = Make(control, control.kind == layout::Kind::CheckBox ? Control(layout::Main::grpLogs) : this);
    controls_[static_cast<std::size_t>(control.id)] = made;
    if (control.kind == layout::Kind::Button || control.kind == layout::Kind::CheckBox) {
      if (previousStop != nullptr) setTabOrder(previousStop, made);
      previousStop = made;
    }
  }
  btnIniciar = Typed<QPushButton>(layout::Main::btnIniciar);
  btnParar = Typed<QPushButton>(layout::Main::btnParar);
  ButtonOpenBrowser = Typed<QPushButton>(layout::Main::ButtonOpenBrowser);
  btnEncerrar = Typed<QPushButton>(layout::Main::btnEncerrar);
  btnMinimizar = Typed<QPushButton>(layout::Main::btnMinimizar);
  btnLogExec = Typed<QPushButton>(layout::Main::btnLogExec);
  grpLogs = Typed<QGroupBox>(layout::Main::grpLogs);
  chkLog = Typed<QCheckBox>(layout::Main::chkLog);
  chkLogSql = Typed<QCheckBox>(layout::Main::chkLogSql);
  btnLimparCache = Typed<QPushButton>(layout::Main::btnLimparCache);
  lblTitulo = Typed<QLabel>(layout::Main::lblTitulo);
  lblVersao = Typed<QLabel>(layout::Main::lblVersao);

  connect(btnIniciar, &QPushButton::clicked, this, [this] { btnIniciarClick(); });
  connect(btnParar, &QPushButton::clicked, this, [this] { btnPararClick(); });
  connect(ButtonOpenBrowser, &QPushButton::clicked, this, [this] { ButtonOpenBrowserClick(); });
  connect(btnMinimizar, &QPushButton::clicked, this, [this] { btnMinimizarClick(); });
  connect(btnLogExec, &QPushButton::clicked, this, [this] { btnLogExecClick(); });
  connect(btnLimparCache, &QPushButton::clicked, this, [this] { btnLimparCacheClick(); });
  connect(btnEncerrar, &QPushButton::clicked, this, [this] { btnEncerrarClick(); });
  connect(chkLog, &QCheckBox::toggled, this, [this](bool on) { chkLogClick(on); });
  connect(chkLogSql, &QCheckBox::toggled, this, [this](bool on) { chkLogSqlClick(on); });
}

void TFormPrincipal::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

// ---- view operations ----------------------------------------------------------

bool TFormPrincipal::LogSwitch() const { return chkLog->isChecked(); }
void TFormPrincipal::SetLogSwitch(bool on) { chkLog->setChecked(on); }
bool TFormPrincipal::LogSqlSwitch() const { return chkLogSql->isChecked(); }

void TFormPrincipal::PlaceAtBottomRight() {
  if (QScreen *screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const QRect outer = frameGeometry();
    move(area.width() - outer.width(), area.height() - outer.height());
  }
}

void TFormPrincipal::ShowLabels(std::u16string_view titulo, std::u16string_view versao) {
  lblTitulo->setText(Q(titulo));
  lblVersao->setText(Q(versao));
}

void TFormPrincipal::ShowRunning(bool active) {
  btnIniciar->setEnabled(!active);
  btnParar->setEnabled(active);
}

void TFormPrincipal::ShowErrorBox(std::u16string_view message) { Prompter::Current().ShowError(this, Q(message)); }

void TFormPrincipal::OpenWithShell(std::u16string_view target) { Prompter::Current().Open(QUrl(Q(target))); }

void TFormPrincipal::ShowLogWindow() {
  if (FormLogProc_ == nullptr) {
    FormLogProc_ = new TFrmLogProc(this);
  }
  FormLogProc_->mPorta = mPorta;
  FormLogProc_->show();
  FormLogProc_->raise();
  FormLogProc_->activateWindow();
}

void TFormPrincipal::MinimizeWindows() {
  for (QWidget *window : QApplication::topLevelWidgets())
    if (window->isVisible()) window->showMinimized();
}

void TFormPrincipal::QuitProgram() { QApplication::quit(); }

}  // namespace tav::host
