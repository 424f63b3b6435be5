// POSIX backend of the file operations: readdir for searches, copy_file_range
// for copies, Windows' attribute bits emulated from the mode.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "base/posix_handles.h"
#include "sync/files/fault_injection.h"
#include "sync/files/file_ops.h"
#include "sync/files/transfer.h"

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

// An entry and its type, following a link once to see what it points at; one
// whose status fails (EACCES, EIO, ESTALE, a dangling link) is Unknown, with why.
FolderEntry EntryOf(int dirFd, const dirent& entry) {
  FolderEntry out{entry.d_name, EntryKind::Other, 0};
  switch (entry.d_type) {
    case DT_REG: out.kind = EntryKind::File; return out;
    case DT_DIR: out.kind = EntryKind::Folder; return out;
    case DT_UNKNOWN: break;
    case DT_LNK: break;
    default: return out;
  }
  struct stat st;
  bool isLink = false;
  if (::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      ((isLink = S_ISLNK(st.st_mode)) && ::fstatat(dirFd, entry.d_name, &st, 0) != 0)) {
    out.kind = EntryKind::Unknown;
    out.error = errno;
    return out;
  }
  if (S_ISDIR(st.st_mode)) out.kind = isLink ? EntryKind::FolderLink : EntryKind::Folder;
  if (S_ISREG(st.st_mode)) out.kind = EntryKind::File;
  return out;
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

// The temporary of the copy in progress, for AbandonCopyInProgress in a signal
// handler: a fixed buffer, and a flag written after it and cleared before the
// temporary is renamed or removed, so the handler can only ever unlink a name
// that is still a temporary.
char activeTemporary[PATH_MAX];
volatile std::sig_atomic_t hasActiveTemporary = 0;
// Set by AbandonCopyInProgress: the copy in progress must not take its name.
volatile std::sig_atomic_t temporaryAbandoned = 0;

class ActiveTemporary {
 public:
  explicit ActiveTemporary(const std::string& path) {
    if (path.size() >= sizeof activeTemporary) return;
    std::memcpy(activeTemporary, path.c_str(), path.size() + 1);
    temporaryAbandoned = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    hasActiveTemporary = 1;
  }
  bool Abandoned() const { return temporaryAbandoned != 0; }
  ~ActiveTemporary() { Clear(); }
  ActiveTemporary(const ActiveTemporary&) = delete;
  ActiveTemporary& operator=(const ActiveTemporary&) = delete;
  void Clear() {
    hasActiveTemporary = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
};

// Creates a fresh temporary file beside `target`, exclusively, and locks it for
// its whole life: a run that finds one of ours unlocked takes it for the
// leftover of a run that died. The ".tmp" name keeps it from ever being listed
// as a font. The copy gets 0644 less the umask: a font folder is shared.
UniqueFd CreateTemporaryBeside(std::string_view target, std::string& tempPath, FileResult& result) {
  const std::string folder = FolderOf(target);
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (const int fault = InjectedFault(FileStep::Open)) {
      result = Failure(FileStep::Open, fault);
      return UniqueFd{};
    }
    tempPath = JoinPath(folder, ".quorvane-" + RandomSuffix() + ".tmp");
    UniqueFd fd{::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    if (!fd) {
      result = LastError(FileStep::Open);
      if (errno == EEXIST) continue;
      return fd;
    }
    // Another run's clean-up got to it first (it holds the lock, or already
    // removed the name): that one is gone; take another name.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) continue;
    struct stat mine, named;
    if (::fstat(fd.Get(), &mine) != 0 || ::stat(tempPath.c_str(), &named) != 0 || mine.st_ino != named.st_ino ||
        mine.st_dev != named.st_dev) {
      continue;
    }
    return fd;
  }
  return UniqueFd{};
}

// A failed cleanup is retried, so one refused delete leaves no temporary behind.
void RemoveTemporary(const std::string& tempPath) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (InjectedFault(FileStep::Delete) == 0 && (::unlink(tempPath.c_str()) == 0 || errno == ENOENT)) return;
  }
}


class TransferLoop : private TransferProgress {
 public:
  TransferLoop(int in, int out, std::uint64_t total, const CopyOptions& options)
      : TransferProgress(total, options), in_(in), out_(out) {}

