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

QPushButton *Button(const QString &caption, int x, int y, QWidget *parent) {
  auto *button = new QPushButton(caption, parent);
  button->setGeometry(x, y, 110, 25);
  return button;
}

QLabel *BoldLabel(int x, int y, QWidget *parent) {
  auto *label = new QLabel(parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(x, y, 106, 19);
  return label;
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
  setWindowTitle(QStringLiteral("TavWebService"));
  setFixedSize(119, 273);
  setAutoFillBackground(true);
  QPalette sky = palette();
  sky.setColor(QPalette::Window, SkyBlue());
  setPalette(sky);

  btnIniciar = Button(QStringLiteral("Iniciar"), 4, 40, this);
  btnParar = Button(QStringLiteral("Parar"), 4, 66, this);
  ButtonOpenBrowser = Button(QStringLiteral("Open Browser"), 132, 84, this);
  ButtonOpenBrowser->resize(107, 25);  // beyond the client width: present, enabled, unseen
  btnEncerrar = Button(QStringLiteral("Encerrar"), 4, 242, this);
  btnMinimizar = Button(QStringLiteral("Minimizar"), 4, 92, this);
  btnLogExec = Button(QStringLiteral("Log Execução"), 4, 120, this);
  lblTitulo = BoldLabel(6, 1, this);
  lblVersao = BoldLabel(5, 23, this);
  grpLogs = new QGroupBox(QStringLiteral("Log da Dll"), this);
  grpLogs->setGeometry(5, 180, 107, 58);
  chkLog = new QCheckBox(QStringLiteral("Log"), grpLogs);
  chkLog->setGeometry(7, 15, 97, 17);
  chkLogSql = new QCheckBox(QStringLiteral("Log Sql"), grpLogs);
  chkLogSql->setGeometry(7, 35, 97, 17);
  btnLimparCache = Button(QStringLiteral("Reiniciar Cache"), 5, 147, this);

  setTabOrder(btnIniciar, btnParar);
  setTabOrder(btnParar, ButtonOpenBrowser);
  setTabOrder(ButtonOpenBrowser, btnEncerrar);
  setTabOrder(btnEncerrar, btnMinimizar);
  setTabOrder(btnMinimizar, btnLogExec);
  setTabOrder(btnLogExec, chkLog);
  setTabOrder(chkLog, chkLogSql);
  setTabOrder(chkLogSql, btnLimparCache);

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
