#include "sync/run/font_sync_run.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sync/files/ascii.h"
#include "sync/files/file_ops.h"
#include "sync/files/name_fold.h"
#include "sync/fonts/font_structure.h"

namespace quorvane {

namespace {

// Clears a flag however the scope is left, so a run that ends early can never
// leave the window believing one is still in progress.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

// The names of a target folder, read in one pass, keyed as its file system
// compares them. They order the rows, and a dry run, which writes nothing, takes
// its same-name test from them instead of one system call per row. They answer
// only "absent", and only for a name with nothing a file system may read
// another way (short names, streams, devices); any other name is asked of the
// file system itself.
class TargetNames {
 public:
  explicit TargetNames(std::string_view folder) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) return;
    read_ = true;
    names_.reserve(entries.size());
    for (const FolderEntry& entry : entries) names_.insert(NameKey(entry.name));
  }

  // A file of this name was there when the run began, as far as the listing tells.
  bool Listed(std::string_view name) const { return names_.contains(NameKey(name)); }

  bool Exists(std::string_view name, std::string_view path) const {
    if (read_ && IsPlain(name) && !Listed(name)) return false;
    return EntryExists(path);
  }

 private:
  // CON, PRN, AUX, NUL, COM0-9 and LPT0-9, whatever the case.
  static bool IsDeviceName(std::string_view stem) {
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    if (stem.size() != 3 && stem.size() != 4) return false;
    char folded[4] = {};
    for (size_t i = 0; i < stem.size(); ++i) folded[i] = FoldAscii(stem[i]);
    const std::string_view head(folded, 3);
    if (stem.size() == 3) return head == "con" || head == "prn" || head == "aux" || head == "nul";
    return (head == "com" || head == "lpt") && folded[3] >= '0' && folded[3] <= '9';
  }

  // No control character, wildcard, short-name tilde or stream colon, not the
  // trailing dot or space Windows strips, and not a device name such as "nul.ttf".
  static bool IsPlain(std::string_view name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (const char c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '*' || c == '?' || c == '~' || c == ':' ||
          c == '\\') {
        return false;
      }
    }
    return !IsDeviceName(name.substr(0, name.find('.')));
  }

  bool read_ = false;
  std::unordered_set<std::string> names_;
};

// The rows the stages add at the end: appended to the view's list, numbered on
// from the listed ones, and counted as handled.
class StageRows final : public ExtraRows {
 public:
  StageRows(SyncRunView& view, RunSummary& summary, std::string_view targetPrefix)
      : view_(view), summary_(summary), targetPrefix_(targetPrefix) {}

  void Add(std::string_view name, std::string_view path, const RowReport& report) override {
    const std::int64_t row = view_.RowCount();
    const ListedRow listed{std::to_string(row + 1), std::string(name), std::string(path)};
    view_.AddRows(std::span(&listed, 1));
    const std::string target = std::string(targetPrefix_).append(name);
    view_.SetStatus(row, {.source = path, .target = target}, report);
    ++summary_.states[static_cast<int>(report.state)];
  }

 private:
  SyncRunView& view_;
  RunSummary& summary_;
  std::string_view targetPrefix_;
};

// The order the run takes the rows in, and for a name listed twice, the row
// that is its first.
struct RowOrder {
  std::vector<std::int64_t> rows;
  std::unordered_map<std::string, std::int64_t> firstOfName;
};

// The window copies in listing order and treats each row on its own.
RowOrder ListingOrder(const SyncRunView& view) {
  RowOrder order;
  order.rows.resize(static_cast<size_t>(view.RowCount()));
  for (std::int64_t row = 0; row < view.RowCount(); ++row) order.rows[static_cast<size_t>(row)] = row;
  return order;
}

