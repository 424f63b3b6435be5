#include "cli/texts.h"

#include <cstdio>

#include "cli/platform.h"

namespace quorvane::cli {

namespace {

bool IsEnglishLocale(std::string_view locale) {
  return locale.starts_with("en") || locale == "C" || locale.starts_with("C.") || locale == "POSIX";
}

std::string_view StepWords(FileStep step, Language language) {
  if (language == Language::English) return StepName(step);
  switch (step) {
    case FileStep::Open: return "打开";
    case FileStep::Read: return "读取";
    case FileStep::Write: return "写入";
    case FileStep::Flush: return "写入磁盘";
    case FileStep::Close: return "关闭";
    case FileStep::Rename: return "重命名";
    case FileStep::Delete: return "删除";
    case FileStep::Registry: return "注册表";
    case FileStep::LoadFont: return "加载字体";
    case FileStep::UnloadFont: return "卸载字体";
    case FileStep::Notify: return "通知";
    case FileStep::Record: return "安装记录";
  }
  return "?";
}

void AppendCount(std::string& text, std::string_view label, std::int64_t count, Language language) {
  if (language == Language::English) {
    text.append(std::to_string(count)).append(" ").append(label);
  } else {
    text.append(label).append(std::to_string(count)).append("个");
  }
}

}  // namespace

Language ChooseLanguage(std::optional<std::string_view> option, const char* lcAll, const char* lcMessages,
                        const char* lang) {
  if (option) return option->starts_with("en") ? Language::English : Language::Chinese;
  for (const char* variable : {lcAll, lcMessages, lang}) {
    if (variable != nullptr && variable[0] != 0) {
      return IsEnglishLocale(variable) ? Language::English : Language::Chinese;
    }
  }
  return Language::Chinese;
}

bool IsKnownLanguage(std::string_view value) { return value.starts_with("en") || value.starts_with("zh"); }

std::string_view StatusCode(RowState state) { return InfoOf(state).code; }

std::string_view StatusLabel(RowState state, Language language) {
  return language == Language::English ? StatusCode(state) : StatusText(state);
}

std::string_view StatusWords(RowState state, Language language) {
  return language == Language::English ? InfoOf(state).englishWords : StatusText(state);
}

std::string FailureReason(const FileError& error, Language language) {
  std::string text(StepWords(error.step, language));
  text += Pick(language, "：", ": ");
  text += ReasonText(error, language);
  return text;
}

namespace {

std::string RefreshText(const RegistrationRecord& registration, Language language) {
  const bool english = language == Language::English;
  switch (registration.refresh) {
    case FontRefresh::None: return {};
    case FontRefresh::FontChangeSent: return english ? "running programs told" : "已通知正在运行的程序";
    case FontRefresh::CacheRefreshed: return english ? "font cache refreshed" : "字体缓存已刷新";
    case FontRefresh::CacheToolMissing:
      return english ? "font cache not refreshed: no fc-cache on PATH" : "字体缓存未刷新：PATH 中没有 fc-cache";
    case FontRefresh::CacheToolFailed:
      return english ? "font cache not refreshed: fc-cache exited with status " + std::to_string(registration.toolStatus)
                     : "字体缓存未刷新：fc-cache 的退出状态为" + std::to_string(registration.toolStatus);
  }
  return {};
}

// " Registration: 2 registered, 1 not a font, 0 failed; font cache refreshed."
std::string RegistrationText(const RegistrationRecord& registration, Language language) {
  const bool english = language == Language::English;
  std::string text = english ? " Registration: " : "注册：";
  const std::string_view separator = english ? ", " : "，";
  AppendCount(text, english ? "registered" : "成功", registration.registered, language);
  text += separator;
  AppendCount(text, english ? "not a font" : "不是字体", registration.notAFont, language);
  text += separator;
  AppendCount(text, english ? "failed" : "失败", registration.failed, language);
  if (registration.conflict > 0) {
    text += separator;
    AppendCount(text, english ? "in conflict" : "冲突", registration.conflict, language);
  }
  if (const std::string refresh = RefreshText(registration, language); !refresh.empty()) {
    text += english ? "; " : "；";
    text += refresh;
  }
  text += english ? "." : "。";
  return text;
}

}  // namespace

namespace {

// The summary's opening, with the number of files handled.
std::string SummaryHead(const SummaryFacts& facts, Language language) {
  const bool english = language == Language::English;
  const std::string total = std::to_string(facts.run.Handled());
  if (facts.check) {
    return english ? "Check, nothing written: " + total + " files: "
                   : "检查，未写入任何文件：本次任务共检查文件" + total + "个：";
  }
  if (facts.dryRun) {
    return english ? "Dry run, nothing written: " + total + " files: "
                   : "试运行，未写入任何文件：本次任务共处理文件" + total + "个：";
  }
  return english ? "Handled " + total + " files: " : "本次任务共处理文件" + total + "个：";
}

// The summary's groups, "复制成功3个；…", "3 copied; …": the window's five
// counters (a dry run's three: it fails nothing), those the update rule left,
// those waiting for the restart, then every other state once it happened.
std::string SummaryGroups(const SummaryFacts& facts, Language language) {
  const RunSummary& run = facts.run;
  std::string text;
  const auto append = [&](RowState state, std::int64_t count) {
    if (!text.empty()) text += Pick(language, "；", "; ");
    const RowStateInfo& info = InfoOf(state);
    AppendCount(text, language == Language::English ? info.englishCount : info.chinese, count, language);
  };
  // A dry run's tally counts what it would do as done.
  const auto tallied = [&](RowState state) { append(state, run.tally.Count(*TalliedAs(state))); };
  if (facts.dryRun) {
    for (const RowState state : {RowState::WouldCopy, RowState::WouldReplace, RowState::WouldIgnore}) tallied(state);
  } else {
    for (const RowState state : {RowState::CopySucceeded, RowState::CopyFailed, RowState::ReplaceSucceeded,
                                 RowState::ReplaceFailed, RowState::Ignored}) {
      tallied(state);
    }
  }
  const std::int64_t upToDate = run.Count(RowState::UpToDate);
  if (facts.update || upToDate > 0) append(RowState::UpToDate, upToDate);
  if (run.Count(RowState::ReplaceAtReboot) > 0) append(RowState::ReplaceAtReboot, run.Count(RowState::ReplaceAtReboot));
  for (int index = 0; index < kRowStateCount; ++index) {
    const auto state = static_cast<RowState>(index);
    const bool shownAbove = TalliedAs(state) || state == RowState::Ready || state == RowState::Copying ||
                            state == RowState::UpToDate || state == RowState::ReplaceAtReboot;
    if (!shownAbove && run.Count(state) > 0) append(state, run.Count(state));
  }
  return text;
}

}  // namespace

std::string SummaryLine(const SummaryFacts& facts, Language language) {
  const RunSummary& run = facts.run;
  const std::string registration = facts.registration ? RegistrationText(*facts.registration, language) : "";
  const bool onlyTheFive = run.Handled() == run.tally.total;
  if (language == Language::Chinese && !facts.dryRun && !facts.check && !facts.update && onlyTheFive) {
    return SummaryMessage(run.tally) + registration;
  }
  return SummaryHead(facts, language) + SummaryGroups(facts, language) + std::string(Pick(language, "。", ".")) +
         registration;
}

std::string_view RefreshCode(FontRefresh refresh) {
  switch (refresh) {
    case FontRefresh::None: return "none";
    case FontRefresh::FontChangeSent: return "font-change-sent";
    case FontRefresh::CacheRefreshed: return "cache-refreshed";
    case FontRefresh::CacheToolMissing: return "fc-cache-missing";
    case FontRefresh::CacheToolFailed: return "fc-cache-failed";
  }
  return "none";
}

std::string Shown(std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  size_t from = 0;
  // The TSV escapes pass C1 controls (C2 80-C2 9F) as the UTF-8 they are;
  // some terminals act on them as on ESC sequences.
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (static_cast<unsigned char>(text[i]) != 0xC2 || second < 0x80 || second > 0x9F) continue;
    AppendTsvField(shown, text.substr(from, i - from), kPathStyle);
    shown += "\\xc2\\x";
    shown += kHex[second >> 4];
    shown += kHex[second & 15];
    from = ++i + 1;
  }
  AppendTsvField(shown, text.substr(from), kPathStyle);
  return shown;
}

