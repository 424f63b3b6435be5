#include "sync/run/font_listing.h"

#include <array>
#include <string>
#include <unordered_set>
#include <vector>

#include "sync/files/file_ops.h"
#include "sync/fonts/font_file.h"
#include "sync/run/sync_types.h"

namespace quorvane {

namespace {

// Walks folders depth first with an explicit stack, so no tree is too deep. One
// pass per folder sorts its files into the patterns' buckets, which gives the
// same order as one search per pattern at a fraction of the cost. Matches are
// kept compactly until the walk ends and the rows are built at their final
// size: a growing vector of rows touched twice the memory, and fresh memory
// costs a page fault per 4 KiB.
class FontWalk {
 public:
  FontWalk(std::unordered_set<std::string> listed, std::int64_t nextNumber, SyncRunView& view,
           const ListingOptions& options, ListingResult& result)
      : listed_(std::move(listed)), nextNumber_(nextNumber), view_(view), options_(options), result_(result) {}

  std::vector<ListedRow> Run(std::string_view root) {
    std::vector<std::string> pending{std::string(root)};
    std::vector<FolderEntry> entries;
    std::array<std::vector<const std::string*>, FontFilePatterns.size()> buckets;
    std::vector<std::string> subFolders;
    while (!pending.empty()) {
      folders_.push_back(std::move(pending.back()));
      pending.pop_back();
      const std::string& folder = folders_.back();
      entries.clear();
      if (options_.leaveOut && IdentityOf(folder) == options_.leaveOut) {
        result_.leftOut = true;
        continue;
      }
      if (const FileResult listed = ListFolder(folder, entries); !listed) {
        result_.unreadable.push_back({folder, *listed.error});
        continue;
      }

      for (auto& bucket : buckets) bucket.clear();
      subFolders.clear();
      for (const FolderEntry& entry : entries) {
        if (entry.kind == EntryKind::File) {
          const int pattern = FontPatternIndex(entry.name);
          if (pattern >= 0) buckets[pattern].push_back(&entry.name);
        } else if (entry.kind == EntryKind::Folder) {
          subFolders.push_back(JoinPath(folder, entry.name));
        } else if (entry.kind == EntryKind::FolderLink) {
          result_.skipped.push_back({JoinPath(folder, entry.name), std::nullopt});
        } else if (entry.kind == EntryKind::Unknown) {
          result_.skipped.push_back({JoinPath(folder, entry.name), FileError{FileStep::Open, entry.error}});
        }
      }
      for (const auto& bucket : buckets) {
        for (const std::string* name : bucket) {
          found_.push_back({folders_.size() - 1, names_.size(), name->size()});
          names_.append(*name);
        }
      }
      // Reversed onto the stack, so sub-folders are walked in listing order.
      for (auto it = subFolders.rbegin(); it != subFolders.rend(); ++it) pending.push_back(std::move(*it));
      view_.ProcessPendingEvents();
    }
    return Rows();
  }

 private:
  struct Found {
    size_t folder;
    size_t nameStart;
    size_t nameSize;
  };

  // One walk never meets a path twice (it follows no folder link), so only the
  // rows listed before it need looking up.
  std::vector<ListedRow> Rows() {
    std::vector<ListedRow> rows;
    rows.reserve(found_.size());
    for (const Found& found : found_) {
      const std::string_view name = std::string_view(names_).substr(found.nameStart, found.nameSize);
      std::string path = JoinPath(folders_[found.folder], name);
      if (!listed_.empty() && listed_.contains(path)) continue;
      rows.push_back({std::to_string(nextNumber_++), std::string(name), std::move(path)});
    }
    return rows;
  }

  std::unordered_set<std::string> listed_;
  std::int64_t nextNumber_;
  SyncRunView& view_;
  const ListingOptions& options_;
  ListingResult& result_;
  std::vector<std::string> folders_;
  std::vector<Found> found_;
  std::string names_;
};

}  // namespace

ListingResult FontListing(std::string_view sourceFolder, SyncRunView& view, const ListingOptions& options) {
  ListingResult result;
  if (sourceFolder.empty()) return result;
  const std::int64_t existingRows = view.RowCount();
  std::unordered_set<std::string> listed;
  listed.reserve(static_cast<size_t>(existingRows));
  for (std::int64_t row = 0; row < existingRows; ++row) listed.insert(view.CellText(row, kPathColumn));

  const std::vector<ListedRow> rows =
      FontWalk(std::move(listed), existingRows + 1, view, options, result).Run(sourceFolder);
  if (!rows.empty()) view.AddRows(rows);
  result.added = static_cast<std::int64_t>(rows.size());
  return result;
}

}  // namespace quorvane
