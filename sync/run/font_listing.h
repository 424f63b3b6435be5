#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/files/file_error.h"
#include "sync/files/file_ops.h"
#include "sync/run/sync_run_view.h"

namespace quorvane {

struct ListingOptions {
  // A folder whose sub-tree is not listed: the target, when it lies inside a source.
  std::optional<FileIdentity> leaveOut;
};

struct UnreadableFolder {
  std::string path;
  FileError reason;
};

// An entry of the tree that was not looked into: a link to a folder (never
// followed, so no loop can catch the walk) or an entry whose kind the system
// would not tell. Fonts may lie behind either, so a listing with one is not whole.
struct SkippedEntry {
  std::string path;
  std::optional<FileError> reason;  // none for a folder link
};

struct ListingResult {
  std::int64_t added = 0;
  // Folders of the tree that could not be read, with why; their fonts are not listed.
  std::vector<UnreadableFolder> unreadable;
  std::vector<SkippedEntry> skipped;
  // The folder of ListingOptions::leaveOut was met, and left out.
  bool leftOut = false;
};

// Appends one row per font file of `sourceFolder` and of its sub-folders at every
// depth (a folder's own files first, then each sub-folder's) to the view's list.
// Numbers continue after the rows already listed; a file whose full path is
// already listed is not listed twice. Directory links are never followed, and
// are named in the result with the entries whose kind could not be told. A
// folder that is missing or unreadable lists nothing and is named in the result.
ListingResult FontListing(std::string_view sourceFolder, SyncRunView& view, const ListingOptions& options = {});

}  // namespace quorvane
