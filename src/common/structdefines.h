// Records and codes shared across the service.
#ifndef TARVO_COMMON_STRUCTDEFINES_H_
#define TARVO_COMMON_STRUCTDEFINES_H_

#include <cstdint>
#include <string>

#include "platform/datetime.h"

namespace tarvo {

// Command numbers, the same in command files and in workers.
enum CommandNo : int32_t {
  kCmdSetSettings = 0,
  kCmdSetPLU = 1,
  kCmdUpdatePLU = 2,
  kCmdSetLabel = 3,
  kCmdSetKeys = 4,
  kCmdSetFont = 5,
  kCmdSetLogo = 6,
};

// Scale state codes.
enum ScaleStateCode : int32_t {
  kStateNone = -1,        // no result yet; work started
  kStateSuccess = 0,      // the last load or send step succeeded
  kStateDriverError = 2,  // the driver reported an error during a send
  kStateUnreadable = 3,   // the data file was unreadable
  kStateBadData = 4,      // the data file's content is wrong
  kStateSendFailed = 5,   // exception during a send
  kStatePLULoaded = 6,    // the PLU data of a PLU command has been loaded
};

// One configured scale and the outcome of its last operation.
struct MScaleState {
  std::string IP;          // address as listed; the key
  int32_t State = -1;      // ScaleStateCode
  int32_t Operation = -1;  // CommandNo of the last operation, -1 none
  DateTime StateTime;      // local time of the last change
};

// Where one PLU field stands in an import line. Index as PLUFieldName().
struct MFieldConfig {
  std::string DefVal;   // value used when the line gives none
  int32_t Pos = 0;      // 1-based column in a delimited line; 0 = absent
  int32_t PosHome = 0;  // first character in a fixed-width line; 0 = absent
  int32_t PosEnd = 0;   // last character in a fixed-width line; 0 = absent
};

}  // namespace tarvo

#endif  // TARVO_COMMON_STRUCTDEFINES_H_
