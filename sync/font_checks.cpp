#include "sync/font_checks.h"

#include <variant>

#include "sync/file_ops.h"
#include "sync/font_identity.h"
#include "sync/font_registration.h"

namespace quorvane {
namespace {

std::optional<FontFileInfo> FontIn(std::string_view path) {
  FontReadResult read = ReadFontFile(path);
  if (auto* info = std::get_if<FontFileInfo>(&read)) return std::move(*info);
  return std::nullopt;
}

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
  const bool unchanged = byContent_ ? SameContent(job.sourcePath, job.targetPath).value_or(false)
                                    : SameStamp(StampOf(job.sourcePath), StampOf(job.targetPath));
  if (unchanged) {
    report.state = RowState::UpToDate;
    return true;
  }
  const std::optional<FontFileInfo> source = FontIn(job.sourcePath), target = FontIn(job.targetPath);
  if (!source || !target) return false;
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
  source_.reset();
  takesPlaceOf_.clear();
  if (job.targetExists) return false;
  source_ = FontIn(job.sourcePath);
  if (!source_) return false;
  report.sourceVersion = ShownVersion(*source_);
  const InstalledFont* other = installed_.Holding(*source_, job.targetPath);
  if (other == nullptr) return false;
  report.other = other->path;
  report.targetVersion = ShownVersion(other->info);
  auto order = CompareFileVersions(*source_, other->info);
  // Versions that cannot be told: the same bytes are the same font.
  if (!order && SameContent(job.sourcePath, other->path).value_or(false)) order = std::strong_ordering::equal;
  if (order && *order == 0) {
    report.state = RowState::InstalledAs;
    return true;
  }
  const bool mayReplace = options_.replaceOther || (options_.replaceOlder && order && *order > 0);
  // Only a file inside the target folder is ever removed.
  if (mayReplace && InFolder(other->path, options_.targetFolder)) {
    takesPlaceOf_ = other->path;
    return false;
  }
  report.state = RowState::Conflict;
  return true;
}

void FaceCheckStage::Complete(const RowJob& job, RowReport& report) {
  const bool ours = row_ == job.row;
  if (ours && !takesPlaceOf_.empty()) {
    if (report.state == RowState::WouldCopy) report.state = RowState::WouldReplace;
    if (report.state == RowState::CopySucceeded) TakePlace(job, report, takesPlaceOf_);
  }
  const bool inTarget = report.state == RowState::CopySucceeded || report.state == RowState::ReplaceSucceeded ||
                        report.state == RowState::ReplaceAtReboot;
  if (inTarget && installed_.Read()) {
    // A same-name replace was not read before; what it put there is what counts now.
    std::optional<FontFileInfo> now = ours && source_ ? std::move(source_) : FontIn(job.targetPath);
    if (now) installed_.Put(job.targetPath, std::move(*now));
  }
  row_ = -1;
  source_.reset();
  takesPlaceOf_.clear();
}

void FaceCheckStage::TakePlace(const RowJob& job, RowReport& report, const std::string& old) {
  const std::string target(job.targetPath);
  const auto undo = [&](const FileError& why) {
    std::vector<std::string> ignored;
    (void)MoveFontsValues(options_.targetFolder, options_.scope, target, old, ignored);
    (void)RemoveFile(target, false);
    report.state = RowState::ReplaceFailed;
    report.reason = why;
    report.bytes = 0;
  };
  std::vector<std::string> moved;
  if (FileResult values = MoveFontsValues(options_.targetFolder, options_.scope, old, target, moved); !values) {
    return undo(*values.error);
  }
  const bool wasLoaded = UnloadFont(old);
  const RemoveResult removed = RemoveFile(old, true);
  if (removed.status == RemoveStatus::Failed) {
    if (wasLoaded) ReloadFont(old);
    return undo(*removed.error);
  }
  installed_.Drop(old);
  report.state = removed.status == RemoveStatus::AtReboot ? RowState::ReplaceAtReboot : RowState::ReplaceSucceeded;
}

}  // namespace quorvane
