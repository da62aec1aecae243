// Test helper: starts tests/support/gateway.py over HTTPS with a CA made for the
// occasion by openssl, and reads back what it received.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
    dir_ = std::filesystem::temp_directory_path() / ("gateway_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    const std::string d = dir_.string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    Run("openssl req -x509" + ec + "-keyout " + d + "/ca.key -out " + d + "/ca.pem -days 2 -subj /CN=TestCA");
    Run("openssl req" + ec + "-keyout " + d + "/srv.key -out " + d + "/srv.csr -subj /CN=localhost");
    std::ofstream(d + "/ext.cnf") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    Run("openssl x509 -req -in " + d + "/srv.csr -CA " + d + "/ca.pem -CAkey " + d + "/ca.key -CAcreateserial -out " +
        d + "/srv.pem -days 2 -extfile " + d + "/ext.cnf");
    Run("openssl req -x509" + ec + "-keyout " + d + "/other.key -out " + d + "/other.pem -days 2 -subj /CN=OtherCA");
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
    std::ifstream(d + "/port") >> port_;
    if (port_ == 0) throw std::runtime_error("the test gateway did not start");
  }
  TestGateway(const TestGateway &) = delete;
  TestGateway &operator=(const TestGateway &) = delete;
  ~TestGateway() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  int port() const { return port_; }
  std::string base() const { return "https://127.0.0.1:" + std::to_string(port_) + "/conta"; }
  std::string ca() const { return (dir_ / "ca.pem").string(); }
  std::string otherCa() const { return (dir_ / "other.pem").string(); }
  void SetPlan(const std::string &json) {
    std::ofstream((dir_ / "plan.json.tmp").string()) << json;
    std::filesystem::rename(dir_ / "plan.json.tmp", dir_ / "plan.json");
  }
  // The requests received so far, one JSON text each; clears the log.
  std::vector<std::string> TakeRequests() {
    std::vector<std::string> lines;
    std::ifstream in((dir_ / "log.jsonl").string());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::filesystem::remove(dir_ / "log.jsonl");
    return lines;
  }

 private:
  static void Run(const std::string &command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
  }
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace tav::testing
