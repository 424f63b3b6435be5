#pragma once

#include <string_view>

#include "sync/sync_run_view.h"

namespace quorvane {

// Appends one row per font file of `sourceFolder` and of its sub-folders at every
// depth (a folder's own files first, then each sub-folder's) to the view's list.
// Numbers continue after the rows already listed; a file whose full path is
// already listed is not listed twice. Directory links are never followed. A folder
// that is missing or unreadable lists nothing. Returns the number of rows added.
std::int64_t FontListing(std::string_view sourceFolder, SyncRunView& view);

}  // namespace quorvane