// A run with face checks takes the rows whose name is in the target first, in
// listing order, then the new names: a new name's face check must see the
// files as the same-name rows leave them, not judge against one a later row
// replaces. Of the rows that share a name, the first listed is the one copied;
// the others are conflicts.
RowOrder TargetNamesFirst(const SyncRunView& view, const TargetNames& targetNames) {
  RowOrder order;
  const std::int64_t listed = view.RowCount();
  order.rows.reserve(static_cast<size_t>(listed));
  for (const bool inTarget : {true, false}) {
    for (std::int64_t row = 0; row < listed; ++row) {
      const std::string name = view.CellText(row, kNameColumn);
      if (targetNames.Listed(name) != inTarget) continue;
      order.rows.push_back(row);
      if (!name.empty()) order.firstOfName.emplace(NameKey(name), row);
    }
  }
  return order;
}

// The first listed row of `name`, when the run marks the others as conflicts; else -1.
std::int64_t FirstOfName(const RowOrder& order, std::string_view name) {
  if (name.empty() || order.firstOfName.empty()) return -1;
  const auto first = order.firstOfName.find(NameKey(name));
  return first == order.firstOfName.end() ? -1 : first->second;
}

}  // namespace

bool FontSyncRun::Refused(std::string_view sourceFolder, std::string_view targetFolder) {
  if (running_) return true;  // a second run would share the list with the first
  if (sourceFolder.empty()) {
    view_.ShowMessage(kNoSourceMessage, kValidationTitle, MessageKind::Warning);
    return true;
  }
  // A bare "\a.ttf" would land in the root of the current drive.
  if (targetFolder.empty()) {
    view_.ShowMessage(kNoTargetMessage, kValidationTitle, MessageKind::Warning);
    return true;
  }
  return false;
}

std::optional<RunSummary> FontSyncRun::Run(std::string_view sourceFolder, std::string_view targetFolder,
                                           const SyncOptions& options) {
  if (Refused(sourceFolder, targetFolder)) return std::nullopt;
  const ScopedFlag running(running_);
  stopRequested_ = false;
  RunSummary summary;
  if (!options.dryRun) summary.staleRemoved = RemoveStaleTemporaries(targetFolder);
  view_.SetProgress(0, view_.RowCount());

  const bool checked = std::ranges::any_of(stages_, [](const RowStage* stage) { return stage->JudgesAgainstTarget(); });
  std::optional<TargetNames> targetNames;
  if (options.dryRun || checked) targetNames.emplace(targetFolder);
  const std::string targetPrefix = JoinPath(targetFolder, "");
  std::string targetPath;
  const RowOrder order = checked ? TargetNamesFirst(view_, *targetNames) : ListingOrder(view_);

  // The row count is read again for every row: the list can be cleared while the
  // run processes events, and the run then ends cleanly.
  std::int64_t handled = 0;
  for (; handled < static_cast<std::int64_t>(order.rows.size()) && !stopRequested_; ++handled) {
    const std::int64_t row = order.rows[static_cast<size_t>(handled)];
    if (row >= view_.RowCount()) break;
    const std::string name = view_.CellText(row, kNameColumn);
    const std::string sourcePath = view_.CellText(row, kPathColumn);
    targetPath.assign(targetPrefix).append(name);
    const bool exists =
        !name.empty() && (options.dryRun ? targetNames->Exists(name, targetPath) : EntryExists(targetPath));
    RowFonts fonts(sourcePath, targetPath);
    const RowJob job{row, sourcePath, name.empty() ? std::string_view() : targetPath, exists, fonts};
    const RowReport report = RunRow(job, FirstOfName(order, name), options);
    if (row < view_.RowCount()) view_.SetStatus(row, {.source = sourcePath, .target = targetPath}, report);
    if (report.state == RowState::Ready) break;  // abandoned mid-copy
    if (const auto outcome = TalliedAs(report.state)) summary.tally.Add(*outcome);
    ++summary.states[static_cast<int>(report.state)];
    summary.bytesCopied += report.bytes;
    view_.SetProgress(handled + 1, view_.RowCount());
    ProcessEvents();
  }
  summary.unhandled = std::max<std::int64_t>(view_.RowCount() - handled, 0);
  summary.stopped = summary.unhandled > 0;
  StageRows extra(view_, summary, targetPrefix);
  for (RowStage* stage : stages_) stage->Finish(summary, extra);

  view_.ShowSummary(summary);
  return summary;
}

