#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/codepage.h"
#include "platform/file_mask.h"
#include "platform/system_error.h"

namespace tarvo {

namespace {

using internal::Fail;
using internal::FailWithErrno;

// ANSI path -> the system's form: its UTF-8, unless no entry of that name
// exists while the bytes of the last part, unchanged, name one (a name that
// AnsiName listed as its bytes).
std::string Sys(const std::string& path) {
  std::string sys = AnsiToUtf8(path);
  if (sys == path)
    return sys;  // ASCII
  struct stat st;
  if (::lstat(sys.c_str(), &st) == 0 || errno != ENOENT)
    return sys;
  const size_t slash = path.rfind('/');
  const std::string raw = slash == std::string::npos
                              ? path
                              : AnsiToUtf8(path.substr(0, slash + 1)) + path.substr(slash + 1);
  return ::lstat(raw.c_str(), &st) == 0 ? raw : sys;
}

// A name from the system -> ANSI: its UTF-8 converted, when that converts
// back to the same name; else its bytes unchanged, which Sys leads back to
// the entry.
std::string AnsiName(const std::string& sysName) {
  std::string ansi = Utf8ToAnsi(sysName);
  return AnsiToUtf8(ansi) == sysName ? ansi : sysName;
}

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode))
    return FileKind::kRegular;
  return S_ISDIR(mode) ? FileKind::kFolder : FileKind::kOther;
}

// Keeps errno across clean-up calls, so that a failure is reported with its
// own reason rather than the clean-up's.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

void CloseFd(int fd) {
  ErrnoKeeper keep;
  ::close(fd);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

uint32_t RandomNumber() {
  std::random_device device;
  return device();
}

// Flushes the folder entry of a rename or create to disk. Failure is not
// reported: the data itself is already on disk.
void SyncFolder(const std::string& sysFolder) {
  ErrnoKeeper keep;
  int fd = ::open(sysFolder.empty() ? "." : sysFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string SysFolderOf(const std::string& sysPath) {
  const size_t slash = sysPath.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : sysPath.substr(0, slash);
}

// The temporary file's name after the target's name: "." + 8 hexadecimal
// digits + ".tmp".
constexpr size_t kTempTailSize = 1 + 8 + 4;

// Creates and opens a new file beside `sysTarget` (system form), named
// after it so that it is recognisable, yet with an extension that no
// scan of the service picks up. Returns the descriptor, or -1.
int CreateSiblingTemp(const std::string& sysTarget, mode_t mode, std::string* sysTemp) {
  const size_t slash = sysTarget.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : sysTarget.substr(0, slash + 1);
  // Short enough that the temporary name stays within the system's limit.
  const std::string name =
      (slash == std::string::npos ? sysTarget : sysTarget.substr(slash + 1)).substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), ".%08X.tmp", RandomNumber());
    *sysTemp = folder + "." + name + suffix;
    int fd = ::open(sysTemp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0)
      return fd;
    if (errno != EEXIST)
      return -1;
  }
  return -1;
}

// Fills a new temporary file beside `sysTarget` through `write`, flushes
// it to disk unless `sync` defers that, and renames it over the target. The
// file gets the permission bits `mode`, exactly when `exactMode`, else
// narrowed by the umask.
template <typename Writer>
bool ReplaceWith(const std::string& sysTarget, mode_t mode, bool exactMode, Sync sync,
                 Writer write) {
  std::string sysTemp;
  int fd = CreateSiblingTemp(sysTarget, mode, &sysTemp);
  if (fd < 0)
    return false;
  bool ok = (!exactMode || ::fchmod(fd, mode) == 0) && write(fd) &&
            (sync == Sync::kDeferred || ::fsync(fd) == 0);
  if (ok) {
    ok = ::close(fd) == 0;
  } else {
    CloseFd(fd);
  }
  if (ok)
    ok = ::rename(sysTemp.c_str(), sysTarget.c_str()) == 0;
  if (!ok) {
    ErrnoKeeper keep;
    ::unlink(sysTemp.c_str());
    return false;
  }
  if (sync == Sync::kNow)
    SyncFolder(SysFolderOf(sysTarget));
  return true;
}

