// Test helpers for the windows: a scratch working directory and a recording prompter.
#pragma once

#include <unistd.h>

#include <QApplication>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/qt/prompter.h"
#include "log/execution_log.h"

namespace tav::testing {

class RecordingPrompter : public host::Prompter {
 public:
  RecordingPrompter() { Prompter::Set(this); }
  ~RecordingPrompter() override { Prompter::Set(nullptr); }
  void ShowError(QWidget *, const QString &message) override { errors << message; }
  bool Confirm(QWidget *, const QString &message) override {
    confirmations << message;
    return answer;
  }
  void Open(const QUrl &url) override { opened << url.toString(); }

  QStringList errors, confirmations, opened;
  bool answer = false;
};

// A fresh working directory, made current for the test, removed afterwards.
class WorkingDirectory {
 public:
  WorkingDirectory() {
    path_ = std::filesystem::temp_directory_path() / ("host_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  void Write(const std::string &name, const std::string &content) const { std::ofstream(path_ / name, std::ios::binary) << content; }
  void AddLibrary() const {
    std::filesystem::copy_file(TAV_FIXTURE_ROOT "/complete/DozUzedoda.so", path_ / "DozUzedoda.so");
  }
  const std::filesystem::path &path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_, previous_;
};

inline void ProcessEvents() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

}  // namespace tav::testing
