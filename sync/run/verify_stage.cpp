#include "sync/run/verify_stage.h"

#include <variant>
#include <vector>

#include "sync/files/file_ops.h"
#include "sync/files/name_fold.h"
#include "sync/files/sha256.h"

namespace quorvane {

VerifyStage::VerifyStage(std::string_view targetFolder, FontScope scope)
    : folder_(CanonicalFolder(targetFolder)), scope_(scope) {}

bool VerifyStage::Decide(const RowJob& job, RowReport& report) {
  if (!job.targetExists) return false;
  if (!recorded_) {
    recorded_.emplace();
    // A record others could have written says nothing about what the tool put there.
    if (CheckRecordsFolder(scope_, false)) return false;
    auto loaded = LoadRecord(folder_, scope_);
    if (const auto* text = std::get_if<RecordText>(&loaded); text && text->found) {
      auto parsed = ParseRecord(text->text, folder_);
      if (auto* entries = std::get_if<std::vector<RecordEntry>>(&parsed)) {
        for (RecordEntry& entry : *entries) recorded_->emplace(NameKey(entry.name), std::move(entry));
      }
    }
  }
  const auto known = recorded_->find(NameKey(NamePart(job.targetPath)));
  if (known == recorded_->end() || known->second.sha256.empty()) return false;
  const RecordEntry& entry = known->second;
  if (!SameStamp(StampOf(job.targetPath), FileStamp{entry.size, entry.modified})) return false;
  const auto hashed = HashFile(job.targetPath);
  const auto* found = std::get_if<FileHash>(&hashed);
  report.repair = found != nullptr && HexOf(found->sha256) != entry.sha256;
  return false;
}

}  // namespace quorvane
