// The real program under load: clients that each send one business request per
// connection for a while, with the fixture library. Reports every answer by
// status, whether the program is still alive, and (on Windows) that Parar,
// Iniciar and a normal request work afterwards.
//   program_load_bench PROGRAM LIBRARY [SECONDS=30] [CLIENTS=32] [FAIL_EVERY=2] [LOG_WINDOW=0]
// FAIL_EVERY: the library raises an OS exception (on Linux a C++ exception) on
// every n-th ExecJSon (0: never). LOG_WINDOW=1 (Windows): the execution log window
// is open during the load, and "Fechar" is clicked at the end.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/http_client.h"
#include "support/portable.h"
#include "support/program.h"

namespace fs = std::filesystem;
using namespace tav::testing;

namespace {

std::string StatusOf(const std::string &response) { return response.substr(0, response.find("\r\n")); }

std::string Post(std::uint16_t port, const std::string &body) {
  return Exchange(port, "POST /WsTavoric HTTP/1.1\r\nHost: t\r\nConnection: close\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PROGRAM LIBRARY [SECONDS] [CLIENTS]\n", argv[0]);
    return 2;
  }
  const fs::path program = fs::absolute(argv[1]), library = fs::absolute(argv[2]);
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 30;
  const int clients = argc > 4 ? std::atoi(argv[4]) : 32;
  const int failEvery = argc > 5 ? std::atoi(argv[5]) : 2;
  const bool logWindow = argc > 6 && std::atoi(argv[6]) != 0;

  const fs::path dir = fs::temp_directory_path() / ("failing_library_" + std::to_string(ProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::uint16_t port = FreePort();
  std::ofstream(dir / "TavWebService.ini") << "[SERVIDOR]\r\nPORTA=" << port << "\r\n[GERAIS]\r\nINICIARAUTO=S\r\n";
  fs::copy_file(library, dir / library.filename());
  if (failEvery > 0) {
    SetEnv("FIXTURE_FAIL", "ExecJSon:raise");
    SetEnv("FIXTURE_FAIL_EVERY", std::to_string(failEvery).c_str());
  }
  SetEnv("FIXTURE_ANSWER", "{}");
  int failures = 0;
  {
    Program service(program, dir, port);
    if (!service.Ready()) {
      std::fprintf(stderr, "the program did not start\n");
      return 1;
    }
#if defined(_WIN32)
    HWND logWindowHandle = nullptr;
    if (logWindow && Click(Child(service.MainWindow(), L"Button", L"Log Execução")))
      logWindowHandle = WaitForWindow(service.Id(), L"TFrmLogProc");
    if (logWindow) std::printf("log window open: %s\n", logWindowHandle != nullptr ? "yes" : "NO");
#else
    (void)logWindow;
#endif
    std::atomic<bool> stop{false};
    std::atomic<long> ok{0}, failed{0}, unanswered{0}, other{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
      threads.emplace_back([&] {
        while (!stop) {
          const std::string status = StatusOf(Post(port, "{\"ACAO\":\"PING\"}"));
          if (status == "HTTP/1.1 200 OK") ++ok;
          else if (status == "HTTP/1.1 500 Internal Server Error") ++failed;
          else if (status.empty()) ++unanswered;
          else ++other;
        }
      });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto &t : threads) t.join();
    const long total = ok + failed + unanswered + other;
    const bool alive = service.Alive();
    std::printf("%d clients, %d s: %ld requests (%.0f/s): %ld answered 200, %ld answered 500, %ld unanswered, %ld other\n",
                clients, seconds, total, static_cast<double>(total) / seconds, ok.load(), failed.load(),
                unanswered.load(), other.load());
    std::printf("program alive at the end: %s\n", alive ? "yes" : "NO");
    failures += !alive || unanswered != 0 || other != 0;
#if defined(_WIN32)
    if (logWindowHandle != nullptr) {
      const auto start = std::chrono::steady_clock::now();
      const bool closed = Click(Child(logWindowHandle, L"Button", L"Fechar")) && !IsWindowVisible(logWindowHandle);
      std::printf("Fechar after the load: %s in %.0f ms\n", closed ? "hidden" : "NOT hidden",
                  std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      failures += !closed;
    }
    HWND main = service.MainWindow();
    const bool stopped = Click(Child(main, L"Button", L"Parar")) && !RawClient(port).connected();
    const bool started = Click(Child(main, L"Button", L"Iniciar")) && service.Ready();
    std::printf("Parar afterwards: %s; Iniciar: %s\n", stopped ? "stopped" : "FAILED", started ? "serving" : "FAILED");
    failures += !stopped || !started;
    // A fresh load of the library counts its calls from one: this one does not fail.
#endif
    const std::string status = StatusOf(Post(port, "{\"ACAO\":\"PING\"}"));
    std::printf("a request afterwards: %s\n", status.c_str());
    failures += status.empty();
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return failures == 0 ? 0 : 1;
}
