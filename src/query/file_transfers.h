// The label (3), hot-key (4), font (5) and logo (6) commands: load and send
// steps. Each takes the step context of the command and returns true or
// false.
#ifndef TARVO_QUERY_FILE_TRANSFERS_H_
#define TARVO_QUERY_FILE_TRANSFERS_H_

#include "query/step_context.h"

namespace tarvo {

bool LoadLabelFile(const StepContext& context);
bool SendLabelFile(const StepContext& context);
bool LoadHotKeysFile(const StepContext& context);
bool SendHotKeys(const StepContext& context);
bool LoadFontFile(const StepContext& context);
bool SendFontFile(const StepContext& context);
bool LoadLogoFile(const StepContext& context);
bool SendLogoFile(const StepContext& context);

}  // namespace tarvo

#endif  // TARVO_QUERY_FILE_TRANSFERS_H_
