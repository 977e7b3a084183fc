// What the load and send steps of the PLU commands use of the worker that
// runs them: its driver, its command, its PLU data and its log and state
// operations. The worker builds one with MakePLUStepContext(); tests build
// one around a fake driver.
#ifndef TARVO_QUERY_PLU_STEP_H_
#define TARVO_QUERY_PLU_STEP_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "query/plu_data.h"

namespace tarvo {

class TWorkQueryFilesThread;

struct PLUStepContext {
  // The worker's scale driver; null when it could not be created, and every
  // step that needs it then fails with AutomationError.
  AutomationObject* Driver = nullptr;
  std::string DataFileName;  // the command's data file
  int32_t Operation = -1;    // the command number (1 full load, 2 update)

  // The worker's PLU data; not owned.
  std::vector<MPLUData>* PLUList = nullptr;
  MMessages* MessageList = nullptr;
  char* FieldSeparator = nullptr;

  std::function<void(const std::string& text, int level)> AddLog;
  std::function<void(int32_t state)> SetScaleState;
  std::function<bool()> Terminated;  // the worker has been asked to end
};

// The context of `thread`, referring to its members.
PLUStepContext MakePLUStepContext(TWorkQueryFilesThread& thread);

// The driver of `context`; raises AutomationError when there is none.
AutomationObject& StepDriver(const PLUStepContext& context);

// "<" + the driver's IPAddress + "> " + text, written through AddLog.
void AddScaleLog(const PLUStepContext& context, const std::string& text, int level);

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_STEP_H_
