// TavWebService: the service host's window program.
#include <QApplication>
#include <clocale>

#include "host/form_principal.h"
#include "http/module/web_module.h"
#include "platform/fileversion.h"
#include "platform/https.h"

// File version 2.0.6.0, product version 1.2.0.0.
TAV_VERSION_NOTE(2, 0, 6, 0, 1, 2, 0, 0);

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  tav::https::GlobalInit();  // before any thread starts
  tav::http::RegisterWebModule();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TavWebService"));
  QApplication::setQuitOnLastWindowClosed(false);  // Exit is the only way to end the program
  tav::host::TFormPrincipal form;
  form.show();
  return QApplication::exec();
}
