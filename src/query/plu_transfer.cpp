#include "query/plu_transfer.h"

#include <array>
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
bool BatchCheck(PLUStepContext& context) {
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
bool SendInBatches(PLUStepContext& context, size_t count, const std::string& open,
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

}  // namespace

void AddPLUToBufferFromList(PLUStepContext& context, size_t index) {
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

void AddMessageFromList(PLUStepContext& context, size_t index) {
  AutomationObject& driver = StepDriver(context);
  const MMessage& message = (*context.MessageList)[index];
  driver.Invoke(kAddMessageToBuffer);
  driver.SetProperty(kMessageCurrentNo, static_cast<int32_t>(index + 1));
  for (int k = 1; k <= MMessage::kLineCount; ++k) {
    const std::string line(message.Line(k));
    driver.SetProperty(MessageLineNames()[k - 1], AnsiToUtf8(line));
    context.AddLog("Prepare message" + std::to_string(k) + ": " + line, 0);
  }
}

bool SendPLUData(TWorkQueryFilesThread& thread) {
  PLUStepContext context = MakePLUStepContext(thread);
  return SendPLUData(context);
}

bool SendPLUData(PLUStepContext& context) {
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
  } catch (...) {
    // The worker reports the failed send and retries it.
    return false;
  }
}

}  // namespace tarvo
