// What the load and send steps of the commands use of the worker that runs
// them: its driver, its command, the data the steps fill and its log and
// state operations. The worker builds one with MakeStepContext() for each
// step it runs; tests build one around a fake driver.
#ifndef TARVO_QUERY_STEP_CONTEXT_H_
#define TARVO_QUERY_STEP_CONTEXT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "query/plu_data.h"

namespace tarvo {

class TWorkQueryFilesThread;

struct StepContext {
  // The worker's scale driver; null when it could not be created, and every
  // step that needs it then fails with AutomationError.
  AutomationObject* Driver = nullptr;
  std::string DataFileName;  // the command's data file
  int32_t Operation = -1;    // the command number, one of the kCmd* values
  int32_t FontNumber = -1;   // the font command's font number; -1 when missing

  // The worker's data that the steps fill and send; not owned. A step uses
  // only the members of its command.
  std::vector<MPLUData>* PLUList = nullptr;       // PLU commands
  MMessages* MessageList = nullptr;               // PLU commands
  char* FieldSeparator = nullptr;                 // PLU commands
  std::vector<std::string>* ValueList = nullptr;  // settings and hot-key commands
  std::string* FileData = nullptr;                // label command

  std::function<void(const std::string& text, int level)> AddLog;
  std::function<void(int32_t state)> SetScaleState;
  std::function<bool()> Terminated;  // the worker has been asked to end
};

// The context of `thread`'s current command, referring to its members.
StepContext MakeStepContext(TWorkQueryFilesThread& thread);

// The driver of `context`; raises AutomationError when there is none.
AutomationObject& StepDriver(const StepContext& context);

// "<" + the driver's IPAddress + "> " + text, written through AddLog.
void AddScaleLog(const StepContext& context, const std::string& text, int level);

}  // namespace tarvo

#endif  // TARVO_QUERY_STEP_CONTEXT_H_
