#include "sync/run/sync_types.h"

namespace quorvane {

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
