// quorvane-sync's side of a run: the list in memory, each handled row as one
// line of the report (TSV or JSON) as it happens, the reasons and warnings on
// standard error, the progress line on a terminal, and the interrupt check.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/system_error.h"
#include "cli/output.h"
#include "cli/progress_line.h"
#include "cli/report.h"
#include "sync/run/font_sync_run.h"
#include "sync/run/sync_run_view.h"

namespace quorvane::cli {

struct ViewOptions {
  Language language = Language::Chinese;
  bool quiet = false;
  // A progress line on standard error (a terminal, and not --quiet).
  bool progress = false;
  // Standard output is that terminal too: its lines must not run into the progress line.
  bool outputOnTerminal = false;
  // Each row's line at once: with --checksum the next row reads whole files
  // before anything else happens, and a batch would wait for them.
  bool writeEachRow = false;
  // --check: only the rows that are out of step, and the failed ones.
  bool check = false;
};

class ConsoleView final : public SyncRunView {
 public:
  // `logReport`: the log's own lines, when they differ from the report's.
  ConsoleView(const ViewOptions& options, const Report& report, const Report* logReport, Output& output,
              const ErrorTerminal& terminal);

  bool Interrupted() const { return interrupted_; }
  // How many bytes each row's source holds, for a progress line by bytes.
  void MeasureSources();

  // One line on standard error, "quorvane-sync: " and `text`, after the rows before it.
  void Say(std::string_view text);
  void WriteSummary(const SummaryRecord& summary);

  void AddRows(std::span<const ListedRow> rows) override;
  std::string CellText(std::int64_t row, int column) const override;
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows_.size()); }
  void SetStatus(std::int64_t row, const RowFiles& files, const RowReport& report) override;
  void SetProgress(std::int64_t handled, std::int64_t total) override;
  void SetCopyProgress(std::int64_t row, std::uint64_t done, std::uint64_t total) override;
  void ShowMessage(std::string_view text, std::string_view title, MessageKind kind) override;
  void ShowSummary(const RunSummary& summary) override;
  void ProcessPendingEvents() override;
  // An interrupt stops the run.
  bool StopRequested() const override;

 private:
  // Whether a handled row has a line in the report: a check's shows only what is
  // out of step or failed, a quiet run's only what failed.
  bool RowShown(const RowReport& report) const;
  void WriteRow(std::int64_t row, const RowFiles& files, const RowReport& report);
  // What standard error says of a handled row: why it failed, the other file it
  // names, its registration, a file that appeared during the copy.
  void SayWhy(std::string_view source, const RowReport& report, bool appeared);
  // "复制失败 PATH: why", the row's own words first.
  void SayAbout(std::string_view path, std::string_view words, const std::string& why);
  void FlushOutput();
  void DrawProgress(bool now);

  ViewOptions options_;
  const Report& report_;
  const Report* logReport_;
  Output& output_;
  ProgressLine progressLine_;
  bool interrupted_ = false;

  std::vector<std::array<std::string, 4>> rows_;
  std::vector<std::uint64_t> sourceBytes_;  // empty unless measured
  std::int64_t copyingRow_ = -1;

  ProgressFigures figures_;
  std::uint64_t bytesOfHandledRows_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace quorvane::cli
