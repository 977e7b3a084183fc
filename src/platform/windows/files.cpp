// Files and folders through the system's UTF-16 functions; ANSI paths are
// converted with the system's ANSI code page, as the system's own ANSI
// functions would. A listed name that the ANSI page cannot spell is listed
// by its short (8.3) name, which leads to the same entry.
#include "platform/files.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/codepage.h"
#include "platform/file_mask.h"
#include "platform/system_error.h"
#include "platform/windows/win32.h"

namespace tarvo {

namespace {

using internal::Fail;
using internal::FailWithLastError;

std::wstring Wide(const std::string& path) {
  return internal::WideFromAnsi(path);
}

bool IsDelim(char c) {
  return c == '\\' || c == '/';
}

// The last folder delimiter or drive colon; npos when none.
size_t LastDelim(const std::string& path) {
  return path.find_last_of("\\/:");
}

bool FailWithCode(std::string* error, DWORD code) {
  ::SetLastError(code);
  return FailWithLastError(error);
}

// Keeps the last error across clean-up calls, so that a failure is reported
// with its own reason rather than the clean-up's.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(saved_); }

 private:
  DWORD saved_;
};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) {
      LastErrorKeeper keep;
      ::CloseHandle(h_);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  // Closes now, reporting failure.
  bool Close() {
    const bool ok = ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

// Readers let others read, write, rename and delete the file meanwhile, as
// a POSIX reader would.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenForReading(const std::string& path) {
  return ::CreateFileW(Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(h, data, piece, &written, nullptr))
      return false;
    data += written;
    size -= written;
  }
  return true;
}

uint32_t RandomNumber() {
  std::random_device device;
  return device();
}

// The temporary file's name after the target's name: "." + 8 hexadecimal
// digits + ".tmp".
constexpr size_t kTempTailSize = 1 + 8 + 4;

// Creates a new temporary file beside `target`, named after it, with an
// extension that no scan of the service picks up.
HANDLE CreateSiblingTemp(const std::string& target, std::string* temp) {
  const size_t delim = LastDelim(target);
  const std::string folder = delim == std::string::npos ? "" : target.substr(0, delim + 1);
  const std::string name =
      (delim == std::string::npos ? target : target.substr(delim + 1)).substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), ".%08X.tmp", static_cast<unsigned>(RandomNumber()));
    *temp = folder + "." + name + suffix;
    HANDLE h = ::CreateFileW(Wide(*temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS)
      return h;
  }
  return INVALID_HANDLE_VALUE;
}

// Fills a new temporary file beside `target` through `write`, flushes it to
// disk and moves it over the target in one step.
template <typename Writer>
bool ReplaceWith(const std::string& target, Writer write) {
  std::string temp;
  Handle out(CreateSiblingTemp(target, &temp));
  if (!out.valid())
    return false;
  bool ok = write(out.get()) && ::FlushFileBuffers(out.get()) != 0;
  ok = out.Close() && ok;
  if (ok) {
    ok = ::MoveFileExW(Wide(temp).c_str(), Wide(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!ok) {
    LastErrorKeeper keep;
    ::DeleteFileW(Wide(temp).c_str());
  }
  return ok;
}

bool ReadHandle(HANDLE h, std::string* contents) {
  std::string data;
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buf, sizeof(buf), &n, nullptr))
      return false;
    if (n == 0)
      break;
    data.append(buf, n);
  }
  *contents = std::move(data);
  return true;
}

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return !path.empty() &&
         ::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, data) != 0;
}

// The entry's name in ANSI: its own name when the ANSI page spells it, else
// its short name when it has one.
std::string AnsiName(const WIN32_FIND_DATAW& data) {
  const std::wstring name = data.cFileName;
  const std::string ansi = internal::AnsiFromWide(name);
  if (internal::WideFromAnsi(ansi) == name || data.cAlternateFileName[0] == L'\0')
    return ansi;
  return internal::AnsiFromWide(data.cAlternateFileName);
}

FileKind KindOf(const WIN32_FIND_DATAW& data) {
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
       data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)) {
    return FileKind::kOther;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0)
    return FileKind::kOther;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kFolder
                                                                 : FileKind::kRegular;
}

}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const size_t delim = LastDelim(path);
  return delim == std::string::npos ? "" : path.substr(0, delim + 1);
}

