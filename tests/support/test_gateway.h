// Test helper: starts tests/support/gateway.py over HTTPS with a CA made for the
// occasion by openssl (tests/support/make_certs.sh), and reads back what it
// received. Under Wine the gateway cannot be started the POSIX way: scripts/test
// starts one beside the tests and names its folder in TAV_GATEWAY_DIR.
#pragma once

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tav::testing {

class TestGateway {
 public:
  explicit TestGateway(const std::string &script) {
#if defined(_WIN32)
    (void)script;
    const char *shared = std::getenv("TAV_GATEWAY_DIR");
    if (shared == nullptr) throw std::runtime_error("TAV_GATEWAY_DIR is not set: scripts/test starts the gateway");
    dir_ = shared;
    owned_ = false;
    SetPlan("{}");
    std::error_code ignored;
    std::filesystem::remove(dir_ / "log.jsonl", ignored);
#else
    dir_ = std::filesystem::temp_directory_path() / ("gateway_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    const std::string d = dir_.string();
    Run("sh " + (std::filesystem::path(script).parent_path() / "make_certs.sh").string() + " " + d);
    SetPlan("{}");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execlp("python3", "python3", script.c_str(), "--cert", (d + "/srv.pem").c_str(), "--key",
               (d + "/srv.key").c_str(), "--plan", (d + "/plan.json").c_str(), "--log", (d + "/log.jsonl").c_str(),
               "--port-file", (d + "/port").c_str(), static_cast<char *>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200 && !std::filesystem::exists(d + "/port"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
#endif
    std::ifstream((dir_ / "port").string()) >> port_;
    if (port_ == 0) throw std::runtime_error("the test gateway did not start");
  }
  TestGateway(const TestGateway &) = delete;
  TestGateway &operator=(const TestGateway &) = delete;
  ~TestGateway() {
#if !defined(_WIN32)
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
#endif
    std::error_code ignored;
    if (owned_) std::filesystem::remove_all(dir_, ignored);
  }

  int port() const { return port_; }
#if defined(_WIN32)
  // Wine's TLS layer refuses an IP address as the server's name; the certificate names localhost too.
  std::string base() const { return "https://localhost:" + std::to_string(port_) + "/conta"; }
#else
  std::string base() const { return "https://127.0.0.1:" + std::to_string(port_) + "/conta"; }
#endif
  std::string ca() const { return (dir_ / "ca.pem").string(); }
  std::string otherCa() const { return (dir_ / "other.pem").string(); }
  void SetPlan(const std::string &json) {
    std::ofstream((dir_ / "plan.json.tmp").string()) << json;
    std::filesystem::rename(dir_ / "plan.json.tmp", dir_ / "plan.json");
  }
  // The requests received so far, one JSON text each; clears the log.
  std::vector<std::string> TakeRequests() {
    std::vector<std::string> lines;
    {
      std::ifstream in((dir_ / "log.jsonl").string());
      for (std::string line; std::getline(in, line);) lines.push_back(line);
    }  // closed before it goes: Windows removes no open file
    std::error_code ignored;
    std::filesystem::remove(dir_ / "log.jsonl", ignored);
    return lines;
  }

 private:
  static void Run(const std::string &command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
  }
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  bool owned_ = true;
#if !defined(_WIN32)
  pid_t pid_ = -1;
#endif
  int port_ = 0;
};

}  // namespace tav::testing
