// POSIX backend of the file operations: readdir for searches, copy_file_range
// for copies, Windows' attribute bits emulated from the mode.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <random>
#include <string>

#include "base/posix_handles.h"
#include "sync/fault_injection.h"
#include "sync/file_ops.h"

namespace quorvane {

namespace {

std::string PathString(std::string_view path) { return std::string(path.empty() ? std::string_view(".") : path); }

// Splits "folder/pattern" at the last separator; a bare pattern searches ".".
std::pair<std::string, std::string> SplitPattern(std::string_view pattern) {
  const size_t slash = pattern.rfind('/');
  if (slash == std::string_view::npos) return {".", std::string(pattern)};
  if (slash == 0) return {"/", std::string(pattern.substr(1))};
  return {std::string(pattern.substr(0, slash)), std::string(pattern.substr(slash + 1))};
}

AttributeMask AttributesOf(const struct stat& st, std::string_view name) {
  AttributeMask attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    attributes |= kAttributeDirectory;
  } else {
    attributes |= kAttributeArchive;
  }
  if ((st.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attributes |= kAttributeHidden;
  return attributes;
}

// Type of an entry, following a link once to see what it points at.
EntryKind KindOf(int dirFd, const dirent& entry) {
  switch (entry.d_type) {
    case DT_REG: return EntryKind::File;
    case DT_DIR: return EntryKind::Folder;
    case DT_UNKNOWN: break;
    case DT_LNK: break;
    default: return EntryKind::Other;
  }
  struct stat st;
  if (::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Other;
  const bool isLink = S_ISLNK(st.st_mode);
  if (isLink && ::fstatat(dirFd, entry.d_name, &st, 0) != 0) return EntryKind::Other;  // dangling
  if (S_ISDIR(st.st_mode)) return isLink ? EntryKind::FolderLink : EntryKind::Folder;
  if (S_ISREG(st.st_mode)) return EntryKind::File;
  return EntryKind::Other;
}

bool IsDotName(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

std::string FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string RandomSuffix() {
  static std::mt19937_64 generator{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint64_t value = generator();
  std::string suffix(16, '0');
  for (char& c : suffix) {
    c = kDigits[value & 15];
    value >>= 4;
  }
  return suffix;
}

FileResult LastError(FileStep step) { return Failure(step, errno); }

// Creates a fresh, exclusively owned temporary file beside `target`. The ".tmp"
// name keeps it from ever being listed as a font.
UniqueFd CreateTemporaryBeside(std::string_view target, mode_t mode, std::string& tempPath, FileResult& result) {
  const std::string folder = FolderOf(target);
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (const int fault = InjectedFault(FileStep::Open)) {
      result = Failure(FileStep::Open, fault);
      return UniqueFd{};
    }
    tempPath = JoinPath(folder, ".quorvane-" + RandomSuffix() + ".tmp");
    UniqueFd fd{::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)};
    if (fd.Valid()) return fd;
    result = LastError(FileStep::Open);
    if (errno != EEXIST) return fd;
  }
  return UniqueFd{};
}

// A failed cleanup is retried, so one refused delete leaves no temporary behind.
void RemoveTemporary(const std::string& tempPath) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (InjectedFault(FileStep::Delete) == 0 && (::unlink(tempPath.c_str()) == 0 || errno == ENOENT)) return;
  }
}

FileResult CopyWithReadWrite(int in, int out, const CopyProgress& progress) {
  static constexpr size_t kBufferSize = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    if (const int fault = InjectedFault(FileStep::Read)) return Failure(FileStep::Read, fault);
    const ssize_t got = ::read(in, buffer.get(), kBufferSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return LastError(FileStep::Read);
    if (got == 0) return {};
    for (ssize_t done = 0; done < got;) {
      if (const int fault = InjectedFault(FileStep::Write)) return Failure(FileStep::Write, fault);
      const ssize_t put = ::write(out, buffer.get() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return LastError(FileStep::Write);
      if (put == 0) return Failure(FileStep::Write, EIO);
      done += put;
    }
    if (progress) progress();
  }
}

// Chunks keep the caller's window alive during a large copy.
FileResult CopyContents(int in, int out, const CopyProgress& progress) {
  static constexpr size_t kChunk = 8 << 20;
  bool first = true;
  for (;;) {
    if (const int fault = InjectedFault(FileStep::Write)) return Failure(FileStep::Write, fault);
    const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0 && first &&
        (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
      return CopyWithReadWrite(in, out, progress);
    }
    // copy_file_range reads and writes in one call; its failure counts as the write's.
    if (copied < 0) return LastError(FileStep::Write);
    if (copied == 0) return {};
    first = false;
    if (progress) progress();
  }
}

}  // namespace

struct DirectorySearch::State {
  UniqueDir dir;
  std::string pattern;
  AttributeMask mask = 0;
  bool filesOnly = false;
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

void DirectorySearch::Close() { state_.reset(); }

bool DirectorySearch::IsOpen() const { return state_ != nullptr; }

std::string DirectorySearch::Next(std::string_view pattern, AttributeMask mask, bool filesOnly) {
  if (!pattern.empty()) {
    Close();
    auto [folder, namePattern] = SplitPattern(pattern);
    UniqueDir dir{::opendir(folder.c_str())};
    if (!dir) return {};
    state_ = std::make_unique<State>(State{std::move(dir), std::move(namePattern), 0, false});
  }
  if (!state_) return {};
  state_->mask = mask & kSearchableAttributes;
  state_->filesOnly = filesOnly;

  const int dirFd = ::dirfd(state_->dir.Get());
  while (const dirent* entry = ::readdir(state_->dir.Get())) {
    if (!MatchesPattern(entry->d_name, state_->pattern)) continue;
    struct stat st;
    if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 && ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // vanished since readdir
    }
    const AttributeMask attributes = AttributesOf(st, entry->d_name);
    const bool accepted = state_->filesOnly    ? (attributes & kAttributeDirectory) == 0
                          : state_->mask != 0 ? (attributes & state_->mask) != 0
                                              : attributes == 0;
    if (accepted) return entry->d_name;
  }
  Close();
  return {};
}

bool FileExists(std::string_view path) {
  if (path.empty()) return false;
  struct stat st;
  const std::string text = PathString(path);
  if (::lstat(text.c_str(), &st) == 0) return true;
  // A name that merely looks like a pattern was answered above; only a missing
  // one is searched as a pattern.
  const size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (last.find_first_of("*?") == std::string_view::npos) return false;
  DirectorySearch search;
  return !search.Next(path, kSearchableAttributes, false).empty() || !search.Next(path, 0, false).empty();
}

std::int64_t FileSize(std::string_view path) {
  if (path.empty()) return -1;
  struct stat st;
  const std::string text = PathString(path);
  if (::stat(text.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
  const size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (last.find_first_of("*?") == std::string_view::npos) return -1;
  DirectorySearch search;
  std::string name = search.Next(path, kSearchableAttributes, false);
  if (name.empty()) name = search.Next(path, 0, false);
  if (name.empty()) return -1;
  return FileSize(JoinPath(FolderOf(path), name));
}

bool EntryExists(std::string_view path) {
  struct stat st;
  return !path.empty() && ::lstat(std::string(path).c_str(), &st) == 0;
}

bool IsFolder(std::string_view path) {
  struct stat st;
  return ::stat(PathString(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileResult CopyOneFile(std::string_view source, std::string_view target, const CopyProgress& progress) {
  const std::string sourcePath(source), targetPath(target);
  if (sourcePath.empty() || targetPath.empty()) return Failure(FileStep::Open, ENOENT);

  if (const int fault = InjectedFault(FileStep::Open)) return Failure(FileStep::Open, fault);
  UniqueFd in{::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC)};
  if (!in) return LastError(FileStep::Open);
  struct stat sourceStat;
  if (::fstat(in.Get(), &sourceStat) != 0) return LastError(FileStep::Open);
  if (!S_ISREG(sourceStat.st_mode)) return Failure(FileStep::Open, S_ISDIR(sourceStat.st_mode) ? EISDIR : EINVAL);

  // Root and some file systems ignore permission bits, so read-only is decided
  // here from the mode, as Windows decides it from the attribute.
  struct stat targetStat;
  if (::stat(targetPath.c_str(), &targetStat) == 0) {
    if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino) {
      return {FileError{FileStep::Open, 0, FileErrorKind::SameFile}};
    }
    if (S_ISDIR(targetStat.st_mode)) return Failure(FileStep::Open, EISDIR);
    if ((targetStat.st_mode & 0222) == 0) return Failure(FileStep::Open, EACCES);
  }

  std::string tempPath;
  FileResult result;
  UniqueFd out = CreateTemporaryBeside(targetPath, sourceStat.st_mode & 0777, tempPath, result);
  if (!out) return result;

  const std::array<timespec, 2> times = {sourceStat.st_atim, sourceStat.st_mtim};
  result = CopyContents(in.Get(), out.Get(), progress);
  if (result && ::futimens(out.Get(), times.data()) != 0) result = LastError(FileStep::Write);
  if (result) {
    if (const int fault = InjectedFault(FileStep::Close)) {
      result = Failure(FileStep::Close, fault);
    } else if (::close(out.Release()) != 0) {
      result = LastError(FileStep::Close);
    }
  }
  if (result) {
    if (const int fault = InjectedFault(FileStep::Rename)) {
      result = Failure(FileStep::Rename, fault);
    } else if (::rename(tempPath.c_str(), targetPath.c_str()) != 0) {
      result = LastError(FileStep::Rename);
    }
  }
  if (!result) {
    out.Reset();
    RemoveTemporary(tempPath);
  }
  return result;
}

FileResult ListFolder(std::string_view folder, std::vector<FolderEntry>& entries) {
  UniqueDir dir{::opendir(PathString(folder).c_str())};
  if (!dir) return LastError(FileStep::Open);
  const int dirFd = ::dirfd(dir.Get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.Get());
    if (entry == nullptr) break;
    if (IsDotName(entry->d_name)) continue;
    entries.push_back({entry->d_name, KindOf(dirFd, *entry)});
  }
  if (errno != 0) return LastError(FileStep::Read);
  return {};
}

}  // namespace quorvane
