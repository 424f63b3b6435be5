// The file operations the core stands on. One interface, two backends:
// file_ops_win32.cpp (wide Windows calls) and file_ops_posix.cpp; CMake picks one.
// Paths are UTF-8 everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sync/file_error.h"

namespace quorvane {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Joins with exactly one separator; a folder that already ends with one (a drive
// root such as "D:\") gets none added. An empty folder yields the bare name.
std::string JoinPath(std::string_view folder, std::string_view name);

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

// The full size of the first matching entry, or -1 when nothing matches.
std::int64_t FileSize(std::string_view path);

// True when `path` names a folder (following links).
bool IsFolder(std::string_view path);

// Called now and then while a large file copies, so the caller can keep its
// window alive.
using CopyProgress = std::function<void()>;

// Copies `source` over `target` without ever losing data: the bytes go into a
// fresh temporary file beside the target, which then replaces the target in one
// rename. Refuses a read-only (on Windows also hidden or system) target and a
// target that is the source itself. Keeps the source's last-write time and
// never writes to the source. On failure the target keeps its old content and no
// temporary file remains, and the result says which step failed and why.
FileResult CopyOneFile(std::string_view source, std::string_view target, const CopyProgress& progress = {});

enum class EntryKind { File, Folder, FolderLink, Other };

struct FolderEntry {
  std::string name;
  EntryKind kind;
};

// One pass over a folder's entries in file-system order, without "." and "..".
// A link to a file counts as a File; a link or junction to a folder as
// FolderLink. Fails with the system's reason when the folder cannot be read.
FileResult ListFolder(std::string_view folder, std::vector<FolderEntry>& entries);

// Case-insensitive (ASCII) wildcard match of a bare name against a pattern
// holding * and ?.
bool MatchesPattern(std::string_view name, std::string_view pattern);

}  // namespace quorvane
