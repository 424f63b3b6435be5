// The vocabulary of one synchronisation: what to do with a same-name file, what
// happened to each file, the counters of a run and the texts shown for them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// What a run does with a font file whose name already exists in the target.
enum class SyncPolicy { Replace, Ignore };

enum class FileOutcome { CopySucceeded, CopyFailed, ReplaceSucceeded, ReplaceFailed, Ignored };

inline constexpr int kFileOutcomeCount = 5;

// The status cell of a row that is listed but not yet handled.
inline constexpr std::string_view kReadyText = "准备就绪";

std::string_view StatusText(FileOutcome outcome);
bool IsFailure(FileOutcome outcome);

// Patterns that mark a file as a font file, searched in this order within a folder.
// ".ttc" joins the classic three: SimSun and YaHei ship as TrueType collections.
inline constexpr std::array<std::string_view, 4> FontFilePatterns = {"*.ttf", "*.otf", "*.fon", "*.ttc"};

// Index into FontFilePatterns of the pattern that `name` matches (case-insensitive,
// on the long name only), or -1 for a file that is not a font file.
int FontPatternIndex(std::string_view name);

// Counters of one run; total always equals the sum of the five outcome counters.
struct SyncTally {
  std::int64_t total = 0;
  std::array<std::int64_t, kFileOutcomeCount> counts{};

  void Add(FileOutcome outcome);
  std::int64_t Count(FileOutcome outcome) const { return counts[static_cast<int>(outcome)]; }
  bool AnyFailed() const;
};

// The closing text of a run, shown under kSummaryTitle.
std::string SummaryMessage(const SyncTally& tally);

inline constexpr std::string_view kSummaryTitle = "执行结果";
inline constexpr std::string_view kValidationTitle = "消息";
inline constexpr std::string_view kNoSourceMessage = "对不起，请选择源字体文件夹！";
inline constexpr std::string_view kNoTargetMessage = "对不起，请选择目标字体文件夹！";

}  // namespace quorvane
