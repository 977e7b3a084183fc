// A fresh folder under the system temporary folder, removed with its
// contents when the object goes out of scope.
#ifndef TARVO_TESTS_SUPPORT_TEMP_DIR_H_
#define TARVO_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

namespace tarvo::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing delimiter.
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string File(const std::string& name) const;

  // Writes `contents` to File(name), creating parent folders.
  void Write(const std::string& name, const std::string& contents) const;
  // The contents of File(name); "" when missing.
  std::string Read(const std::string& name) const;
  // Sets the modification time of File(name) `seconds` into the past, so an
  // import file counts as settled.
  void Age(const std::string& name, int seconds) const;

 private:
  std::string path_;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_TEMP_DIR_H_
