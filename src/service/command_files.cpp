#include "service/command_files.h"

#include <stdexcept>

#include "common/fileswork.h"
#include "common/newrxstrutils.h"
#include "platform/files.h"

namespace tarvo {

namespace {

std::string BaseNameOf(const std::string& fileName) {
  const std::string ext = ExtractFileExt(fileName);
  return fileName.substr(0, fileName.size() - ext.size());
}

}  // namespace

int FontNumberOf(const std::string& fileName) {
  const std::string name = BaseNameOf(fileName);
  int number = -1;
  for (int i = 0; i < kFontFileNameCount; ++i) {
    if (name.find(BaseNameOf(FontFileName(i))) != std::string::npos)
      number = i;
  }
  return number;
}

std::vector<std::string> CommandFileLines(const std::string& scaleIP, int commandNumber,
                                          const std::string& originalFileName, const DateTime& now,
                                          int64_t sequence) {
  std::vector<std::string> lines = {
      "[ServiceCommand]",
      "Owner=MainTarvoService.ServiceExecute",
      "TimeDate=" + FormatDateTime("dd.mm.yyyy hh:nn:ss", now),
      "Scale=" + scaleIP,
      "CommandNo=" + std::to_string(commandNumber),
      "OriginalFileName=" + SingleLineText(originalFileName),
  };
  if (commandNumber == 5) {
    lines.push_back("FontNumber=" + std::to_string(FontNumberOf(originalFileName)));
  }
  const std::string name = CommandName(commandNumber);
  if (!name.empty())
    lines.push_back("Command=" + name);
  // Last, so that the lines before it read as they always have.
  lines.push_back("Sequence=" + std::to_string(sequence));
  return lines;
}

void CreateCommandFile(const std::string& baseName, const std::string& importPath,
                       const std::string& originalFileName, int commandNumber,
                       const std::string& scaleIP, const DateTime& now, int64_t sequence) {
  const std::string source = IncludeTrailingPathDelimiter(importPath) + originalFileName;
  const std::string datName = ChangeFileExt(baseName, ".dat");
  std::string error;
  if (!CopyFileReplace(source, datName, &error, Sync::kDeferred))
    throw std::runtime_error("Cannot copy " + SingleLineText(source) + " to " + datName + ": " +
                             error);
  std::string text;
  for (const std::string& line :
       CommandFileLines(scaleIP, commandNumber, originalFileName, now, sequence)) {
    text += line;
    text += "\r\n";
  }
  const std::string cmdName = ChangeFileExt(baseName, ".cmd");
  if (!WriteFileAtomic(cmdName, text, &error, Sync::kDeferred)) {
    DeleteFile(datName);
    throw std::runtime_error("Cannot write " + cmdName + ": " + error);
  }
}

}  // namespace tarvo
