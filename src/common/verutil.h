// Version of an executable file.
#ifndef TARVO_COMMON_VERUTIL_H_
#define TARVO_COMMON_VERUTIL_H_

#include <string>

namespace tarvo {

// The file version as four decimal numbers joined by "." ("1.0.3.27").
// An empty path, or the running program's own path, gives the program's
// version. Files on this platform carry no version resource, so any other
// path gives "". Never raises.
std::string GetFileVersion(const std::string& path);

}  // namespace tarvo

#endif  // TARVO_COMMON_VERUTIL_H_
