#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "sync/run/row_stage.h"
#include "sync/run/sync_run_view.h"
#include "sync/run/sync_types.h"

namespace quorvane {

struct SyncOptions {
  SyncPolicy policy = SyncPolicy::Ignore;
  // Decides every row by the same-name test but copies nothing.
  bool dryRun = false;
  // A same-name file that matches the source is left alone (RowState::UpToDate),
  // one that differs is replaced, whatever the policy says.
  bool update = false;
  // With update: match by content rather than by size and last-write time.
  bool checksum = false;
  // A target in use is replaced at the next start (RowState::ReplaceAtReboot);
  // see CopyOptions.
  bool replaceAtRebootWhenInUse = false;
  // Each copy checks the font's structure as it writes it: a damaged one, or
  // no font at all, is never put in place (RowState::Damaged).
  bool refuseDamaged = false;
  // Each copy computes the SHA-256 of what it writes (RowReport::sha256).
  bool hash = false;
};

// One run over the rows of a view's list into a target folder.
class FontSyncRun {
 public:
  explicit FontSyncRun(SyncRunView& view) : view_(view) {}

  // Each handled row passes through the stages in the order they were added,
  // after its copy and before the view is told; each stage finishes before
  // the summary is shown. The run does not own them.
  void AddStage(RowStage& stage) { stages_.push_back(&stage); }

  // Validates the folders (an empty source or target is refused with its message),
  // removes the leftovers of dead runs from the target, handles every listed row
  // and shows the summary. Returns the summary, or nothing when validation
  // refused the run.
  std::optional<RunSummary> Run(std::string_view sourceFolder, std::string_view targetFolder,
                                const SyncOptions& options);

  // Asks a run in progress to stop: the file it is copying is abandoned (its
  // row is ready again, its target untouched) and no further row is handled.
  // May be called from inside the view's event processing.
  void RequestStop() { stopRequested_ = true; }
  bool IsRunning() const { return running_; }

 private:
  // Whether the run may not start: one in progress, or a folder missing (said through the view).
  bool Refused(std::string_view sourceFolder, std::string_view targetFolder);
  // A row through the stages and its copy. `firstOfName`: the first listed row
  // of its name, when a run marks the others as conflicts; else -1.
  RowReport RunRow(const RowJob& job, std::int64_t firstOfName, const SyncOptions& options);
  // `clearReadOnly`: a stage found the target's read-only bit to be one an earlier version copied.
  // `repair`: a stage found the target changed in place (RowReport::repair).
  // `expected`: the only bytes the row may install (a manifest's); others are not published.
  RowReport HandleRow(std::int64_t row, std::string_view sourcePath, std::string_view targetPath, bool targetExists,
                      bool clearReadOnly, bool repair, const std::optional<Sha256::Digest>& expected,
                      const SyncOptions& options);
  RowReport Copy(std::int64_t row, std::string_view sourcePath, std::string_view targetPath, bool targetExists,
                 bool replacing, bool clearReadOnly, const std::optional<Sha256::Digest>& expected,
                 const SyncOptions& options);

  // The view's events may stop the run: by RequestStop, or by its StopRequested.
  void ProcessEvents();

  SyncRunView& view_;
  std::vector<RowStage*> stages_;
  bool running_ = false;
  bool stopRequested_ = false;
};

}  // namespace quorvane
