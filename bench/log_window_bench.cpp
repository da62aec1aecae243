// The Qt program with the execution log window open under load: the same form
// and service as TavWebService, in this process, so that its memory, its
// window's answers and its throughput can be measured from inside.
//   log_window_bench PORT SECONDS_CLOSED SECONDS_OPEN [CLIENTS=32]
// Run in a working directory with TavWebService.ini (PORTA=PORT, INICIARAUTO=S)
// and a fast business library; wrk drives the load.
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "host/qt/form_principal.h"
#include "host/qt/frm_logproc.h"
#include "http/module/web_module.h"
#include "platform/fileversion.h"
#include "platform/https.h"
#include "platform/sockets.h"
#include "support/http_client.h"

// The program's version, which start-up reads from its own file.
TAV_VERSION_NOTE(2, 0, 6, 0, 1, 2, 0, 0);

using Clock = std::chrono::steady_clock;

namespace {

double ResidentMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  return 0;
}

// Runs `body` on the GUI thread and returns how long it took to get there and run.
template <typename Body>
double OnGuiMs(Body body) {
  const auto start = Clock::now();
  QMetaObject::invokeMethod(qApp, body, Qt::BlockingQueuedConnection);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// wrk for `seconds`; the business requests answered per second.
double Load(int port, int seconds, int clients) {
  const std::string command = "wrk -t2 -c" + std::to_string(clients) + " -d" + std::to_string(seconds) +
                              "s -s business.lua http://127.0.0.1:" + std::to_string(port) + "/WsTavoric > wrk.txt";
  if (std::system(command.c_str()) != 0) return 0;
  std::ifstream out("wrk.txt");
  for (std::string line; std::getline(out, line);)
    if (line.rfind("Requests/sec:", 0) == 0) return std::atof(line.c_str() + 13);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PORT SECONDS_CLOSED SECONDS_OPEN [CLIENTS]\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]), closedSeconds = std::atoi(argv[2]), openSeconds = std::atoi(argv[3]);
  const int clients = argc > 4 ? std::atoi(argv[4]) : 32;
  tav::https::GlobalInit();
  tav::net::RaiseOpenFileLimit();
  tav::http::RegisterWebModule();
  std::ofstream("business.lua") << "wrk.method = \"POST\"\nwrk.body = '{\"ACAO\":\"PING\"}'\n"
                                   "wrk.headers[\"Connection\"] = \"close\"\n";
  QApplication application(argc, argv);
  tav::host::TFormPrincipal form;
  form.show();
  std::thread scenario([&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double closedRate = Load(port, closedSeconds, clients);
    std::printf("log closed: %.0f business requests/s, resident %.1f MiB\n", closedRate, ResidentMiB());
    OnGuiMs([&] { form.btnLogExec->click(); });

    // Under load: the resident size and how long the window takes to clear its log.
    std::atomic<bool> loading{true};
    double mostMiB = 0, slowestClearMs = 0, lastMiB = 0;
    std::thread sampler([&] {
      for (int second = 0; loading; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lastMiB = ResidentMiB();
        mostMiB = std::max(mostMiB, lastMiB);
        if (second % 10 == 9) {
          const double ms = OnGuiMs([&] { form.FormLogProc()->btnLimparLog->click(); });
          slowestClearMs = std::max(slowestClearMs, ms);
        }
        if (second % 60 == 59) std::printf("  after %d s: resident %.1f MiB\n", second + 1, lastMiB);
        std::fflush(stdout);
      }
    });
    const double openRate = Load(port, openSeconds, clients);
    loading = false;
    sampler.join();
    std::printf("log open: %.0f business requests/s (%.0f %% of closed); resident at most %.1f MiB, %.1f MiB at the end;"
                " Limpar Log answered in %.0f ms at most\n",
                openRate, closedRate > 0 ? 100 * openRate / closedRate : 0.0, mostMiB, lastMiB, slowestClearMs);

    // After the load: how long until the last request's lines are in the window.
    const auto sent = Clock::now();
    tav::testing::Exchange(static_cast<std::uint16_t>(port),
                           "POST /WsTavoric HTTP/1.0\r\nContent-Length: 23\r\n\r\n{\"ACAO\":\"ULTIMO-PEDIDO\"}");
    double shownMs = -1;
    for (int i = 0; i < 200 && shownMs < 0; ++i) {
      bool shown = false;
      OnGuiMs([&] { shown = form.FormLogProc()->memLog->toPlainText().contains(QStringLiteral("ULTIMO-PEDIDO")); });
      if (shown) shownMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
      else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("after the load: the last request's lines shown in %.0f ms\n", shownMs);
    std::fflush(stdout);
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  const int code = QApplication::exec();
  scenario.join();
  return code;
}