RowReport FontSyncRun::RunRow(const RowJob& job, std::int64_t firstOfName, const SyncOptions& options) {
  RowReport report;
  bool settled = false;
  if (firstOfName >= 0 && firstOfName != job.row) {
    report.state = RowState::Conflict;
    report.other = view_.CellText(firstOfName, kPathColumn);
    report.sameName = true;
    settled = true;
  } else {
    // A target to repair is replaced whatever a later stage would make of it.
    settled = !job.targetPath.empty() && std::ranges::any_of(stages_, [&](RowStage* stage) {
                return !report.repair && stage->Decide(job, report);
              });
  }
  if (!settled) {
    RowReport copied = HandleRow(job.row, job.sourcePath, job.targetPath, job.targetExists,
                                 report.readOnly == RowReport::InheritedReadOnly::MayClear, report.repair,
                                 report.expectedSha256, options);
    report.state = copied.state;
    report.reason = std::move(copied.reason);
    report.damage = std::move(copied.damage);
    report.bytes = copied.bytes;
    report.sha256 = copied.sha256;
    report.readOnly = copied.readOnly;
    report.foundSha256 = copied.foundSha256;
  } else if (report.readOnly == RowReport::InheritedReadOnly::MayClear) {
    report.readOnly = RowReport::InheritedReadOnly::None;  // nothing was copied
  }
  if (report.state != RowState::Ready) {
    for (RowStage* stage : stages_) stage->Complete(job, report);
  }
  return report;
}

namespace {

// Refuses a copy whose bytes are not the ones a manifest names, before the
// copy takes the target's name: a share file changed after publishing is never installed.
// Other bytes are not published however whole they are; the published ones
// still pass the structure check, when the run has one.
class PublishedBytes final : public CopyCheck {
 public:
  PublishedBytes(const Sha256::Digest& expected, CopyCheck* structure) : expected_(expected), structure_(structure) {}
  void Feed(std::span<const std::byte> bytes) override {
    if (structure_ != nullptr) structure_->Feed(bytes);
  }
  std::optional<std::string> Finish(const PendingSha256& sha256) override {
    if (sha256.Get() != expected_) return std::string("not the bytes the manifest names");
    return structure_ != nullptr ? structure_->Finish(sha256) : std::nullopt;
  }

 private:
  Sha256::Digest expected_;
  CopyCheck* structure_;
};

// What a copy's outcome makes of its row.
RowReport CopiedReport(const CopyResult& copied, bool targetExists) {
  switch (copied.status) {
    case CopyStatus::Created:
    case CopyStatus::Replaced:
      // One that appeared since the test was replaced: that is what the policy gives it.
      return RowReport::Of(targetExists || copied.status == CopyStatus::Replaced ? RowState::ReplaceSucceeded
                                                                           : RowState::CopySucceeded,
                    std::nullopt, copied.bytes);
    case CopyStatus::TargetExists:
      return RowReport::Of(RowState::Ignored);
    case CopyStatus::ReplacedAtReboot:
      return RowReport::Of(RowState::ReplaceAtReboot, std::nullopt, copied.bytes);
    case CopyStatus::Abandoned:
      return RowReport::Of(RowState::Ready);
    case CopyStatus::Refused: {
      RowReport report = RowReport::Of(RowState::Damaged);
      report.damage = copied.refusal.value_or(std::string());
      return report;
    }
    case CopyStatus::Failed:
      break;
  }
  return RowReport::Of(targetExists ? RowState::ReplaceFailed : RowState::CopyFailed, copied.error);
}

}  // namespace

