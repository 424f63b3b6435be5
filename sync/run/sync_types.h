// The vocabulary of one synchronisation: what to do with a same-name file, what
// happened to each file, the counters of a run and the texts shown for them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sync/files/file_error.h"
#include "sync/files/file_ops.h"
#include "sync/install/registration_outcome.h"

namespace quorvane {

// What a run does with a font file whose name already exists in the target.
enum class SyncPolicy { Replace, Ignore };

enum class FileOutcome { CopySucceeded, CopyFailed, ReplaceSucceeded, ReplaceFailed, Ignored };

inline constexpr int kFileOutcomeCount = 5;

// The status cell of a row that is listed but not yet handled.
inline constexpr std::string_view kReadyText = "准备就绪";

std::string_view StatusText(FileOutcome outcome);
bool IsFailure(FileOutcome outcome);

// What a row is at any moment: listed, being copied, one of the five outcomes,
// or one of the states that only options of the command-line tool give.
enum class RowState {
  Ready,
  Copying,
  CopySucceeded,
  CopyFailed,
  ReplaceSucceeded,
  ReplaceFailed,
  Ignored,
  UpToDate,         // same size and time (or content) as the source: left alone
  WouldCopy,        // a dry run's answers
  WouldReplace,
  WouldIgnore,
  ReplaceAtReboot,  // the target is in use; the new file takes its place at the next start
  TargetNewer,      // the same-name font in the target is a newer version: left alone
  SameVersion,      // the same-name font in the target is the same version: left alone
  InstalledAs,      // the same face and version is installed under another file name: not copied
  Conflict,         // the same face in another version is installed under another file name: not copied
  NotRegistered,    // in the target and in step, but no Fonts value names it (a check's answer)
  WouldRemove,      // installed by the tool, listed by no source any more: a dry run's or a check's answer
  Removed,          // installed by the tool, listed by no source any more: removed
  RemoveAtReboot,   // the same, but in use: removed at the next start
  RemoveFailed,     // the same, but it could not be removed
  Damaged,          // the copy found the file no whole font: not installed, an older target kept
  WouldRepair,      // installed by the tool, its bytes changed in place since: a dry run's or a check's answer
  Repaired,         // the same, replaced from its source
};

inline constexpr int kRowStateCount = 24;

RowState StateOf(FileOutcome outcome);
// The five outcomes of a run as the window counts them; nothing for the others.
std::optional<FileOutcome> OutcomeOf(RowState state);
// "准备就绪", "正在复制", the outcomes' texts, "已是最新", "将复制", "将替换", "将忽略", "重启后替换",
// "目标版本较新", "版本相同", "同一字体已安装", "字体冲突", "未注册", "将移除", "已移除",
// "重启后移除", "移除失败", "字体已损坏", "将修复", "已修复".
std::string_view StatusText(RowState state);
bool IsFailure(RowState state);

// Counters of one run; total always equals the sum of the five outcome counters.
struct SyncTally {
  std::int64_t total = 0;
  std::array<std::int64_t, kFileOutcomeCount> counts{};

  void Add(FileOutcome outcome);
  std::int64_t Count(FileOutcome outcome) const { return counts[static_cast<int>(outcome)]; }
  bool AnyFailed() const;
};

// Why a prune removed nothing at all.
enum class PruneRefusal {
  None,
  Stopped,            // the run was interrupted: the sources were not all seen
  SourcesIncomplete,  // a source folder or sub-folder could not be read whole
  RecordUnreadable,   // the record could not be read
  RecordDamaged,      // the record could not be trusted
  RecordUntrusted,    // the folder it is kept in is not this account's own and private
  TooMany,            // more would go than the limit allows
};

// What became of the record of what the tool installed in the target.
struct RecordSummary {
  std::string location;            // where it is kept
  bool pruning = false;            // the run was to prune by it
  bool written = false;            // changed, and saved
  std::optional<FileError> error;  // it could not be read, or not be saved
  std::string damage;              // why it cannot be trusted, when it cannot
  // The records' folder cannot be trusted (CheckRecordsFolder): that folder; empty when none could be named.
  std::optional<std::string> untrusted;
  PruneRefusal refusal = PruneRefusal::None;
  std::int64_t toRemove = 0;       // with TooMany: how many would have gone
  std::int64_t changedSince = 0;   // installed by the tool, then changed by another: no longer its own
  std::int64_t goneSince = 0;      // installed by the tool, then removed by another: forgotten
};

// All a run has to say at its end.
struct RunSummary {
  // The five outcomes, as the window counts them.
  SyncTally tally;
  // Every row handled, by the state it ended in.
  std::array<std::int64_t, kRowStateCount> states{};
  std::uint64_t bytesCopied = 0;
  // Stopped before its end (the user, a signal); `unhandled` rows kept kReadyText.
  bool stopped = false;
  std::int64_t unhandled = 0;
  StaleTemporaries staleRemoved;
  // When the run registered what it copied.
  std::optional<RegistrationTally> registration;
  // When the run kept the record of what it installed.
  std::optional<RecordSummary> record;

  std::int64_t Count(RowState state) const { return states[static_cast<int>(state)]; }
  // Every row the run handled, whatever became of it.
  std::int64_t Handled() const;
};

// The closing text of a run, shown under kSummaryTitle.
std::string SummaryMessage(const SyncTally& tally);

inline constexpr std::string_view kSummaryTitle = "执行结果";
inline constexpr std::string_view kValidationTitle = "消息";
inline constexpr std::string_view kNoSourceMessage = "对不起，请选择源字体文件夹！";
inline constexpr std::string_view kNoTargetMessage = "对不起，请选择目标字体文件夹！";

}  // namespace quorvane