std::string RegistrationReason(const RegistrationOutcome& outcome, Language language) {
  switch (outcome.kind) {
    case RegistrationOutcome::Kind::Registered: return {};
    case RegistrationOutcome::Kind::NotAFont: {
      // The reader says why in English, after its own "not a font: ".
      constexpr std::string_view kPrefix = "not a font: ";
      std::string_view why = outcome.notAFont;
      if (why.starts_with(kPrefix)) why.remove_prefix(kPrefix.size());
      return std::string(Pick(language, "不是字体：", "not a font: ")) + Shown(why);
    }
    case RegistrationOutcome::Kind::Failed:
      return outcome.error ? FailureReason(*outcome.error, language) : std::string();
    case RegistrationOutcome::Kind::Conflict: {
      const std::string name = Shown(outcome.valueName), other = Shown(outcome.other);
      return language == Language::English ? "the value \"" + name + "\" names another file, which is kept: " + other
                                           : "注册表值“" + name + "”指向另一个文件，保留不变：" + other;
    }
  }
  return {};
}

std::string_view RegistrationWords(const RegistrationOutcome& outcome, Language language) {
  switch (outcome.kind) {
    case RegistrationOutcome::Kind::Failed: return Pick(language, "注册失败", "registration failed");
    case RegistrationOutcome::Kind::Conflict: return Pick(language, "注册冲突", "registration conflict");
    default: return Pick(language, "未注册", "not registered");
  }
}

