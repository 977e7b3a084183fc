#include "query/step_context.h"

#include "platform/codepage.h"
#include "query/workqueryfilesthread.h"

namespace tarvo {

StepContext MakeStepContext(TWorkQueryFilesThread& thread) {
  StepContext context;
  context.Driver = thread.Driver.get();
  context.DataFileName = thread.DataFileName;
  context.Operation = thread.Operation;
  context.FontNumber = thread.FontNumber;
  context.PLUList = &thread.PLUList;
  context.MessageList = &thread.MessageList;
  context.FieldSeparator = &thread.FieldSeparator;
  context.ValueList = &thread.ValueList;
  context.FileData = &thread.FileData;
  context.AddLog = [&thread](const std::string& text, int level) { thread.AddLog(text, level); };
  context.SetScaleState = [&thread](int32_t state) { thread.SetScaleState(state); };
  context.Terminated = [&thread] { return thread.Terminated(); };
  return context;
}

AutomationObject& StepDriver(const StepContext& context) {
  if (context.Driver == nullptr)
    throw AutomationError("The scale driver is not available.");
  return *context.Driver;
}

void AddScaleLog(const StepContext& context, const std::string& text, int level) {
  static const std::string kIPAddress = "IPAddress";
  const std::string ip = Utf8ToAnsi(StepDriver(context).GetProperty(kIPAddress).AsText());
  context.AddLog("<" + ip + "> " + text, level);
}

}  // namespace tarvo