  // Chunks keep the caller's window alive, and its stop button quick, during a
  // large copy.
  Transfer Run() {
    if (!Continue()) return Abandon();
    if (Inspects()) return ReadAndWrite();
    static constexpr size_t kChunk = 8 << 20;
    for (bool first = true;; first = false) {
      if (const int fault = InjectedFault(FileStep::Write)) return Fail(Failure(FileStep::Write, fault));
      const ssize_t copied = ::copy_file_range(in_, nullptr, out_, nullptr, kChunk, 0);
      if (copied < 0 && errno == EINTR) {
        if (!Continue()) return Abandon();
        continue;
      }
      if (copied < 0 && first &&
          (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
        return ReadAndWrite();
      }
      // copy_file_range reads and writes in one call; its failure counts as the write's.
      if (copied < 0) return Fail(LastError(FileStep::Write));
      if (copied == 0) return Done();
      Moved(static_cast<std::uint64_t>(copied));
      if (!Continue()) return Abandon();
    }
  }

 private:
  Transfer ReadAndWrite() {
    for (;;) {
      const std::span<std::byte> buffer = Block();
      if (const int fault = InjectedFault(FileStep::Read)) return Fail(Failure(FileStep::Read, fault));
      const ssize_t got = ::read(in_, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) {
        if (!Continue()) return Abandon();
        continue;
      }
      if (got < 0) return Fail(LastError(FileStep::Read));
      if (got == 0) return Done();
      for (ssize_t done = 0; done < got;) {
        if (const int fault = InjectedFault(FileStep::Write)) return Fail(Failure(FileStep::Write, fault));
        const ssize_t put = ::write(out_, buffer.data() + done, static_cast<size_t>(got - done));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return Fail(LastError(FileStep::Write));
        if (put == 0) return Fail(Failure(FileStep::Write, EIO));
        done += put;
      }
      Moved(buffer.first(static_cast<size_t>(got)));
      if (!Continue()) return Abandon();
    }
  }

  int in_;
  int out_;
};

// The new file takes the target's name only where none exists yet. File
// systems without the no-replace rename take a hard link (which fails on an
// existing name) and drop the temporary name; those without hard links
// either (FAT) fall back to a test just before the rename.
FileResult RenameWithoutReplacing(const std::string& from, const std::string& to, bool& exists) {
  exists = false;
  if (const int fault = InjectedFault(FileStep::Rename)) return Failure(FileStep::Rename, fault);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno == EEXIST) {
    exists = true;
    return {};
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return LastError(FileStep::Rename);
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return {};
  }
  if (errno == EEXIST) {
    exists = true;
    return {};
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return LastError(FileStep::Rename);
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    exists = true;
    return {};
  }
  return ::rename(from.c_str(), to.c_str()) == 0 ? FileResult{} : LastError(FileStep::Rename);
}