std::string RefreshWarning(const RegistrationRecord& registration, Language language) {
  if (registration.refresh != FontRefresh::CacheToolMissing && registration.refresh != FontRefresh::CacheToolFailed) {
    return {};
  }
  return std::string(Pick(language, "警告：", "warning: ")) + RefreshText(registration, language) +
         std::string(Pick(language, "；之后启动的程序自行扫描该文件夹时才找到新字体",
                          "; programs started later find the new fonts by scanning the folder themselves"));
}

std::string OtherFileText(const RowReport& report, Language language) {
  const bool english = language == Language::English;
  const std::string other = Shown(report.other);
  const auto version = [&](const std::optional<std::string>& text) {
    return text ? Shown(*text) : std::string(english ? "unknown" : "未知");
  };
  switch (report.state) {
    case RowState::InstalledAs:
    case RowState::WouldCopy:
      return (english ? "installed as " : "已安装为 ") + other;
    case RowState::Conflict:
      if (report.sameName) {
        return english ? "the listed " + other + " goes by the same name and is the one copied"
                       : "列出的 " + other + " 使用同一名称，复制的是它";
      }
      return english ? other + " holds the same face in another version (source " + version(report.sourceVersion) +
                           ", installed " + version(report.targetVersion) + ")"
                     : other + " 中是同一字体的另一版本（源：" + version(report.sourceVersion) + "，已安装：" +
                           version(report.targetVersion) + "）";
    case RowState::ReplaceSucceeded:
      return english ? "took the place of " + other + ", which was removed" : "取代了 " + other + "，后者已删除";
    case RowState::ReplaceAtReboot:
      return english ? "took the place of " + other + ", which goes at the next start"
                     : "取代了 " + other + "，后者将在重启后删除";
    case RowState::WouldReplace:
      return english ? "would take the place of " + other : "将取代 " + other;
    default:
      return english ? other + " is kept" : other + " 保留不变";
  }
}

std::string ManifestText(const RowReport& report, Language language) {
  const bool english = language == Language::English;
  if (report.state == RowState::Missing) {
    return english ? "named by the manifest, and no source holds it" : "清单中列出，但没有源文件夹含有此文件";
  }
  const std::string found = report.foundSha256 ? HexOf(*report.foundSha256) : std::string(english ? "unknown" : "未知");
  if (!report.expectedSha256) {
    return english ? "not in the manifest (found sha256 " + found + ")" : "不在清单中（找到 sha256 " + found + "）";
  }
  const std::string expected = HexOf(*report.expectedSha256);
  return english ? "the manifest names sha256 " + expected + ", found " + found
                 : "清单中为 sha256 " + expected + "，找到 " + found;
}

std::string_view PruneRefusalCode(PruneRefusal refusal) {
  switch (refusal) {
    case PruneRefusal::None: return "none";
    case PruneRefusal::Stopped: return "interrupted";
    case PruneRefusal::SourcesIncomplete: return "sources-incomplete";
    case PruneRefusal::RecordUnreadable: return "record-unreadable";
    case PruneRefusal::RecordDamaged: return "record-damaged";
    case PruneRefusal::RecordUntrusted: return "record-untrusted";
    case PruneRefusal::TooMany: return "max-delete";
  }
  return "none";
}

