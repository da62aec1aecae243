#include "host/frm_logproc.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>

#include "host/form_principal.h"
#include "host/prompter.h"
#include "host/qtext.h"
#include "log/execution_log.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/fileversion.h"
#include "platform/text.h"

namespace tav::host {
namespace {

constexpr int kTopHeight = 35;
constexpr int kBottomHeight = 46;

QPushButton *FlatButton(const QString &caption, QStyle::StandardPixmap icon, QWidget *parent) {
  auto *button = new QPushButton(parent->style()->standardIcon(icon), caption, parent);
  button->setFlat(true);
  button->resize(121, 38);
  return button;
}

}  // namespace

TFrmLogProc::TFrmLogProc(QWidget *owner) : QWidget(owner, Qt::Window) {
  resize(794, 455);
  setMinimumSize(750, 450);

  pnlTopo = new QWidget(this);
  pnlTopo->setAutoFillBackground(true);
  QPalette top = pnlTopo->palette();
  top.setColor(QPalette::Window, SkyBlue());
  pnlTopo->setPalette(top);
  pnlRodape = new QWidget(this);

  btnFechar = FlatButton(QStringLiteral("Fechar"), QStyle::SP_DialogCloseButton, pnlRodape);
  btnSalvarLog = FlatButton(QStringLiteral("Salvar Log"), QStyle::SP_DialogSaveButton, pnlRodape);
  Label1 = new QLabel(QStringLiteral("Ws Tavoric - Log de Execução"), pnlTopo);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->setStyleSheet(QStringLiteral("color: #800000;"));
  Label1->move(8, 6);
  Label1->adjustSize();
  btnLimparLog = FlatButton(QStringLiteral("Limpar Log"), QStyle::SP_DialogResetButton, pnlRodape);
  memLog = new QPlainTextEdit(this);
  memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  memLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  btnSalvarLog->move(8, 3);
  btnLimparLog->move(131, 3);

  connect(btnSalvarLog, &QPushButton::clicked, this, [this] { btnSalvarLogClick(); });
  connect(btnLimparLog, &QPushButton::clicked, this, &TFrmLogProc::btnLimparLogClick);
  connect(btnFechar, &QPushButton::clicked, this, &TFrmLogProc::btnFecharClick);
  DrainEntries();
}

void TFrmLogProc::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  pnlTopo->setGeometry(0, 0, width(), kTopHeight);
  pnlRodape->setGeometry(0, height() - kBottomHeight, width(), kBottomHeight);
  btnFechar->move(pnlRodape->width() - 9 - btnFechar->width(), 3);
  memLog->setGeometry(0, kTopHeight, width(), height() - kTopHeight - kBottomHeight);
}

void TFrmLogProc::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // a restore by the window system is not a new showing
  // Caption: version, the executable's modification time and the port.
  const std::u16string exe = files::ExecutablePath();
  std::u16string caption = u"WsTavoric Log - Versão: ";
  try {
    caption += RetornaVersao(exe);
  } catch (const std::exception &) {
  }
  caption += u" Compilado em : ";
  if (const auto built = files::ModifiedTime(exe)) {
    const Regional &regional = CurrentRegional();
    caption += FormatDateTime(regional.shortDateFormat, *built, regional);
    if (built->hour != 0 || built->minute != 0 || built->second != 0) {
      caption += u" ";
      caption += FormatDateTime(regional.longTimeFormat, *built, regional);
    }
  }
  caption += u" ";
  setWindowTitle(Q(caption) + mPorta);
  // Centred in the work area of its screen.
  if (QScreen *screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const QRect outer = frameGeometry();
    move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
  }
}

void TFrmLogProc::DrainEntries() {
  const auto batch = log::ExecutionLog::Global().Read(next_);
  next_ = batch.next;
  if (batch.entries.empty()) return;
  QScrollBar *bar = memLog->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  for (const auto &entry : batch.entries) {
    QString line = Q(entry);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    memLog->appendPlainText(line);
  }
  if (atEnd) bar->setValue(bar->maximum());
}

std::u16string TFrmLogProc::LogText() const {
  if (memLog->document()->isEmpty()) return {};
  QString saved = memLog->toPlainText();
  saved.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  saved += QStringLiteral("\r\n");
  return U(saved);
}

void TFrmLogProc::btnLimparLogClick() {
  memLog->clear();
  log::ExecutionLog &log = log::ExecutionLog::Global();
  log.Clear();
  next_ = log.Read(0).next;
  // Written whether or not the log is active.
  log.AppendRaw(FormatDateTime(u"hh:nn:ss", LocalNow()) + u" Registro de Log Reiniciado.");
  DrainEntries();
}

QString TFrmLogProc::btnSalvarLogClick() {
  DrainEntries();
  std::u16string name;
  try {
    name = files::Join(files::RequireCurrentDirectory(), u"LogExecucao_" + FormatDateTime(u"DD-MM-YYYY_hh_mm_ss", LocalNow()) + u".txt");
    files::WriteAll(name, text::ToAnsi(LogText()));
  } catch (const std::exception &error) {
    Prompter::Current().ShowError(this, Q(ErrorText(error)));
    return {};
  }
  const QString file = Q(name);
  if (Prompter::Current().Confirm(this, QStringLiteral("Arquivo de Log armazenado em: \r\n") + file +
                                            QStringLiteral("\r\nAbrir o Arquivo? ")))
    Prompter::Current().Open(QUrl::fromLocalFile(file));
  return file;
}

void TFrmLogProc::btnFecharClick() {
  if (FormPrincipal != nullptr) FormPrincipal->SetLogAtivo(false);
  else log::ExecutionLog::Global().SetActive(false);
  close();
}

}  // namespace tav::host
