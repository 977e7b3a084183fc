// What the fuzz targets share: the invariant check and the one folder a
// target may write in.
#ifndef TARVO_FUZZ_FUZZ_SUPPORT_H_
#define TARVO_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <system_error>

namespace tarvo::fuzz {

// Ends the run as a finding when `condition` is false, naming `what`.
inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// A fresh folder named `prefix` + a random number, with `subfolders`
// (each starting with "/") made in it; removed with its contents when the
// object ends. It lies on a memory file system where there is one: every
// file the code under test writes is flushed to the disk, which would bound
// a run to a few dozen inputs a second.
class RunFolder {
 public:
  explicit RunFolder(const std::string& prefix,
                     std::initializer_list<const char*> subfolders = {}) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    path_ = (base / (prefix + "_" + std::to_string(std::random_device()()))).string();
    std::filesystem::create_directories(path_);
    for (const char* sub : subfolders)
      std::filesystem::create_directories(path_ + sub);
  }
  ~RunFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tarvo::fuzz

#endif  // TARVO_FUZZ_FUZZ_SUPPORT_H_
