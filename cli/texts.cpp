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

std::string_view StatusCode(RowState state) {
  switch (state) {
    case RowState::Ready: return "ready";
    case RowState::Copying: return "copying";
    case RowState::CopySucceeded: return "copied";
    case RowState::CopyFailed: return "copy-failed";
    case RowState::ReplaceSucceeded: return "replaced";
    case RowState::ReplaceFailed: return "replace-failed";
    case RowState::Ignored: return "ignored";
    case RowState::UpToDate: return "up-to-date";
    case RowState::WouldCopy: return "would-copy";
    case RowState::WouldReplace: return "would-replace";
    case RowState::WouldIgnore: return "would-ignore";
    case RowState::ReplaceAtReboot: return "replace-at-reboot";
    case RowState::TargetNewer: return "target-newer";
    case RowState::SameVersion: return "same-version";
    case RowState::InstalledAs: return "installed-as";
    case RowState::Conflict: return "conflict";
    case RowState::NotRegistered: return "not-registered";
    case RowState::WouldRemove: return "would-remove";
    case RowState::Removed: return "removed";
    case RowState::RemoveAtReboot: return "remove-at-reboot";
    case RowState::RemoveFailed: return "remove-failed";
    case RowState::Damaged: return "damaged";
    case RowState::WouldRepair: return "would-repair";
    case RowState::Repaired: return "repaired";
  }
  return "unknown";
}

std::string_view StatusLabel(RowState state, Language language) {
  return language == Language::English ? StatusCode(state) : StatusText(state);
}

std::string_view StatusWords(RowState state, Language language) {
  if (language == Language::Chinese) return StatusText(state);
  switch (state) {
    case RowState::CopyFailed: return "copy failed";
    case RowState::ReplaceFailed: return "replace failed";
    case RowState::UpToDate: return "up to date";
    case RowState::InstalledAs: return "already installed";
    case RowState::Conflict: return "font conflict";
    case RowState::NotRegistered: return "not registered";
    case RowState::RemoveFailed: return "remove failed";
    default: return StatusCode(state);
  }
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

std::string SummaryLine(const SummaryFacts& facts, Language language) {
  const RunSummary& run = facts.run;
  const std::int64_t upToDate = run.Count(RowState::UpToDate);
  const std::int64_t atRestart = run.Count(RowState::ReplaceAtReboot);
  const std::string registration = facts.registration ? RegistrationText(*facts.registration, language) : "";
  const bool onlyTheFive = run.Handled() == run.tally.total;
  if (language == Language::Chinese && !facts.dryRun && !facts.check && !facts.update && onlyTheFive) {
    return SummaryMessage(run.tally) + registration;
  }
  const bool english = language == Language::English;
  std::string text;
  const std::int64_t total = run.Handled();
  if (facts.check) {
    text = english ? "Check, nothing written: " + std::to_string(total) + " files: "
                   : "检查，未写入任何文件：本次任务共检查文件" + std::to_string(total) + "个：";
  } else if (facts.dryRun) {
    text = english ? "Dry run, nothing written: " + std::to_string(total) + " files: "
                   : "试运行，未写入任何文件：本次任务共处理文件" + std::to_string(total) + "个：";
  } else {
    text = english ? "Handled " + std::to_string(total) + " files: "
                   : "本次任务共处理文件" + std::to_string(total) + "个：";
  }
  const std::string_view separator = english ? "; " : "；";
  struct Group {
    std::string_view chinese, english;
    std::int64_t count;
  };
  const SyncTally& tally = run.tally;
  // A dry run's tally counts what it would do as done, and it fails nothing.
  const Group groups[] = {
      {"复制成功", "copied", tally.Count(FileOutcome::CopySucceeded)},
      {"复制失败", "copy failed", tally.Count(FileOutcome::CopyFailed)},
      {"替换成功", "replaced", tally.Count(FileOutcome::ReplaceSucceeded)},
      {"替换失败", "replace failed", tally.Count(FileOutcome::ReplaceFailed)},
      {"同名忽略", "ignored", tally.Count(FileOutcome::Ignored)},
  };
  const Group dryGroups[] = {
      {"将复制", "would copy", tally.Count(FileOutcome::CopySucceeded)},
      {"将替换", "would replace", tally.Count(FileOutcome::ReplaceSucceeded)},
      {"将忽略", "would ignore", tally.Count(FileOutcome::Ignored)},
  };
  bool first = true;
  const auto append = [&](std::string_view chinese, std::string_view englishLabel, std::int64_t count) {
    if (!first) text += separator;
    first = false;
    AppendCount(text, english ? englishLabel : chinese, count, language);
  };
  if (facts.dryRun) {
    for (const Group& group : dryGroups) append(group.chinese, group.english, group.count);
  } else {
    for (const Group& group : groups) append(group.chinese, group.english, group.count);
  }
  if (facts.update || upToDate > 0) append("已是最新", "up to date", upToDate);
  if (atRestart > 0) append("重启后替换", "replaced at the next start", atRestart);
  // The states of what the fonts hold, and of the record, each a group once it happened.
  const Group others[] = {
      {"目标版本较新", "target newer", run.Count(RowState::TargetNewer)},
      {"版本相同", "same version", run.Count(RowState::SameVersion)},
      {"同一字体已安装", "already installed", run.Count(RowState::InstalledAs)},
      {"字体冲突", "in conflict", run.Count(RowState::Conflict)},
      {"未注册", "not registered", run.Count(RowState::NotRegistered)},
      {"将移除", "would remove", run.Count(RowState::WouldRemove)},
      {"已移除", "removed", run.Count(RowState::Removed)},
      {"重启后移除", "removed at the next start", run.Count(RowState::RemoveAtReboot)},
      {"移除失败", "remove failed", run.Count(RowState::RemoveFailed)},
      {"字体已损坏", "damaged", run.Count(RowState::Damaged)},
      {"将修复", "would repair", run.Count(RowState::WouldRepair)},
      {"已修复", "repaired", run.Count(RowState::Repaired)},
  };
  for (const Group& group : others) {
    if (group.count > 0) append(group.chinese, group.english, group.count);
  }
  text += english ? "." : "。";
  return text + registration;
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
