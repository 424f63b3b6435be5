// What quorvane-sync says, in the two languages it speaks: the window's
// Chinese by default, English for scripts and for LANG=C machines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/system_error.h"
#include "cli/report.h"
#include "sync/files/file_error.h"
#include "sync/install/font_registration.h"
#include "sync/run/sync_run_view.h"
#include "sync/run/sync_types.h"

namespace quorvane::cli {

// `option` is --lang's value, if given; the others are LC_ALL, LC_MESSAGES and
// LANG, the first one set deciding as POSIX has it. English for "en…", "C" and
// "POSIX"; Chinese otherwise.
Language ChooseLanguage(std::optional<std::string_view> option, const char* lcAll, const char* lcMessages,
                        const char* lang);

// True for a --lang value the tool knows ("zh…" or "en…").
bool IsKnownLanguage(std::string_view value);

inline std::string_view Pick(Language language, std::string_view chinese, std::string_view english) {
  return language == Language::English ? english : chinese;
}

// One thing the tool says, in both languages.
struct Phrase {
  std::string_view chinese;
  std::string_view english;
};

inline std::string_view Pick(Language language, const Phrase& phrase) {
  return Pick(language, phrase.chinese, phrase.english);
}

// Refusals, each followed by the folder or file concerned.
inline constexpr Phrase kSourceMissing{"源文件夹不存在：", "source folder does not exist: "};
inline constexpr Phrase kSourceUnreadable{"无法读取源文件夹 ", "cannot read source folder "};
inline constexpr Phrase kNoTarget{"没有目标文件夹：请用 --target 指定", "no target folder: give one with --target"};
inline constexpr Phrase kTargetMissing{"目标文件夹不存在：", "target folder does not exist: "};
inline constexpr Phrase kSameFolder{"源文件夹与目标文件夹是同一个文件夹：", "source and target are the same folder: "};
inline constexpr Phrase kLogUnopenable{"无法打开日志文件 ", "cannot open the log file "};
// Refusals of a log file that someone else could have put there, after its name.
inline constexpr Phrase kLogIsLink{"：是一个链接，不跟随链接写入日志", ": it is a link, and the log never follows one"};
inline constexpr Phrase kLogNotOwn{"：该文件或其所在文件夹属于其他账户，或其他账户可以写入；"
                                   "以 root 或 SYSTEM 身份运行时不写入这样的日志",
                                   ": it or its folder is owned by, or writable by, another account, which a run as "
                                   "root or SYSTEM never logs to"};
// Warnings while listing: "<head> FOLDER: why<tail>", "<head> TARGET<tail>".
inline constexpr Phrase kFolderUnreadable{"警告：无法读取文件夹 ", "warning: cannot read folder "};
inline constexpr Phrase kFolderUnreadableTail{"；其中的字体未列出", "; its fonts are not listed"};
// "<head> PATH<tail>", "<head> PATH: why<tail>": entries of a source not looked into.
inline constexpr Phrase kFolderLinkSkipped{"警告：不跟随指向文件夹的链接 ", "warning: a link to a folder is not followed: "};
inline constexpr Phrase kFolderLinkSkippedTail{"；其后的字体未列出，--prune 不移除任何字体",
                                               "; fonts behind it are not listed, and --prune removes nothing"};
inline constexpr Phrase kEntryUnknown{"警告：无法判断是什么 ", "warning: cannot tell what this is: "};
inline constexpr Phrase kEntryUnknownTail{"；未列出，--prune 不移除任何字体", "; not listed, and --prune removes nothing"};
inline constexpr Phrase kTargetInsideSource{"目标文件夹 ", "the target folder "};
inline constexpr Phrase kTargetInsideSourceTail{" 位于源文件夹之内：其中的文件不列出",
                                                " lies inside a source: its files are not listed"};
// Why a row ended ignored although its name was free when it began: another run.
inline constexpr Phrase kAppearedDuringCopy{"复制期间目标文件夹中出现了同名文件，未覆盖",
                                            "a file of that name appeared in the target during the copy; it was kept"};
// A replace that cleared the read-only bit an earlier version's copy took from the share.
inline constexpr Phrase kInheritedReadOnlyCleared{"已清除早先版本复制时从共享带来的只读属性后替换",
                                                  "cleared the read-only attribute that an earlier version's copy "
                                                  "took from the share, to replace it"};
// --publish: the files it names whatever they hold, and why it writes nothing.
inline constexpr Phrase kPublishNotAFont{"警告：不是字体，仍列入清单：", "warning: not a font, named in the manifest all the same: "};
inline constexpr Phrase kFileUnreadable{"无法读取文件 ", "cannot read file "};
inline constexpr Phrase kPublishIncomplete{"未写出清单：有文件夹、条目或文件未能读取，清单会漏掉其中的字体",
                                           "no manifest written: a folder, entry or file could not be read, and "
                                           "the manifest would leave its fonts out"};
inline constexpr Phrase kPublishHashFailed{"未写出清单：无法计算其校验和", "no manifest written: its checksum could not be computed"};
// --manifest: "<head> FILE: why"; nothing was done.
inline constexpr Phrase kManifestRefused{"清单不可用 ", "the manifest is refused: "};
// Written by the interrupt handler as it stands, program name and line end included.
inline constexpr Phrase kInterruptedAgain{"quorvane-sync: 再次中断：立即结束\n",
                                          "quorvane-sync: interrupted again: ended at once\n"};

// A text that came from a font, a file or the registry, as standard error and
// the log show it: control characters (C0, DEL and C1) escaped as the TSV
// lines escape them, so a font's name cannot drive the console it is shown on.
std::string Shown(std::string_view text);

// "已中断：3个文件未处理", "interrupted: 3 files not handled".
std::string InterruptedText(std::int64_t unhandled, Language language);

// The temporaries of dead runs that a run removed from the target.
std::string StaleTemporariesText(const StaleTemporaries& stale, Language language);

// The stable English code of a state, for --json and English rows: "copied",
// "copy-failed", "up-to-date", "would-copy", …
std::string_view StatusCode(RowState state);

// A row's status column: the window's Chinese text, or the English code.
std::string_view StatusLabel(RowState state, Language language);

// "复制失败", "copy failed": a state as a sentence on standard error says it.
std::string_view StatusWords(RowState state, Language language);

// Why a row failed, with the step: "写入：设备上没有空间", "write: No space left on device".
std::string FailureReason(const FileError& error, Language language);

struct SummaryFacts {
  const RunSummary& run;
  bool dryRun = false;
  bool check = false;
  // --update was given: up-to-date files are a group of their own.
  bool update = false;
  const RegistrationRecord* registration = nullptr;
};

// The closing line. Chinese without --update, --dry-run, --register or a font
// replaced at the next start is the window's own summary text, word for word.
std::string SummaryLine(const SummaryFacts& facts, Language language);

// The JSON code of a refresh: "cache-refreshed", "fc-cache-missing", …
std::string_view RefreshCode(FontRefresh refresh);

// Why a file was not registered, or why its registration failed, for standard
// error and the JSON row: "不是字体：no name table", "write: Access is denied."
std::string RegistrationReason(const RegistrationOutcome& outcome, Language language);

// "未注册", "not registered"; "注册失败", "registration failed".
std::string_view RegistrationWords(const RegistrationOutcome& outcome, Language language);

// Why a prune removed nothing, for standard error: "未移除任何字体：…".
std::string PruneRefusalText(const RecordSummary& record, std::optional<std::int64_t> maxDelete, Language language);

// What went wrong with the record itself (unreadable, damaged, not written),
// and what its state means; empty when nothing did.
std::string RecordProblemText(const RecordSummary& record, Language language);

// "3 fonts that quorvane-sync installed were changed since by another: …"; empty for none.
std::string ChangedSinceText(const RecordSummary& record, Language language);

// The code of a refusal for the JSON summary: "sources-incomplete", …
std::string_view PruneRefusalCode(PruneRefusal refusal);

// The warning on standard error when the font cache could not be refreshed;
// empty when it was, or had no need to be.
std::string RefreshWarning(const RegistrationRecord& registration, Language language);

// What a row's other file is to it: "已安装为 D:\\F\\b.ttf", "D:\\F\\b.ttf holds the
// same face in another version (source 1.2, installed 1.1)", "took the place
// of D:\\F\\b.ttf, which was removed".
std::string OtherFileText(const RowReport& report, Language language);

// What a manifest's row is about: "the manifest names sha256 …, found …",
// "not in the manifest (found sha256 …)", "named by the manifest, and no source holds it".
std::string ManifestText(const RowReport& report, Language language);

// "12.3 MB", "512 KB", "7 B": for people, in decimal units as disks are sold.
std::string ByteSize(std::uint64_t bytes);

}  // namespace quorvane::cli
