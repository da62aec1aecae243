// Shows both windows the way an operator sees them (Start pressed, the execution
// log opened) and saves pictures of them: main.png, log.png and screen.png.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <clocale>

#include "host/qt/form_principal.h"
#include "host/qt/frm_logproc.h"
#include "http/module/web_module.h"
#include "platform/fileversion.h"

TAV_VERSION_NOTE(2, 0, 6, 0, 1, 2, 0, 0);

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  tav::http::RegisterWebModule();
  QApplication application(argc, argv);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  tav::host::TFormPrincipal form;
  form.show();
  form.btnLogExec->click();
  form.btnIniciar->click();
  QTimer::singleShot(1500, [&] {
    form.grab().save(out.filePath(QStringLiteral("main.png")));
    form.FormLogProc()->grab().save(out.filePath(QStringLiteral("log.png")));
    if (QScreen *screen = QGuiApplication::primaryScreen()) screen->grabWindow(0).save(out.filePath(QStringLiteral("screen.png")));
    form.btnParar->click();
    QApplication::quit();
  });
  return QApplication::exec();
}
