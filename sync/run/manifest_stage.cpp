#include "sync/run/manifest_stage.h"

#include <variant>

#include "sync/files/file_ops.h"
#include "sync/files/name_fold.h"

namespace quorvane {

namespace {

// What the file holds, or why that could not be read.
void ReadFound(std::string_view sourcePath, RowReport& report) {
  const auto hashed = HashFile(sourcePath);
  if (const auto* found = std::get_if<FileHash>(&hashed)) {
    report.foundSha256 = found->sha256;
  } else {
    report.reason = std::get<FileError>(hashed);
  }
}

// Not installed: says what the file holds instead.
void NotPublished(std::string_view sourcePath, RowReport& report) {
  report.state = RowState::NotPublished;
  ReadFound(sourcePath, report);
}

std::string_view LastName(std::string_view path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

ManifestStage::ManifestStage(const std::vector<ManifestEntry>& entries, std::vector<std::string> sources, bool dryRun)
    : entries_(entries), sources_(std::move(sources)), dryRun_(dryRun), seen_(entries.size(), false) {
  for (size_t i = 0; i < entries_.size(); ++i) byPath_.emplace(NameKey(entries_[i].path), i);
}

std::vector<std::string> ManifestStage::NamesOf(const std::vector<ManifestEntry>& entries) {
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (const ManifestEntry& entry : entries) names.emplace_back(LastName(entry.path));
  return names;
}

std::ptrdiff_t ManifestStage::IndexOf(std::string_view sourcePath) const {
  const std::optional<std::string> path = ManifestPathOf(sourcePath, sources_);
  if (!path) return -1;
  const auto found = byPath_.find(NameKey(*path));
  return found == byPath_.end() ? -1 : static_cast<std::ptrdiff_t>(found->second);
}

bool ManifestStage::Decide(const RowJob& job, RowReport& report) {
  const std::ptrdiff_t index = IndexOf(job.sourcePath);
  if (index < 0) {
    NotPublished(job.sourcePath, report);
    return true;
  }
  const ManifestEntry& entry = entries_[static_cast<size_t>(index)];
  report.expectedSha256 = entry.sha256;
  // Another size is other bytes: no copy needed to tell.
  if (const auto stamp = StampOf(job.sourcePath); stamp && stamp->size != entry.size) {
    NotPublished(job.sourcePath, report);
    return true;
  }
  return false;
}

void ManifestStage::Complete(const RowJob& job, RowReport& report) {
  const std::ptrdiff_t index = IndexOf(job.sourcePath);
  if (index >= 0) seen_[static_cast<size_t>(index)] = true;
  const bool wouldCopy = report.state == RowState::WouldCopy || report.state == RowState::WouldReplace ||
                         report.state == RowState::WouldRepair;
  if (!dryRun_ || !wouldCopy || !report.expectedSha256) return;
  ReadFound(job.sourcePath, report);
  if (report.foundSha256 != report.expectedSha256) report.state = RowState::NotPublished;
}

void ManifestStage::Finish(RunSummary& summary, ExtraRows& rows) {
  if (summary.stopped) return;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (seen_[i]) continue;
    RowReport report;
    report.state = RowState::Missing;
    report.expectedSha256 = entries_[i].sha256;
    rows.Add(LastName(entries_[i].path), entries_[i].path, report);
  }
}

}  // namespace quorvane
