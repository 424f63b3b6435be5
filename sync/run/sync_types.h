// The vocabulary of one synchronisation: what to do with a same-name file, what
// happened to each file, the counters of a run and the texts shown for them.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
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

// What a row is at any moment: listed, being copied, one of the five outcomes,
// or one of the states that only options of the command-line tool give. Each
// is described once, in row_states.def.
enum class RowState {
#define ROW_STATE(name, ...) name,
#include "sync/run/row_states.def"
#undef ROW_STATE
};

// What a row in a state adds to the exit status of the command-line tool.
enum class RowExit { Ok, Failed, Restart };
// Whether a check reports a row in a state as not in step.
enum class RowStep { InStep, OutOfStep };

// One line of row_states.def.
struct RowStateInfo {
  std::string_view code;          // its JSON name, and an English row's status
  std::string_view chinese;       // the window's status text, and the summary's word for it
  std::string_view englishWords;  // "copy failed" on standard error
  std::string_view englishCount;  // "3 in conflict" in the summary
  std::optional<FileOutcome> tally;
  RowStep step;
  RowExit exit;
  bool stays;
};

// The table itself, and the names its tally column uses.
namespace row_state_columns {
inline constexpr std::optional<FileOutcome> None, CopySucceeded = FileOutcome::CopySucceeded,
                                                  CopyFailed = FileOutcome::CopyFailed,
                                                  ReplaceSucceeded = FileOutcome::ReplaceSucceeded,
                                                  ReplaceFailed = FileOutcome::ReplaceFailed,
                                                  Ignored = FileOutcome::Ignored;

inline constexpr RowStateInfo kTable[] = {
#define ROW_STATE(name, code, chinese, englishWords, englishCount, tally, step, exit, stays) \
  {code, chinese, englishWords, englishCount, tally, RowStep::step, RowExit::exit, stays},
#include "sync/run/row_states.def"
#undef ROW_STATE
};
}  // namespace row_state_columns

inline constexpr int kRowStateCount = static_cast<int>(std::size(row_state_columns::kTable));

constexpr const RowStateInfo& InfoOf(RowState state) { return row_state_columns::kTable[static_cast<int>(state)]; }

// The status cell of a row that is listed but not yet handled.
inline constexpr std::string_view kReadyText = InfoOf(RowState::Ready).chinese;

// "准备就绪", "正在复制", "复制成功", … "移除失败": the window's text for a row's state.
constexpr std::string_view StatusText(RowState state) { return InfoOf(state).chinese; }
// Shown as failed, and fails the command-line tool's run.
constexpr bool IsFailure(RowState state) { return InfoOf(state).exit == RowExit::Failed; }
// The window's counter a run adds a row to; a dry run counts what it would do as done.
constexpr std::optional<FileOutcome> TalliedAs(RowState state) { return InfoOf(state).tally; }

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
