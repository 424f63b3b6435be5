#include "sync/run/record_stage.h"

#include <algorithm>
#include <unordered_map>
#include <variant>

#include "sync/files/file_ops.h"
#include "sync/fonts/font_identity.h"
#include "sync/files/name_fold.h"

namespace quorvane {
namespace {

std::vector<RecordEntry>::iterator Find(std::vector<RecordEntry>& entries, std::string_view name) {
  const std::string key = NameKey(name);
  return std::find_if(entries.begin(), entries.end(), [&](const RecordEntry& e) { return NameKey(e.name) == key; });
}

// The target folder as the run spells it, or as the installed fonts' list does.
bool SameFolder(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const auto first = IdentityOf(a), second = IdentityOf(b);
  return first && second && *first == *second;
}

}  // namespace

RecordStage::RecordStage(RecordOptions options, const std::vector<std::string>& listedNames)
    : options_(std::move(options)), folder_(CanonicalFolder(options_.targetFolder)) {
  for (const std::string& source : options_.sources) {
    std::string canonical = CanonicalFolder(source);
    sourceKeys_.insert(NameKey(canonical));
    sources_.emplace_back(JoinPath(source, ""), std::move(canonical));
  }
  if (!options_.prune) return;
  listed_.reserve(listedNames.size());
  for (const std::string& name : listedNames) listed_.insert(NameKey(name));
}

std::string RecordStage::SourceFolderOf(std::string_view sourcePath) const {
  for (const auto& [prefix, canonical] : sources_) {
    if (sourcePath.starts_with(prefix)) return canonical;
  }
  return {};
}

// Earlier versions gave a copy the source's read-only bit, which then refused
// every update of it. A recorded font whose size and time are still those of
// its copy is ours as we left it: such a bit can only be that one.
bool RecordStage::Decide(const RowJob& job, RowReport& report) {
  if (!options_.write || !job.targetExists) return false;
  if (!found_) {
    found_.emplace();
    // A record others could have written says nothing about what is ours.
    if (CheckRecordsFolder(options_.scope, false)) return false;
    auto loaded = LoadRecord(folder_, options_.scope);
    if (const auto* text = std::get_if<RecordText>(&loaded); text && text->found) {
      auto parsed = ParseRecord(text->text, folder_);
      if (auto* entries = std::get_if<std::vector<RecordEntry>>(&parsed)) {
        for (RecordEntry& entry : *entries) found_->emplace(NameKey(entry.name), std::move(entry));
      }
    }
  }
  const auto known = found_->find(NameKey(NamePart(job.targetPath)));
  if (known != found_->end() &&
      SameStamp(StampOf(job.targetPath), FileStamp{known->second.size, known->second.modified})) {
    report.readOnly = RowReport::InheritedReadOnly::MayClear;
  }
  return false;
}

void RecordStage::Complete(const RowJob& job, RowReport& report) {
  // The file of the target a row is installed as, conflicts with or takes the
  // place of is what the sources provide for it: a dry run keeps it as the run
  // would, and nothing a source still provides is pruned.
  const bool otherInTarget = !report.other.empty() && SameFolder(FolderPart(report.other), FolderPart(job.targetPath));
  if (options_.prune && otherInTarget) {
    listed_.insert(NameKey(NamePart(report.other)));
    for (const std::string& also : report.alsoReplaced) listed_.insert(NameKey(NamePart(also)));
  }
  if (!options_.write) return;
  const bool created = report.state == RowState::CopySucceeded;
  const bool replaced = report.state == RowState::ReplaceSucceeded || report.state == RowState::ReplaceAtReboot ||
                        report.state == RowState::Repaired;
  if (!created && !replaced) return;
  Change change;
  RecordEntry& entry = change.entry;
  entry.name = std::string(NamePart(job.targetPath));
  entry.source = std::string(job.sourcePath);
  entry.sourceFolder = SourceFolderOf(job.sourcePath);
  change.sha256 = report.sha256;
  // The copy keeps the source's size and time; one waiting for the restart is not in place yet.
  const auto stamp = StampOf(report.state == RowState::ReplaceAtReboot ? job.sourcePath : job.targetPath);
  if (stamp) {
    entry.size = stamp->size;
    entry.modified = stamp->modified;
  }
  if (report.sourceVersion) {
    entry.version = *report.sourceVersion;
  } else if (const FontFileInfo* font = job.fonts.SourceFont()) {
    entry.version = std::string(VersionTextOf(*font));
  }
  // A same-name file that the tool did not write is someone else's: replaced, it stays theirs.
  entry.preexisting = job.targetExists;
  if (!job.targetExists && otherInTarget) {
    change.tookPlaceOf.emplace_back(NamePart(report.other));
    for (const std::string& also : report.alsoReplaced) {
      if (SameFolder(FolderPart(also), FolderPart(job.targetPath))) change.tookPlaceOf.emplace_back(NamePart(also));
    }
    for (const std::string& name : change.tookPlaceOf) changes_[NameKey(name)] = std::nullopt;
  }
  changes_[NameKey(entry.name)] = std::move(change);
}

void RecordStage::Finish(RunSummary& summary, ExtraRows& rows) {
  // A run that changed nothing in the target and prunes nothing leaves the record as it is
  // (its Fonts values too, refreshed at the next change); a dry run without a prune has no use for it.
  if (!options_.prune && (!options_.write || changes_.empty())) return;
  // The last copies' hashes may still be on their way: waited for before the record is locked.
  for (auto& [key, change] : changes_) {
    if (!change) continue;
    if (const auto digest = change->sha256.Get()) change->entry.sha256 = HexOf(*digest);
  }
  RecordSummary record;
  record.location = RecordLocation(folder_, options_.scope);
  record.pruning = options_.prune;
  // A folder another account could write in is not read, least of all pruned by, nor written to.
  if (auto untrusted = CheckRecordsFolder(options_.scope, options_.write)) record.untrusted = std::move(untrusted->folder);
  RecordLock lock;
  std::vector<RecordEntry> entries = Load(lock, record);
  const bool trusted = !record.error && record.damage.empty() && !record.untrusted;
  bool changed = !changes_.empty();
  if (trusted) ApplyChanges(entries);
  if (options_.prune) {
    if (!trusted) {
      record.refusal = record.untrusted && !record.untrusted->empty() ? PruneRefusal::RecordUntrusted
                       : record.error || record.untrusted      ? PruneRefusal::RecordUnreadable
                                                                : PruneRefusal::RecordDamaged;
    } else {
      const size_t known = entries.size();
      Prune(entries, record, summary.stopped, rows);
      changed = changed || entries.size() != known;
    }
  }
  // A record that cannot be trusted is never written over, least of all as empty.
  if (options_.write && trusted) {
    if (FillValues(entries)) changed = true;
    if (changed) Save(entries, record);
  }
  summary.record = std::move(record);
}

std::vector<RecordEntry> RecordStage::Load(RecordLock& lock, RecordSummary& record) const {
  if (options_.write && !record.untrusted) {
    if (FileResult locked = lock.Take(folder_, options_.scope); !locked) record.error = locked.error;
  }
  if (record.error || record.untrusted) return {};
  auto loaded = LoadRecord(folder_, options_.scope);
  if (auto* error = std::get_if<FileError>(&loaded)) {
    record.error = *error;
    return {};
  }
  const RecordText& text = std::get<RecordText>(loaded);
  if (!text.found) return {};
  auto parsed = ParseRecord(text.text, folder_);
  if (auto* damage = std::get_if<RecordDamage>(&parsed)) {
    record.damage = damage->why;
    return {};
  }
  return std::move(std::get<std::vector<RecordEntry>>(parsed));
}

void RecordStage::ApplyChanges(std::vector<RecordEntry>& entries) {
  // A file that took another's place (by face) is someone else's if that one
  // was: one the record does not know was there before the tool. Read before
  // the changes drop the file it replaced.
  for (auto& [key, change] : changes_) {
    if (!change) continue;
    for (const std::string& name : change->tookPlaceOf) {
      const auto replaced = Find(entries, name);
      change->inherited = change->inherited || replaced == entries.end() || replaced->preexisting;
    }
  }
  for (auto& [key, change] : changes_) {
    const auto known = Find(entries, key);
    if (!change) {
      if (known != entries.end()) entries.erase(known);
      continue;
    }
    // Once someone else's, always: the flag of the file's first write stands.
    if (known != entries.end()) {
      change->entry.preexisting = known->preexisting || change->inherited;
      *known = std::move(change->entry);
    } else {
      change->entry.preexisting = change->entry.preexisting || change->inherited;
      entries.push_back(std::move(change->entry));
    }
  }
}

void RecordStage::Save(std::vector<RecordEntry>& entries, RecordSummary& record) const {
  std::sort(entries.begin(), entries.end(), [](const RecordEntry& a, const RecordEntry& b) { return a.name < b.name; });
  if (FileResult saved = SaveRecord(folder_, options_.scope, FormatRecord(folder_, entries)); !saved) {
    record.error = saved.error;
  } else {
    record.written = true;
  }
}

void RecordStage::Prune(std::vector<RecordEntry>& entries, RecordSummary& record, bool stopped, ExtraRows& rows) {
  // First the entries that are no longer the tool's: a file gone, or changed
  // since, is forgotten whatever else the run decides, and never counts
  // against the limit. What is left is what would really go.
  std::vector<std::string> gone;
  std::vector<RecordEntry*> candidates;
  for (RecordEntry& entry : entries) {
    if (entry.preexisting || listed_.contains(NameKey(entry.name))) continue;
    const std::string path = JoinPath(options_.targetFolder, entry.name);
    const std::optional<FileStamp> stamp = StampOf(path);
    if (!stamp || stamp->size != entry.size || !SameStamp(stamp, FileStamp{entry.size, entry.modified})) {
      ++(stamp || EntryExists(path) ? record.changedSince : record.goneSince);
      gone.push_back(entry.name);
      continue;
    }
    // Another job's source put it there: not this run's to judge.
    if (!entry.sourceFolder.empty() && !sourceKeys_.contains(NameKey(entry.sourceFolder))) continue;
    candidates.push_back(&entry);
  }
  if (stopped && !candidates.empty()) {
    record.refusal = PruneRefusal::Stopped;
  } else if (!options_.sourcesComplete && !candidates.empty()) {
    record.refusal = PruneRefusal::SourcesIncomplete;
  } else if (options_.maxDelete && static_cast<std::int64_t>(candidates.size()) > *options_.maxDelete) {
    record.refusal = PruneRefusal::TooMany;
    record.toRemove = static_cast<std::int64_t>(candidates.size());
  }
  if (record.refusal != PruneRefusal::None) candidates.clear();

  bool removedAny = false;
  for (RecordEntry* entry : candidates) {
    // The folder as the record knows it: the Fonts values are matched against the same spelling.
    const std::string path = JoinPath(folder_, entry->name);
    RowReport report = options_.write ? Remove(path) : RowReport::Of(RowState::WouldRemove);
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
    return RowReport::Of(RowState::RemoveFailed, deleted.error);
  }
  const bool wasLoaded = UnloadFont(path);
  const RemoveResult removed = RemoveFile(path, true);
  switch (removed.status) {
    case RemoveStatus::Removed: return RowReport::Of(RowState::Removed);
    case RemoveStatus::AtReboot: return RowReport::Of(RowState::RemoveAtReboot);
    case RemoveStatus::Failed: break;
  }
  RestoreFontsValues(options_.scope, values);
  if (wasLoaded) ReloadFont(path);
  return RowReport::Of(RowState::RemoveFailed, removed.error);
}

bool RecordStage::FillValues(std::vector<RecordEntry>& entries) const {
  if (!HasFontsValues()) return false;
  std::unordered_map<std::string, std::string> valueOf;
  for (const FontsEntry& value : ReadFontsValues(options_.scope)) valueOf[NameKey(value.file)] = value.name;
  bool changed = false;
  for (RecordEntry& entry : entries) {
    const auto named = valueOf.find(NameKey(JoinPath(folder_, entry.name)));
    std::string value = named == valueOf.end() ? std::string() : named->second;
    changed = changed || value != entry.value;
    entry.value = std::move(value);
  }
  return changed;
}

}  // namespace quorvane
