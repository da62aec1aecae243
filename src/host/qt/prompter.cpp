#include "host/qt/prompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

namespace tav::host {
namespace {
Prompter defaultPrompter;
Prompter *current = &defaultPrompter;
}  // namespace

void Prompter::ShowError(QWidget *parent, const QString &message) {
  QMessageBox::critical(parent, QApplication::applicationName(), message);
}

bool Prompter::Confirm(QWidget *parent, const QString &message) {
  return QMessageBox::question(parent, QApplication::applicationName(), message,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void Prompter::Open(const QUrl &url) { (void)QDesktopServices::openUrl(url); }

Prompter &Prompter::Current() { return *current; }
void Prompter::Set(Prompter *prompter) { current = prompter != nullptr ? prompter : &defaultPrompter; }

}  // namespace tav::host
