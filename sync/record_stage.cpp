#include "sync/record_stage.h"

#include <algorithm>
#include <variant>

#include "sync/ascii.h"
#include "sync/file_ops.h"
#include "sync/font_identity.h"

namespace quorvane {
namespace {

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

std::vector<RecordEntry>::iterator Find(std::vector<RecordEntry>& entries, std::string_view name) {
  const std::string folded = Folded(name);
  return std::find_if(entries.begin(), entries.end(), [&](const RecordEntry& e) { return Folded(e.name) == folded; });
}

RowReport Report(RowState state, std::optional<FileError> reason = std::nullopt) {
  RowReport report;
  report.state = state;
  report.reason = std::move(reason);
  return report;
}

}  // namespace

RecordStage::RecordStage(RecordOptions options, const std::vector<std::string>& listedNames)
    : options_(std::move(options)), folder_(CanonicalFolder(options_.targetFolder)) {
  for (const std::string& name : listedNames) listed_.push_back(Folded(name));
  std::sort(listed_.begin(), listed_.end());
}

void RecordStage::Complete(const RowJob& job, RowReport& report) {
  if (!options_.write) return;
  const bool created = report.state == RowState::CopySucceeded;
  const bool replaced = report.state == RowState::ReplaceSucceeded || report.state == RowState::ReplaceAtReboot;
  if (!created && !replaced) return;
  RecordEntry entry;
  entry.name = std::string(NamePart(job.targetPath));
  entry.source = std::string(job.sourcePath);
  // The copy keeps the source's size and time; one waiting for the restart is not in place yet.
  const auto stamp = StampOf(report.state == RowState::ReplaceAtReboot ? job.sourcePath : job.targetPath);
  if (stamp) {
    entry.size = stamp->size;
    entry.modified = stamp->modified;
  }
  if (report.sourceVersion) {
    entry.version = *report.sourceVersion;
  } else if (const FontReadResult read = ReadFontFile(job.sourcePath); std::holds_alternative<FontFileInfo>(read)) {
    entry.version = std::string(VersionTextOf(std::get<FontFileInfo>(read)));
  }
  // A same-name file that the tool did not write is someone else's: replaced, it stays theirs.
  entry.preexisting = job.targetExists;
  const bool tookPlaceOfAnother = !job.targetExists && !report.other.empty();
  if (tookPlaceOfAnother && FolderPart(report.other) == FolderPart(job.targetPath)) {
    changes_[Folded(NamePart(report.other))] = std::nullopt;
  }
  changes_[Folded(entry.name)] = std::move(entry);
}

void RecordStage::Finish(RunSummary& summary, ExtraRows& rows) {
  // A dry run that does not prune has no use for the record.
  if (!options_.write && !options_.prune) return;
  RecordSummary record;
  record.location = RecordLocation(folder_, options_.scope);
  record.pruning = options_.prune;
  RecordLock lock;
  if (options_.write) {
    if (FileResult locked = lock.Take(folder_, options_.scope); !locked) record.error = locked.error;
  }
  std::vector<RecordEntry> entries;
  std::string before;
  if (!record.error) {
    auto loaded = LoadRecord(folder_, options_.scope);
    if (auto* error = std::get_if<FileError>(&loaded)) {
      record.error = *error;
    } else if (const RecordText& text = std::get<RecordText>(loaded); text.found) {
      before = text.text;
      auto parsed = ParseRecord(text.text, folder_);
      if (auto* damage = std::get_if<RecordDamage>(&parsed)) {
        record.damage = damage->why;
      } else {
        entries = std::move(std::get<std::vector<RecordEntry>>(parsed));
      }
    }
  }
  const bool trusted = !record.error && record.damage.empty();
  if (trusted) {
    for (auto& [name, change] : changes_) {
      const auto known = Find(entries, name);
      if (!change) {
        if (known != entries.end()) entries.erase(known);
        continue;
      }
      // Once someone else's, always: the flag of the file's first write stands.
      if (known != entries.end()) {
        change->preexisting = known->preexisting;
        *known = std::move(*change);
      } else {
        entries.push_back(std::move(*change));
      }
    }
  }
  if (options_.prune) {
    if (!trusted) {
      record.refusal = record.error ? PruneRefusal::RecordUnreadable : PruneRefusal::RecordDamaged;
    } else {
      Prune(entries, record, summary.stopped, rows);
    }
  }
  // A record that cannot be trusted is never written over, least of all as empty.
  if (options_.write && trusted) {
    std::sort(entries.begin(), entries.end(), [](const RecordEntry& a, const RecordEntry& b) { return a.name < b.name; });
    FillValues(entries);
    const std::string after = FormatRecord(folder_, entries);
    const bool changed = after != before && !(before.empty() && entries.empty());
    if (changed) {
      if (FileResult saved = SaveRecord(folder_, options_.scope, after); !saved) {
        record.error = saved.error;
      } else {
        record.written = true;
      }
    }
  }
  summary.record = std::move(record);
}

void RecordStage::Prune(std::vector<RecordEntry>& entries, RecordSummary& record, bool stopped, ExtraRows& rows) {
  std::vector<RecordEntry*> candidates;
  for (RecordEntry& entry : entries) {
    if (!entry.preexisting && !std::binary_search(listed_.begin(), listed_.end(), Folded(entry.name))) {
      candidates.push_back(&entry);
    }
  }
  if (candidates.empty()) return;
  if (stopped) {
    record.refusal = PruneRefusal::Stopped;
  } else if (!options_.sourcesComplete) {
    record.refusal = PruneRefusal::SourcesIncomplete;
  } else if (options_.maxDelete && static_cast<std::int64_t>(candidates.size()) > *options_.maxDelete) {
    record.refusal = PruneRefusal::TooMany;
    record.toRemove = static_cast<std::int64_t>(candidates.size());
  }
  if (record.refusal != PruneRefusal::None) return;

  std::vector<std::string> gone;
  bool removedAny = false;
  for (RecordEntry* entry : candidates) {
    const std::string path = JoinPath(options_.targetFolder, entry->name);
    const std::optional<FileStamp> stamp = StampOf(path);
    // Already gone, or changed since: in either case no longer the tool's to remove.
    if (!stamp || stamp->size != entry->size || !SameStamp(stamp, FileStamp{entry->size, entry->modified})) {
      if (stamp) ++record.changedSince;
      gone.push_back(entry->name);
      continue;
    }
    RowReport report = options_.write ? Remove(path) : Report(RowState::WouldRemove);
    if (!entry->version.empty()) report.targetVersion = entry->version;
    rows.Add(entry->name, entry->source, report);
    if (report.state == RowState::Removed || report.state == RowState::RemoveAtReboot) {
      removedAny = true;
      gone.push_back(entry->name);
    }
  }
  for (const std::string& name : gone) entries.erase(Find(entries, name));
  if (removedAny) {
    if (options_.registrar != nullptr) {
      options_.registrar->NoteChange();
    } else {
      (void)NotifyFontChange(options_.targetFolder);
    }
  }
}

// The registration goes before the file; if the file cannot go after all,
// the registration comes back, so the font is never left half removed.
RowReport RecordStage::Remove(const std::string& path) {
  std::vector<FontsEntry> values;
  if (FileResult deleted = DeleteFontsValues(options_.scope, path, values); !deleted) {
    RestoreFontsValues(options_.scope, values);
    return Report(RowState::RemoveFailed, deleted.error);
  }
  const bool wasLoaded = UnloadFont(path);
  const RemoveResult removed = RemoveFile(path, true);
  switch (removed.status) {
    case RemoveStatus::Removed: return Report(RowState::Removed);
    case RemoveStatus::AtReboot: return Report(RowState::RemoveAtReboot);
    case RemoveStatus::Failed: break;
  }
  RestoreFontsValues(options_.scope, values);
  if (wasLoaded) ReloadFont(path);
  return Report(RowState::RemoveFailed, removed.error);
}

void RecordStage::FillValues(std::vector<RecordEntry>& entries) const {
  const std::vector<FontsEntry> values = ReadFontsValues(options_.scope);
  for (RecordEntry& entry : entries) {
    const std::string path = Folded(JoinPath(folder_, entry.name));
    entry.value.clear();
    for (const FontsEntry& value : values) {
      if (Folded(value.file) == path) entry.value = value.name;
    }
  }
}

}  // namespace quorvane
