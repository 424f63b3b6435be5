#include "test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "sync/run/sync_types.h"

namespace quorvane::testing {

TempFolder::TempFolder() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = fs::temp_directory_path() /
          ("quorvane-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(root_);
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Read-only files would stop the removal on Windows.
  for (auto it = fs::recursive_directory_iterator(root_, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
  }
  fs::remove_all(root_, error);
}

std::string TempFolder::Path(const std::string& relative) const {
  fs::path path = relative.empty() ? root_ : root_ / PathOf(relative);
  return Utf8Of(path.make_preferred());
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(PathOf(path).parent_path());
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void MakeFolder(const std::string& path) { fs::create_directories(PathOf(path)); }

void SetReadOnly(const std::string& path, bool readOnly) {
  fs::permissions(PathOf(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

std::vector<std::string> TemporaryFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(PathOf(folder))) {
    const std::string name = Utf8Of(entry.path().filename());
    if (name.ends_with(".tmp")) found.push_back(name);
  }
  return found;
}

void RecordingView::AddRows(std::span<const ListedRow> added) {
  ++addRowsCalls;
  for (const ListedRow& row : added) rows.push_back({row.number, row.name, row.path, std::string(kReadyText)});
  reasons.resize(rows.size());
  reports.resize(rows.size());
  states.resize(rows.size());
}

std::string RecordingView::CellText(std::int64_t row, int column) const {
  if (row < 0 || row >= RowCount()) return {};
  return rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

void RecordingView::SetStatus(std::int64_t row, const RowFiles&, const RowReport& report) {
  ASSERT_GE(row, 0);
  ASSERT_LT(row, RowCount());
  rows[static_cast<size_t>(row)][kStatusColumn] = StatusText(report.state);
  reasons[static_cast<size_t>(row)] = report.reason;
  reports[static_cast<size_t>(row)] = report;
  states[static_cast<size_t>(row)].push_back(report.state);
}

void RecordingView::SetCopyProgress(std::int64_t row, std::uint64_t done, std::uint64_t total) {
  copyProgress.push_back({row, done, total});
}

void RecordingView::ShowSummary(const RunSummary& summary) {
  summaries.push_back(summary);
  messages.push_back({SummaryMessage(summary.tally), std::string(kSummaryTitle),
                      summary.tally.AnyFailed() ? MessageKind::Warning : MessageKind::Information});
}

void RecordingView::SetProgress(std::int64_t handled, std::int64_t total) { progress.emplace_back(handled, total); }

void RecordingView::ShowMessage(std::string_view text, std::string_view title, MessageKind kind) {
  messages.push_back({std::string(text), std::string(title), kind});
}

void RecordingView::ProcessPendingEvents() {
  ++eventsProcessed;
  if (onEvents) onEvents();
}

std::string RecordingView::StatusOf(const std::string& name) const {
  for (const auto& row : rows) {
    if (row[kNameColumn] == name) return row[kStatusColumn];
  }
  return "(no row)";
}

const RowReport& RecordingView::ReportOf(const std::string& name) const {
  for (size_t row = 0; row < rows.size(); ++row) {
    if (rows[row][kNameColumn] == name) return reports[row];
  }
  static const RowReport none;
  ADD_FAILURE() << "no row for " << name;
  return none;
}

std::vector<std::string> RecordingView::Column(int column) const {
  std::vector<std::string> cells;
  for (const auto& row : rows) cells.push_back(row[static_cast<size_t>(column)]);
  return cells;
}

}  // namespace quorvane::testing