// The new data on disk before it replaces the old, and the folder's new entry
// after: so a power cut leaves the old file or the new one.
FileResult ReplaceDurably(int fd, const std::string& from, const std::string& to) {
  if (const int fault = InjectedFault(FileStep::Flush)) return Failure(FileStep::Flush, fault);
  if (::fdatasync(fd) != 0) return LastError(FileStep::Flush);
  if (const int fault = InjectedFault(FileStep::Rename)) return Failure(FileStep::Rename, fault);
  if (::rename(from.c_str(), to.c_str()) != 0) return LastError(FileStep::Rename);
  const UniqueFd folder{::open(FolderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (folder) ::fsync(folder.Get());  // the new file is in place; a refused sync cannot undo that
  return {};
}

// The source, open for reading, and what it is; only a regular file is copied.
FileResult OpenSource(const std::string& path, UniqueFd& in, struct stat& info) {
  if (const int fault = InjectedFault(FileStep::Open)) return Failure(FileStep::Open, fault);
  in = UniqueFd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (!in) return LastError(FileStep::Open);
  if (::fstat(in.Get(), &info) != 0) return LastError(FileStep::Open);
  if (!S_ISREG(info.st_mode)) return Failure(FileStep::Open, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  return {};
}

// Root and some file systems ignore permission bits, so read-only is decided
// here from the mode, as Windows decides it from the attribute. A target that
// is the source itself (a hard link) would be lost by the replace.
FileResult RefuseTarget(const std::string& path, const struct stat& source) {
  struct stat target;
  if (::stat(path.c_str(), &target) != 0) return {};
  if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
    return {FileError{FileStep::Open, 0, FileErrorKind::SameFile}};
  }
  if (S_ISDIR(target.st_mode)) return Failure(FileStep::Open, EISDIR);
  if ((target.st_mode & 0222) == 0) return Failure(FileStep::Open, EACCES);
  return {};
}

// The copy keeps the source's times, and is closed here: NFS reports a late
// write error only at close, and that must still fail the copy.
FileResult FinishTemporary(UniqueFd& out, const struct stat& source) {
  const std::array<timespec, 2> times = {source.st_atim, source.st_mtim};
  if (::futimens(out.Get(), times.data()) != 0) return LastError(FileStep::Write);
  if (const int fault = InjectedFault(FileStep::Close)) return Failure(FileStep::Close, fault);
  if (::close(out.Release()) != 0) return LastError(FileStep::Close);
  return {};
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

FileResult CheckEntry(std::string_view path, bool& exists) {
  struct stat st;
  exists = !path.empty() && ::lstat(std::string(path).c_str(), &st) == 0;
  if (exists || path.empty() || errno == ENOENT || errno == ENOTDIR) return {};
  return LastError(FileStep::Open);
}

bool IsFolder(std::string_view path) {
  struct stat st;
  return ::stat(PathString(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CopyResult CopyOneFile(std::string_view source, std::string_view target, const CopyOptions& options) {
  const auto failed = [](FileResult result) { return CopyResult{CopyStatus::Failed, std::move(result.error), 0}; };
  if (source.empty() || target.empty()) return failed(Failure(FileStep::Open, ENOENT));
  const std::string sourcePath(source), targetPath(target);
  UniqueFd in;
  struct stat sourceInfo;
  if (FileResult opened = OpenSource(sourcePath, in, sourceInfo); !opened) return failed(opened);
  if (FileResult refused = RefuseTarget(targetPath, sourceInfo); !refused) return failed(refused);

  std::string tempPath;
  FileResult result;
  UniqueFd out = CreateTemporaryBeside(targetPath, tempPath, result);
  if (!out) return failed(result);
  ActiveTemporary active(tempPath);
  const auto abandon = [&](CopyResult copy) {
    active.Clear();
    out.Reset();
    RemoveTemporary(tempPath);
    return copy;
  };
  // The lock lives on in this duplicate once `out` is closed before the rename.
  const UniqueFd lock{::dup(out.Get())};
  if (!lock) return abandon(failed(LastError(FileStep::Open)));

  Transfer transfer = TransferLoop(in.Get(), out.Get(), static_cast<std::uint64_t>(sourceInfo.st_size), options).Run();
  if (transfer.abandoned) return abandon({CopyStatus::Abandoned, std::nullopt, 0});
  result = std::move(transfer.result);
  if (result && transfer.refusal) return abandon(Refused(std::move(transfer)));
  if (result) result = FinishTemporary(out, sourceInfo);
  if (!result) return abandon(failed(result));

  active.Clear();
  if (active.Abandoned()) return abandon({CopyStatus::Abandoned, std::nullopt, 0});
  bool exists = false;
  result = RenameWithoutReplacing(tempPath, targetPath, exists);
  CopyStatus status = CopyStatus::Created;
  if (result && exists) {
    if (options.existing == ExistingTarget::Keep) return abandon({CopyStatus::TargetExists, std::nullopt, 0});
    result = ReplaceDurably(lock.Get(), tempPath, targetPath);
    status = CopyStatus::Replaced;
  }
  if (!result) return abandon(failed(result));
  return {.status = status, .bytes = transfer.bytes, .sha256 = transfer.sha256};
}

RemoveResult RemoveFile(std::string_view path, bool) {
  struct stat st;
  const std::string text = PathString(path);
  if (::lstat(text.c_str(), &st) != 0) return {RemoveStatus::Failed, FileError{FileStep::Delete, errno}};
  if (S_ISDIR(st.st_mode)) return {RemoveStatus::Failed, FileError{FileStep::Delete, EISDIR}};
  if ((st.st_mode & 0222) == 0) return {RemoveStatus::Failed, FileError{FileStep::Delete, EACCES}};
  if (const int fault = InjectedFault(FileStep::Delete)) return {RemoveStatus::Failed, FileError{FileStep::Delete, fault}};
  // Nothing here holds a file against removal: an open font keeps its data until closed.
  if (::unlink(text.c_str()) != 0) return {RemoveStatus::Failed, FileError{FileStep::Delete, errno}};
  return {RemoveStatus::Removed, std::nullopt};
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
    entries.push_back(EntryOf(dirFd, *entry));
  }
  if (errno != 0) return LastError(FileStep::Read);
  return {};
}

std::optional<FileIdentity> IdentityOf(std::string_view path) {
  struct stat st;
  if (path.empty() || ::stat(std::string(path).c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<FileStamp> StampOf(std::string_view path) {
  struct stat st;
  if (path.empty() || ::stat(std::string(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

namespace {

// As much as `size` bytes, less only at the end of the file; -1 on an error.
ssize_t ReadFully(int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

std::optional<bool> SameContent(std::string_view first, std::string_view second) {
  const UniqueFd a{::open(std::string(first).c_str(), O_RDONLY | O_CLOEXEC)};
  const UniqueFd b{::open(std::string(second).c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat sa, sb;
  if (!a || !b || ::fstat(a.Get(), &sa) != 0 || ::fstat(b.Get(), &sb) != 0) return std::nullopt;
  if (sa.st_size != sb.st_size) return false;
  static constexpr size_t kPiece = 1 << 20;
  std::unique_ptr<char[]> bufferA(new char[kPiece]), bufferB(new char[kPiece]);
  for (;;) {
    const ssize_t gotA = ReadFully(a.Get(), bufferA.get(), kPiece);
    const ssize_t gotB = ReadFully(b.Get(), bufferB.get(), kPiece);
    if (gotA < 0 || gotB < 0) return std::nullopt;
    if (gotA != gotB || std::memcmp(bufferA.get(), bufferB.get(), static_cast<size_t>(gotA)) != 0) return false;
    if (gotA == 0) return true;
  }
}

StaleTemporaries RemoveStaleTemporaries(std::string_view folder) {
  StaleTemporaries removed;
  const UniqueDir dir{::opendir(PathString(folder).c_str())};
  if (!dir) return removed;
  const int dirFd = ::dirfd(dir.Get());
  while (const dirent* entry = ::readdir(dir.Get())) {
    if (!IsTemporaryName(entry->d_name)) continue;
    const UniqueFd fd{::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    struct stat held, named;
    if (!fd || ::fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode)) continue;
    // A live copy holds its lock; a file system without locks tells nothing,
    // and then nothing is taken.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Still the same file under that name, and now ours alone.
    if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
      continue;
    }
    if (::unlinkat(dirFd, entry->d_name, 0) == 0) {
      ++removed.count;
      removed.bytes += static_cast<std::uint64_t>(held.st_size);
    }
  }
  return removed;
}

// Nothing here waits for a restart.
void WithdrawReplaceAtRestart(std::string_view) {}

void AbandonCopyInProgress() noexcept {
  if (!hasActiveTemporary) return;
  temporaryAbandoned = 1;
  ::unlink(activeTemporary);
}

ReadableFile::~ReadableFile() { Close(); }

void ReadableFile::Close() {
  if (native_ >= 0) ::close(static_cast<int>(native_));
  native_ = -1;
}

FileResult ReadableFile::Open(std::string_view path) {
  Close();
  if (const int fault = InjectedFault(FileStep::Open)) return Failure(FileStep::Open, fault);
  // Without O_NONBLOCK a pipe would wait here for a writer.
  UniqueFd fd{::open(PathString(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (!fd) return LastError(FileStep::Open);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return LastError(FileStep::Open);
  kind_ = S_ISREG(st.st_mode) ? EntryKind::File : S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::Other;
  size_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  native_ = fd.Release();
  return {};
}

FileResult ReadableFile::ReadAt(std::uint64_t offset, std::span<std::byte> out) {
  for (size_t done = 0; done < out.size();) {
    if (const int fault = InjectedFault(FileStep::Read)) return Failure(FileStep::Read, fault);
    const ssize_t got = ::pread(static_cast<int>(native_), out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return LastError(FileStep::Read);
    if (got == 0) return {FileError{FileStep::Read, 0, FileErrorKind::Truncated}};
    done += static_cast<size_t>(got);
  }
  return {};
}

}  // namespace quorvane
