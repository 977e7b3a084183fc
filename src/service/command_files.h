// The command queue: one group of files per command and target scale in the
// query folder, sharing a base name N: N.dat (a byte copy of the import
// file), N.cmd (the command, INI text) and N.lck (a worker's claim).
#ifndef TARVO_SERVICE_COMMAND_FILES_H_
#define TARVO_SERVICE_COMMAND_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/textnames.h"
#include "platform/datetime.h"

namespace tarvo {

// The font number of a font file: the index of the last FontFileName() whose
// name without extension occurs (exact case) in `fileName` without its
// extension; -1 when none does.
int FontNumberOf(const std::string& fileName);

// The lines of N.cmd for a command (each without its line end). The last
// line, "Sequence=" + `sequence`, orders the commands of one scale: workers
// send a scale's commands in ascending Sequence, and a command without the
// key (written by an older version) counts as 0, the oldest.
std::vector<std::string> CommandFileLines(const std::string& scaleIP, int commandNumber,
                                          const std::string& originalFileName, const DateTime& now,
                                          int64_t sequence);

// Queues one command: copies importPath/originalFileName to N.dat, then
// writes N.cmd. Both files appear whole: each is written under a name no
// worker looks at and renamed into place, the .dat before the .cmd. Neither
// is forced to disk here: the caller flushes the query folder's file system
// (FlushFileSystem) before anything relies on them surviving a power loss,
// such as the deletion of the import file. Throws
// std::runtime_error, leaving neither file, when either cannot be written
// (a full disk, a read-only folder): the import file is then still the only
// copy of its data.
void CreateCommandFile(const std::string& baseName, const std::string& importPath,
                       const std::string& originalFileName, int commandNumber,
                       const std::string& scaleIP, const DateTime& now, int64_t sequence);

}  // namespace tarvo

#endif  // TARVO_SERVICE_COMMAND_FILES_H_
