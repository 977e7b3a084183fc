#include "support/temp_dir.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tarvo::testing {

TempDir::TempDir() {
  // A new folder of a random name, made by this call alone (as mkdtemp
  // does, on every system).
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof(name), "tarvo-test-%08x", static_cast<unsigned>(random()));
    const std::filesystem::path folder = base / name;
    std::error_code ec;
    if (std::filesystem::create_directory(folder, ec)) {
      path_ = folder.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

void TempDir::Write(const std::string& name, const std::string& contents) const {
  std::filesystem::path p(File(name));
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << contents;
}

void TempDir::Age(const std::string& name, int seconds) const {
  std::filesystem::last_write_time(
      File(name), std::filesystem::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace tarvo::testing