RowReport FontSyncRun::HandleRow(std::int64_t row, std::string_view sourcePath, std::string_view targetPath,
                                 bool targetExists, bool clearReadOnly, bool repair,
                                 const std::optional<Sha256::Digest>& expected, const SyncOptions& options) {
  // A row without a name or a source path names no file; the copy refuses it
  // at once, with the system's "not found".
  if (sourcePath.empty() || targetPath.empty()) {
    return RowReport::Of(RowState::CopyFailed, CopyOneFile(sourcePath, targetPath).error);
  }
  if (targetExists && repair) {
    if (options.dryRun) return RowReport::Of(RowState::WouldRepair);
    RowReport report = Copy(row, sourcePath, targetPath, true, true, clearReadOnly, expected, options);
    if (report.state == RowState::ReplaceSucceeded) report.state = RowState::Repaired;
    return report;
  }
  bool replacing = targetExists && options.policy == SyncPolicy::Replace;
  if (targetExists && options.update) {
    if (Unchanged(sourcePath, targetPath, options.checksum)) {
      // A version an earlier run left waiting would undo this decision at the restart.
      if (!options.dryRun) WithdrawReplaceAtRestart(targetPath);
      return RowReport::Of(RowState::UpToDate);
    }
    replacing = true;
  }
  if (targetExists && !replacing) {
    if (options.dryRun) return RowReport::Of(RowState::WouldIgnore);
    WithdrawReplaceAtRestart(targetPath);
    return RowReport::Of(RowState::Ignored);
  }
  if (options.dryRun) return RowReport::Of(targetExists ? RowState::WouldReplace : RowState::WouldCopy);
  return Copy(row, sourcePath, targetPath, targetExists,
              replacing || options.policy == SyncPolicy::Replace || options.update, clearReadOnly, expected, options);
}

void FontSyncRun::ProcessEvents() {
  view_.ProcessPendingEvents();
  if (view_.StopRequested()) stopRequested_ = true;
}

// `replacing`: a target that exists when the copy takes its name is replaced;
// otherwise it is left, and the row is the policy's same-name outcome.
RowReport FontSyncRun::Copy(std::int64_t row, std::string_view sourcePath, std::string_view targetPath,
                            bool targetExists, bool replacing, bool clearReadOnly,
                            const std::optional<Sha256::Digest>& expected, const SyncOptions& options) {
  view_.SetStatus(row, {.source = sourcePath, .target = targetPath}, RowReport::Of(RowState::Copying));
  std::optional<FontCopyCheck> structure;
  if (options.refuseDamaged) structure.emplace();
  std::optional<PublishedBytes> published;
  if (expected) published.emplace(*expected, structure ? &*structure : nullptr);
  const CopyOptions copyOptions{
      .existing = replacing ? ExistingTarget::Replace : ExistingTarget::Keep,
      .progress =
          [this, row](std::uint64_t done, std::uint64_t total) {
            view_.SetCopyProgress(row, done, total);
            ProcessEvents();
            return !stopRequested_;
          },
      .replaceAtRebootWhenInUse = options.replaceAtRebootWhenInUse,
      .clearReadOnly = clearReadOnly,
      .hash = options.hash || published.has_value(),
      .check = published ? static_cast<CopyCheck*>(&*published) : structure ? &*structure : nullptr,
  };
  const CopyResult copied = CopyOneFile(sourcePath, targetPath, copyOptions);
  if (expected && copied.status == CopyStatus::Refused && copied.sha256.Get() != expected) {
    RowReport report = RowReport::Of(RowState::NotPublished);
    report.foundSha256 = copied.sha256.Get();
    return report;
  }
  RowReport report = CopiedReport(copied, targetExists);
  report.sha256 = copied.sha256;
  if (copied.readOnlyCleared) report.readOnly = RowReport::InheritedReadOnly::Cleared;
  return report;
}

}  // namespace quorvane
