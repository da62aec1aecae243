// Test helper: a whole file's bytes (empty when it cannot be read).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tav::testing {

inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace tav::testing
