// What quorvane-sync put into one target folder, kept between runs, so that a
// later run removes what it installed and only that. Text, whole: a header, the
// folder it belongs to, one line per file, and an end line with the count and a
// checksum of all before it, so a cut-off or altered record is known as damaged
// rather than taken for a shorter one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "sync/files/file_error.h"
#include "sync/install/registration_outcome.h"

namespace quorvane {

struct RecordEntry {
  std::string name;            // a bare file name in the target folder, nothing else
  std::string source;          // the file it was copied from, the last time
  std::uint64_t size = 0;      // as copied: a file that differs is no longer ours
  std::int64_t modified = 0;   // nanoseconds since 1970, as FileStamp
  std::string version;         // its version text, when it has one
  std::string value;           // the Fonts value that names it (Windows), when one does
  bool preexisting = false;    // a file of that name was there before the tool first wrote one
  // The source folder, as the run was given it (canonical), that listed it: only
  // a run from that folder may prune it. Empty in a record written before the
  // field was kept: such an entry belongs to whatever sources a run has.
  std::string sourceFolder = {};
  // The SHA-256 of the bytes copied, in lowercase hex, computed as they were
  // written; empty in a record written before it was kept, or when unknown.
  std::string sha256 = {};
};

// The record could not be trusted: never pruned from, never rewritten.
struct RecordDamage {
  std::string why;
};

// A name that stays inside the folder: not empty, no "." or "..", no
// separator; on Windows no stream or drive colon and no control character.
bool IsPlainFileName(std::string_view name);

std::string FormatRecord(std::string_view folder, const std::vector<RecordEntry>& entries);
std::variant<std::vector<RecordEntry>, RecordDamage> ParseRecord(std::string_view text, std::string_view folder);

// FNV-1a of `text`, and a number as 16 hex digits: a record's checksum, and
// the name its file or lock takes from its folder.
std::uint64_t RecordChecksum(std::string_view text);
std::string Hex(std::uint64_t value);

// The one spelling of a folder that its record is kept under: the full path,
// links resolved where the system can.
std::string CanonicalFolder(std::string_view folder);

// Held while a run reads, changes and writes a folder's record, so two runs
// at once never lose each other's changes: a lock file in the records' folder
// on POSIX; on Windows one in a folder only administrators, SYSTEM and the
// account itself may write (ProgramData's, or the user's local application
// data), waited for about two minutes at most.
class RecordLock {
 public:
  RecordLock() = default;
  RecordLock(RecordLock&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
  RecordLock& operator=(RecordLock&& other) noexcept;
  ~RecordLock();

  FileResult Take(std::string_view folder, FontScope scope);

 private:
  void Release();
  std::intptr_t native_ = -1;
};

// Where a folder's record lives and reading and writing it whole. POSIX: a
// file under $XDG_STATE_HOME/quorvane/records (default ~/.local/state; root's
// under /var/lib/quorvane/records whatever its environment), replaced by a
// rename after its data is on the disk. Windows: one value under
// HKLM\SOFTWARE\Quorvane\Records (HKCU\Software for the user's scope), named
// after the folder, written in one call and flushed.
//
// The records cannot be used where they would be kept: `folder` (or a folder
// the tool made on the way to it) is not this account's, or root's, or others
// may write in it; empty when no folder can be named at all (POSIX, not root,
// with neither HOME nor XDG_STATE_HOME).
struct UntrustedRecords {
  std::string folder;
};
// Nothing when the records may be used; `create` makes what is missing on the way.
std::optional<UntrustedRecords> CheckRecordsFolder(FontScope scope, bool create);
// Tests keep root's records (POSIX) and the locks (Windows) out of the system's folders,
// and wait for a lock less than a run may take.
void SetSystemRecordsFolder(std::string_view folder);
void SetRecordLockWait(std::chrono::milliseconds wait);

struct RecordText {
  bool found = false;  // none yet: nothing installed that the tool knows of
  std::string text;
};
std::variant<RecordText, FileError> LoadRecord(std::string_view folder, FontScope scope);
FileResult SaveRecord(std::string_view folder, FontScope scope, std::string_view text);
// For messages and the documentation: the file's path, or the value's key and name.
std::string RecordLocation(std::string_view folder, FontScope scope);

}  // namespace quorvane
