#include "sync/run/font_checks.h"

#include <variant>

#include "sync/files/file_ops.h"
#include "sync/files/name_fold.h"
#include "sync/fonts/font_identity.h"
#include "sync/install/font_registration.h"

namespace quorvane {
namespace {

// A version text for the report; a bitmap font has none to show.
std::optional<std::string> ShownVersion(const FontFileInfo& info) {
  const std::string_view text = VersionTextOf(info);
  if (text.empty()) return std::nullopt;
  return std::string(text);
}

bool InFolder(std::string_view path, std::string_view folder) {
  const auto parent = IdentityOf(FolderPart(path)), target = IdentityOf(folder);
  return parent && target && *parent == *target;
}

}  // namespace

bool VersionStage::Decide(const RowJob& job, RowReport& report) {
  if (!job.targetExists) return false;
  if (Unchanged(job.sourcePath, job.targetPath, byContent_)) {
    report.state = RowState::UpToDate;
    return true;
  }
  const FontFileInfo* source = job.fonts.SourceFont();
  const FontFileInfo* target = source != nullptr ? job.fonts.TargetFont() : nullptr;
  if (source == nullptr || target == nullptr) return false;
  const auto order = CompareFileVersions(*source, *target);
  if (!order) return false;  // unknown: the stamps' rule, and no versions to show
  report.sourceVersion = ShownVersion(*source);
  report.targetVersion = ShownVersion(*target);
  if (*order > 0) return false;  // newer: replaced, as differing stamps are
  report.state = *order < 0 ? RowState::TargetNewer : RowState::SameVersion;
  return true;
}

bool FaceCheckStage::Decide(const RowJob& job, RowReport& report) {
  row_ = job.row;
  source_ = nullptr;
  takesPlaceOf_.clear();
  if (job.targetExists) return false;
  source_ = job.fonts.SourceFont();
  if (source_ == nullptr) return false;
  report.sourceVersion = ShownVersion(*source_);
  const std::vector<const InstalledFont*> others = installed_.Holding(*source_, job.targetPath);
  if (others.empty()) return false;
  bool sameVersion = true;
  const InstalledFont* whole = nullptr;  // the first installed file that holds every face of the source
  const InstalledFont* keeps = nullptr;  // the first installed file that may not go
  for (const InstalledFont* other : others) {
    auto order = CompareFileVersions(*source_, other->info);
    // Versions that cannot be told: the same bytes are the same font.
    if (!order && SameContent(job.sourcePath, other->path).value_or(false)) order = std::strong_ordering::equal;
    sameVersion = sameVersion && order && *order == 0;
    if (whole == nullptr && HoldsEveryFace(other->info, *source_)) whole = other;
    // Beside a newer face, the same version of another may go with its file.
    const bool allowed = options_.replaceOther || (options_.replaceOlder && order && *order >= 0);
    // Only a file inside the target folder is ever removed, only one the new file holds whole,
    // and never one that a row of this run stands for: the sources list it too.
    const bool mayGo = allowed && InFolder(other->path, options_.targetFolder) &&
                       HoldsEveryFace(*source_, other->info) && !listedThisRun_.contains(NameKey(NamePart(other->path)));
    if (!mayGo && keeps == nullptr) keeps = other;
  }
  // A collection is installed as a file only when that one holds all its faces; else its others are missing.
  sameVersion = sameVersion && whole != nullptr;
  const InstalledFont* shown = sameVersion ? whole : keeps == nullptr ? others.front() : keeps;
  report.other = shown->path;
  report.targetVersion = ShownVersion(shown->info);
  if (sameVersion) {
    report.state = RowState::InstalledAs;
    return true;
  }
  if (keeps != nullptr) {
    report.state = RowState::Conflict;
    return true;
  }
  for (const InstalledFont* other : others) takesPlaceOf_.push_back(other->path);
  return false;
}

void FaceCheckStage::Complete(const RowJob& job, RowReport& report) {
  if (!job.targetPath.empty()) listedThisRun_.insert(NameKey(NamePart(job.targetPath)));
  // The file a row is installed as, or conflicts with, stands for that row too.
  const bool standsOn = report.state == RowState::InstalledAs || report.state == RowState::Conflict;
  if (standsOn && !report.sameName && !report.other.empty() && InFolder(report.other, options_.targetFolder)) {
    listedThisRun_.insert(NameKey(NamePart(report.other)));
  }
  const bool ours = row_ == job.row;
  bool inTarget = report.state == RowState::CopySucceeded || report.state == RowState::ReplaceSucceeded ||
                  report.state == RowState::ReplaceAtReboot;
  if (ours && !takesPlaceOf_.empty()) {
    if (report.state == RowState::WouldCopy) {
      report.state = RowState::WouldReplace;
      report.alsoReplaced.assign(takesPlaceOf_.begin() + 1, takesPlaceOf_.end());
    }
    if (report.state == RowState::CopySucceeded) inTarget = TakePlace(job, report);
  }
  if (inTarget && installed_.Read()) {
    // A same-name replace was not read before; what it put there is what counts now.
    const FontFileInfo* now = ours && source_ != nullptr ? source_ : std::get_if<FontFileInfo>(&job.fonts.Installed());
    if (now != nullptr) installed_.Put(job.targetPath, *now);
  }
  row_ = -1;
  source_ = nullptr;
  takesPlaceOf_.clear();
}

void FaceCheckStage::GiveBackValues(std::string_view target, std::size_t from,
                                    const std::vector<std::vector<std::string>>& moved) const {
  if (moved.size() == 1) {
    // Every value naming the copy was the one old file's: back in the form the registrar writes.
    std::vector<std::string> ignored;
    (void)MoveFontsValues(options_.targetFolder, options_.scope, target, takesPlaceOf_.front(), ignored);
    return;
  }
  // Several: by name, each to its own file by its full path, which names it as well as any form.
  std::vector<FontsEntry> back;
  for (std::size_t i = from; i < moved.size(); ++i) {
    for (const std::string& name : moved[i]) back.push_back({name, takesPlaceOf_[i]});
  }
  if (!back.empty()) RestoreFontsValues(options_.scope, back);
}

bool FaceCheckStage::TakePlace(const RowJob& job, RowReport& report) {
  const std::string target(job.targetPath);
  std::vector<std::vector<std::string>> moved(takesPlaceOf_.size());
  for (std::size_t i = 0; i < takesPlaceOf_.size(); ++i) {
    if (FileResult values = MoveFontsValues(options_.targetFolder, options_.scope, takesPlaceOf_[i], target, moved[i]);
        !values) {
      GiveBackValues(target, 0, moved);
      (void)RemoveFile(target, false);
      report.state = RowState::ReplaceFailed;
      report.reason = values.error;
      report.bytes = 0;
      return false;
    }
  }
  bool atReboot = false;
  for (std::size_t i = 0; i < takesPlaceOf_.size(); ++i) {
    const std::string& old = takesPlaceOf_[i];
    const bool wasLoaded = UnloadFont(old);
    const RemoveResult removed = RemoveFile(old, true);
    if (removed.status != RemoveStatus::Failed) {
      atReboot = atReboot || removed.status == RemoveStatus::AtReboot;
      installed_.Drop(old);
      continue;
    }
    if (wasLoaded) ReloadFont(old);
    GiveBackValues(target, i, moved);
    // The files gone before this one live on in the copy alone: it stays, with their values.
    if (i == 0) {
      (void)RemoveFile(target, false);
      report.bytes = 0;
    }
    report.state = RowState::ReplaceFailed;
    report.reason = removed.error;
    report.other = old;
    report.alsoReplaced.assign(takesPlaceOf_.begin(), takesPlaceOf_.begin() + static_cast<std::ptrdiff_t>(i));
    return i > 0;
  }
  report.state = atReboot ? RowState::ReplaceAtReboot : RowState::ReplaceSucceeded;
  report.alsoReplaced.assign(takesPlaceOf_.begin() + 1, takesPlaceOf_.end());
  return true;
}

}  // namespace quorvane