// The permission bits of the file that a replacement of `sysTarget`
// replaces; false when there is none.
bool ExistingMode(const std::string& sysTarget, mode_t* mode) {
  ErrnoKeeper keep;
  struct stat st;
  if (::stat(sysTarget.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  *mode = st.st_mode & 0777;
  return true;
}

bool ReadFd(int fd, std::string* contents) {
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (n == 0)
      break;
    data.append(buf, static_cast<size_t>(n));
  }
  *contents = std::move(data);
  return true;
}

}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const size_t slash = path.rfind(kPathDelim);
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
  const size_t slash = path.rfind(kPathDelim);
  if (slash == std::string::npos)
    return "";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = path.rfind(kPathDelim);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& path) {
  const size_t dot = path.find_last_of(std::string(".") + kPathDelim);
  return dot == std::string::npos || path[dot] != '.' ? "" : path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const size_t dot = path.find_last_of(std::string(".") + kPathDelim);
  if (dot == std::string::npos || path[dot] != '.')
    return path + ext;
  return path.substr(0, dot) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && path.back() == kPathDelim)
    return path;
  return path + kPathDelim;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Sys(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Sys(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path, std::string* error) {
  if (path.empty()) {
    errno = EINVAL;
    return FailWithErrno(error);
  }
  std::string sys = Sys(path);
  while (sys.size() > 1 && sys.back() == '/')
    sys.pop_back();
  struct stat st;
  if (::stat(sys.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return true;  // the common case: nothing is missing
  // Create each missing level from the top down.
  for (size_t pos = sys.find('/', 1);; pos = sys.find('/', pos + 1)) {
    const std::string level = pos == std::string::npos ? sys : sys.substr(0, pos);
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST)
      return FailWithErrno(error);
    if (pos == std::string::npos)
      break;
  }
  if (::stat(sys.c_str(), &st) != 0)
    return FailWithErrno(error);
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return FailWithErrno(error);
  }
  return true;
}

bool DeleteFile(const std::string& path, std::string* error) {
  return ::unlink(Sys(path).c_str()) == 0 || FailWithErrno(error);
}

bool RenameFile(const std::string& from, const std::string& to, std::string* error) {
  return ::rename(Sys(from).c_str(), Sys(to).c_str()) == 0 || FailWithErrno(error);
}

bool CopyFileReplace(const std::string& source, const std::string& target, std::string* error,
                     Sync sync) {
  // Without O_NONBLOCK the open of a FIFO waits for a writer; the kind is
  // checked on the opened file, so an entry swapped after a listing is
  // judged as it is now.
  int in = ::open(Sys(source).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) {
    if (errno == ELOOP)
      return Fail(error, "Not a regular file (symbolic link)");
    return FailWithErrno(error);
  }
  struct stat st;
  if (::fstat(in, &st) != 0) {
    CloseFd(in);
    return FailWithErrno(error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(in);
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return FailWithErrno(error);
    }
    return Fail(error, "Not a regular file");
  }
  const bool ok = ReplaceWith(Sys(target), st.st_mode & 0777, true, sync, [in](int out) {
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(in, buf, sizeof(buf));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return n == 0;
      if (!WriteAll(out, buf, static_cast<size_t>(n)))
        return false;
    }
  });
  CloseFd(in);
  return ok || FailWithErrno(error);
}

