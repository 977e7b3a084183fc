// The label (3), hot-key (4), font (5) and logo (6) commands: load and send
// steps. Each takes the worker and returns true or false.
#ifndef TARVO_QUERY_FILE_TRANSFERS_H_
#define TARVO_QUERY_FILE_TRANSFERS_H_

#include "query/workqueryfilesthread.h"

namespace tarvo {

bool LoadLabelFile(TWorkQueryFilesThread& thread);
bool SendLabelFile(TWorkQueryFilesThread& thread);
bool LoadHotKeysFile(TWorkQueryFilesThread& thread);
bool SendHotKeys(TWorkQueryFilesThread& thread);
bool LoadFontFile(TWorkQueryFilesThread& thread);
bool SendFontFile(TWorkQueryFilesThread& thread);
bool LoadLogoFile(TWorkQueryFilesThread& thread);
bool SendLogoFile(TWorkQueryFilesThread& thread);

}  // namespace tarvo

#endif  // TARVO_QUERY_FILE_TRANSFERS_H_
