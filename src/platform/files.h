// File-system access. Paths are ANSI text (see codepage.h); they are converted
// to and from the system's UTF-8 here (on Windows, to and from its UTF-16
// through the ANSI code page, as the system's ANSI functions do), so a
// Cyrillic name reads right in the log, the command files and the journal.
//
// A name that the system holds in some other form (bytes that are not UTF-8,
// as a Windows share writes Windows-1251, or letters that ANSI lacks) is
// listed as its bytes unchanged (on Windows, by its short 8.3 name), and
// such a name, passed back as the last part of a path, leads to the same
// entry: what ListFolder lists can always be read, copied and deleted by
// its listed name.
//
// An operation that can fail returns false and, when `error` is not null,
// stores the system's reason there ("No such file or directory"). The queries
// FileExists, DirectoryExists, GetFileSize64 and ListFolder have no failure:
// what they cannot find is their answer. No function throws.
#ifndef TARVO_PLATFORM_FILES_H_
#define TARVO_PLATFORM_FILES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// The separator of folders in a path on this system. On Windows the path
// helpers below take "/" as a separator as well, as the system does.
#ifdef _WIN32
constexpr char kPathDelim = '\\';
#else
constexpr char kPathDelim = '/';
#endif

// Path text helpers (pure text; the file system is not consulted).
std::string ExtractFilePath(const std::string& path);  // folder with its trailing delimiter
std::string ExtractFileDir(const std::string& path);   // folder without the trailing delimiter
std::string ExtractFileName(const std::string& path);  // after the last delimiter
std::string ExtractFileExt(const std::string& path);   // from the last "." of the name, "" if none
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// Adds the delimiter unless the path ends with one ("" gives "/").
std::string IncludeTrailingPathDelimiter(const std::string& path);

bool FileExists(const std::string& path);       // exists and is not a folder
bool DirectoryExists(const std::string& path);  // exists and is a folder

// Creates the folder with all missing parents. True when it exists afterwards.
// An empty path is refused (false).
bool ForceDirectories(const std::string& path, std::string* error = nullptr);

bool DeleteFile(const std::string& path, std::string* error = nullptr);
// Renames, replacing an existing target.
bool RenameFile(const std::string& from, const std::string& to, std::string* error = nullptr);

// When a call that replaces a file forces it to disk. Either way the file
// appears whole under its name, since it is written under a temporary name
// and renamed into place; the difference shows only after a power loss.
enum class Sync {
  kNow,       // on disk, name included, when the call returns
  kDeferred,  // on disk after the next FlushFileSystem of its folder; a
              // power loss before that may leave it missing or empty
};

// Copies bytes, replacing an existing target (written to a temporary name
// in the target folder, flushed as `sync` says, then renamed into place).
// The source must be a regular file and is never waited for: a symbolic
// link (as the last part of `source`), a FIFO, a device or a folder is
// refused unread.
bool CopyFileReplace(const std::string& source, const std::string& target,
                     std::string* error = nullptr, Sync sync = Sync::kNow);

bool ReadFileToString(const std::string& path, std::string* contents, std::string* error = nullptr);
// Reads the file from its start in pieces of at most `chunkSize` bytes and
// hands each to `consume`, in order; stops early when `consume` returns
// false. False when the file cannot be opened or read (the pieces handed
// over so far stay handed over). An exception from `consume` passes through;
// the file is closed.
bool ReadFileChunks(const std::string& path, size_t chunkSize,
                    const std::function<bool(std::string_view chunk)>& consume,
                    std::string* error = nullptr);
// Writes a temporary file in the same folder, flushes it to disk as `sync`
// says and renames it over `path`, so readers see the old or the new
// content, never a part.
// The temporary file is named "." + name + "." + 8 hexadecimal digits +
// ".tmp"; it exists only during the call. A replaced file keeps its
// permissions. A read-only file (one without any write permission, or one
// this process may not write) is not replaced, whoever the process runs as:
// false with "The file is read-only". The folder must exist.
bool WriteFileAtomic(const std::string& path, const std::string& contents,
                     std::string* error = nullptr, Sync sync = Sync::kNow);
// Forces everything written on the file system that holds `folder` to disk,
// the files of Sync::kDeferred calls and their names included (the whole
// system's data when that file system cannot be told apart). False, with
// `error` set, only when the system reports that written data could not be
// stored (an I/O error, a full disk): then some of it may be lost.
// On Windows every replaced file is flushed as it is written, whatever
// `sync` says, and this has nothing left to do.
bool FlushFileSystem(const std::string& folder, std::string* error = nullptr);
// The name of the file that a temporary file of WriteFileAtomic or
// CopyFileReplace stands for: "." + name + "." + 8 hexadecimal digits +
// ".tmp" gives name (its first 200 bytes); any other name gives "". A
// process that ends during such a call leaves its temporary file behind.
std::string ReplacedFileOfTemporary(const std::string& name);
// Appends `data` and flushes; creates the file when missing. The data is
// handed to the system at once (nothing stays buffered in the process);
// it is not forced to disk.
bool AppendToFile(const std::string& path, const std::string& data, std::string* error = nullptr);
// A file kept open for appending, for a writer that appends many times (the
// log). Every Append goes to the end of the file as it is then, also when
// another process appended meanwhile; the data is handed to the system at
// once and not forced to disk. Not thread-safe; closed on destruction.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Appends `data` with one write (repeated only for what a short write left).
  virtual bool Append(std::string_view data, std::string* error = nullptr) = 0;
  // True while `path` still names the open file: false once the file was
  // renamed away, deleted, or replaced by another file of that name.
  virtual bool IsAt(const std::string& path) const = 0;
};

// Opens `path` for appending, creating it when missing (the folder must
// exist). Null, with `error` set, when it cannot be opened.
std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error = nullptr);

// Creates an empty file; false when a file of that name already exists.
bool CreateFileExclusive(const std::string& path, std::string* error = nullptr);

// Size in bytes; 0 when missing or a folder.
uint64_t GetFileSize64(const std::string& path);

// What a folder entry is in itself; a symbolic link is not followed.
enum class FileKind {
  kRegular,
  kFolder,
  kOther,  // a symbolic link, FIFO, device or socket
};

struct FileEntry {
  std::string Name;  // name only, ANSI
  FileKind Kind = FileKind::kRegular;
  bool IsFolder = false;       // Kind == FileKind::kFolder
  uint64_t Size = 0;           // of a regular file; 0 for any other kind
  int64_t ModifiedMillis = 0;  // modification time, ms since the epoch
};

// The current time on the scale of FileEntry::ModifiedMillis.
int64_t FileTimeNowMillis();

// The entries of `folder` whose names match `mask` ("*" any run, "?" one
// character, without regard to case; "*.*" matches every name, also one
// without a "."), "." and ".." excluded, in name order without regard to
// case. Empty when the folder cannot be listed or `folder` is "".
std::vector<FileEntry> ListFolder(const std::string& folder, const std::string& mask = "*");

// Creates an empty file named prefix + up to four hexadecimal digits
// (upper case, 1 to FFFF) + ".TMP" in `folder`, exclusively, and stores its
// full path in *path. Fails also when every number is taken.
bool CreateUniqueTempFile(const std::string& folder, const std::string& prefix, std::string* path,
                          std::string* error = nullptr);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_FILES_H_