std::string ExtractFileDir(const std::string& path) {
  const size_t delim = LastDelim(path);
  if (delim == std::string::npos)
    return "";
  // A root ("\", "C:\", "C:") keeps its delimiter.
  if (path[delim] == ':' || delim == 0 || path[delim - 1] == ':' || IsDelim(path[delim - 1]))
    return path.substr(0, delim + 1);
  return path.substr(0, delim);
}

std::string ExtractFileName(const std::string& path) {
  const size_t delim = LastDelim(path);
  return delim == std::string::npos ? path : path.substr(delim + 1);
}

std::string ExtractFileExt(const std::string& path) {
  const size_t dot = path.find_last_of(".\\/:");
  return dot == std::string::npos || path[dot] != '.' ? "" : path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const size_t dot = path.find_last_of(".\\/:");
  if (dot == std::string::npos || path[dot] != '.')
    return path + ext;
  return path.substr(0, dot) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && IsDelim(path.back()))
    return path;
  return path + kPathDelim;
}

bool FileExists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceDirectories(const std::string& path, std::string* error) {
  if (path.empty())
    return FailWithCode(error, ERROR_INVALID_NAME);
  std::string folder = path;
  while (folder.size() > 1 && IsDelim(folder.back()) && folder[folder.size() - 2] != ':')
    folder.pop_back();
  if (DirectoryExists(folder))
    return true;
  // Create the missing parents first, then this level.
  const std::string parent = ExtractFileDir(folder);
  if (!parent.empty() && parent != folder && !ForceDirectories(parent, error))
    return false;
  if (!::CreateDirectoryW(Wide(folder).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return FailWithLastError(error);
  }
  return DirectoryExists(folder) || FailWithCode(error, ERROR_DIRECTORY);
}

bool DeleteFile(const std::string& path, std::string* error) {
  return ::DeleteFileW(Wide(path).c_str()) != 0 || FailWithLastError(error);
}

bool RenameFile(const std::string& from, const std::string& to, std::string* error) {
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0 ||
         FailWithLastError(error);
}

// Windows has no counterpart of syncfs short of flushing a whole volume,
// which takes administrator rights, so every replaced file is flushed as it
// is written, whatever `sync` says, and FlushFileSystem finds nothing left.
bool CopyFileReplace(const std::string& source, const std::string& target, std::string* error,
                     Sync) {
  // The kind is checked on the opened entry itself: a link is not followed.
  Handle in(::CreateFileW(Wide(source).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!in.valid())
    return FailWithLastError(error);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(in.get(), &info))
    return FailWithLastError(error);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return Fail(error, "Is a directory");
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return Fail(error, "Not a regular file (symbolic link)");
  if (::GetFileType(in.get()) != FILE_TYPE_DISK)
    return Fail(error, "Not a regular file");
  const bool ok = ReplaceWith(target, [&in](HANDLE out) {
    char buf[65536];
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(in.get(), buf, sizeof(buf), &n, nullptr))
        return false;
      if (n == 0)
        return true;
      if (!WriteAll(out, buf, n))
        return false;
    }
  });
  return ok || FailWithLastError(error);
}

bool ReadFileToString(const std::string& path, std::string* contents, std::string* error) {
  Handle h(OpenForReading(path));
  if (!h.valid() || !ReadHandle(h.get(), contents))
    return FailWithLastError(error);
  return true;
}

bool ReadFileChunks(const std::string& path, size_t chunkSize,
                    const std::function<bool(std::string_view chunk)>& consume,
                    std::string* error) {
  Handle h(OpenForReading(path));  // closed also when `consume` throws
  if (!h.valid())
    return FailWithLastError(error);
  std::string buffer(std::clamp<size_t>(chunkSize, 1, 1u << 30), '\0');
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
      return FailWithLastError(error);
    if (n == 0 || !consume(std::string_view(buffer.data(), n)))
      return true;
  }
}

bool WriteFileAtomic(const std::string& path, const std::string& contents, std::string* error,
                     Sync) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (Attributes(path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Fail(error, "The file is read-only");
  }
  const bool ok = ReplaceWith(
      path, [&contents](HANDLE h) { return WriteAll(h, contents.data(), contents.size()); });
  return ok || FailWithLastError(error);
}

bool FlushFileSystem(const std::string&, std::string*) {
  return true;  // every file was flushed when it was written (see CopyFileReplace)
}

