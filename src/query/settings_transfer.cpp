#include "query/settings_transfer.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "common/structdefines.h"
#include "platform/automation.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "query/user_barcode.h"
#include "settings/inifile.h"
#include "settings/workservicesettings.h"

namespace tarvo {

namespace {

const char kSettingsSection[] = "ScaleSettings";
const char kVersionKey[] = "Version";
const int32_t kMaxSettingsVersion = 1;
const char kPropertyPrefix[] = "Settings_";

enum class ValueType { kInt, kText };

struct SettingKey {
  const char* name;
  ValueType type;
};

// The keys in the order the driver's settings buffer is filled. The user
// barcode keys are not here: they are packed into one value, written after
// these (see UserBarCodeText) and before the last two keys.
constexpr SettingKey kKeysBeforeBarCode[] = {
    {"PaperType", ValueType::kInt},
    {"LabelType", ValueType::kInt},
    {"BarCodeType", ValueType::kInt},
    {"DateFormat", ValueType::kInt},
    {"YearFormat", ValueType::kInt},
    {"PackageTolerance", ValueType::kInt},
    {"DecimalPosition", ValueType::kInt},
    {"TotalPricePrecision", ValueType::kInt},
    {"Rounding", ValueType::kInt},
    {"Message", ValueType::kInt},
    {"18BarCode", ValueType::kInt},
    {"AccountType", ValueType::kInt},
    {"PrintBackground", ValueType::kInt},
    {"PrintWeightUnitOfUnitPrice", ValueType::kInt},
    {"PrintTime", ValueType::kInt},
    {"PrintDiscountMark", ValueType::kInt},
    {"PrintWeightUnitOfWeight", ValueType::kInt},
    {"UseOriginalPriceOnBarcode", ValueType::kInt},
    {"UpdateTimeFromPCOnConnect", ValueType::kInt},
    {"AntiWind", ValueType::kInt},
    {"TotalPriceDiscount", ValueType::kInt},
    {"RebateTo23Dep", ValueType::kInt},
    {"NoGapLabel", ValueType::kInt},
    {"UseExtShelfTime", ValueType::kInt},
    {"AllowPrintZeroWeight", ValueType::kInt},
    {"PrintDirection", ValueType::kInt},
    {"DisplayBrightness", ValueType::kInt},
    {"LockSystemFunction", ValueType::kInt},
    {"LockAccountFunction", ValueType::kInt},
    {"LockPLUFunction", ValueType::kInt},
    {"LockDiscountFunction", ValueType::kInt},
    {"LockPriceFunction", ValueType::kInt},
    {"LockTareFunction", ValueType::kInt},
    {"OnlyPLUKey", ValueType::kInt},
    {"SystemPassword", ValueType::kText},
    {"AccountPassword", ValueType::kText},
    {"PLUPassword", ValueType::kText},
    {"DiscountPassword", ValueType::kText},
    {"PricePassword", ValueType::kText},
    {"TarePassword", ValueType::kText},
    {"En_50g", ValueType::kInt},
    {"En_g", ValueType::kInt},
    {"En_10g", ValueType::kInt},
    {"En_100g", ValueType::kInt},
    {"En_Kg", ValueType::kInt},
    {"En_Oz", ValueType::kInt},
    {"En_Lb", ValueType::kInt},
    {"En_500g", ValueType::kInt},
    {"En_600g", ValueType::kInt},
    {"En_PCS_g", ValueType::kInt},
    {"En_PCS_Kg", ValueType::kInt},
    {"En_PCS_Oz", ValueType::kInt},
    {"En_PCS_Lb", ValueType::kInt},
};

constexpr SettingKey kKeysAfterBarCode[] = {
    {"AlignPLUName", ValueType::kInt},
    {"PrintTestLabel", ValueType::kInt},
};

const char kUserBarCodeProperty[] = "Settings_UserBarCode";

// The first line named `key` (case ignored); null when the list has no such
// line. Only key=value lines count.
const std::string* FindValueLine(const std::vector<std::string>& list, const std::string& key) {
  for (const std::string& line : list) {
    if (line.find('=') != std::string::npos && SameTextAnsi(IniLineKey(line), key))
      return &line;
  }
  return nullptr;
}

// The key=value lines of the section list; a line without "=" names no
// setting.
std::vector<std::string> KeyValueLines(const std::vector<std::string>& list) {
  std::vector<std::string> lines;
  for (const std::string& line : list) {
    if (line.find('=') != std::string::npos)
      lines.push_back(line);
  }
  return lines;
}

// Reads the driver's current value of one setting and writes back the
// file's value for it, or the current value when the file does not name it.
// `values` is a working copy of the section list: the list form of
// ReadSettingValue appends what it does not find, and the worker's own list
// must keep only the file's lines, so that a retried send reads the scale's
// current values again.
void TransferSetting(AutomationObject& driver, std::vector<std::string>& values,
                     const SettingKey& key) {
  const std::string property = std::string(kPropertyPrefix) + key.name;
  const Variant current = driver.GetProperty(property);
  if (key.type == ValueType::kInt) {
    const int32_t value = ReadSettingValue(values, key.name, current.AsInt());
    driver.SetProperty(property, Variant(value));
    return;
  }
  // Text keys: the file's text is ANSI, the driver speaks UTF-8; a value
  // the file does not name goes back to the driver as it came.
  const std::string* line = FindValueLine(values, key.name);
  if (line != nullptr) {
    driver.SetProperty(property, Variant(AnsiToUtf8(IniLineValue(*line))));
  } else {
    driver.SetProperty(property, Variant(current.AsText()));
  }
}

// The end of a load whose file cannot be read: state 3, then the message.
bool Unreadable(const StepContext& context, const std::string& message) {
  context.SetScaleState(kStateUnreadable);
  context.AddLog(message, 5);
  return false;
}

}  // namespace

bool LoadScaleSettingsFile(const StepContext& context) {
  try {
    IniFile ini;
    if (!ini.LoadFromFile(context.DataFileName))
      return Unreadable(context, "Cannot open file \"" + context.DataFileName + "\".");
    *context.ValueList = ini.ReadSectionLines(kSettingsSection);

    const std::string* version = FindValueLine(*context.ValueList, kVersionKey);
    int32_t number = 0;
    if (version == nullptr || !TryParseSettingInt(IniLineValue(*version), &number) ||
        number > kMaxSettingsVersion) {
      context.AddLog("Wrong settings version.", 5);
      context.SetScaleState(kStateBadData);
      return false;
    }
    context.AddLog("File " + ExtractFileName(context.DataFileName) + " loaded.", 1);
    context.SetScaleState(kStateSuccess);
    return true;
  } catch (const std::exception& e) {
    return Unreadable(context, e.what());
  }
}

bool SendScaleSettings(const StepContext& context) {
  try {
    AutomationObject& driver = StepDriver(context);
    std::vector<std::string> values = KeyValueLines(*context.ValueList);

    driver.Invoke("InitBufferSettings");
    for (const SettingKey& key : kKeysBeforeBarCode)
      TransferSetting(driver, values, key);
    driver.SetProperty(kUserBarCodeProperty, Variant(UserBarCodeText(values)));
    for (const SettingKey& key : kKeysAfterBarCode)
      TransferSetting(driver, values, key);
    driver.Invoke("SetSettings");

    const Variant last_error = driver.GetProperty("LastError");
    if (!VariantEqualsInt(last_error, 0)) {
      const std::string message = Utf8ToAnsi(driver.GetProperty("LastErrorMessage").AsText());
      context.AddLog("CommError <" + std::to_string(last_error.AsInt()) + "> - " + message, 5);
      context.SetScaleState(kStateDriverError);
      return false;
    }
    context.AddLog("File " + ExtractFileName(context.DataFileName) + " sended.", 1);
    context.SetScaleState(kStateSuccess);
    return true;
  } catch (const std::exception& e) {
    context.SetScaleState(kStateSendFailed);
    context.AddLog(e.what(), 5);
    return false;
  }
}

}  // namespace tarvo
