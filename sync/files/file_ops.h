// The file operations the core stands on. One interface, two backends:
// file_ops_win32.cpp (wide Windows calls) and file_ops_posix.cpp; CMake picks one.
// Paths are UTF-8 everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sync/files/file_error.h"
#include "sync/files/sha256.h"

namespace quorvane {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Joins with exactly one separator; a folder that already ends with one (a drive
// root such as "D:\") gets none added. An empty folder yields the bare name.
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder and the bare name of a path: "D:\\a\\b.ttf" gives "D:\\a" and
// "b.ttf"; a path without a separator is all name.
std::string_view FolderPart(std::string_view path);
std::string_view NamePart(std::string_view path);

// Windows file attribute bits, which the POSIX backend emulates: a directory is
// kDirectory, a file without write permission kReadOnly, a dot-file kHidden, and
// every other regular file kArchive.
using AttributeMask = std::uint32_t;
inline constexpr AttributeMask kAttributeReadOnly = 0x01;
inline constexpr AttributeMask kAttributeHidden = 0x02;
inline constexpr AttributeMask kAttributeSystem = 0x04;
inline constexpr AttributeMask kAttributeDirectory = 0x10;
inline constexpr AttributeMask kAttributeArchive = 0x20;
inline constexpr AttributeMask kAttributeNormal = 0x80;
// Only these bits take part in a search's acceptance rule.
inline constexpr AttributeMask kSearchableAttributes = 0x37;

// A stateful directory search returning bare entry names in file-system order.
// The pattern's last component may hold * and ?; it is matched against long names
// only, without regard to case.
class DirectorySearch {
 public:
  DirectorySearch();
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;

  // A non-empty pattern starts a new search (closing the open one); an empty one
  // continues it. With filesOnly, every entry that is not a directory is
  // accepted; otherwise the mask, reduced to kSearchableAttributes, accepts an
  // entry having any of its bits, and a mask that reduces to 0 accepts only
  // entries whose attribute word is 0. Returns "" when nothing more matches.
  std::string Next(std::string_view pattern, AttributeMask mask, bool filesOnly);
  void Close();
  bool IsOpen() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// True when a directory entry (file, folder or link) exists at `path`; a
// wildcard in the last component is true when anything matches.
bool FileExists(std::string_view path);

// True when an entry of exactly this name exists. No wildcards: a POSIX file
// literally named "*.ttf" must not be taken for a pattern.
bool EntryExists(std::string_view path);

// Whether an entry of exactly this name exists, as EntryExists, where the
// system can tell: only "no such file" and "no such path" make it absent; any
// other failure (access denied, a network path that is down) is its reason.
FileResult CheckEntry(std::string_view path, bool& exists);

// The full size of the first matching entry, or -1 when nothing matches.
std::int64_t FileSize(std::string_view path);

// True when `path` names a folder (following links).
bool IsFolder(std::string_view path);

// Which file an entry is, whatever its name or the path that leads to it
// (st_dev and st_ino; the volume serial number and file index on Windows).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of what `path` names, following links; nothing when it is missing.
std::optional<FileIdentity> IdentityOf(std::string_view path);

// Size and last-write time, in nanoseconds since 1970, of a file.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
};

std::optional<FileStamp> StampOf(std::string_view path);

// The same size and last-write time, to the file system's resolution (a copy
// on FAT keeps only even seconds); false when either is unknown.
bool SameStamp(const std::optional<FileStamp>& first, const std::optional<FileStamp>& second);

// Whether two files hold the same bytes, read side by side a piece at a time;
// nothing when either cannot be read.
std::optional<bool> SameContent(std::string_view first, std::string_view second);

// The update rule's one test of a same-name target: it holds what the source
// holds, by content or by size and last-write time; unknown is changed.
bool Unchanged(std::string_view source, std::string_view target, bool byContent);

// What a copy does with a target that exists when the new file takes its name.
enum class ExistingTarget {
  Keep,     // leave it: the copy ends as kTargetExists and the temporary goes
  Replace,  // the new file replaces it, its data on disk first
};

// Reads a copy's bytes as they are written, so that they can be refused before
// the copy takes the target's name, without reading the file a second time.
class CopyCheck {
 public:
  virtual ~CopyCheck() = default;
  // Each block the copy writes, in order.
  virtual void Feed(std::span<const std::byte> bytes) = 0;
  // After the last block, with their SHA-256 when the copy computes it (see
  // CopyOptions::hash; Get() waits for it): nothing when the bytes may take
  // the target's name, else why not.
  virtual std::optional<std::string> Finish(const PendingSha256& sha256) = 0;
};

struct CopyOptions {
  ExistingTarget existing = ExistingTarget::Replace;
  // Told how far the copy is, at its start, after each piece and at its end;
  // false abandons the copy.
  std::function<bool(std::uint64_t done, std::uint64_t total)> progress{};
  // Windows: a target that cannot be replaced because another program holds
  // it open (a font the system has loaded) is replaced at the next start
  // instead; the new file waits beside it under a ".quorvane-*.pending" name,
  // in place of any an earlier run left waiting for it. Needs the right to
  // schedule it (administrators); without, the copy fails as it would have. A
  // target this account may not replace is no target in use: that copy fails.
  bool replaceAtRebootWhenInUse = false;
  // The target's read-only bit is one an earlier version copied from the
  // share (Windows): cleared for the replace, and set again if it fails.
  // Elsewhere no copy ever took it, and a read-only target stays refused.
  bool clearReadOnly = false;
  // The SHA-256 of the bytes written, computed as they pass (CopyResult::sha256).
  bool hash = false;
  // Given every block written; a reason from it refuses the copy
  // (CopyStatus::Refused). Not owned.
  CopyCheck* check = nullptr;
};

enum class CopyStatus {
  Created,       // the target did not exist; now it is the source's copy
  Replaced,      // the target existed and is now the source's copy
  TargetExists,  // ExistingTarget::Keep met a target: nothing changed
  Abandoned,     // the progress callback said stop: nothing changed
  Failed,        // nothing changed; `error` says why
  ReplacedAtReboot,  // the target is in use; the new file replaces it at the next start
  Refused,       // CopyOptions::check refused the bytes: nothing changed; `refusal` says why
};

struct [[nodiscard]] CopyResult {
  CopyStatus status = CopyStatus::Failed;
  std::optional<FileError> error{};
  std::uint64_t bytes = 0;
  bool readOnlyCleared = false;  // CopyOptions::clearReadOnly met a read-only target
  // With CopyOptions::hash, once every byte was written: their SHA-256, which
  // may still be being computed (Get() waits), or nothing when the system's hash failed.
  PendingSha256 sha256{};
  std::optional<std::string> refusal{};  // CopyOptions::check's reason, with Refused

  bool Succeeded() const { return status == CopyStatus::Created || status == CopyStatus::Replaced; }
  explicit operator bool() const { return Succeeded(); }
};

// Copies `source` to `target` without ever losing data: the bytes go into a
// fresh temporary file beside the target, held so that no other run takes it
// for a leftover, which then takes the target's name in one rename. A new file
// takes the name only where none exists (so two runs never overwrite each
// other unseen); a replaced file's data reaches the disk before it replaces
// the old one, and the folder is synced after, so after a power cut the target
// is the old file or the new, never a mix. Refuses a read-only (on Windows also
// hidden or system) target and a target that is the source itself. Keeps the
// source's last-write time, gives the copy the mode a shared font folder needs
// (0644 less the umask on POSIX; on Windows the folder's inherited permissions
// and default attributes, never the source's read-only, hidden or system bits),
// and never writes to the source. A copy that puts its file in place, or
// leaves an existing target, withdraws what earlier runs left waiting to
// replace the target at the next start. Whatever fails, the target keeps its old
// content, no temporary file remains, and the result says which step failed and why.
CopyResult CopyOneFile(std::string_view source, std::string_view target, const CopyOptions& options = {});

enum class RemoveStatus {
  Removed,
  AtReboot,  // in use: it goes when the system next starts
  Failed,
};

struct [[nodiscard]] RemoveResult {
  RemoveStatus status = RemoveStatus::Failed;
  std::optional<FileError> error;
};

// Removes a file; never a folder, and never a read-only (on Windows also
// hidden or system) file. With `atRebootWhenInUse`, one that the system holds
// open (a loaded font, on Windows) is removed at the next start instead, where
// the right to schedule that is given (administrators); one this account may
// not remove fails. Either way, no copy waits to take its place at the restart.
RemoveResult RemoveFile(std::string_view path, bool atRebootWhenInUse);

// For a run that leaves `target` as it is: what earlier runs scheduled to
// replace it at the next start (on Windows, a waiting copy and its rename) is
// withdrawn. Nothing to do elsewhere.
void WithdrawReplaceAtRestart(std::string_view target);

// The temporaries our copies make are named ".quorvane-" + 16 hex digits + ".tmp".
bool IsTemporaryName(std::string_view name);

// Temporary files of earlier runs that ended without cleaning up after
// themselves (killed, or the machine went down), removed from a target folder.
struct StaleTemporaries {
  std::int64_t count = 0;
  std::uint64_t bytes = 0;
};

// Removes from `folder` the temporaries of copies that are no longer running
// (their process ended without cleaning up), and on Windows the waiting copies
// that no rename at the next start names any more; a live copy's is never touched.
StaleTemporaries RemoveStaleTemporaries(std::string_view folder);

// For an interrupt that must end the process at once: removes the temporary of
// the copy in progress, if any. Safe in a POSIX signal handler and in a Windows
// console control handler.
void AbandonCopyInProgress() noexcept;

// Unknown: the system would not say what the entry is (its status failed, a
// link leads nowhere that can be reached); it may be a font, or a folder of them.
enum class EntryKind { File, Folder, FolderLink, Other, Unknown };

struct FolderEntry {
  std::string name;
  EntryKind kind;
  int error = 0;  // with Unknown: the system's code for why
};

// One pass over a folder's entries in file-system order, without "." and "..".
// A link to a file counts as a File; a link or junction (any reparse point) to
// a folder as FolderLink. Fails with the system's reason when the folder cannot be read.
FileResult ListFolder(std::string_view folder, std::vector<FolderEntry>& entries);

// A file opened to read ranges of it at any offset, as the font reader takes a
// few tables of files up to gigabytes: the same paths as every other file
// operation (long paths on Windows) and the system's own error codes.
class ReadableFile {
 public:
  ReadableFile() = default;
  ~ReadableFile();
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  // A folder or a device (a pipe would block) opens as its kind, and is not
  // to be read.
  FileResult Open(std::string_view path);
  EntryKind Kind() const { return kind_; }
  std::uint64_t Size() const { return size_; }
  // Exactly out.size() bytes from `offset`, or why not.
  FileResult ReadAt(std::uint64_t offset, std::span<std::byte> out);

 private:
  void Close();

  std::intptr_t native_ = -1;  // a file descriptor, or a HANDLE (INVALID_HANDLE_VALUE is -1)
  EntryKind kind_ = EntryKind::Other;
  std::uint64_t size_ = 0;
};

// Case-insensitive (ASCII) wildcard match of a bare name against a pattern
// holding * and ?.
bool MatchesPattern(std::string_view name, std::string_view pattern);

}  // namespace quorvane
