#include "common/fileswork.h"

#include <array>

#include "platform/files.h"
#include "platform/process.h"

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

std::string GetUniqueFileName(const std::string& folder) {
  if (folder.empty())
    return std::string();
  std::string path = CreateUniqueTempFile(folder, "svc");
  if (!path.empty())
    DeleteFile(path);
  return path;
}

bool CopyFileOverwrite(const std::string& source, const std::string& target) {
  return CopyFileReplace(source, target);
}

bool CopyFileToFolder(const std::string& source, const std::string& folder) {
  if (folder.empty())
    return false;
  return CopyFileOverwrite(source, IncludeTrailingPathDelimiter(folder) + ExtractFileName(source));
}

std::string GetExeFileName() {
  return ExecutablePath();
}

}  // namespace tarvo
