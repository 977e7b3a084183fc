// File helpers of the import scan and the command queue.
#ifndef TARVO_COMMON_FILESWORK_H_
#define TARVO_COMMON_FILESWORK_H_

#include <cstdint>
#include <string>
#include <unordered_set>

namespace tarvo {

// Import file extensions in command order: ".ini", ".plu", ".txt", ".txu",
// ".scr", ".key", ".fnt", ".bmp". kImportFileKindCount entries; an index
// outside the table gives "".
constexpr int kImportFileKindCount = 8;
const std::string& ImportFileKind(int index);

// Font file names by font number: "8x16.fnt", "8x24.fnt", "16x32.fnt",
// "12x24.fnt", "8h16.fnt". kFontFileNameCount entries; an index outside the
// table gives "".
constexpr int kFontFileNameCount = 5;
const std::string& FontFileName(int index);

// The codes that the log reports for a folder search that found nothing
// more: the folder was listed to its end (no more files), or it is missing.
constexpr int kSearchNoMoreFiles = 18;
constexpr int kSearchPathNotFound = 3;

// Full path of a name in `folder`: "svc" + up to four hexadecimal digits +
// ".TMP". At the moment of the call no entry of the folder has that base
// name with any extension, so the caller may replace the extension (".dat",
// ".cmd", ".lck") without meeting an existing file. Nothing reserves the name
// afterwards. "" on failure and for an empty `folder`, with `error` (when
// given) set to the reason.
std::string GetUniqueFileName(const std::string& folder, std::string* error = nullptr);

// The base names in use in a folder as one listing found them, for a caller
// that takes many unique names in a row. An entry's base name is its name up
// to its first "." (the whole name when it has none), without regard to case
// as the folder's listings compare names.
class FolderBaseNames {
 public:
  // Lists `folder` once; an empty set when it cannot be listed.
  explicit FolderBaseNames(const std::string& folder);

  bool Contains(const std::string& base) const;
  void Add(const std::string& base);

 private:
  static std::string KeyOf(const std::string& name);

  std::unordered_set<std::string> keys_;
};

// GetUniqueFileName for many names in a row: a base name counts as taken
// when `taken` holds it, instead of when a listing of the folder shows it,
// and each name returned is added to `taken`. The returned name is free
// provided that nobody but the caller added entries to the folder since
// `taken` listed it; names freed since then are merely not offered.
std::string GetUniqueFileName(const std::string& folder, FolderBaseNames& taken,
                              std::string* error = nullptr);

// True for the name of a file that GetUniqueFileName creates and deletes
// again during the call ("svc" + 1 to 4 upper-case hexadecimal digits +
// ".TMP"); a process that ends during the call leaves it behind.
bool IsUniqueFileNameTemporary(const std::string& name);

// Copies `source` into `folder` under its own file name, replacing an
// existing file. False for an empty `folder`.
bool CopyFileToFolder(const std::string& source, const std::string& folder);

}  // namespace tarvo

#endif  // TARVO_COMMON_FILESWORK_H_
