// What the benchmark programs share.
#ifndef TARVO_BENCH_BENCH_SUPPORT_H_
#define TARVO_BENCH_BENCH_SUPPORT_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#include "log/logoperations.h"

namespace tarvo::bench {

// A fresh folder in the system's temporary folder, removed with everything
// in it.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix)
      : path_(std::filesystem::temp_directory_path() /
              (prefix +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string path() const { return path_.string(); }
  // A new folder `name` inside this one.
  std::string Sub(const std::string& name) const {
    std::filesystem::create_directories(path_ / name);
    return (path_ / name).string();
  }

 private:
  const std::filesystem::path path_;
};

// The process facts a log shows in its header, for an executable `exe`.
inline LogProcessInfo ProcessOf(const std::string& exe) {
  LogProcessInfo process;
  process.ExePath = exe;
  return process;
}

}  // namespace tarvo::bench

#endif  // TARVO_BENCH_BENCH_SUPPORT_H_
