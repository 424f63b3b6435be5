// The work a run does with a row after its copy decision, beside the copy:
// registration now, and whatever else a row needs. Stages belong to the run,
// never to a view, so the window, the command-line tool and the tests get the
// same behaviour and views only show what the stages reported.
#pragma once

#include <cstdint>
#include <string_view>

#include "sync/sync_run_view.h"
#include "sync/sync_types.h"

namespace quorvane {

// The row in hand, as the run sees it.
struct RowJob {
  std::int64_t row = 0;
  std::string_view sourcePath;
  std::string_view targetPath;
};

class RowStage {
 public:
  virtual ~RowStage() = default;
  // After the row's copy decision and copy, whatever came of them (not for a
  // row whose copy was abandoned): adds to the report what the stage did.
  virtual void Complete(const RowJob& job, RowReport& report) = 0;
  // Once after the last row handled, a stopped run's too, before the summary
  // is shown: adds to it what the stage did.
  virtual void Finish(RunSummary& summary) = 0;
};

}  // namespace quorvane
