// --verify: a font the tool installed whose size and time are still those of
// its copy, but whose bytes are not (a disk that flipped a bit, a program that
// wrote into it in place), is found by its SHA-256 in the install record and
// repaired from its source. Only such a change: one whose size or time moved
// is no longer the tool's copy, and the usual same-name rules judge it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sync/install/install_record.h"
#include "sync/run/row_stage.h"

namespace quorvane {

class VerifyStage final : public RowStage {
 public:
  VerifyStage(std::string_view targetFolder, FontScope scope);

  // Reads the row's target when the record has its hash; never settles the row.
  bool Decide(const RowJob& job, RowReport& report) override;
  void Complete(const RowJob&, RowReport&) override {}
  void Finish(RunSummary&, ExtraRows&) override {}

 private:
  std::string folder_;  // canonical: the record's key
  FontScope scope_;
  // The record as the run found it, read when a row first asks: by name key.
  std::optional<std::unordered_map<std::string, RecordEntry>> recorded_;
};

}  // namespace quorvane
