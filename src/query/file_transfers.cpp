#include "query/file_transfers.h"

#include <exception>
#include <string>

#include "common/number_text.h"
#include "common/structdefines.h"
#include "driver/scaleworkthread.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "scaledriver/driver_interface.h"
#include "settings/inifile.h"

namespace tarvo {

namespace {

// A label file is 1 to this many bytes long.
constexpr uint64_t kMaxLabelBytes = 200000;
constexpr int32_t kMaxHotKeysVersion = 1;

// The outcome of a failed step: the state, then the message alone.
// Recording the state may fail as well (a broken driver); the step still
// ends with false.
bool Failed(const StepContext& context, int32_t state, const std::string& message) {
  try {
    context.SetScaleState(state);
  } catch (const std::exception&) {
  }
  context.AddLog(message, 5);
  return false;
}

std::string DataName(const StepContext& context) {
  return ExtractFileName(context.DataFileName);
}

bool Loaded(const StepContext& context) {
  context.AddLog("File " + DataName(context) + " loaded.", 1);
  context.SetScaleState(kStateSuccess);
  return true;
}

// The common end of every send step: LastError decides.
bool CheckSent(const StepContext& context) {
  AutomationObject& driver = StepDriver(context);
  const Variant error = driver.GetProperty("LastError");
  if (!VariantEqualsInt(error, 0)) {
    context.AddLog("CommError <" + std::to_string(error.AsInt()) + "> - " +
                       Utf8ToAnsi(driver.GetProperty("LastErrorMessage").AsText()),
                   5);
    context.SetScaleState(kStateDriverError);
    return false;
  }
  context.AddLog("File " + DataName(context) + " sended.", 1);
  context.SetScaleState(kStateSuccess);
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

// A font or logo file without a byte would wipe what the scale holds; it is
// refused as an empty label is.
bool RefusedWhenEmpty(const StepContext& context) {
  if (GetFileSize64(context.DataFileName) > 0)
    return false;
  context.AddLog("Wrong size bin file.", 5);
  context.SetScaleState(kStateBadData);
  return true;
}

std::string CannotOpen(const std::string& path, const std::string& reason) {
  return "Cannot open file \"" + path + "\". " + reason;
}

}  // namespace

bool LoadLabelFile(const StepContext& context) {
  try {
    const std::string& path = context.DataFileName;
    context.FileData->clear();
    // A file far too big is refused without reading it into memory.
    const bool tooBig = FileExists(path) && GetFileSize64(path) > kMaxLabelBytes;
    std::string error;
    if (!tooBig && !ReadFileToString(path, context.FileData, &error))
      return Failed(context, kStateUnreadable, CannotOpen(path, error));
    if (tooBig || context.FileData->empty() || context.FileData->size() > kMaxLabelBytes) {
      context.AddLog("Wrong size bin file.", 5);
      context.SetScaleState(kStateBadData);
      return false;
    }
    return Loaded(context);
  } catch (const std::exception& e) {
    return Failed(context, kStateUnreadable, e.what());
  }
}

bool SendLabelFile(const StepContext& context) {
  try {
    StepDriver(context).Invoke("SetLabelFile", {AnsiToUtf8(context.DataFileName)});
    return CheckSent(context);
  } catch (const std::exception& e) {
    return Failed(context, kStateSendFailed, e.what());
  }
}

bool LoadHotKeysFile(const StepContext& context) {
  try {
    IniFile file;
    std::string error;
    if (!file.LoadFromFile(context.DataFileName, &error))
      return Failed(context, kStateUnreadable, CannotOpen(context.DataFileName, error));
    *context.ValueList = file.ReadSectionLines("HotKeys");
    std::string text;
    int32_t version = 0;
    if (!FindValue(*context.ValueList, "Version", &text) || !TryParseSettingInt(text, &version) ||
        version > kMaxHotKeysVersion) {
      context.SetScaleState(kStateBadData);
      context.AddLog("Wrong hotkeys version.", 5);
      return false;
    }
    return Loaded(context);
  } catch (const std::exception& e) {
    return Failed(context, kStateUnreadable, e.what());
  }
}

bool SendHotKeys(const StepContext& context) {
  try {
    AutomationObject& driver = StepDriver(context);
    driver.Invoke("InitBufferHotKey", {});
    for (int32_t key = 1; key <= kHotKeyCount; ++key) {
      std::string text;
      int32_t value = 0;
      if (!FindValue(*context.ValueList, "Key" + std::to_string(key), &text) ||
          !TryParseSettingInt(text, &value)) {
        value = 0;
      }
      driver.Invoke("SetHotKeyValue", {key, value});
    }
    driver.Invoke("SetHotKeys", {});
    return CheckSent(context);
  } catch (const std::exception& e) {
    return Failed(context, kStateSendFailed, e.what());
  }
}

bool LoadFontFile(const StepContext& context) {
  if (context.FontNumber < 0 || RefusedWhenEmpty(context))
    return false;
  return Loaded(context);
}

bool SendFontFile(const StepContext& context) {
  try {
    StepDriver(context).Invoke("SetFontFile",
                               {AnsiToUtf8(context.DataFileName), context.FontNumber});
    return CheckSent(context);
  } catch (const std::exception& e) {
    return Failed(context, kStateSendFailed, e.what());
  }
}

bool LoadLogoFile(const StepContext& context) {
  if (RefusedWhenEmpty(context))
    return false;
  return Loaded(context);
}

bool SendLogoFile(const StepContext& context) {
  try {
    StepDriver(context).Invoke("SetLogoFile", {AnsiToUtf8(context.DataFileName)});
    return CheckSent(context);
  } catch (const std::exception& e) {
    return Failed(context, kStateSendFailed, e.what());
  }
}

}  // namespace tarvo
