// The scale settings command (0): load step and send step.
//
// The data file is an INI file whose section "ScaleSettings" names the
// settings to change; a setting it does not name keeps the value the driver
// reports for it. Both steps record their outcome with SetScaleState and log
// through AddLog; neither lets a failure of the file or the driver escape
// (only a failure of the state record itself does).
#ifndef TARVO_QUERY_SETTINGS_TRANSFER_H_
#define TARVO_QUERY_SETTINGS_TRANSFER_H_

#include "query/step_context.h"

namespace tarvo {

// Reads section "ScaleSettings" of DataFileName into ValueList; true when the
// file passed the version check (key "Version", an integer of at most 1):
// state 0. A wrong or missing version gives state 4, a file that cannot be
// read state 3.
bool LoadScaleSettingsFile(const StepContext& context);
// Fills the driver's settings buffer from ValueList (ValueList itself is left
// as loaded, so a retry reads the driver's current values again) and sends
// it. True when the driver accepted the settings (state 0); a driver error
// gives state 2, an exception (such as a value that is not a number for a
// number setting) state 5 without sending.
bool SendScaleSettings(const StepContext& context);

}  // namespace tarvo

#endif  // TARVO_QUERY_SETTINGS_TRANSFER_H_
