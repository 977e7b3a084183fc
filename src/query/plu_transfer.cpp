#include "query/plu_transfer.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string>

#include "common/number_text.h"
#include "common/structdefines.h"
#include "platform/codepage.h"

namespace tarvo {

namespace {

const std::string kClearAllPLUAndMessages = "ClearAllPLUAndMessages";
const std::string kInitBufferPLU = "InitBufferPLU";
const std::string kAddPLUToBuffer = "AddPLUToBuffer";
const std::string kSetAllPLU = "SetAllPLU";
const std::string kInitBufferMessages = "InitBufferMessages";
const std::string kAddMessageToBuffer = "AddMessageToBuffer";
const std::string kUpdateAllMessages = "UpdateAllMessages";
const std::string kMessageCurrentNo = "Message_CurrentNo";
const std::string kLastError = "LastError";
const std::string kLastErrorMessage = "LastErrorMessage";
const std::string kIPAddress = "IPAddress";
const std::string kPLURecordFits = "PLU_RecordFits";
const std::string kMessageRecordFits = "Message_RecordFits";

const std::array<std::string, MMessage::kLineCount>& MessageLineNames() {
  static const std::array<std::string, MMessage::kLineCount> names = [] {
    std::array<std::string, MMessage::kLineCount> list;
    for (int k = 1; k <= MMessage::kLineCount; ++k)
      list[k - 1] = "Message_Line" + std::to_string(k);
    return list;
  }();
  return names;
}

// Logs the driver's error state; true when the send may go on. Sets scale
// state 2 on a driver error.
bool BatchCheck(const StepContext& context) {
  AutomationObject& driver = StepDriver(context);
  const Variant error = driver.GetProperty(kLastError);
  const std::string message = Utf8ToAnsi(driver.GetProperty(kLastErrorMessage).AsText());
  const std::string ip = Utf8ToAnsi(driver.GetProperty(kIPAddress).AsText());
  context.AddLog(
      "<" + ip + "> Error state: <" + Utf8ToAnsi(error.AsText()) + ">. Text: " + message + ".", 1);
  if (context.Terminated())
    return false;
  if (!VariantEqualsInt(error, 0)) {
    context.SetScaleState(kStateDriverError);
    return false;
  }
  return true;
}

// Sends `count` records in batches: open, add each record, close, log the
// batch as `what` ("PLUs", "Messages"), check.
template <typename AddRecord>
bool SendInBatches(const StepContext& context, size_t count, const std::string& open,
                   const std::string& close, const std::string& what, AddRecord add) {
  AutomationObject& driver = StepDriver(context);
  const size_t full = count / kPLUBatchSize;
  const size_t rest = count % kPLUBatchSize;
  for (size_t b = 0; b < full; ++b) {
    driver.Invoke(open);
    for (size_t i = b * kPLUBatchSize; i < (b + 1) * kPLUBatchSize; ++i)
      add(i);
    driver.Invoke(close);
    AddScaleLog(context,
                "Send " + what + " (" + std::to_string(b) + "/" + std::to_string(full) + ").", 1);
    if (!BatchCheck(context))
      return false;
  }
  if (rest > 0) {
    driver.Invoke(open);
    for (size_t i = count - rest; i < count; ++i)
      add(i);
    driver.Invoke(close);
    AddScaleLog(context, "Send " + what + " (%" + std::to_string(rest) + ").", 1);
    if (!BatchCheck(context))
      return false;
  }
  return true;
}

// AddMessageToBuffer, Message_CurrentNo and the 16 lines of MessageList
// entry `index`; with `log`, each line is logged at level 0 as it is put.
void PutMessage(const StepContext& context, size_t index, bool log) {
  AutomationObject& driver = StepDriver(context);
  const MMessage& message = (*context.MessageList)[index];
  driver.Invoke(kAddMessageToBuffer);
  driver.SetProperty(kMessageCurrentNo, static_cast<int32_t>(index + 1));
  for (int k = 1; k <= MMessage::kLineCount; ++k) {
    const std::string line(message.Line(k));
    driver.SetProperty(MessageLineNames()[k - 1], AnsiToUtf8(line));
    if (log)
      context.AddLog("Prepare message" + std::to_string(k) + ": " + line, 0);
  }
}

// Puts each of `count` records alone into the driver's buffer (`open`
// empties it) and reads the driver's answer `fits`; logs every record that
// the driver refuses as `name(i)`, and leaves the buffer empty. Returns the
// number refused; 0 when the driver has no member `fits`.
template <typename Put, typename Name>
size_t CountRefused(const StepContext& context, size_t count, const std::string& open,
                    const std::string& fits, Put put, Name name) {
  AutomationObject& driver = StepDriver(context);
  if (count == 0)
    return 0;
  int32_t id = 0;
  try {
    id = driver.GetIdOfName(fits);
  } catch (const AutomationError&) {
    return 0;  // a driver that cannot tell
  }
  size_t refused = 0;
  for (size_t i = 0; i < count; ++i) {
    driver.Invoke(open);
    put(i);
    const Variant answer = driver.GetPropertyById(id);
    if (answer.type() == Variant::Type::kBool && !answer.AsBool()) {
      ++refused;
      AddScaleLog(context, name(i) + " is too large to send to the scale.", 5);
    }
  }
  driver.Invoke(open);
  return refused;
}

}  // namespace

bool CheckPLUData(const StepContext& context) {
  const std::vector<MPLUData>& plus = *context.PLUList;
  size_t refused = CountRefused(
      context, plus.size(), kInitBufferPLU, kPLURecordFits,
      [&context](size_t i) { AddPLUToBufferFromList(context, i); },
      [&plus](size_t i) { return "PLU " + std::to_string(plus[i].Number); });
  refused += CountRefused(
      context, context.MessageList->size(), kInitBufferMessages, kMessageRecordFits,
      [&context](size_t i) { PutMessage(context, i, false); },
      [&plus](size_t i) {
        // Named with the first PLU that shows it, the one an operator looks for.
        std::string name = "Message " + std::to_string(i + 1);
        const auto it = std::find_if(plus.begin(), plus.end(), [i](const MPLUData& plu) {
          return plu.Message == static_cast<int32_t>(i);
        });
        if (it != plus.end())
          name += " of PLU " + std::to_string(it->Number);
        return name;
      });
  if (refused == 0)
    return true;
  AddScaleLog(context,
              "Data refused: " + std::to_string(refused) +
                  " record(s) too large for the scale. Nothing was sent.",
              5);
  context.SetScaleState(kStateBadData);
  return false;
}

void AddPLUToBufferFromList(const StepContext& context, size_t index) {
  AutomationObject& driver = StepDriver(context);
  const MPLUData& plu = (*context.PLUList)[index];
  driver.Invoke(kAddPLUToBuffer);
  driver.SetProperty("PLU_Number", plu.Number);
  driver.SetProperty("PLU_Name", AnsiToUtf8(plu.Name.str()));
  driver.SetProperty("PLU_AddCode", plu.AddCode);
  driver.SetProperty("PLU_BarCodeType", plu.BarCodeType);
  driver.SetProperty("PLU_Price", plu.Price);
  driver.SetProperty("PLU_WeightUnit", plu.WeightUnit);
  driver.SetProperty("PLU_Dep", plu.Dep);
  driver.SetProperty("PLU_Tare", plu.Tare);
  driver.SetProperty("PLU_ShlefTime", plu.ShlefTime);
  driver.SetProperty("PLU_Label", plu.Label);
  driver.SetProperty("PLU_Rebate", plu.Rebate);
  // Message numbers on the scale count from 1; the sum wraps as a 32-bit
  // integer does.
  driver.SetProperty("PLU_Message", static_cast<int32_t>(static_cast<uint32_t>(plu.Message) + 1u));
  driver.SetProperty("PLU_PackageType", plu.PackageType);
  driver.SetProperty("PLU_PackageWeight", plu.PackageWeight);
  driver.SetProperty("PLU_Tolerance", plu.Tolerance);
  if (!plu.ProductionDate.IsZero())
    driver.SetProperty("PLU_ProductionDate", plu.ProductionDate);
  driver.SetProperty("PLU_IcePercent", plu.IcePercent);
}

void AddMessageFromList(const StepContext& context, size_t index) {
  PutMessage(context, index, true);
}

bool SendPLUData(const StepContext& context) {
  try {
    AutomationObject& driver = StepDriver(context);
    if (context.Operation == kCmdSetPLU) {
      AddScaleLog(context, "Clear data in scale.", 1);
      driver.Invoke(kClearAllPLUAndMessages);
      if (!BatchCheck(context))
        return false;
    }
    if (!SendInBatches(context, context.PLUList->size(), kInitBufferPLU, kSetAllPLU, "PLUs",
                       [&context](size_t i) { AddPLUToBufferFromList(context, i); })) {
      return false;
    }
    if (!SendInBatches(context, context.MessageList->size(), kInitBufferMessages,
                       kUpdateAllMessages, "Messages",
                       [&context](size_t i) { AddMessageFromList(context, i); })) {
      return false;
    }
    context.SetScaleState(kStateSuccess);
    return true;
  } catch (const std::exception&) {
    // The worker reports the failed send and retries it.
    return false;
  }
}

}  // namespace tarvo
