// Keeps the record of what the tool installed in a target folder, and removes
// (prunes) the fonts it installed that no source lists any more, and only those:
// never a file that was there before it first wrote that name (or before the
// file that took its place), never one that has changed since, never one a
// listed row stands for (installed as, conflicting with, replaced), never one
// another source put there, and never anything when the sources were not all
// read, the record cannot be trusted, or more would go than allowed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sync/install/font_registration.h"
#include "sync/install/install_record.h"
#include "sync/run/row_stage.h"

namespace quorvane {

struct RecordOptions {
  std::string targetFolder = {};
  FontScope scope = FontScope::Machine;
  // Dry runs and checks read the record and write nothing.
  bool write = true;
  bool prune = false;
  std::optional<std::int64_t> maxDelete = std::nullopt;
  // Every source folder and sub-folder was read whole, and every entry in them classified.
  bool sourcesComplete = true;
  // Tells the system of the removals with its registrations, in one notification.
  FontRegistrar* registrar = nullptr;
  // The run's source folders as given: each entry keeps the one it came from,
  // and a prune takes only entries of these.
  std::vector<std::string> sources = {};
};

class RecordStage final : public RowStage {
 public:
  // `listedNames`: the file names every source lists now (needed only to prune).
  RecordStage(RecordOptions options, const std::vector<std::string>& listedNames);

  // A recorded font unchanged since its copy may have its read-only bit cleared to be replaced.
  bool Decide(const RowJob& job, RowReport& report) override;
  void Complete(const RowJob& job, RowReport& report) override;
  void Finish(RunSummary& summary, ExtraRows& rows) override;

 private:
  // An entry written this run, and the file of the target it took the place of, if any.
  struct Change {
    RecordEntry entry;
    PendingSha256 sha256;  // the copy's, which entry takes once it is known
    std::vector<std::string> tookPlaceOf;  // a collection may take the place of several
    bool inherited = false;  // a file it took the place of was there before the tool
  };

  // The record as it stands, under `lock` when the run writes; nothing, and
  // `record` says why, when it cannot be read or trusted.
  std::vector<RecordEntry> Load(RecordLock& lock, RecordSummary& record) const;
  // This run's changes, on the record as it stands.
  void ApplyChanges(std::vector<RecordEntry>& entries);
  // Writes the record, sorted by name; `record` says whether it was.
  void Save(std::vector<RecordEntry>& entries, RecordSummary& record) const;
  // Removes what the record says the tool installed and no source lists; the rows say how it went.
  void Prune(std::vector<RecordEntry>& entries, RecordSummary& record, bool stopped, ExtraRows& rows);
  // One font: its registration first, then the file.
  RowReport Remove(const std::string& path);
  // The Fonts value that names each entry's file now; true when any changed.
  bool FillValues(std::vector<RecordEntry>& entries) const;
  // The canonical source folder a listed file came from; empty when none of the run's holds it.
  std::string SourceFolderOf(std::string_view sourcePath) const;

  RecordOptions options_;
  std::string folder_;  // canonical: the record's key
  // The names a prune leaves, keyed as the file system compares them: the
  // listed ones, and the files of the target that listed rows stand for.
  std::unordered_set<std::string> listed_;
  // Each source as given (with a trailing separator) and its canonical form.
  std::vector<std::pair<std::string, std::string>> sources_;
  std::unordered_set<std::string> sourceKeys_;  // the canonical forms, keyed
  // This run's changes, applied to the record as it stands at the end: an entry, or nothing for a file gone.
  std::map<std::string, std::optional<Change>> changes_;
  // The record as the run found it, read when a row first asks: by name key.
  std::optional<std::unordered_map<std::string, RecordEntry>> found_;
};

}  // namespace quorvane
