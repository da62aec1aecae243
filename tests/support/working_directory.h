// Test helper: a fresh working directory, made current for the test and removed
// afterwards, with the complete fixture library at hand.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "bizlib/dozuzedoda_abi.h"
#include "platform/text.h"
#include "support/portable.h"

namespace tav::testing {

class WorkingDirectory {
 public:
  WorkingDirectory() {
    path_ = std::filesystem::temp_directory_path() /
            ("host_test_" + std::to_string(ProcessId()) + "_" + std::to_string(counter_++));
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
  WorkingDirectory(const WorkingDirectory &) = delete;
  WorkingDirectory &operator=(const WorkingDirectory &) = delete;

  void Write(const std::string &name, const std::string &content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
  }
  // The complete fixture library (TAV_FIXTURE_ROOT) as this folder's business library.
  void AddLibrary() const {
    const std::string file = text::ToUtf8(abi::kLibraryFile);
    std::filesystem::copy_file(std::filesystem::path(TAV_FIXTURE_ROOT "/complete") / file, path_ / file);
  }
  const std::filesystem::path &path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_, previous_;
};

}  // namespace tav::testing