bool ReadFileToString(const std::string& path, std::string* contents, std::string* error) {
  int fd = ::open(Sys(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return FailWithErrno(error);
  const bool ok = ReadFd(fd, contents);
  CloseFd(fd);
  return ok || FailWithErrno(error);
}

bool ReadFileChunks(const std::string& path, size_t chunkSize,
                    const std::function<bool(std::string_view chunk)>& consume,
                    std::string* error) {
  int fd = ::open(Sys(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return FailWithErrno(error);
  // Closed also when `consume` throws.
  struct Closer {
    int fd;
    ~Closer() { CloseFd(fd); }
  } closer{fd};
  std::string buffer(std::max<size_t>(chunkSize, 1), '\0');
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return FailWithErrno(error);
    }
    if (n == 0 || !consume(std::string_view(buffer.data(), static_cast<size_t>(n))))
      return true;
  }
}

bool WriteFileAtomic(const std::string& path, const std::string& contents, std::string* error,
                     Sync sync) {
  const std::string sys = Sys(path);
  mode_t mode = 0666;
  const bool replacing = ExistingMode(sys, &mode);
  // The rename would replace it all the same: the file's own permission is
  // what says it must not change (the superuser passes access(), not this).
  if (replacing && ((mode & 0222) == 0 || ::access(sys.c_str(), W_OK) != 0))
    return Fail(error, "The file is read-only");
  const bool ok = ReplaceWith(sys, mode, replacing, sync, [&contents](int fd) {
    return WriteAll(fd, contents.data(), contents.size());
  });
  return ok || FailWithErrno(error);
}

bool FlushFileSystem(const std::string& folder, std::string* error) {
  int fd = ::open(Sys(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int result = fd < 0 ? -1 : ::syncfs(fd);
  if (fd >= 0)
    CloseFd(fd);
  if (result == 0)
    return true;
  // A folder that cannot be opened, or a system without syncfs: flushing
  // every file system covers this one too.
  const int reason = errno;
  ::sync();
  if (fd >= 0 && (reason == EIO || reason == ENOSPC || reason == EDQUOT)) {
    errno = reason;
    return FailWithErrno(error);
  }
  return true;
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

bool AppendToFile(const std::string& path, const std::string& data, std::string* error) {
  int fd = ::open(Sys(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return FailWithErrno(error);
  const bool ok = WriteAll(fd, data.data(), data.size());
  if (!ok) {
    CloseFd(fd);
    return FailWithErrno(error);
  }
  return ::close(fd) == 0 || FailWithErrno(error);
}

namespace {

class PosixAppendFile : public AppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}
  ~PosixAppendFile() override { ::close(fd_); }

  bool Append(std::string_view data, std::string* error) override {
    return WriteAll(fd_, data.data(), data.size()) || FailWithErrno(error);
  }

  bool IsAt(const std::string& path) const override {
    struct stat open_st, path_st;
    if (::fstat(fd_, &open_st) != 0 || open_st.st_nlink == 0)
      return false;
    return ::stat(Sys(path).c_str(), &path_st) == 0 && path_st.st_dev == open_st.st_dev &&
           path_st.st_ino == open_st.st_ino;
  }

 private:
  const int fd_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error) {
  int fd = ::open(Sys(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    FailWithErrno(error);
    return nullptr;
  }
  return std::make_unique<PosixAppendFile>(fd);
}

bool CreateFileExclusive(const std::string& path, std::string* error) {
  int fd = ::open(Sys(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    return FailWithErrno(error);
  return ::close(fd) == 0 || FailWithErrno(error);
}

uint64_t GetFileSize64(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(Sys(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return 0;
  return static_cast<uint64_t>(st.st_size);
}

std::vector<FileEntry> ListFolder(const std::string& folder, const std::string& mask) {
  std::vector<FileEntry> entries;
  if (folder.empty())
    return entries;
  DIR* dir = ::opendir(Sys(folder).c_str());
  if (dir == nullptr)
    return entries;
  const bool all = mask == "*" || mask == "*.*";
  const int dirFd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
      continue;
    FileEntry entry;
    entry.Name = AnsiName(e->d_name);
    if (!all && !internal::MatchFileMask(entry.Name, mask))
      continue;
    struct stat st;
    if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;  // gone since it was listed
    entry.Kind = KindOf(st.st_mode);
    entry.IsFolder = entry.Kind == FileKind::kFolder;
    entry.Size = entry.Kind == FileKind::kRegular ? static_cast<uint64_t>(st.st_size) : 0;
    entry.ModifiedMillis =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
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
  if (folder.empty()) {
    errno = EINVAL;
    return FailWithErrno(error);
  }
  const std::string base = IncludeTrailingPathDelimiter(folder) + prefix;
  // Numbers 1..FFFF, from a random start, each tried once.
  const uint32_t start = RandomNumber() % 0xFFFF;
  for (uint32_t i = 0; i < 0x10000; ++i) {
    const uint32_t number = (start + i) % 0xFFFF + 1;
    char hex[8];
    std::snprintf(hex, sizeof(hex), "%X", number);
    const std::string name = base + hex + ".TMP";
    int fd = ::open(Sys(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (::close(fd) != 0)
        return FailWithErrno(error);
      *path = name;
      return true;
    }
    if (errno != EEXIST)
      return FailWithErrno(error);
  }
  errno = EEXIST;
  return FailWithErrno(error);
}

int64_t FileTimeNowMillis() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace tarvo
