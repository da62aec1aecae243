#include "host/qt/frm_logproc.h"

#include <algorithm>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include "host/qt/form_principal.h"
#include "host/qt/prompter.h"
#include "host/qt/qtext.h"

namespace tav::host {
namespace {

QPushButton *FlatButton(std::u16string_view caption, QStyle::StandardPixmap icon, QWidget *parent) {
  auto *button = new QPushButton(parent->style()->standardIcon(icon), Q(caption), parent);
  button->setFlat(true);
  return button;
}

}  // namespace

TFrmLogProc::TFrmLogProc(QWidget *owner) : QWidget(owner, Qt::Window) {
  resize(layout::kLogWidth, layout::kLogHeight);
  setMinimumSize(layout::kLogMinWidth, layout::kLogMinHeight);

  pnlTopo = new QWidget(this);
  pnlTopo->setAutoFillBackground(true);
  QPalette top = pnlTopo->palette();
  top.setColor(QPalette::Window, SkyBlue());
  pnlTopo->setPalette(top);
  pnlRodape = new QWidget(this);

  btnFechar = FlatButton(layout::kFechar, QStyle::SP_DialogCloseButton, pnlRodape);
  btnSalvarLog = FlatButton(layout::kSalvarLog, QStyle::SP_DialogSaveButton, pnlRodape);
  Label1 = new QLabel(Q(layout::kLogTitle), pnlTopo);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->setStyleSheet(QStringLiteral("color: #800000;"));
  btnLimparLog = FlatButton(layout::kLimparLog, QStyle::SP_DialogResetButton, pnlRodape);
  memLog = new QPlainTextEdit(this);
  memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  memLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLog->setUndoRedoEnabled(false);  // an undo history would keep every dropped line


  connect(btnSalvarLog, &QPushButton::clicked, this, [this] { btnSalvarLogClick(); });
  connect(btnLimparLog, &QPushButton::clicked, this, [this] { btnLimparLogClick(); });
  connect(btnFechar, &QPushButton::clicked, this, [this] { btnFecharClick(); });
  StartWatching();
}

TFrmLogProc::~TFrmLogProc() { StopWatching(); }

void TFrmLogProc::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  const layout::LogPlaces places = layout::LogWindowPlaces(width(), height());
  pnlTopo->setGeometry(Q(places.top));
  pnlRodape->setGeometry(Q(places.bottom));
  memLog->setGeometry(Q(places.text));
  Label1->setGeometry(Q(places.title));
  btnSalvarLog->setGeometry(Q(places.salvar));
  btnLimparLog->setGeometry(Q(places.limpar));
  btnFechar->setGeometry(Q(places.fechar));
}

void TFrmLogProc::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // a restore by the window system is not a new showing
  setWindowTitle(Q(Caption()));
  // Centred in the work area of its screen.
  if (QScreen *screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const QRect outer = frameGeometry();
    move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
  }
}

// ---- view operations ----------------------------------------------------------

// Queued to the window's thread; Qt drops it if the window is gone by then.
void TFrmLogProc::WakeUp() {
  QMetaObject::invokeMethod(this, [this] { DrainEntries(); }, Qt::QueuedConnection);
}

void TFrmLogProc::AppendEntries(const std::vector<std::u16string> &entries) {
  QScrollBar *bar = memLog->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  std::u16string joined;
  std::size_t size = 0;
  for (const auto &entry : entries) size += entry.size() + 1;
  joined.reserve(size);
  for (const auto &entry : entries) {
    if (!joined.empty()) joined += u'\n';
    joined += entry;
  }
  QString text = Q(joined);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  memLog->appendPlainText(text);  // one operation for the whole batch
  if (atEnd) bar->setValue(bar->maximum());
}

std::size_t TFrmLogProc::TrimShown(std::size_t keep, std::size_t maxLines, std::size_t maxUnits) {
  QTextDocument *document = memLog->document();
  const auto blocks = static_cast<std::size_t>(document->blockCount());
  const auto units = static_cast<std::size_t>(document->characterCount());
  if (blocks <= keep + 1) return 0;  // the newest line always stays
  std::size_t drop = blocks > maxLines ? blocks - maxLines : 0;
  std::size_t removed = 0;
  QTextBlock block = document->findBlockByNumber(static_cast<int>(keep));
  for (std::size_t i = 0; i < drop; ++i, block = block.next()) removed += static_cast<std::size_t>(block.length());
  while (units - removed > maxUnits && keep + drop + 1 < blocks) {
    removed += static_cast<std::size_t>(block.length());
    block = block.next();
    ++drop;
  }
  drop = std::min(drop, blocks - keep - 1);
  if (drop == 0) return 0;
  QScrollBar *bar = memLog->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  QTextCursor cursor(document->findBlockByNumber(static_cast<int>(keep)));
  cursor.setPosition(document->findBlockByNumber(static_cast<int>(keep + drop)).position(), QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  if (atEnd) bar->setValue(bar->maximum());
  return drop;
}

void TFrmLogProc::ShowFirstLine(std::u16string_view line, bool replace) {
  QTextCursor cursor(memLog->document()->firstBlock());
  if (replace) {
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(Q(line));
  } else {
    cursor.insertText(Q(line) + QLatin1Char('\n'));
  }
}

void TFrmLogProc::ClearShownText() { memLog->clear(); }

std::u16string TFrmLogProc::ShownText() const {
  if (memLog->document()->isEmpty()) return {};
  return U(memLog->toPlainText());
}

void TFrmLogProc::ShowErrorBox(std::u16string_view message) { Prompter::Current().ShowError(this, Q(message)); }

bool TFrmLogProc::ConfirmBox(std::u16string_view message) { return Prompter::Current().Confirm(this, Q(message)); }

void TFrmLogProc::OpenWithShell(std::u16string_view file) { Prompter::Current().Open(QUrl::fromLocalFile(Q(file))); }

void TFrmLogProc::HideWindow() { close(); }

}  // namespace tav::host
