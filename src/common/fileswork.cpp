#include "common/fileswork.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace tarvo {

namespace {

// Each table ends with an empty entry, which is also the answer for an
// index outside the table.
const std::array<std::string, kImportFileKindCount + 1> kImportFileKinds = {
    ".ini", ".plu", ".txt", ".txu", ".scr", ".key", ".fnt", ".bmp", "",
};

const std::array<std::string, kFontFileNameCount + 1> kFontFileNames = {
    "8x16.fnt", "8x24.fnt", "16x32.fnt", "12x24.fnt", "8h16.fnt", "",
};

// Temporary names tried before GetUniqueFileName gives up.
constexpr int kMaxUniqueNameAttempts = 256;

// The prefix of the service's unique names in the query folder.
constexpr char kUniqueNamePrefix[] = "svc";

}  // namespace

const std::string& ImportFileKind(int index) {
  if (index < 0 || index >= kImportFileKindCount)
    return kImportFileKinds[kImportFileKindCount];
  return kImportFileKinds[index];
}

const std::string& FontFileName(int index) {
  if (index < 0 || index >= kFontFileNameCount)
    return kFontFileNames[kFontFileNameCount];
  return kFontFileNames[index];
}

namespace {

// Takes temporary names in `folder` until `isTaken` finds one whose base
// name is free. A temporary file whose base is taken stays in place until
// the search ends, so that it is not offered again.
std::string TakeUniqueFileName(const std::string& folder,
                               const std::function<bool(const std::string& path)>& isTaken,
                               std::string* error) {
  std::vector<std::string> base_taken;
  std::string result;
  for (int attempt = 0; attempt < kMaxUniqueNameAttempts; ++attempt) {
    std::string path;
    if (!CreateUniqueTempFile(folder, kUniqueNamePrefix, &path, error))
      break;
    if (!isTaken(path)) {
      result = path;
      break;
    }
    base_taken.push_back(path);
  }
  if (base_taken.size() == static_cast<size_t>(kMaxUniqueNameAttempts) && error != nullptr)
    *error = "every name tried shares its base name with another entry";
  if (!result.empty())
    DeleteFile(result);
  for (const std::string& path : base_taken)
    DeleteFile(path);
  return result;
}

}  // namespace

std::string GetUniqueFileName(const std::string& folder, std::string* error) {
  // The callers replace the extension (a queued command is base.dat,
  // base.cmd and base.lck), so a name is only free when no entry of the
  // folder shares its base name.
  return TakeUniqueFileName(
      folder,
      [&folder](const std::string& path) {
        const std::string name = ExtractFileName(path);
        const std::string base = ExtractFileName(ChangeFileExt(path, ""));
        for (const FileEntry& entry : ListFolder(folder, base + ".*")) {
          if (entry.Name != name)
            return true;
        }
        return false;
      },
      error);
}

FolderBaseNames::FolderBaseNames(const std::string& folder) {
  for (const FileEntry& entry : ListFolder(folder))
    keys_.insert(KeyOf(entry.Name));
}

bool FolderBaseNames::Contains(const std::string& base) const {
  return keys_.count(KeyOf(base)) != 0;
}

void FolderBaseNames::Add(const std::string& base) {
  keys_.insert(KeyOf(base));
}

std::string FolderBaseNames::KeyOf(const std::string& name) {
  return AnsiUpperCase(name.substr(0, name.find('.')));
}

std::string GetUniqueFileName(const std::string& folder, FolderBaseNames& taken,
                              std::string* error) {
  // The temporary file itself was not there when `taken` listed the folder,
  // so any base found in `taken` belongs to another entry.
  const std::string path = TakeUniqueFileName(
      folder, [&taken](const std::string& path) { return taken.Contains(ExtractFileName(path)); },
      error);
  if (!path.empty())
    taken.Add(ExtractFileName(path));
  return path;
}

bool IsUniqueFileNameTemporary(const std::string& name) {
  const std::string prefix = kUniqueNamePrefix;
  const std::string extension = ".TMP";
  if (name.size() <= prefix.size() + extension.size() ||
      name.size() > prefix.size() + 4 + extension.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
    return false;
  }
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                     name.end() - static_cast<std::ptrdiff_t>(extension.size()),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

bool CopyFileToFolder(const std::string& source, const std::string& folder) {
  if (folder.empty())
    return false;
  return CopyFileReplace(source, IncludeTrailingPathDelimiter(folder) + ExtractFileName(source));
}

}  // namespace tarvo
