#include "sync/run/sync_types.h"

namespace quorvane {

std::string_view StatusText(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::CopySucceeded: return "复制成功";
    case FileOutcome::CopyFailed: return "复制失败";
    case FileOutcome::ReplaceSucceeded: return "替换成功";
    case FileOutcome::ReplaceFailed: return "替换失败";
    case FileOutcome::Ignored: return "同名忽略";
  }
  return {};
}

bool IsFailure(FileOutcome outcome) {
  return outcome == FileOutcome::CopyFailed || outcome == FileOutcome::ReplaceFailed;
}

RowState StateOf(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::CopySucceeded: return RowState::CopySucceeded;
    case FileOutcome::CopyFailed: return RowState::CopyFailed;
    case FileOutcome::ReplaceSucceeded: return RowState::ReplaceSucceeded;
    case FileOutcome::ReplaceFailed: return RowState::ReplaceFailed;
    case FileOutcome::Ignored: return RowState::Ignored;
  }
  return RowState::Ready;
}

std::optional<FileOutcome> OutcomeOf(RowState state) {
  switch (state) {
    case RowState::CopySucceeded: return FileOutcome::CopySucceeded;
    case RowState::CopyFailed: return FileOutcome::CopyFailed;
    case RowState::ReplaceSucceeded: return FileOutcome::ReplaceSucceeded;
    case RowState::ReplaceFailed: return FileOutcome::ReplaceFailed;
    case RowState::Ignored: return FileOutcome::Ignored;
    default: return std::nullopt;
  }
}

std::string_view StatusText(RowState state) {
  if (const auto outcome = OutcomeOf(state)) return StatusText(*outcome);
  switch (state) {
    case RowState::Ready: return kReadyText;
    case RowState::Copying: return "正在复制";
    case RowState::UpToDate: return "已是最新";
    case RowState::WouldCopy: return "将复制";
    case RowState::WouldReplace: return "将替换";
    case RowState::WouldIgnore: return "将忽略";
    case RowState::ReplaceAtReboot: return "重启后替换";
    case RowState::TargetNewer: return "目标版本较新";
    case RowState::SameVersion: return "版本相同";
    case RowState::InstalledAs: return "同一字体已安装";
    case RowState::Conflict: return "字体冲突";
    case RowState::NotRegistered: return "未注册";
    case RowState::WouldRemove: return "将移除";
    case RowState::Removed: return "已移除";
    case RowState::RemoveAtReboot: return "重启后移除";
    case RowState::RemoveFailed: return "移除失败";
    case RowState::Damaged: return "字体已损坏";
    case RowState::WouldRepair: return "将修复";
    case RowState::Repaired: return "已修复";
    default: return {};
  }
}

bool IsFailure(RowState state) {
  return state == RowState::CopyFailed || state == RowState::ReplaceFailed || state == RowState::Conflict ||
         state == RowState::RemoveFailed || state == RowState::Damaged;
}

std::int64_t RunSummary::Handled() const {
  std::int64_t handled = 0;
  for (int state = static_cast<int>(RowState::CopySucceeded); state < kRowStateCount; ++state) handled += states[state];
  return handled;
}

void SyncTally::Add(FileOutcome outcome) {
  ++total;
  ++counts[static_cast<int>(outcome)];
}

bool SyncTally::AnyFailed() const {
  return Count(FileOutcome::CopyFailed) > 0 || Count(FileOutcome::ReplaceFailed) > 0;
}

std::string SummaryMessage(const SyncTally& tally) {
  std::string text = "本次任务共处理文件";
  text += std::to_string(tally.total);
  text += "个：复制成功";
  text += std::to_string(tally.Count(FileOutcome::CopySucceeded));
  text += "个；复制失败";
  text += std::to_string(tally.Count(FileOutcome::CopyFailed));
  text += "个；替换成功";
  text += std::to_string(tally.Count(FileOutcome::ReplaceSucceeded));
  text += "个；替换失败";
  text += std::to_string(tally.Count(FileOutcome::ReplaceFailed));
  text += "个；同名忽略";
  text += std::to_string(tally.Count(FileOutcome::Ignored));
  text += "个。";
  return text;
}

}  // namespace quorvane
