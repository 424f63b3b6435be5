#pragma once

#include <optional>
#include <string_view>

#include "sync/sync_run_view.h"
#include "sync/sync_types.h"

namespace quorvane {

struct SyncOptions {
  SyncPolicy policy = SyncPolicy::Ignore;
  // Decides every row by the same-name test but copies nothing.
  bool dryRun = false;
};

// One run over the rows of a view's list into a target folder.
class FontSyncRun {
 public:
  explicit FontSyncRun(SyncRunView& view) : view_(view) {}

  // Validates the folders (an empty source or target is refused with its message),
  // handles every listed row and shows the summary. Returns the tally, or nothing
  // when validation refused the run.
  std::optional<SyncTally> Run(std::string_view sourceFolder, std::string_view targetFolder,
                               const SyncOptions& options);

  // Asks a run in progress to stop after the file it is handling; may be called
  // from inside the view's event processing.
  void RequestStop() { stopRequested_ = true; }
  bool IsRunning() const { return running_; }

 private:
  struct RowResult {
    FileOutcome outcome;
    std::optional<FileError> reason;
  };
  RowResult HandleRow(std::string_view sourcePath, std::string_view targetPath, bool targetExists,
                      const SyncOptions& options);

  SyncRunView& view_;
  bool running_ = false;
  bool stopRequested_ = false;
};

}  // namespace quorvane
