// The real program with a business library that raises an OS exception (on Linux
// a C++ exception) on every second ExecJSon, under load: clients that each send
// one request per connection for a while. Reports every answer by status, whether
// the program is still alive, and (on Windows) that Parar, Iniciar and a normal
// request work afterwards.
//   failing_library_bench PROGRAM LIBRARY [SECONDS=30] [CLIENTS=32]
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

  const fs::path dir = fs::temp_directory_path() / ("failing_library_" + std::to_string(ProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::uint16_t port = FreePort();
  std::ofstream(dir / "TavWebService.ini") << "[SERVIDOR]\r\nPORTA=" << port << "\r\n[GERAIS]\r\nINICIARAUTO=S\r\n";
  fs::copy_file(library, dir / library.filename());
  SetEnv("FIXTURE_FAIL", "ExecJSon:raise");
  SetEnv("FIXTURE_FAIL_EVERY", "2");
  SetEnv("FIXTURE_ANSWER", "{}");
  int failures = 0;
  {
    Program service(program, dir, port);
    if (!service.Ready()) {
      std::fprintf(stderr, "the program did not start\n");
      return 1;
    }
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