std::string PruneRefusalText(const RecordSummary& record, std::optional<std::int64_t> maxDelete, Language language) {
  const bool english = language == Language::English;
  std::string text = english ? "removed nothing: " : "未移除任何字体：";
  switch (record.refusal) {
    case PruneRefusal::None: return {};
    case PruneRefusal::Stopped:
      return text + (english ? "the run was interrupted before every source was seen" : "运行被中断，源文件夹未全部看过");
    case PruneRefusal::SourcesIncomplete:
      return text + (english ? "a source folder could not be read completely" : "有源文件夹未能完整读取");
    case PruneRefusal::RecordUnreadable:
    case PruneRefusal::RecordDamaged:
    case PruneRefusal::RecordUntrusted:
      return text + RecordProblemText(record, language);
    case PruneRefusal::TooMany: {
      const std::string count = std::to_string(record.toRemove), limit = std::to_string(maxDelete.value_or(0));
      return text + (english ? count + " fonts would go, more than --max-delete " + limit
                             : "将移除" + count + "个字体，超过 --max-delete " + limit);
    }
  }
  return {};
}

std::string RecordProblemText(const RecordSummary& record, Language language) {
  const bool english = language == Language::English;
  if (record.untrusted && record.untrusted->empty()) {
    return english ? "no folder for the record of what quorvane-sync installed: neither HOME nor XDG_STATE_HOME is set"
                   : "没有存放 quorvane-sync 安装记录的文件夹：HOME 与 XDG_STATE_HOME 均未设置";
  }
  if (record.untrusted) {
    const std::string where = Shown(*record.untrusted);
    return english ? "the folder of quorvane-sync's records is not this account's own, or others may write in it (" +
                         where + "): no record is read or kept there"
                   : "quorvane-sync 的记录文件夹不属于本账户，或他人可写入（" + where + "）：不在其中读取或保存记录";
  }
  const std::string where = Shown(record.location);
  if (!record.damage.empty()) {
    const std::string damage = Shown(record.damage);
    return english ? "the record of what quorvane-sync installed is damaged (" + where + "): " + damage +
                         "; it is left as it is"
                   : "quorvane-sync 的安装记录已损坏（" + where + "）：" + damage + "；保持原样";
  }
  if (record.error) {
    return english ? "the record of what quorvane-sync installed cannot be used (" + where +
                         "): " + FailureReason(*record.error, language)
                   : "quorvane-sync 的安装记录无法使用（" + where + "）：" + FailureReason(*record.error, language);
  }
  return {};
}

std::string ChangedSinceText(const RecordSummary& record, Language language) {
  const bool english = language == Language::English;
  std::string text;
  if (record.changedSince > 0) {
    const std::string count = std::to_string(record.changedSince);
    text = english ? count + " fonts that quorvane-sync installed were changed since by another: kept, and no longer in its record"
                   : count + "个由 quorvane-sync 安装的字体此后被他人修改：保留，并从其记录中移除";
  }
  if (record.goneSince > 0) {
    const std::string count = std::to_string(record.goneSince);
    if (!text.empty()) text += '\n';
    text += english ? count + " fonts that quorvane-sync installed were removed since by another: no longer in its record"
                    : count + "个由 quorvane-sync 安装的字体此后被他人删除：已从其记录中移除";
  }
  return text;
}

std::string InterruptedText(std::int64_t unhandled, Language language) {
  const std::string count = std::to_string(unhandled);
  return language == Language::English ? "interrupted: " + count + " files not handled"
                                       : "已中断：" + count + "个文件未处理";
}

std::string StaleTemporariesText(const StaleTemporaries& stale, Language language) {
  const std::string count = std::to_string(stale.count), size = ByteSize(stale.bytes);
  return language == Language::English
             ? "removed " + count + " temporary files (" + size + ") left in the target by runs that did not end"
             : "已删除目标文件夹中未正常结束的运行留下的临时文件" + count + "个（共" + size + "）";
}

std::string ByteSize(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1e3);
  } else if (bytes < 1000ull * 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1e9);
  }
  return text;
}

}  // namespace quorvane::cli
