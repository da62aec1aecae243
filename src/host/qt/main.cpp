// TavWebService: the service host's window program.
#include <QApplication>
#include <csignal>
#include <clocale>
#include <pthread.h>
#include <thread>

#include "host/qt/form_principal.h"
#include "http/module/web_module.h"
#include "platform/fileversion.h"
#include "platform/https.h"
#include "platform/sockets.h"

// File version 2.0.6.0, product version 1.2.0.0.
TAV_VERSION_NOTE(2, 0, 6, 0, 1, 2, 0, 0);

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  tav::https::GlobalInit();  // before any thread starts
  tav::net::RaiseOpenFileLimit();  // every open connection holds a descriptor

  // SIGINT and SIGTERM end the event loop like Exit does, so the listener stops
  // cleanly. Blocked here, before any thread exists, and taken by one watcher.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  tav::http::RegisterWebModule();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TavWebService"));
  QApplication::setQuitOnLastWindowClosed(false);  // Exit is the only way to end the program
  std::thread watcher([&stopSignals] {
    int received = 0;
    sigwait(&stopSignals, &received);
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  int code;
  {
    tav::host::TFormPrincipal form;
    form.show();
    code = QApplication::exec();
  }
  pthread_kill(watcher.native_handle(), SIGTERM);  // wakes the watcher if no signal came
  watcher.join();
  return code;
}