std::string ReplacedFileOfTemporary(const std::string& name) {
  if (name.size() < 2 + kTempTailSize || name.front() != '.' ||
      name.compare(name.size() - 4, 4, ".tmp") != 0) {
    return "";
  }
  const size_t dot = name.size() - kTempTailSize;
  if (name[dot] != '.')
    return "";
  for (size_t i = dot + 1; i < dot + 9; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
      return "";
  }
  return name.substr(1, dot - 1);
}

namespace {

// Opened for appending only: every write goes to the end of the file as it
// is then. Others may read, write, rename and delete it meanwhile.
HANDLE OpenForAppending(const std::string& path) {
  return ::CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

class WindowsAppendFile : public AppendFile {
 public:
  explicit WindowsAppendFile(HANDLE h) : handle_(h) {}

  bool Append(std::string_view data, std::string* error) override {
    return WriteAll(handle_.get(), data.data(), data.size()) || FailWithLastError(error);
  }

  bool IsAt(const std::string& path) const override {
    BY_HANDLE_FILE_INFORMATION open_info, path_info;
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandle(handle_.get(), &open_info) ||
        !::GetFileInformationByHandleEx(handle_.get(), FileStandardInfo, &standard,
                                        sizeof(standard)) ||
        standard.DeletePending) {
      return false;
    }
    Handle at(::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return at.valid() && ::GetFileInformationByHandle(at.get(), &path_info) &&
           SameFile(open_info, path_info);
  }

 private:
  Handle handle_;
};

}  // namespace

bool AppendToFile(const std::string& path, const std::string& data, std::string* error) {
  Handle h(OpenForAppending(path));
  if (!h.valid() || !WriteAll(h.get(), data.data(), data.size()))
    return FailWithLastError(error);
  return h.Close() || FailWithLastError(error);
}

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error) {
  HANDLE h = OpenForAppending(path);
  if (h == INVALID_HANDLE_VALUE) {
    FailWithLastError(error);
    return nullptr;
  }
  return std::make_unique<WindowsAppendFile>(h);
}

bool CreateFileExclusive(const std::string& path, std::string* error) {
  Handle h(::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid())
    return FailWithLastError(error);
  return h.Close() || FailWithLastError(error);
}

uint64_t GetFileSize64(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Attributes(path, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return 0;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::vector<FileEntry> ListFolder(const std::string& folder, const std::string& mask) {
  std::vector<FileEntry> entries;
  if (folder.empty())
    return entries;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileExW(Wide(IncludeTrailingPathDelimiter(folder) + "*").c_str(),
                                   FindExInfoStandard, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE)
    return entries;
  const bool all = mask == "*" || mask == "*.*";
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..")
      continue;
    FileEntry entry;
    entry.Name = AnsiName(data);
    if (!all && !internal::MatchFileMask(entry.Name, mask))
      continue;
    entry.Kind = KindOf(data);
    entry.IsFolder = entry.Kind == FileKind::kFolder;
    entry.Size = entry.Kind == FileKind::kRegular
                     ? static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow
                     : 0;
    entry.ModifiedMillis = internal::FileTimeToUnixMillis(data.ftLastWriteTime);
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(entries.begin(), entries.end(), [](const FileEntry& a, const FileEntry& b) {
    const std::string ua = AnsiUpperCase(a.Name);
    const std::string ub = AnsiUpperCase(b.Name);
    if (ua != ub) {
      return std::lexicographical_compare(
          ua.begin(), ua.end(), ub.begin(), ub.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
          });
    }
    return a.Name < b.Name;
  });
  return entries;
}

bool CreateUniqueTempFile(const std::string& folder, const std::string& prefix, std::string* path,
                          std::string* error) {
  if (folder.empty())
    return FailWithCode(error, ERROR_INVALID_NAME);
  const std::string base = IncludeTrailingPathDelimiter(folder) + prefix;
  // Numbers 1..FFFF, from a random start, each tried once.
  const uint32_t start = RandomNumber() % 0xFFFF;
  for (uint32_t i = 0; i < 0x10000; ++i) {
    const uint32_t number = (start + i) % 0xFFFF + 1;
    char hex[8];
    std::snprintf(hex, sizeof(hex), "%X", static_cast<unsigned>(number));
    const std::string name = base + hex + ".TMP";
    Handle h(::CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.valid()) {
      if (!h.Close())
        return FailWithLastError(error);
      *path = name;
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS)
      return FailWithLastError(error);
  }
  return FailWithCode(error, ERROR_FILE_EXISTS);
}

int64_t FileTimeNowMillis() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return internal::FileTimeToUnixMillis(now);
}

}  // namespace tarvo
