// Windows backend of the file operations, on the wide functions only: the ANSI
// ones turn names outside the code page into "?" and then fail on them.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "sync/files/fault_injection.h"
#include "sync/files/file_ops.h"
#include "sync/files/file_ops_win32.h"
#include "sync/files/transfer.h"

namespace quorvane {

// The wide path for a file call. Past MAX_PATH the "\\?\" form lifts the limit;
// it takes no "." or "..", so such a path is made full first.
std::wstring SystemPath(std::string_view utf8) {
  std::wstring path = Widen(utf8);
  constexpr size_t kRoomForFileName = 12;
  if (path.size() + kRoomForFileName < MAX_PATH || path.starts_with(L"\\\\?\\")) return path;
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Splits "folder\pattern" at the last separator. Searches always enumerate every
// entry ("folder\*") and match the long names themselves: Windows also matches
// 8.3 short names, so its "*.ttf" would find "a.ttfx" through "A~1.TTF".
struct SplitSearch {
  std::wstring folder;  // with its trailing separator, or empty
  std::string pattern;
};

SplitSearch SplitPattern(std::string_view pattern) {
  const size_t split = pattern.find_last_of("\\/:");
  if (split == std::string_view::npos) return {L"", std::string(pattern)};
  return {SystemPath(pattern.substr(0, split + 1)), std::string(pattern.substr(split + 1))};
}

HANDLE FindFirst(const std::wstring& folderWithSeparator, WIN32_FIND_DATAW& data) {
  const std::wstring all = folderWithSeparator + L"*";
  return FindFirstFileExW(all.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                          FIND_FIRST_EX_LARGE_FETCH);
}

bool HasWildcard(std::string_view path) {
  const size_t split = path.find_last_of("\\/:");
  const std::string_view last = split == std::string_view::npos ? path : path.substr(split + 1);
  return last.find_first_of("*?") != std::string_view::npos;
}

// First entry whose long name matches the path's last component.
bool FindFirstMatch(std::string_view path, WIN32_FIND_DATAW& match) {
  const SplitSearch split = SplitPattern(path);
  UniqueFindHandle find{FindFirst(split.folder, match)};
  if (!find.Valid()) return false;
  do {
    if (MatchesPattern(Narrow(match.cFileName), split.pattern)) return true;
  } while (FindNextFileW(find.Get(), &match));
  return false;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t split = path.find_last_of(L"\\/");
  if (split == std::wstring::npos) return L".";
  return path.substr(0, split + 1);
}

std::wstring RandomSuffix() {
  static std::mt19937_64 generator{std::random_device{}()};
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::uint64_t value = generator();
  std::wstring suffix(16, L'0');
  for (wchar_t& c : suffix) {
    c = kDigits[value & 15];
    value >>= 4;
  }
  return suffix;
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

FileResult LastError(FileStep step) { return Failure(step, static_cast<int>(GetLastError())); }

// The temporary of the copy in progress, for AbandonCopyInProgress on the
// console control handler's thread: set after the handle exists, cleared
// before it is renamed or removed.
std::atomic<HANDLE> activeTemporary{nullptr};
// Set by AbandonCopyInProgress: the copy in progress must not take its name.
std::atomic<bool> temporaryAbandoned{false};

class ActiveTemporary {
 public:
  explicit ActiveTemporary(HANDLE file) {
    temporaryAbandoned.store(false);
    activeTemporary.store(file);
  }
  ~ActiveTemporary() { Clear(); }
  ActiveTemporary(const ActiveTemporary&) = delete;
  ActiveTemporary& operator=(const ActiveTemporary&) = delete;
  void Clear() { activeTemporary.store(nullptr); }
  bool Abandoned() const { return temporaryAbandoned.load(); }
};

// Creates a fresh temporary file beside `target`, exclusively, and holds it
// open without sharing read or write for its whole life: a run that can open
// one of ours for itself takes it for the leftover of a run that died. It
// shares delete, so that its own rename can go through while it is held. The
// ".tmp" name keeps it from ever being listed as a font.
UniqueKernelHandle CreateTemporaryBeside(const std::wstring& target, std::wstring& tempPath, FileResult& result) {
  const std::wstring folder = FolderOf(target);
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (const int fault = InjectedFault(FileStep::Open)) {
      result = Failure(FileStep::Open, fault);
      return UniqueKernelHandle{};
    }
    tempPath = folder + (IsSeparator(folder.back()) ? L"" : L"\\") + L".quorvane-" + RandomSuffix() + L".tmp";
    UniqueKernelHandle file{CreateFileW(tempPath.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (file) return file;
    result = LastError(FileStep::Open);
    if (GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return UniqueKernelHandle{};
}

// Marks the held temporary for deletion; it goes when the handle closes.
bool DeleteOnClose(HANDLE file) {
  FILE_DISPOSITION_INFO dispose{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
}

// A failed cleanup is retried, so one refused delete leaves no temporary behind.
void RemoveTemporary(UniqueKernelHandle& file, const std::wstring& tempPath) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (InjectedFault(FileStep::Delete) != 0) continue;
    if (file && DeleteOnClose(file.Get())) {
      file.Reset();
      return;
    }
    file.Reset();
    if (DeleteFileW(tempPath.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
  }
}


// Our own loop rather than CopyFileExW: Wine never calls CopyFileExW's progress
// routine, and a window has to stay alive (and its stop button quick) during a
// 20 MB font on every system.
class TransferLoop : private TransferProgress {
 public:
  TransferLoop(HANDLE in, HANDLE out, std::uint64_t total, const CopyOptions& options)
      : TransferProgress(total, options), in_(in), out_(out) {}

  Transfer Run() {
    if (!Continue()) return Abandon();
    for (;;) {
      const std::span<std::byte> buffer = Block();
      DWORD got = 0;
      if (const int fault = InjectedFault(FileStep::Read)) return Fail(Failure(FileStep::Read, fault));
      if (!ReadFile(in_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        return Fail(LastError(FileStep::Read));
      }
      if (got == 0) return Done();
      DWORD put = 0;
      if (const int fault = InjectedFault(FileStep::Write)) return Fail(Failure(FileStep::Write, fault));
      if (!WriteFile(out_, buffer.data(), got, &put, nullptr)) return Fail(LastError(FileStep::Write));
      if (put != got) return Fail(Failure(FileStep::Write, ERROR_WRITE_FAULT));
      Moved(buffer.first(got));
      if (!Continue()) return Abandon();
    }
  }

 private:
  HANDLE in_;
  HANDLE out_;
};

bool IsExistsError(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

// Only a file another program holds open (a loaded font) waits for the
// restart. Renaming over a held file says "access denied", as a file this
// account may not touch does (one of TrustedInstaller's): opening the target
// for delete, sharing everything, tells the two apart.
bool IsHeldOpen(DWORD error, const std::wstring& path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  const UniqueKernelHandle probe{CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
  return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

// A font held for a moment (an antivirus scan, the font cache reading it) is
// let go within a second: `attempt` (a system error code, 0 when it worked) is
// tried again over about that long before the hold counts as lasting.
template <typename Attempt>
DWORD RetryWhileHeld(const std::wstring& path, Attempt attempt) {
  static constexpr DWORD kPauses[] = {50, 100, 150, 200, 250, 250};
  DWORD error = attempt();
  for (const DWORD pause : kPauses) {
    if (error == 0 || !IsHeldOpen(error, path)) break;
    Sleep(pause);
    error = attempt();
  }
  return error;
}

std::uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

// The source, open for reading, and what it is; a folder is refused.
FileResult OpenSource(const std::wstring& path, UniqueKernelHandle& in, BY_HANDLE_FILE_INFORMATION& info) {
  if (const int fault = InjectedFault(FileStep::Open)) return Failure(FileStep::Open, fault);
  in = UniqueKernelHandle{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
  if (!in) return LastError(FileStep::Open);
  if (!GetFileInformationByHandle(in.Get(), &info)) return LastError(FileStep::Open);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Failure(FileStep::Open, ERROR_ACCESS_DENIED);
  return {};
}

// A read-only bit that an earlier version copied from the share, cleared for
// the replace: put back unless the new file took the name.
class ClearedReadOnly {
 public:
  ClearedReadOnly() = default;
  ~ClearedReadOnly() {
    if (!path_.empty()) SetFileAttributesW(path_.c_str(), attributes_);
  }
  ClearedReadOnly(const ClearedReadOnly&) = delete;
  ClearedReadOnly& operator=(const ClearedReadOnly&) = delete;
  bool Clear(const std::wstring& path, DWORD attributes) {
    if (!SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    path_ = path;
    attributes_ = attributes;
    return true;
  }
  bool Cleared() const { return !path_.empty(); }
  void Keep() { path_.clear(); }

 private:
  std::wstring path_;
  DWORD attributes_ = 0;
};

// Windows refuses to overwrite read-only, hidden and system files; Wine and an
// elevated process do not always, so the attributes are tested here. A target
// that is the source itself (a hard link) would be lost by the replace.
FileResult RefuseTarget(const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& source, bool clearReadOnly,
                        ClearedReadOnly& cleared) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  constexpr DWORD kRefused =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const bool onlyReadOnly = (attributes & kRefused) == FILE_ATTRIBUTE_READONLY;
  if ((attributes & kRefused) != 0 && !(onlyReadOnly && clearReadOnly && cleared.Clear(path, attributes))) {
    return Failure(FileStep::Open, ERROR_ACCESS_DENIED);
  }
  const UniqueKernelHandle existing{CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr)};
  const FileIdentity sourceId{source.dwVolumeSerialNumber,
                              (static_cast<std::uint64_t>(source.nFileIndexHigh) << 32) | source.nFileIndexLow};
  if (existing && IdentityOfHandle(existing.Get()) == sourceId) {
    return {FileError{FileStep::Open, 0, FileErrorKind::SameFile}};
  }
  return {};
}

// The copy keeps the source's last-write time, as CopyFile does.
FileResult FinishTemporary(HANDLE out, const BY_HANDLE_FILE_INFORMATION& source) {
  if (!SetFileTime(out, nullptr, nullptr, &source.ftLastWriteTime)) return LastError(FileStep::Write);
  return {};
}

// The new file takes the target's name only where none exists yet: the
// rename without MOVEFILE_REPLACE_EXISTING fails on an existing name.
FileResult RenameWithoutReplacing(const std::wstring& from, const std::wstring& to, bool& exists) {
  exists = false;
  if (const int fault = InjectedFault(FileStep::Rename)) return Failure(FileStep::Rename, fault);
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  exists = IsExistsError(GetLastError());
  return exists ? FileResult{} : LastError(FileStep::Rename);
}

// The new data on disk before it replaces the old, and the rename itself
// written through: so a power cut leaves the old file or the new one.
FileResult ReplaceDurably(HANDLE file, const std::wstring& from, const std::wstring& to) {
  if (const int fault = InjectedFault(FileStep::Flush)) return Failure(FileStep::Flush, fault);
  if (!FlushFileBuffers(file)) return LastError(FileStep::Flush);
  if (const int fault = InjectedFault(FileStep::Rename)) return Failure(FileStep::Rename, fault);
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastError(FileStep::Rename);
  }
  return {};
}

}  // namespace

struct DirectorySearch::State {
  State(HANDLE handle, std::string namePattern, const WIN32_FIND_DATAW& first)
      : find(handle), pattern(std::move(namePattern)), pending(first) {}

  UniqueFindHandle find;
  std::string pattern;
  WIN32_FIND_DATAW pending;  // the entry FindFirstFileExW returned, not yet tested
  bool hasPending = true;
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

void DirectorySearch::Close() { state_.reset(); }

bool DirectorySearch::IsOpen() const { return state_ != nullptr; }

std::string DirectorySearch::Next(std::string_view pattern, AttributeMask mask, bool filesOnly) {
  if (!pattern.empty()) {
    Close();
    const SplitSearch split = SplitPattern(pattern);
    WIN32_FIND_DATAW first;
    HANDLE find = FindFirst(split.folder, first);
    if (find == INVALID_HANDLE_VALUE) return {};
    state_ = std::make_unique<State>(find, split.pattern, first);
  }
  if (!state_) return {};
  mask &= kSearchableAttributes;

  WIN32_FIND_DATAW& data = state_->pending;
  for (;;) {
    if (!state_->hasPending && !FindNextFileW(state_->find.Get(), &data)) {
      Close();
      return {};
    }
    state_->hasPending = false;
    const std::string name = Narrow(data.cFileName);
    if (!MatchesPattern(name, state_->pattern)) continue;
    const DWORD attributes = data.dwFileAttributes;
    const bool accepted = filesOnly    ? (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
                          : mask != 0 ? (attributes & mask) != 0
                                      : attributes == 0;
    if (accepted) return name;
  }
}

bool FileExists(std::string_view path) {
  if (path.empty()) return false;
  if (!HasWildcard(path)) return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  WIN32_FIND_DATAW match;
  return FindFirstMatch(path, match);
}

std::int64_t FileSize(std::string_view path) {
  if (path.empty()) return -1;
  if (!HasWildcard(path)) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  }
  WIN32_FIND_DATAW match;
  if (!FindFirstMatch(path, match)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(match.nFileSizeHigh) << 32) | match.nFileSizeLow);
}

bool EntryExists(std::string_view path) {
  return !path.empty() && GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileResult CheckEntry(std::string_view path, bool& exists) {
  exists = !path.empty() && GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  if (exists || path.empty()) return {};
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
  return Failure(FileStep::Open, static_cast<int>(error));
}

bool IsFolder(std::string_view path) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

CopyResult CopyOneFile(std::string_view source, std::string_view target, const CopyOptions& options) {
  const auto failed = [](FileResult result) { return CopyResult{CopyStatus::Failed, std::move(result.error), 0}; };
  if (source.empty() || target.empty()) return failed(Failure(FileStep::Open, ERROR_PATH_NOT_FOUND));
  const std::wstring sourcePath = SystemPath(source), targetPath = SystemPath(target);
  UniqueKernelHandle in;
  BY_HANDLE_FILE_INFORMATION sourceInfo;
  if (FileResult opened = OpenSource(sourcePath, in, sourceInfo); !opened) return failed(opened);
  ClearedReadOnly cleared;
  if (FileResult refused = RefuseTarget(targetPath, sourceInfo, options.clearReadOnly, cleared); !refused) {
    return failed(refused);
  }

  std::wstring tempPath;
  FileResult result;
  UniqueKernelHandle out = CreateTemporaryBeside(targetPath, tempPath, result);
  if (!out) return failed(result);
  ActiveTemporary active(out.Get());
  const auto abandon = [&](CopyResult copy) {
    active.Clear();
    RemoveTemporary(out, tempPath);
    return copy;
  };

  Transfer transfer = TransferLoop(in.Get(), out.Get(), SizeOf(sourceInfo), options).Run();
  if (transfer.abandoned) return abandon({CopyStatus::Abandoned, std::nullopt, 0});
  result = std::move(transfer.result);
  if (result && transfer.refusal) return abandon(Refused(std::move(transfer)));
  if (result) result = FinishTemporary(out.Get(), sourceInfo);
  if (!result) return abandon(failed(result));

  active.Clear();
  if (active.Abandoned()) return abandon({CopyStatus::Abandoned, std::nullopt, 0});
  bool exists = false;
  result = RenameWithoutReplacing(tempPath, targetPath, exists);
  CopyStatus status = CopyStatus::Created;
  if (result && exists) {
    if (options.existing == ExistingTarget::Keep) {
      WithdrawWaitingCopies(targetPath);
      return abandon({CopyStatus::TargetExists, std::nullopt, 0});
    }
    RetryWhileHeld(targetPath, [&] {
      result = ReplaceDurably(out.Get(), tempPath, targetPath);
      return result ? DWORD{0} : static_cast<DWORD>(result.error->code);
    });
    status = CopyStatus::Replaced;
    const bool inUse = !result && IsHeldOpen(static_cast<DWORD>(result.error->code), targetPath);
    if (inUse && options.replaceAtRebootWhenInUse && ScheduleAtReboot(out, tempPath, targetPath)) {
      const bool readOnlyCleared = cleared.Cleared();
      cleared.Keep();  // the bit would stop the rename at the restart
      return {CopyStatus::ReplacedAtReboot, std::nullopt, transfer.bytes, readOnlyCleared, transfer.sha256};
    }
  }
  if (!result) return abandon(failed(result));
  // The copy keeps the folder's defaults: a read-only, hidden or system bit
  // taken from the share would stop every later update of it.
  out.Reset();
  WithdrawWaitingCopies(targetPath);
  const bool readOnlyCleared = cleared.Cleared();
  cleared.Keep();
  return {status, std::nullopt, transfer.bytes, readOnlyCleared, transfer.sha256};
}

std::optional<FileIdentity> IdentityOf(std::string_view path) {
  if (path.empty()) return std::nullopt;
  const UniqueKernelHandle file{CreateFileW(SystemPath(path).c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  return file ? IdentityOfHandle(file.Get()) : std::nullopt;
}

std::optional<FileStamp> StampOf(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  // 100-ns ticks since 1601 to nanoseconds since 1970.
  constexpr std::int64_t kEpochDifference = 116444736000000000;
  const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                               data.ftLastWriteTime.dwLowDateTime);
  return FileStamp{(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                   (ticks - kEpochDifference) * 100};
}

namespace {

// As much as `size` bytes, less only at the end of the file; false on an error.
bool ReadFully(HANDLE file, char* buffer, DWORD size, DWORD& got) {
  got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!ReadFile(file, buffer + got, size - got, &n, nullptr)) return false;
    if (n == 0) break;
    got += n;
  }
  return true;
}

UniqueKernelHandle OpenForReading(std::string_view path) {
  return UniqueKernelHandle{CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
}

}  // namespace

std::optional<bool> SameContent(std::string_view first, std::string_view second) {
  const UniqueKernelHandle a = OpenForReading(first), b = OpenForReading(second);
  LARGE_INTEGER sizeA{}, sizeB{};
  if (!a || !b || !GetFileSizeEx(a.Get(), &sizeA) || !GetFileSizeEx(b.Get(), &sizeB)) return std::nullopt;
  if (sizeA.QuadPart != sizeB.QuadPart) return false;
  static constexpr DWORD kPiece = 1 << 20;
  std::unique_ptr<char[]> bufferA(new char[kPiece]), bufferB(new char[kPiece]);
  for (;;) {
    DWORD gotA = 0, gotB = 0;
    if (!ReadFully(a.Get(), bufferA.get(), kPiece, gotA) || !ReadFully(b.Get(), bufferB.get(), kPiece, gotB)) {
      return std::nullopt;
    }
    if (gotA != gotB || std::memcmp(bufferA.get(), bufferB.get(), gotA) != 0) return false;
    if (gotA == 0) return true;
  }
}

StaleTemporaries RemoveStaleTemporaries(std::string_view folder) {
  StaleTemporaries removed;
  std::wstring prefix = SystemPath(folder);
  if (!prefix.empty() && !IsSeparator(prefix.back())) prefix += L'\\';
  WIN32_FIND_DATAW data;
  const UniqueFindHandle find{FindFirst(prefix, data)};
  if (!find) return removed;
  // Waiting copies that no rename names any more (withdrawn by a run without
  // the right to change the list, or left by the restart) go too.
  RestartRenameList renames;
  do {
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
    const bool waiting = IsWaitingName(data.cFileName);
    if (!waiting && !IsTemporaryName(Narrow(data.cFileName))) continue;
    if (waiting && renames.Moves(prefix + data.cFileName)) continue;
    // A live copy holds its temporary without sharing: then this open fails.
    UniqueKernelHandle file{CreateFileW((prefix + data.cFileName).c_str(), DELETE | FILE_READ_DATA, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size) || !DeleteOnClose(file.Get())) continue;
    ++removed.count;
    removed.bytes += static_cast<std::uint64_t>(size.QuadPart);
  } while (FindNextFileW(find.Get(), &data));
  return removed;
}

void WithdrawReplaceAtRestart(std::string_view target) {
  if (!target.empty()) WithdrawWaitingCopies(SystemPath(target));
}

void AbandonCopyInProgress() noexcept {
  HANDLE file = activeTemporary.load();
  if (file == nullptr) return;
  temporaryAbandoned.store(true);
  DeleteOnClose(file);
}

RemoveResult RemoveFile(std::string_view path, bool atRebootWhenInUse) {
  const std::wstring systemPath = SystemPath(path);
  const auto failed = [](DWORD code) { return RemoveResult{RemoveStatus::Failed, FileError{FileStep::Delete, static_cast<int>(code)}}; };
  const DWORD attributes = GetFileAttributesW(systemPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return failed(GetLastError());
  constexpr DWORD kKept =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((attributes & kKept) != 0) return failed(ERROR_ACCESS_DENIED);
  // An injected fault stands for the system's refusal of the delete.
  const DWORD refused = RetryWhileHeld(systemPath, [&] {
    if (const int fault = InjectedFault(FileStep::Delete)) return static_cast<DWORD>(fault);
    return DeleteFileW(systemPath.c_str()) ? DWORD{0} : GetLastError();
  });
  if (refused == 0) {
    WithdrawWaitingCopies(systemPath);
    return {RemoveStatus::Removed, std::nullopt};
  }
  if (atRebootWhenInUse && IsHeldOpen(refused, systemPath) &&
      MoveFileExW(systemPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    WithdrawWaitingCopies(systemPath);
    return {RemoveStatus::AtReboot, std::nullopt};
  }
  return failed(refused);
}

// The entries come in large reads through the folder's own handle: under Wine
// each entry that FindNextFileW hands out one by one costs more than reading
// a 64 KiB block of them together.
FileResult ListFolder(std::string_view folder, std::vector<FolderEntry>& entries) {
  std::wstring prefix = SystemPath(folder);
  if (!prefix.empty() && !IsSeparator(prefix.back())) prefix += L'\\';
  const UniqueKernelHandle handle{CreateFileW(prefix.empty() ? L"." : prefix.c_str(), FILE_LIST_DIRECTORY,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (!handle) return LastError(FileStep::Open);
  constexpr DWORD kReadBytes = 64 << 10;
  const auto block = std::make_unique_for_overwrite<std::uint64_t[]>(kReadBytes / sizeof(std::uint64_t));
  FILE_INFO_BY_HANDLE_CLASS read = FileFullDirectoryRestartInfo;
  // An empty drive root has not even "." to list: its first read finds no more files.
  while (GetFileInformationByHandleEx(handle.Get(), read, block.get(), kReadBytes)) {
    read = FileFullDirectoryInfo;
    for (auto* at = reinterpret_cast<const std::byte*>(block.get());;) {
      const auto& entry = *reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
      const std::wstring_view name(entry.FileName, entry.FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        EntryKind kind = EntryKind::File;
        int error = 0;
        if (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          kind = (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::FolderLink : EntryKind::Folder;
        } else if (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          // A link: what it leads to decides (Wine gives a link to a folder no folder bit).
          const DWORD target = GetFileAttributesW((prefix + std::wstring(name)).c_str());
          if (target == INVALID_FILE_ATTRIBUTES) {
            kind = EntryKind::Unknown;
            error = static_cast<int>(GetLastError());
          } else if (target & FILE_ATTRIBUTE_DIRECTORY) {
            kind = EntryKind::FolderLink;
          }
        }
        entries.push_back({Narrow(name), kind, error});
      }
      if (entry.NextEntryOffset == 0) break;
      at += entry.NextEntryOffset;
    }
  }
  if (GetLastError() != ERROR_NO_MORE_FILES) return LastError(FileStep::Read);
  return {};
}

ReadableFile::~ReadableFile() { Close(); }

void ReadableFile::Close() {
  if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = -1;
}

FileResult ReadableFile::Open(std::string_view path) {
  Close();
  if (const int fault = InjectedFault(FileStep::Open)) return Failure(FileStep::Open, fault);
  const std::wstring systemPath = SystemPath(path);
  // A folder opens only with backup semantics; its attributes say enough.
  const DWORD attributes = GetFileAttributesW(systemPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    kind_ = EntryKind::Folder;
    size_ = 0;
    return {};
  }
  // A font the system has loaded is open for reading and writing elsewhere.
  UniqueKernelHandle file{CreateFileW(systemPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!file) return LastError(FileStep::Open);
  LARGE_INTEGER size{};
  const bool disk = GetFileType(file.Get()) == FILE_TYPE_DISK;
  if (disk && !GetFileSizeEx(file.Get(), &size)) return LastError(FileStep::Open);
  kind_ = disk ? EntryKind::File : EntryKind::Other;
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  native_ = reinterpret_cast<std::intptr_t>(file.Release());
  return {};
}

FileResult ReadableFile::ReadAt(std::uint64_t offset, std::span<std::byte> out) {
  for (size_t done = 0; done < out.size();) {
    if (const int fault = InjectedFault(FileStep::Read)) return Failure(FileStep::Read, fault);
    OVERLAPPED at{};
    const std::uint64_t from = offset + done;
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(native_), out.data() + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return {FileError{FileStep::Read, 0, FileErrorKind::Truncated}};
      return LastError(FileStep::Read);
    }
    if (got == 0) return {FileError{FileStep::Read, 0, FileErrorKind::Truncated}};
    done += got;
  }
  return {};
}

}  // namespace quorvane
