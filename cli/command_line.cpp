#include "cli/command_line.h"

#include <chrono>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/platform.h"
#include "sync/file_ops.h"
#include "sync/font_folder.h"
#include "sync/font_listing.h"
#include "sync/font_sync_run.h"

namespace quorvane::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The work list kept in memory; each handled row becomes one line of output.
class ConsoleView final : public SyncRunView {
 public:
  explicit ConsoleView(bool showProgress) : showProgress_(showProgress) {}

  void AddRows(std::span<const ListedRow> rows) override {
    rows_.reserve(rows_.size() + rows.size());
    for (const ListedRow& row : rows) rows_.push_back({row.number, row.name, row.path, std::string(kReadyText)});
  }

  std::string CellText(std::int64_t row, int column) const override {
    if (row < 0 || row >= RowCount() || column < 0 || column > kStatusColumn) return {};
    return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
  }

  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows_.size()); }

  void SetStatus(std::int64_t row, const RowReport& report) override {
    if (row < 0 || row >= RowCount() || report.state == RowState::Copying || report.state == RowState::Ready) return;
    const std::string_view text = StatusText(report.state);
    auto& cells = rows_[static_cast<size_t>(row)];
    cells[kStatusColumn] = text;
    ClearProgress();
    line_.assign(cells[kNumberColumn]).append(1, '\t').append(text).append(1, '\t').append(cells[kPathColumn]);
    line_ += '\n';
    Write(Stream::Out, line_);
  }

  void SetProgress(std::int64_t handled, std::int64_t total) override {
    if (!showProgress_ || total <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (handled < total && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(handled * kWidth / total);
    std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kWidth - filled), ' ') + "] " + std::to_string(handled) + "/" +
                      std::to_string(total);
    Write(Stream::Err, bar);
    barShown_ = true;
  }

  void SetCopyProgress(std::int64_t, std::uint64_t, std::uint64_t) override {}

  void ShowMessage(std::string_view text, std::string_view title, MessageKind) override {
    ClearProgress();
    Write(Stream::Err, std::string(title) + ": " + std::string(text) + "\n");
  }

  void ShowSummary(const RunSummary& summary) override {
    ClearProgress();
    Write(Stream::Out, SummaryMessage(summary.tally) + "\n");
  }

  void ProcessPendingEvents() override {}

 private:
  void ClearProgress() {
    if (!barShown_) return;
    Write(Stream::Err, "\r\x1b[K");
    barShown_ = false;
  }

  bool showProgress_;
  bool barShown_ = false;
  std::chrono::steady_clock::time_point lastDrawn_{};
  std::vector<std::array<std::string, 4>> rows_;
  std::string line_;  // reused: one allocation for all the output lines
};

int Fail(std::string_view message) {
  Write(Stream::Err, "quorvane-sync: " + std::string(message) + "\n");
  return kExitUsage;
}

// A folder that exists but cannot be read is as useless as a missing one.
bool IsReadableFolder(const std::string& path) {
  std::vector<FolderEntry> entries;
  return IsFolder(path) && ListFolder(path, entries);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args) {
  auto parsed = ParseArguments(args);
  if (const auto* error = std::get_if<UsageError>(&parsed)) {
    Write(Stream::Err, "quorvane-sync: " + error->message + "\n" + kUsage);
    return kExitUsage;
  }
  const Arguments& arguments = std::get<Arguments>(parsed);
  if (arguments.help) {
    Write(Stream::Out, kUsage);
    return kExitOk;
  }

  const std::string target = arguments.target.value_or(SystemFontFolder());
  if (target.empty()) return Fail("no target folder: give one with --target");
  if (!IsFolder(target)) return Fail("target folder does not exist: " + target);
  for (const std::string& source : arguments.sources) {
    if (!IsReadableFolder(source)) return Fail("source folder does not exist or cannot be read: " + source);
  }

  ConsoleView view(IsTerminal(Stream::Err));
  for (const std::string& source : arguments.sources) FontListing(source, view);

  FontSyncRun run(view);
  const auto summary = run.Run(arguments.sources.front(), target, {.policy = arguments.policy, .dryRun = arguments.dryRun});
  if (!summary) return kExitUsage;
  return summary->tally.AnyFailed() ? kExitFailed : kExitOk;
}

}  // namespace quorvane::cli
