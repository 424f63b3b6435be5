// Keeps the record of what the tool installed in a target folder, and removes
// (prunes) the fonts it installed that no source lists any more, and only those:
// never a file that was there before it first wrote that name, never one that
// has changed since, never anything when the sources were not all read, the
// record cannot be trusted, or more would go than allowed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sync/ascii.h"
#include "sync/font_registration.h"
#include "sync/install_record.h"
#include "sync/row_stage.h"

namespace quorvane {

struct RecordOptions {
  std::string targetFolder = {};
  FontScope scope = FontScope::Machine;
  // Dry runs and checks read the record and write nothing.
  bool write = true;
  bool prune = false;
  std::optional<std::int64_t> maxDelete = std::nullopt;
  // Every source folder and sub-folder was read whole.
  bool sourcesComplete = true;
  // Tells the system of the removals with its registrations, in one notification.
  FontRegistrar* registrar = nullptr;
};

class RecordStage final : public RowStage {
 public:
  // `listedNames`: the file names every source lists now (needed only to prune).
  RecordStage(RecordOptions options, std::vector<std::string> listedNames);

  // A recorded font unchanged since its copy may have its read-only bit cleared to be replaced.
  bool Decide(const RowJob& job, RowReport& report) override;
  void Complete(const RowJob& job, RowReport& report) override;
  void Finish(RunSummary& summary, ExtraRows& rows) override;

 private:
  // Removes what the record says the tool installed and no source lists; the rows say how it went.
  void Prune(std::vector<RecordEntry>& entries, RecordSummary& record, bool stopped, ExtraRows& rows);
  // One font: its registration first, then the file.
  RowReport Remove(const std::string& path);
  // The Fonts value that names each entry's file now; true when any changed.
  bool FillValues(std::vector<RecordEntry>& entries) const;

  RecordOptions options_;
  std::string folder_;  // canonical: the record's key
  std::vector<std::string> listedNames_;
  std::unordered_set<std::string_view, FoldedHash, FoldedEqual> listed_;  // over listedNames_
  // This run's changes, applied to the record as it stands at the end: an entry, or nothing for a file gone.
  std::map<std::string, std::optional<RecordEntry>> changes_;
  // The record as the run found it, read when a row first asks: by folded name.
  std::optional<std::unordered_map<std::string, RecordEntry>> found_;
};

}  // namespace quorvane
