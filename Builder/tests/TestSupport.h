// Shared helpers of the builder tests: scratch folders and files.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "BuilderText.h"

namespace nvbuilder::test {

// A fresh, empty folder removed again at the end of the test.
class TScratch {
public:
  TScratch() {
    static std::mt19937_64 rng(std::random_device{}());
    auto name = std::string("nvbuilder-test-") + std::to_string(rng());
    FPath = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(FPath);
  }
  ~TScratch() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& rel) const { return FPath / std::filesystem::path(rel); }

private:
  std::filesystem::path FPath;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << PathText(path);
}

inline std::string RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// Text that compresses: words drawn from a small vocabulary.
inline std::string TextBytes(std::size_t n, uint32_t seed) {
  static const char* words[] = {"setup ", "package ", "install ", "file ", "registry ", "shortcut ", "\r\n", "数据 "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += words[rng() % 8];
  s.resize(n);
  return s;
}

// Everything written to a temporary file so far (the file stays open).
inline std::string ReadBack(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

}  // namespace nvbuilder::test
