#include "query/file_transfers.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "common/number_text.h"
#include "common/structdefines.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "scaledriver/driver_interface.h"
#include "settings/inifile.h"

namespace tarvo {

namespace {

// A label file is 1 to this many bytes long.
constexpr uint64_t kMaxLabelBytes = 200000;
constexpr int32_t kMaxHotKeysVersion = 1;

// The outcome of a step that failed by an exception: the state, then the
// message alone. Recording the state may fail as well (a broken driver);
// the step still ends with false.
bool FailedByException(TWorkQueryFilesThread& thread, int32_t state, std::exception_ptr error) {
  try {
    thread.SetScaleState(state);
  } catch (...) {
  }
  thread.AddLog(ExceptionText(error), 5);
  return false;
}

std::string DataName(const TWorkQueryFilesThread& thread) {
  return ExtractFileName(thread.DataFileName);
}

bool Loaded(TWorkQueryFilesThread& thread) {
  thread.AddLog("File " + DataName(thread) + " loaded.", 1);
  thread.SetScaleState(kStateSuccess);
  return true;
}

// The common end of every send step: LastError decides.
bool CheckSent(TWorkQueryFilesThread& thread) {
  const Variant error = thread.Driver->GetProperty("LastError");
  if (!VariantEqualsInt(error, 0)) {
    thread.AddLog("CommError <" + std::to_string(error.AsInt()) + "> - " +
                      Utf8ToAnsi(thread.Driver->GetProperty("LastErrorMessage").AsText()),
                  5);
    thread.SetScaleState(kStateDriverError);
    return false;
  }
  thread.AddLog("File " + DataName(thread) + " sended.", 1);
  thread.SetScaleState(kStateSuccess);
  return true;
}

// The value of the first "key=value" line whose key matches without case.
bool FindValue(const std::vector<std::string>& lines, const std::string& key, std::string* value) {
  for (const std::string& line : lines) {
    if (SameTextAnsi(IniLineKey(line), key)) {
      *value = IniLineValue(line);
      return true;
    }
  }
  return false;
}

std::string CannotOpen(const std::string& path) {
  return "Cannot open file \"" + path + "\". " + LastSystemErrorMessage();
}

}  // namespace

bool LoadLabelFile(TWorkQueryFilesThread& thread) {
  try {
    const std::string& path = thread.DataFileName;
    thread.FileData.clear();
    // A file far too big is refused without reading it into memory.
    const bool tooBig = FileExists(path) && GetFileSize64(path) > kMaxLabelBytes;
    if (!tooBig && !ReadFileToString(path, &thread.FileData))
      throw std::runtime_error(CannotOpen(path));
    if (tooBig || thread.FileData.empty() || thread.FileData.size() > kMaxLabelBytes) {
      thread.AddLog("Wrong size bin file.", 5);
      thread.SetScaleState(kStateBadData);
      return false;
    }
    return Loaded(thread);
  } catch (...) {
    return FailedByException(thread, kStateUnreadable, std::current_exception());
  }
}

bool SendLabelFile(TWorkQueryFilesThread& thread) {
  try {
    thread.Driver->Invoke("SetLabelFile", {AnsiToUtf8(thread.DataFileName)});
    return CheckSent(thread);
  } catch (...) {
    return FailedByException(thread, kStateSendFailed, std::current_exception());
  }
}

bool LoadHotKeysFile(TWorkQueryFilesThread& thread) {
  try {
    IniFile file;
    if (!file.LoadFromFile(thread.DataFileName))
      throw std::runtime_error(CannotOpen(thread.DataFileName));
    thread.ValueList = file.ReadSectionLines("HotKeys");
    std::string text;
    int32_t version = 0;
    if (!FindValue(thread.ValueList, "Version", &text) || !TryParseSettingInt(text, &version) ||
        version > kMaxHotKeysVersion) {
      thread.SetScaleState(kStateBadData);
      thread.AddLog("Wrong hotkeys version.", 5);
      return false;
    }
    return Loaded(thread);
  } catch (...) {
    return FailedByException(thread, kStateUnreadable, std::current_exception());
  }
}

bool SendHotKeys(TWorkQueryFilesThread& thread) {
  try {
    AutomationObject& driver = *thread.Driver;
    driver.Invoke("InitBufferHotKey", {});
    for (int32_t key = 1; key <= kHotKeyCount; ++key) {
      std::string text;
      int32_t value = 0;
      if (!FindValue(thread.ValueList, "Key" + std::to_string(key), &text) ||
          !TryParseSettingInt(text, &value)) {
        value = 0;
      }
      driver.Invoke("SetHotKeyValue", {key, value});
    }
    driver.Invoke("SetHotKeys", {});
    return CheckSent(thread);
  } catch (...) {
    return FailedByException(thread, kStateSendFailed, std::current_exception());
  }
}

bool LoadFontFile(TWorkQueryFilesThread& thread) {
  if (thread.FontNumber < 0)
    return false;
  return Loaded(thread);
}

bool SendFontFile(TWorkQueryFilesThread& thread) {
  try {
    thread.Driver->Invoke("SetFontFile", {AnsiToUtf8(thread.DataFileName), thread.FontNumber});
    return CheckSent(thread);
  } catch (...) {
    return FailedByException(thread, kStateSendFailed, std::current_exception());
  }
}

bool LoadLogoFile(TWorkQueryFilesThread& thread) {
  return Loaded(thread);
}

bool SendLogoFile(TWorkQueryFilesThread& thread) {
  try {
    thread.Driver->Invoke("SetLogoFile", {AnsiToUtf8(thread.DataFileName)});
    return CheckSent(thread);
  } catch (...) {
    return FailedByException(thread, kStateSendFailed, std::current_exception());
  }
}

}  // namespace tarvo
